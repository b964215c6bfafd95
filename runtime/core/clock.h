// Monotonic millisecond clock and sleeps.
#pragma once

#include <cstdint>

namespace kiln {

// Milliseconds from an arbitrary fixed origin; wraps like a 32-bit millisecond counter.
uint32_t MilliSecs();
void SleepMillis(int ms);

}  // namespace kiln
