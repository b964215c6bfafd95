#include "runtime/graphics/frame_pacing.h"

#include "runtime/core/clock.h"

namespace kiln {

PacingClock SystemPacingClock() { return PacingClock{&MilliSecs, &SleepMillis}; }

void FramePacer::Arm(int hertz, PacingClock clock) {
  clock_ = clock;
  hertz_ = hertz;
  period_ = hertz != 0 ? 1000 / hertz : 0;
  remainder_ = 1000 - period_ * hertz;
  accumulator_ = 0;
  nextTime_ = clock_.now != nullptr ? clock_.now() : 0;
}

int FramePacer::WaitForNextFrame() {
  if (hertz_ <= 0 || clock_.now == nullptr) return 0;
  nextTime_ += static_cast<uint32_t>(period_);
  accumulator_ += remainder_;
  if (accumulator_ >= hertz_) {
    accumulator_ -= hertz_;
    nextTime_ += 1;
  }
  // The clock wraps like a 32-bit counter; the signed difference stays right across the wrap.
  int32_t wait = static_cast<int32_t>(nextTime_ - clock_.now());
  if (wait > 0) {
    if (clock_.sleep != nullptr) clock_.sleep(wait);
    return wait;
  }
  nextTime_ -= static_cast<uint32_t>(wait);
  return 0;
}

}  // namespace kiln
