// Left-right and upside-down copies.
#include <cstring>

#include "runtime/core/exceptions.h"
#include "runtime/pixmap/pixmap.h"

namespace kiln {

Ref<TPixmap> MirrorColumns(const Ref<TPixmap>& pixmap) {
  if (!pixmap) RaiseNullObject();
  TPixmap& p = *pixmap;
  Ref<TPixmap> q = AllocatePixmap(p.width, p.height, p.format, 4);
  int bpp = BytesPerPixel(p.format);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.PixelPtr(0, y);
    uint8_t* dst = q->PixelPtr(0, y);
    for (int x = 0; x < p.width; ++x)
      std::memcpy(dst + x * bpp, src + (p.width - 1 - x) * bpp, static_cast<size_t>(bpp));
  }
  return q;
}

Ref<TPixmap> MirrorRows(const Ref<TPixmap>& pixmap) {
  if (!pixmap) RaiseNullObject();
  TPixmap& p = *pixmap;
  Ref<TPixmap> q = AllocatePixmap(p.width, p.height, p.format, 4);
  for (int y = 0; y < p.height; ++y) CopyPixelRun(p.PixelPtr(0, p.height - 1 - y), q->PixelPtr(0, y), p.format, p.width);
  return q;
}

}  // namespace kiln
