// Fuzzes the PNG loader alone through PixmapFromUrl over a memory stream, with chunk checksums
// repaired so that mutations reach the decoder.
#include "fuzz/pixmap_fuzz.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/pixmap/pixmap_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiln::InitPixmapModule();
  kiln::InitPngLoader();
  std::vector<uint8_t> bytes = kiln::fuzz::WithPngChecksumsFixed(data, size);
  kiln::fuzz::DecodeAndCheck(bytes.data(), bytes.size());
  return 0;
}
