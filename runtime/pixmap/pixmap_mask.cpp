// Colour-key masking: key pixels become transparent and take their neighbours' average colour.
#include "runtime/core/exceptions.h"
#include "runtime/pixmap/pixmap.h"

namespace kiln {

namespace {

inline bool IsKey(const uint8_t* p, int r, int g, int b) { return p[0] == r && p[1] == g && p[2] == b; }

}  // namespace

Ref<TPixmap> ApplyMaskColor(const Ref<TPixmap>& pixmap, int r, int g, int b) {
  if (!pixmap) RaiseNullObject();
  Ref<TPixmap> s = pixmap->format == FormatRGBA8888 ? pixmap : pixmap->Convert(FormatRGBA8888);
  int w = s->width;
  int h = s->height;
  Ref<TPixmap> q = AllocatePixmap(w, h, FormatRGBA8888, 4);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = s->PixelPtr(0, y);
    uint8_t* dst = q->PixelPtr(0, y);
    for (int x = 0; x < w; ++x, src += 4, dst += 4) {
      if (!IsKey(src, r, g, b)) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = 255;
        continue;
      }
      // Neighbours come from the source only, so the result does not depend on the scan order.
      int n = 0, sumR = 0, sumG = 0, sumB = 0;
      for (int ny = y - 1; ny <= y + 1; ++ny) {
        if (ny < 0 || ny >= h) continue;
        for (int nx = x - 1; nx <= x + 1; ++nx) {
          if (nx < 0 || nx >= w) continue;
          const uint8_t* o = s->PixelPtr(nx, ny);
          if (IsKey(o, r, g, b)) continue;
          sumR += o[0];
          sumG += o[1];
          sumB += o[2];
          ++n;
        }
      }
      dst[0] = static_cast<uint8_t>(n > 0 ? sumR / n : 0);
      dst[1] = static_cast<uint8_t>(n > 0 ? sumG / n : 0);
      dst[2] = static_cast<uint8_t>(n > 0 ? sumB / n : 0);
      dst[3] = 0;
    }
  }
  return q;
}

}  // namespace kiln
