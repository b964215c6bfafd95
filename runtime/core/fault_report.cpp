#include "runtime/core/fault_report.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "runtime/core/internal/process_backend.h"
#include "runtime/core/runtime.h"

namespace kiln {
namespace {

constexpr const char* kCaption = "Windows exception";

struct FaultEntry {
  uint32_t code;
  const char* name;
};

constexpr FaultEntry kFaultNames[] = {
    {FAULT_DATATYPE_MISALIGNMENT, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {FAULT_BREAKPOINT, "EXCEPTION_BREAKPOINT"},
    {FAULT_SINGLE_STEP, "EXCEPTION_SINGLE_STEP"},
    {FAULT_ACCESS_VIOLATION, "EXCEPTION_ACCESS_VIOLATION"},
    {FAULT_IN_PAGE_ERROR, "EXCEPTION_IN_PAGE_ERROR"},
    {FAULT_ILLEGAL_INSTRUCTION, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {FAULT_NONCONTINUABLE_EXCEPTION, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {FAULT_INVALID_DISPOSITION, "EXCEPTION_INVALID_DISPOSITION"},
    {FAULT_ARRAY_BOUNDS_EXCEEDED, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {FAULT_FLT_DENORMAL_OPERAND, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {FAULT_FLT_DIVIDE_BY_ZERO, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {FAULT_FLT_INEXACT_RESULT, "EXCEPTION_FLT_INEXACT_RESULT"},
    {FAULT_FLT_INVALID_OPERATION, "EXCEPTION_FLT_INVALID_OPERATION"},
    {FAULT_FLT_OVERFLOW, "EXCEPTION_FLT_OVERFLOW"},
    {FAULT_FLT_STACK_CHECK, "EXCEPTION_FLT_STACK_CHECK"},
    {FAULT_FLT_UNDERFLOW, "EXCEPTION_FLT_UNDERFLOW"},
    {FAULT_INT_DIVIDE_BY_ZERO, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {FAULT_INT_OVERFLOW, "EXCEPTION_INT_OVERFLOW"},
    {FAULT_PRIV_INSTRUCTION, "EXCEPTION_PRIV_INSTRUCTION"},
    {FAULT_STACK_OVERFLOW, "EXCEPTION_STACK_OVERFLOW"},
};

// Set by the first fault; a fault that finds it set happened inside the report or the exit after it.
std::atomic<bool> reporting{false};
std::atomic<FaultMessageBox> faultMessageBox{nullptr};

void WriteLine(const char* a, const char* b) {
  processbackend::WriteStandardError(a, std::strlen(a));
  processbackend::WriteStandardError(": ", 2);
  processbackend::WriteStandardError(b, std::strlen(b));
  processbackend::WriteStandardError("\n", 1);
}

}  // namespace

const char* FaultName(uint32_t faultCode) {
  for (const FaultEntry& entry : kFaultNames) {
    if (entry.code == faultCode) return entry.name;
  }
  return "EXCEPTION_UNKNOWN";
}

void SetFaultMessageBox(FaultMessageBox show) { faultMessageBox.store(show); }

void ReportSystemException(uint32_t faultCode) {
  const char* name = FaultName(faultCode);
  if (reporting.exchange(true)) {
    // Reporting faulted as well; a second attempt could fault again, so end here.
    WriteLine(kCaption, name);
    processbackend::EndImmediately(0);
  }
  FaultMessageBox show = faultMessageBox.load();
  if (show != nullptr && processbackend::DisplayAvailable()) {
    show(kCaption, name);
  } else {
    WriteLine(kCaption, name);
  }
  processbackend::ArmExitWatchdog(10);
  std::exit(0);
}

void InstallFaultReport() {
  processbackend::InstallFaultHandlers();
}

}  // namespace kiln
