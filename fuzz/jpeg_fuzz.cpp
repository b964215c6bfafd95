// Fuzzes the JPEG loader alone through PixmapFromUrl over a memory stream.
#include "fuzz/pixmap_fuzz.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/pixmap/pixmap_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiln::InitPixmapModule();
  kiln::InitJpegLoader();
  kiln::fuzz::DecodeAndCheck(data, size);
  return 0;
}
