#include "runtime/draw2d/flat2d_driver.h"

namespace kiln {
namespace {

Ref<TFlat2DDriver>& CurrentDriver() {
  static Ref<TFlat2DDriver> driver;
  return driver;
}

}  // namespace

Ref<TFlat2DDriver> Current2DDriver() { return CurrentDriver(); }
void SetCurrent2DDriver(const Ref<TFlat2DDriver>& driver) { CurrentDriver() = driver; }

}  // namespace kiln
