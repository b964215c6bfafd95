// Software frame pacing: spreads 1000 ms over `hertz` frames in whole milliseconds.
#pragma once

#include <cstdint>

namespace kiln {

// The clock and sleep the pacer uses; the real ones are MilliSecs and SleepMillis.
struct PacingClock {
  uint32_t (*now)();
  void (*sleep)(int ms);
};

PacingClock SystemPacingClock();

// The clock that OpenGraphicsWindow arms the window's pacing with; SystemPacingClock unless replaced.
void SetWindowPacingClock(PacingClock clock);
PacingClock WindowPacingClock();

// Deadlines advance by 1000 / hertz ms, with the remainder of 1000 spread one millisecond at a time
// so that `hertz` frames take exactly 1000 ms (60 Hz: 16, 17, 17, ...). A frame that misses its
// deadline restarts the schedule from the moment it was noticed.
class FramePacer {
 public:
  // Arms the schedule; the first deadline is one period after now.
  void Arm(int hertz, PacingClock clock);
  // Advances to the next deadline and sleeps until it; returns the time slept (0 when late).
  int WaitForNextFrame();

  int Hertz() const { return hertz_; }
  int Period() const { return period_; }
  int Remainder() const { return remainder_; }
  uint32_t NextTime() const { return nextTime_; }

 private:
  PacingClock clock_{};
  int hertz_ = 0;
  int period_ = 0;
  int remainder_ = 0;
  int accumulator_ = 0;
  uint32_t nextTime_ = 0;
};

}  // namespace kiln
