#include <windows.h>  // also declares the multimedia timer

#include <cstdlib>

#include "runtime/core/clock.h"

namespace kiln {
namespace {

// The multimedia timer at 1 ms for the whole process, so that timeGetTime and Sleep step in
// milliseconds rather than in the default 15.6 ms; restored at program end.
void RestoreTimerResolution() { timeEndPeriod(1); }

void RaiseTimerResolution() {
  static const bool raised = [] {
    if (timeBeginPeriod(1) != TIMERR_NOERROR) return false;
    std::atexit(RestoreTimerResolution);
    return true;
  }();
  (void)raised;
}

}  // namespace

uint32_t MilliSecs() {
  RaiseTimerResolution();
  return static_cast<uint32_t>(timeGetTime());
}

void SleepMillis(int ms) {
  if (ms <= 0) return;
  RaiseTimerResolution();
  Sleep(static_cast<DWORD>(ms));
}

bool LocalTimeNow(std::tm& local) {
  __time64_t now = _time64(nullptr);
  return _localtime64_s(&local, &now) == 0;
}

}  // namespace kiln
