// Drawable images: one or more frames of pixels, each with a driver frame (a texture, for GL) that
// is built on first draw and rebuilt whenever the graphics generation changes.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/core/object.h"
#include "runtime/pixmap/pixmap.h"
#include "runtime/stream/url.h"

namespace kiln {

// Image flags.
inline constexpr int MaskedImageFlag = 1;     // pixmaps without alpha are masked when stored
inline constexpr int FilteredImageFlag = 2;   // linear filtering, else nearest
inline constexpr int MipmappedImageFlag = 4;  // a full mipmap chain
inline constexpr int DynamicImageFlag = 8;    // made by NewBlankImage; the GL driver ignores it

// A frame as the current 2D driver built it.
class TImageFrame : public TObject {
 public:
  // Draws the source rectangle (sx, sy, sw, sh), in frame pixels, onto the quad with local corners
  // (x0, y0)-(x1, y1), transformed by the current 2D transform and then moved by (tx, ty).
  virtual void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy,
                    float sw, float sh) = 0;
  // Draws columns x rows copies of the whole w x h frame side by side: copy (i, j) exactly as Draw
  // (0, 0, w, h, x + i w + fx, y + j h + fy, 0, 0, w, h) draws it. Drivers may draw a run of copies
  // at once where that leaves the pixels the same.
  virtual void DrawTiles(int64_t x, int64_t y, float fx, float fy, int w, int h, int64_t columns, int64_t rows);
};

class TImage : public TObject {
 public:
  int width = 0;
  int height = 0;
  int flags = 0;
  int mask_r = 0;
  int mask_g = 0;
  int mask_b = 0;
  // The point of the image that lands on the drawing position.
  float handle_x = 0;
  float handle_y = 0;
  // One entry per frame. A frame's pixmap is empty until set or locked; its driver frame is empty
  // until built, and seqs[i] is the graphics generation it was built under (0: not built).
  std::vector<Ref<TPixmap>> pixmaps;
  std::vector<Ref<TImageFrame>> frames;
  std::vector<int> seqs;

  virtual void _pad() {}
  // The driver frame of frame `index`, built now by the current 2D driver if it is missing or was
  // built under another generation; empty when there is no driver or it cannot build one.
  virtual Ref<TImageFrame> Frame(int index);
  // The frame's pixmap, made as a blank RGBA pixmap when missing. `write` drops the driver frame so
  // that the next draw rebuilds it from the changed pixels.
  virtual Ref<TPixmap> Lock(int index, int read, int write);
  // Stores `pixmap` as the frame's pixels; under MaskedImageFlag a pixmap without alpha is stored as
  // its masked copy.
  virtual void SetPixmap(int index, const Ref<TPixmap>& pixmap);

  // Frame indices outside 0..frame count - 1 throw TArrayBoundsException in the three above.

  // A count below 0 counts as 0.
  static Ref<TImage> Create(int width, int height, int frameCount, int flags, int r, int g, int b);
  // `source` is a pixmap object, or anything PixmapFromUrl reads. Empty when no pixmap results.
  static Ref<TImage> Load(const Url& source, int flags, int r, int g, int b);
  // Cells of cellWidth x cellHeight, left to right then top to bottom; cells first .. first + count
  // - 1 become frames 0 .. count - 1. Empty when the picture holds fewer cells or a size is not
  // positive.
  static Ref<TImage> LoadAnim(const Url& source, int cellWidth, int cellHeight, int first, int count,
                              int flags, int r, int g, int b);
};

}  // namespace kiln
