// Processor faults arrive as signals; each is mapped to the fault code of the report.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>

#include "runtime/core/fault_report.h"
#include "runtime/core/internal/process_backend.h"

namespace kiln::processbackend {
namespace {

// Big enough for the report itself, which may open a message box window.
constexpr size_t kFaultStackSize = 1 << 20;
alignas(64) unsigned char faultStack[kFaultStackSize];

// The lowest address the main thread's stack may grow to; a fault just around it is a stack overflow.
uintptr_t mainStackLimit = 0;
constexpr uintptr_t kStackGuardSpan = 256 * 1024;

uint32_t FaultCodeOf(int signal, const siginfo_t* info) {
  int code = info != nullptr ? info->si_code : 0;
  switch (signal) {
    case SIGSEGV: {
      auto address = reinterpret_cast<uintptr_t>(info != nullptr ? info->si_addr : nullptr);
      if (mainStackLimit != 0 && address + kStackGuardSpan >= mainStackLimit &&
          address < mainStackLimit + kStackGuardSpan) {
        return FAULT_STACK_OVERFLOW;
      }
      return FAULT_ACCESS_VIOLATION;
    }
    case SIGBUS:
      return code == BUS_ADRALN ? FAULT_DATATYPE_MISALIGNMENT : FAULT_IN_PAGE_ERROR;
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV: return FAULT_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF: return FAULT_INT_OVERFLOW;
        case FPE_FLTDIV: return FAULT_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return FAULT_FLT_OVERFLOW;
        case FPE_FLTUND: return FAULT_FLT_UNDERFLOW;
        case FPE_FLTRES: return FAULT_FLT_INEXACT_RESULT;
        case FPE_FLTINV: return FAULT_FLT_INVALID_OPERATION;
        case FPE_FLTSUB: return FAULT_ARRAY_BOUNDS_EXCEEDED;
        default: return 0;
      }
    case SIGILL:
      return code == ILL_PRVOPC || code == ILL_PRVREG ? FAULT_PRIV_INSTRUCTION : FAULT_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
      return code == TRAP_TRACE ? FAULT_SINGLE_STEP : FAULT_BREAKPOINT;
    default:
      return 0;
  }
}

void OnFault(int signal, siginfo_t* info, void*) {
  ReportSystemException(FaultCodeOf(signal, info));
}

void RecordMainStackLimit() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* low = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0) mainStackLimit = reinterpret_cast<uintptr_t>(low);
  pthread_attr_destroy(&attr);
}

}  // namespace

void InstallFaultHandlers() {
  RecordMainStackLimit();
  stack_t stack{};
  stack.ss_sp = faultStack;
  stack.ss_size = sizeof faultStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action{};
  action.sa_sigaction = OnFault;
  sigemptyset(&action.sa_mask);
  // No SA_NODEFER would leave the signal blocked during the report, and a second fault of the same
  // kind would then kill the process without a word; with it the report sees the second fault.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(signal, &action, nullptr);
}

bool DisplayAvailable() {
  const char* display = getenv("DISPLAY");
  return display != nullptr && display[0] != '\0';
}

void WriteStandardError(const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(STDERR_FILENO, bytes, count);
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

// Standard error is the one channel here.
void WriteDebugChannel(const Text&) {}

void EndImmediately(int code) { _exit(code); }

void ArmExitWatchdog(int seconds) {
  signal(SIGALRM, SIG_DFL);
  alarm(static_cast<unsigned>(seconds));
}

}  // namespace kiln::processbackend
