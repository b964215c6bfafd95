// Processor and system faults reach the process's unhandled-exception filter with their fault code,
// which is already the code of the report.
#include <windows.h>

#include "runtime/core/fault_report.h"
#include "runtime/core/internal/process_backend.h"

namespace kiln::processbackend {
namespace {

// Stack kept back for the filter when a thread's stack overflows; the report needs a few pages, and
// a message box window rather more.
constexpr ULONG kOverflowReserve = 64 * 1024;

LONG WINAPI OnFault(EXCEPTION_POINTERS* fault) {
  DWORD code = fault != nullptr && fault->ExceptionRecord != nullptr ? fault->ExceptionRecord->ExceptionCode : 0;
  ReportSystemException(static_cast<uint32_t>(code));
}

}  // namespace

void InstallFaultHandlers() {
  ULONG reserve = kOverflowReserve;
  SetThreadStackGuarantee(&reserve);
  // Nothing of the system's own: no critical-error box, no fault box after a failed report.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnFault);
}

}  // namespace kiln::processbackend
