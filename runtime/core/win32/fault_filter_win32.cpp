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

// Stack of the thread that reports an overflow.
constexpr SIZE_T kReportStack = 1 << 20;

DWORD WINAPI ReportOverflow(void*) { ReportSystemException(FAULT_STACK_OVERFLOW); }

LONG WINAPI OnFault(EXCEPTION_POINTERS* fault) {
  DWORD code = fault != nullptr && fault->ExceptionRecord != nullptr ? fault->ExceptionRecord->ExceptionCode : 0;
  if (code == EXCEPTION_STACK_OVERFLOW) {
    // The overflowed thread has only its reserve left, too little for the exit handlers (which then
    // hang); a fresh thread reports, and its exit ends the waiting one too.
    HANDLE reporter = CreateThread(nullptr, kReportStack, ReportOverflow, nullptr, 0, nullptr);
    if (reporter != nullptr) {
      WaitForSingleObject(reporter, INFINITE);
      CloseHandle(reporter);
    }
  }
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
