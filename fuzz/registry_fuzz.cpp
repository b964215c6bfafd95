// Fuzzes the whole loader registry through PixmapFromUrl over a memory stream. Small pictures that
// decode are also written as PNG and read back, which must give the same pixels.
#include <cstring>
#include <vector>

#include "fuzz/pixmap_fuzz.h"
#include "runtime/pixmap/pixmap_loaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiln;
  InitPixmapLoaders();
  std::vector<uint8_t> bytes = fuzz::WithPngChecksumsFixed(data, size);
  Ref<TPixmap> p = fuzz::DecodeAndCheck(bytes.data(), bytes.size());
  if (!p || p->width * p->height > 4096) return 0;
  std::vector<unsigned char> block(1 << 16);
  fuzz::Check(SavePixmapAsPng(p, TRamStream::Create(block.data(), static_cast<int64_t>(block.size()), 0, 1), 1) == 1);
  Ref<TPixmap> back = PixmapFromPng(TRamStream::Create(block.data(), static_cast<int64_t>(block.size())));
  fuzz::Check(static_cast<bool>(back));
  Ref<TPixmap> want = p->Convert(FormatRGBA8888);
  Ref<TPixmap> got = back->Convert(FormatRGBA8888);
  for (int y = 0; y < p->height; ++y)
    fuzz::Check(std::memcmp(want->PixelPtr(0, y), got->PixelPtr(0, y), static_cast<size_t>(p->width) * 4) == 0);
  return 0;
}
