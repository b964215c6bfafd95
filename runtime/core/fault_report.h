// The report of a processor fault: the fault's name in a box captioned "Windows exception" (on
// standard error as "Windows exception: <name>" and a line end when no box can be shown), then the
// normal program end with exit code 0.
#pragma once

#include <cstdint>

namespace kiln {

// Fault codes of the report.
constexpr uint32_t FAULT_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr uint32_t FAULT_BREAKPOINT = 0x80000003;
constexpr uint32_t FAULT_SINGLE_STEP = 0x80000004;
constexpr uint32_t FAULT_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t FAULT_IN_PAGE_ERROR = 0xC0000006;
constexpr uint32_t FAULT_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr uint32_t FAULT_NONCONTINUABLE_EXCEPTION = 0xC0000025;
constexpr uint32_t FAULT_INVALID_DISPOSITION = 0xC0000026;
constexpr uint32_t FAULT_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr uint32_t FAULT_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr uint32_t FAULT_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t FAULT_FLT_INEXACT_RESULT = 0xC000008F;
constexpr uint32_t FAULT_FLT_INVALID_OPERATION = 0xC0000090;
constexpr uint32_t FAULT_FLT_OVERFLOW = 0xC0000091;
constexpr uint32_t FAULT_FLT_STACK_CHECK = 0xC0000092;
constexpr uint32_t FAULT_FLT_UNDERFLOW = 0xC0000093;
constexpr uint32_t FAULT_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr uint32_t FAULT_INT_OVERFLOW = 0xC0000095;
constexpr uint32_t FAULT_PRIV_INSTRUCTION = 0xC0000096;
constexpr uint32_t FAULT_STACK_OVERFLOW = 0xC00000FD;

// "EXCEPTION_ACCESS_VIOLATION" and its kin; "EXCEPTION_UNKNOWN" for any other code.
const char* FaultName(uint32_t faultCode);

// Shows the report and ends the program. A second fault while reporting ends the process at once.
[[noreturn]] void ReportSystemException(uint32_t faultCode);

// Routes processor faults to ReportSystemException.
void InstallFaultReport();

}  // namespace kiln
