#include "runtime/pixmap/pixmap_module.h"

#include "runtime/core/runtime.h"
#include "runtime/stream/stream_module.h"

namespace kiln {

void InitPixmapModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitCoreModule();
  InitStreamModule();
}

}  // namespace kiln
