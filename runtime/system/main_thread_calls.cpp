#include <deque>
#include <mutex>

#include "runtime/system/system.h"
#include "runtime/system/internal/system_backend.h"

namespace kiln {
namespace {

struct MainThreadCall {
  MainThreadFunction function;
  TObject* arg;
  int extra;
};

std::mutex& CallsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::deque<MainThreadCall>& PendingCalls() {
  static std::deque<MainThreadCall> calls;
  return calls;
}

}  // namespace

void PostMainThreadCall(MainThreadFunction function, TObject* arg, int extra) {
  if (function == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(CallsMutex());
    PendingCalls().push_back(MainThreadCall{function, arg, extra});
  }
  WakeSystemWait();
}

void RunMainThreadCalls() {
  // Calls posted while these run wait for the next pump, so a call that posts again cannot keep
  // this loop going forever. Taking one at a time leaves the rest queued if a call throws.
  size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(CallsMutex());
    count = PendingCalls().size();
  }
  for (size_t i = 0; i < count; ++i) {
    MainThreadCall call{};
    {
      std::lock_guard<std::mutex> lock(CallsMutex());
      if (PendingCalls().empty()) return;
      call = PendingCalls().front();
      PendingCalls().pop_front();
    }
    call.function(call.arg, call.extra);
  }
}

}  // namespace kiln
