// Registers the picture format modules in the order that makes the trial order TGA, PNG, JPEG, BMP.
#include "runtime/pixmap/pixmap_loaders.h"

#include "runtime/pixmap/pixmap_module.h"

namespace kiln {

void InitPixmapLoaders() {
  InitPixmapModule();
  InitBmpLoader();
  InitJpegLoader();
  InitPngLoader();
  InitTgaLoader();
}

}  // namespace kiln
