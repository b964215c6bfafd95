#include <cstdlib>

#include "runtime/core/runtime.h"

namespace kiln {
namespace {

Text applicationTitle = "Kilnworks Application";
DebugLineHook debugLineHook = nullptr;

}  // namespace

const Text& ApplicationTitle() { return applicationTitle; }
void SetApplicationTitle(const Text& title) { applicationTitle = title; }

void AddExitHandler(void (*handler)()) { std::atexit(handler); }

void EmitDebugLine(const Text& line) {
  if (debugLineHook != nullptr) debugLineHook(line);
}

void SetDebugLineHook(DebugLineHook hook) { debugLineHook = hook; }

void InitCoreModule() {
  static bool done = false;
  if (done) return;
  done = true;
}

}  // namespace kiln
