#include <fstream>
#include <string>

#include "tests/support/peak_memory.h"

namespace kiln::test {
namespace {

// A field of /proc/self/status in bytes ("VmRSS:   1234 kB"), or -1.
int64_t StatusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1)) * 1024;
  }
  return -1;
}

}  // namespace

int64_t PeakMemoryGrowth(const std::function<void()>& work) {
  // Writing 5 to clear_refs starts the peak (VmHWM) again from the current size.
  if (!(std::ofstream("/proc/self/clear_refs") << "5")) return -1;
  const int64_t before = StatusBytes("VmRSS");
  work();
  const int64_t peak = StatusBytes("VmHWM");
  return before < 0 || peak < 0 ? -1 : peak - before;
}

}  // namespace kiln::test
