// Monotonic millisecond clock, sleeps and the local calendar time.
#pragma once

#include <cstdint>
#include <ctime>

namespace kiln {

// Milliseconds from an arbitrary fixed origin; wraps like a 32-bit millisecond counter.
uint32_t MilliSecs();
void SleepMillis(int ms);
// The local date and time now; false when the platform cannot tell it.
bool LocalTimeNow(std::tm& local);

}  // namespace kiln
