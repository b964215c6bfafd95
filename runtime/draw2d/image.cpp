#include "runtime/draw2d/image.h"

#include <algorithm>

#include "runtime/core/exceptions.h"
#include "runtime/draw2d/flat2d_driver.h"
#include "runtime/pixmap/pixmap_loader.h"

namespace kiln {
namespace {

size_t CheckedIndex(const TImage& image, int index) {
  if (index < 0 || static_cast<size_t>(index) >= image.seqs.size()) RaiseArrayBounds();
  return static_cast<size_t>(index);
}

Ref<TPixmap> PixmapOf(const Url& source) {
  if (source.IsObject()) {
    if (Ref<TPixmap> pixmap = RefCast<TPixmap>(source.AsObject())) return pixmap;
  }
  return PixmapFromUrl(source);
}

}  // namespace

void TImageFrame::DrawTiles(int64_t x, int64_t y, float fx, float fy, int w, int h, int64_t columns, int64_t rows) {
  float fw = static_cast<float>(w), fh = static_cast<float>(h);
  for (int64_t j = 0; j < rows; ++j) {
    for (int64_t i = 0; i < columns; ++i) {
      Draw(0, 0, fw, fh, static_cast<float>(x + i * w) + fx, static_cast<float>(y + j * h) + fy, 0, 0, fw, fh);
    }
  }
}

Ref<TImageFrame> TImage::Frame(int index) {
  size_t i = CheckedIndex(*this, index);
  if (seqs[i] != GraphicsSeq()) {
    Ref<TFlat2DDriver> driver = Current2DDriver();
    Ref<TPixmap> pixmap = Lock(index, 1, 0);
    frames[i] = driver ? driver->CreateFrameFromPixmap(pixmap, flags) : nullptr;
    seqs[i] = frames[i] ? GraphicsSeq() : 0;
  }
  return frames[i];
}

Ref<TPixmap> TImage::Lock(int index, int /*read*/, int write) {
  size_t i = CheckedIndex(*this, index);
  if (write) {
    seqs[i] = 0;
    frames[i] = nullptr;
  }
  if (!pixmaps[i]) {
    // A blank frame starts transparent black, never with what the heap held.
    pixmaps[i] = AllocatePixmap(width, height, FormatRGBA8888, 4);
    pixmaps[i]->ClearPixels(0);
  }
  return pixmaps[i];
}

void TImage::SetPixmap(int index, const Ref<TPixmap>& pixmap) {
  size_t i = CheckedIndex(*this, index);
  Ref<TPixmap> stored = pixmap;
  if ((flags & MaskedImageFlag) && stored && AlphaBits(stored->format) == 0) {
    stored = ApplyMaskColor(stored, mask_r, mask_g, mask_b);
  }
  pixmaps[i] = stored;
  seqs[i] = 0;
  frames[i] = nullptr;
}

Ref<TImage> TImage::Create(int width, int height, int frameCount, int flags, int r, int g, int b) {
  Ref<TImage> image = MakeRef<TImage>();
  image->width = width;
  image->height = height;
  image->flags = flags;
  image->mask_r = r;
  image->mask_g = g;
  image->mask_b = b;
  size_t count = static_cast<size_t>(std::max(frameCount, 0));
  image->pixmaps.resize(count);
  image->frames.resize(count);
  image->seqs.assign(count, 0);
  return image;
}

Ref<TImage> TImage::Load(const Url& source, int flags, int r, int g, int b) {
  Ref<TPixmap> pixmap = PixmapOf(source);
  if (!pixmap) return nullptr;
  Ref<TImage> image = Create(pixmap->width, pixmap->height, 1, flags, r, g, b);
  image->SetPixmap(0, pixmap);
  return image;
}

Ref<TImage> TImage::LoadAnim(const Url& source, int cellWidth, int cellHeight, int first, int count,
                             int flags, int r, int g, int b) {
  if (cellWidth <= 0 || cellHeight <= 0 || first < 0 || count <= 0) return nullptr;
  Ref<TPixmap> pixmap = PixmapOf(source);
  if (!pixmap) return nullptr;
  int64_t across = pixmap->width / cellWidth;
  int64_t down = pixmap->height / cellHeight;
  if (across * down < static_cast<int64_t>(first) + count) return nullptr;
  Ref<TImage> image = Create(cellWidth, cellHeight, count, flags, r, g, b);
  for (int cell = first; cell < first + count; ++cell) {
    int x = cellWidth * static_cast<int>(cell % across);
    int y = cellHeight * static_cast<int>(cell / across);
    image->SetPixmap(cell - first, pixmap->Window(x, y, cellWidth, cellHeight));
  }
  return image;
}

}  // namespace kiln
