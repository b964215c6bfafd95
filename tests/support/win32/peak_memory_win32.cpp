#include "tests/support/peak_memory.h"

namespace kiln::test {

// Windows keeps a process's peak working set for its whole life and cannot start it again.
int64_t PeakMemoryGrowth(const std::function<void()>& work) {
  work();
  return -1;
}

}  // namespace kiln::test
