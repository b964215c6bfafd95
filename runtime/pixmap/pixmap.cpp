// TPixmap: creation, windows, copies, pastes and single-pixel access.
#include "runtime/pixmap/pixmap.h"


#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

#include "runtime/core/exceptions.h"

namespace kiln {

namespace {

// The pixel's bytes as WritePixel stores them; false for formats it leaves alone.
bool EncodePixel(int format, uint32_t argb, uint8_t out[4]) {
  uint8_t a = static_cast<uint8_t>(argb >> 24);
  uint8_t r = static_cast<uint8_t>(argb >> 16);
  uint8_t g = static_cast<uint8_t>(argb >> 8);
  uint8_t b = static_cast<uint8_t>(argb);
  switch (format) {
    case FormatGrey8: out[0] = static_cast<uint8_t>((r + g + b) / 3); return true;
    case FormatAlpha8: out[0] = a; return true;
    case FormatBGR888: out[0] = b, out[1] = g, out[2] = r; return true;
    case FormatRGB888: out[0] = r, out[1] = g, out[2] = b; return true;
    case FormatBGRA8888: out[0] = b, out[1] = g, out[2] = r, out[3] = a; return true;
    case FormatRGBA8888: out[0] = r, out[1] = g, out[2] = b, out[3] = a; return true;
    default: return false;
  }
}

}  // namespace

TPixmap::~TPixmap() = default;

Ref<TPixmap> TPixmap::Create(int width, int height, int format, int align) {
  int bpp = BytesPerPixel(format);
  if (width < 0 || height < 0 || bpp == 0 || align < 1) RaiseArrayBounds();
  int64_t pitch = (static_cast<int64_t>(width) * bpp + align - 1) / align * align;
  int64_t capacity = pitch * height;
  if (pitch > INT_MAX || capacity > INT_MAX) RaiseArrayBounds();
  Ref<TPixmap> p = MakeRef<TPixmap>();
  p->block_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity));
  p->pixels = p->block_.get();
  p->width = width;
  p->height = height;
  p->pitch = static_cast<int>(pitch);
  p->format = format;
  p->capacity = static_cast<int>(capacity);
  return p;
}

Ref<TPixmap> TPixmap::CreateStatic(void* pixels, int width, int height, int pitch, int format) {
  Ref<TPixmap> p = MakeRef<TPixmap>();
  p->pixels = static_cast<uint8_t*>(pixels);
  p->width = width;
  p->height = height;
  p->pitch = pitch;
  p->format = format;
  p->capacity = -1;
  return p;
}

void TPixmap::CheckPoint(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) RaiseArrayBounds();
}

uint8_t* TPixmap::PixelPtr(int x, int y) {
  return pixels + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(x) * BytesPerPixel(format);
}

Ref<TPixmap> TPixmap::Window(int x, int y, int w, int h) {
  if (x < 0 || y < 0 || w < 0 || h < 0 || w > width - x || h > height - y) RaiseArrayBounds();
  uint8_t* origin = w > 0 && h > 0 ? PixelPtr(x, y) : pixels;
  Ref<TPixmap> p = CreateStatic(origin, w, h, pitch, format);
  p->_source = Ref<TPixmap>::Share(this);
  return p;
}

Ref<TPixmap> TPixmap::Copy() {
  Ref<TPixmap> p = Create(width, height, format, 4);
  for (int y = 0; y < height; ++y) CopyPixelRun(PixelPtr(0, y), p->PixelPtr(0, y), format, width);
  return p;
}

Ref<TPixmap> TPixmap::Convert(int f) {
  Ref<TPixmap> p = Create(width, height, f, 4);
  for (int y = 0; y < height; ++y) ConvertPixelRun(PixelPtr(0, y), format, p->PixelPtr(0, y), f, width);
  return p;
}

namespace {

// The bytes a pixmap's rows span, from its first pixel to the end of its last row's pixels.
std::pair<const uint8_t*, const uint8_t*> RowSpan(const TPixmap& p) {
  if (p.pixels == nullptr || p.width <= 0 || p.height <= 0) return {nullptr, nullptr};
  const uint8_t* begin = p.pixels;
  const uint8_t* end = begin + static_cast<int64_t>(p.pitch) * (p.height - 1) +
                       static_cast<int64_t>(p.width) * BytesPerPixel(p.format);
  return {begin, end};
}

}  // namespace

