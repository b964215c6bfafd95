#include <time.h>

#include <cerrno>

#include "runtime/core/clock.h"

namespace kiln {

uint32_t MilliSecs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SleepMillis(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool LocalTimeNow(std::tm& local) {
  std::time_t now = std::time(nullptr);
  return localtime_r(&now, &local) != nullptr;
}

}  // namespace kiln
