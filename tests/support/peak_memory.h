// How much more memory a piece of work held at its peak than the process held before it.
#pragma once

#include <cstdint>
#include <functional>

namespace kiln::test {

// Bytes by which the process's peak resident size exceeded its size at the start of `work`; -1
// where the system cannot tell (it resets the peak for the measurement).
int64_t PeakMemoryGrowth(const std::function<void()>& work);

}  // namespace kiln::test
