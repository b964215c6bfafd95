#include "runtime/pixmap/pixmap_module.h"

#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/stream/stream_module.h"

namespace kiln {

void InitPixmapModule() {
  RunOnce([] {
    InitCoreModule();
    InitStreamModule();
  });
}

}  // namespace kiln
