// Bilinear resampling with pixel centres aligned.
#include <cmath>
#include <vector>

#include "runtime/core/exceptions.h"
#include "runtime/pixmap/pixmap.h"

namespace kiln {

namespace {

// A source position clamped to the edges: index, fraction toward the next sample, and the byte step
// to that next sample (0 at the edges, where the sample is repeated).
struct Tap {
  int index;
  float fraction;
  int step;
};

Tap TapAt(int i, float scale, int size, int stride) {
  float f = (static_cast<float>(i) + 0.5f) * scale - 0.5f;
  float fl = std::floor(f);
  Tap t{static_cast<int>(fl), f - fl, stride};
  if (t.index < 0) {
    t = {0, 0.0f, 0};
  } else if (t.index >= size - 1) {
    t = {size - 1, 0.0f, 0};
  }
  return t;
}

}  // namespace

Ref<TPixmap> ScalePixmap(const Ref<TPixmap>& pixmap, int width, int height) {
  if (!pixmap) RaiseNullObject();
  Ref<TPixmap> q = AllocatePixmap(width, height, pixmap->format, 4);
  if (width == 0 || height == 0) return q;
  Ref<TPixmap> s = pixmap->format == FormatRGBA8888 ? pixmap : pixmap->Convert(FormatRGBA8888);
  if (s->width == 0 || s->height == 0) {
    q->ClearPixels(0);
    return q;
  }
  float xs = static_cast<float>(s->width) / static_cast<float>(width);
  float ys = static_cast<float>(s->height) / static_cast<float>(height);
  std::vector<Tap> columns(static_cast<size_t>(width));
  for (int i = 0; i < width; ++i) columns[i] = TapAt(i, xs, s->width, 4);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
  for (int j = 0; j < height; ++j) {
    Tap ry = TapAt(j, ys, s->height, s->pitch);
    const uint8_t* base = s->PixelPtr(0, ry.index);
    double ty = ry.fraction;
    uint8_t* out = row.data();
    for (int i = 0; i < width; ++i, out += 4) {
      const Tap& cx = columns[i];
      const uint8_t* a = base + cx.index * 4;
      const uint8_t* b = a + cx.step;
      const uint8_t* c = a + ry.step;
      const uint8_t* d = c + cx.step;
      double tx = cx.fraction;
      for (int k = 0; k < 4; ++k) {
        double top = a[k] + (b[k] - a[k]) * tx;
        double bottom = c[k] + (d[k] - c[k]) * tx;
        out[k] = static_cast<uint8_t>(static_cast<int>(top + (bottom - top) * ty));
      }
    }
    ConvertPixelRun(row.data(), FormatRGBA8888, q->PixelPtr(0, j), q->format, width);
  }
  return q;
}

}  // namespace kiln
