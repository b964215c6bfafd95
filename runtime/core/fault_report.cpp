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
    {0x80000002, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003, "EXCEPTION_BREAKPOINT"},
    {0x80000004, "EXCEPTION_SINGLE_STEP"},
    {0xC0000005, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC000001D, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008C, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008E, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FD, "EXCEPTION_STACK_OVERFLOW"},
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
  processbackend::InstallFaultHandlers([](uint32_t code) { ReportSystemException(code); });
}

}  // namespace kiln