int TPixmap::Paste(const Ref<TPixmap>& sourceArg, int x, int y) {
  if (!sourceArg) RaiseNullObject();
  // Rows are converted top to bottom; a source sharing memory with this pixmap (itself, a window of
  // it, or its parent) is copied first, so that no row is read after it was overwritten.
  Ref<TPixmap> source = sourceArg;
  auto [sBegin, sEnd] = RowSpan(*source);
  auto [dBegin, dEnd] = RowSpan(*this);
  if (sBegin != nullptr && dBegin != nullptr && sBegin < dEnd && dBegin < sEnd) source = source->Copy();
  // Clip the source rectangle, placed at (x, y), to this pixmap.
  int64_t left = std::max<int64_t>(0, x);
  int64_t top = std::max<int64_t>(0, y);
  int64_t right = std::min<int64_t>(width, static_cast<int64_t>(x) + source->width);
  int64_t bottom = std::min<int64_t>(height, static_cast<int64_t>(y) + source->height);
  if (left >= right || top >= bottom) return 0;
  int sx = static_cast<int>(left - x);
  int n = static_cast<int>(right - left);
  for (int64_t row = top; row < bottom; ++row) {
    int sy = static_cast<int>(row - y);
    ConvertPixelRun(source->PixelPtr(sx, sy), source->format, PixelPtr(static_cast<int>(left), static_cast<int>(row)),
                    format, n);
  }
  return 0;
}

int TPixmap::ReadPixel(int x, int y) {
  CheckPoint(x, y);
  const uint8_t* p = PixelPtr(x, y);
  uint32_t v = 0;
  switch (format) {
    case FormatGrey8: v = 0xFF000000u + p[0] * 0x010101u; break;
    case FormatAlpha8: v = (static_cast<uint32_t>(p[0]) << 24) | 0x00FFFFFFu; break;
    case FormatBGR888: v = 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0]; break;
    case FormatRGB888: v = 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2]; break;
    case FormatBGRA8888: v = static_cast<uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]; break;
    case FormatRGBA8888: v = static_cast<uint32_t>(p[3]) << 24 | p[0] << 16 | p[1] << 8 | p[2]; break;
    default: break;
  }
  return static_cast<int>(v);
}

int TPixmap::WritePixel(int x, int y, int argb) {
  CheckPoint(x, y);
  uint8_t bytes[4];
  if (EncodePixel(format, static_cast<uint32_t>(argb), bytes))
    std::memcpy(PixelPtr(x, y), bytes, static_cast<size_t>(BytesPerPixel(format)));
  return 0;
}

int TPixmap::ClearPixels(int argb) {
  int rowBytes = width * BytesPerPixel(format);
  if (argb == 0 && rowBytes == pitch) {
    if (pixels != nullptr) std::memset(pixels, 0, static_cast<size_t>(pitch) * height);
    return 0;
  }
  uint8_t bytes[4];
  bool writes = argb == 0 || EncodePixel(format, static_cast<uint32_t>(argb), bytes);
  if (!writes) return 0;
  int bpp = BytesPerPixel(format);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = PixelPtr(0, y);
    if (argb == 0) {
      std::memset(row, 0, static_cast<size_t>(rowBytes));
    } else if (bpp == 1) {
      std::memset(row, bytes[0], static_cast<size_t>(width));
    } else {
      for (int x = 0; x < width; ++x) std::memcpy(row + x * bpp, bytes, static_cast<size_t>(bpp));
    }
  }
  return 0;
}

Ref<TPixmap> AllocatePixmap(int width, int height, int format, int align) {
  return TPixmap::Create(width, height, format, align);
}

Ref<TPixmap> WrapPixelMemory(void* pixels, int width, int height, int pitch, int format) {
  return TPixmap::CreateStatic(pixels, width, height, pitch, format);
}

namespace {

TPixmap& Checked(const Ref<TPixmap>& pixmap) {
  if (!pixmap) RaiseNullObject();
  return *pixmap;
}

}  // namespace

Ref<TPixmap> Copy(const Ref<TPixmap>& pixmap) { return Checked(pixmap).Copy(); }
Ref<TPixmap> Convert(const Ref<TPixmap>& pixmap, int format) { return Checked(pixmap).Convert(format); }
Ref<TPixmap> Window(const Ref<TPixmap>& pixmap, int x, int y, int w, int h) {
  return Checked(pixmap).Window(x, y, w, h);
}
uint8_t* PixelPtr(const Ref<TPixmap>& pixmap, int x, int y) { return Checked(pixmap).PixelPtr(x, y); }
int Paste(const Ref<TPixmap>& pixmap, const Ref<TPixmap>& source, int x, int y) {
  return Checked(pixmap).Paste(source, x, y);
}
int ReadPixel(const Ref<TPixmap>& pixmap, int x, int y) { return Checked(pixmap).ReadPixel(x, y); }
int WritePixel(const Ref<TPixmap>& pixmap, int x, int y, int argb) {
  return Checked(pixmap).WritePixel(x, y, argb);
}
int ClearPixels(const Ref<TPixmap>& pixmap, int argb) { return Checked(pixmap).ClearPixels(argb); }
int PixmapWidth(const Ref<TPixmap>& pixmap) { return Checked(pixmap).width; }
int PixmapHeight(const Ref<TPixmap>& pixmap) { return Checked(pixmap).height; }
int PixmapPitch(const Ref<TPixmap>& pixmap) { return Checked(pixmap).pitch; }
int PixmapFormat(const Ref<TPixmap>& pixmap) { return Checked(pixmap).format; }

}  // namespace kiln
