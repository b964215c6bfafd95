// A millisecond clock that moves only when the code under test sleeps or the test says so.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/graphics/frame_pacing.h"

namespace kiln::test {

struct FakeClockState {
  uint32_t now = 0;
  std::vector<int> sleeps;
};

inline FakeClockState& FakeClock() {
  static FakeClockState state;
  return state;
}

inline void ResetFakeClock(uint32_t start) {
  FakeClock().now = start;
  FakeClock().sleeps.clear();
}

inline PacingClock FakePacingClock() {
  return PacingClock{[] { return FakeClock().now; },
                     [](int ms) {
                       FakeClock().sleeps.push_back(ms);
                       FakeClock().now += static_cast<uint32_t>(ms);
                     }};
}

}  // namespace kiln::test
