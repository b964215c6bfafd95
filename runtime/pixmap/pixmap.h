// Pixmaps: rectangles of pixels in memory in one of twelve byte-oriented formats, and the pixel
// operations on them (conversion, masking, mirroring, scaling).
//
// Coordinates and rectangles: PixelPtr does not check (it is the inner loop's address helper).
// Window, ReadPixel and WritePixel throw TArrayBoundsException for coordinates outside the pixmap.
// Paste clips: only the part of the source that lands inside this pixmap is written.
// Create throws TArrayBoundsException for a negative size, a format outside 1..12, an alignment below
// 1, or a row or block larger than the int pitch and capacity can describe.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/core/object.h"

namespace kiln {

constexpr int FormatGrey8 = 1;
constexpr int FormatAlpha8 = 2;
constexpr int FormatBGR888 = 3;
constexpr int FormatRGB888 = 4;
constexpr int FormatBGRA8888 = 5;
constexpr int FormatRGBA8888 = 6;
constexpr int FormatRedOnly8 = 7;
constexpr int FormatGreenOnly8 = 8;
constexpr int FormatBlueOnly8 = 9;
constexpr int FormatAlphaOnly8 = 10;
constexpr int FormatIntensity8 = 11;
constexpr int FormatLuminance8 = 12;
constexpr int PixelFormatCount = 13;  // table size; entry 0 is unused

// Bytes per pixel and alpha bits (8 or 0) by format code; entry 0 and codes outside 1..12 give 0.
extern const int pixelByteWidth[PixelFormatCount];
extern const int pixelAlphaBits[PixelFormatCount];
int BytesPerPixel(int format);
int AlphaBits(int format);

class TPixmap : public TObject {
 public:
  TPixmap() = default;
  ~TPixmap() override;

  // pitch = width x bytes-per-pixel rounded up to a multiple of align; pixels are not cleared.
  static Ref<TPixmap> Create(int width, int height, int format, int align = 4);
  // Borrows `pixels` (never freed by the pixmap); capacity -1.
  static Ref<TPixmap> CreateStatic(void* pixels, int width, int height, int pitch, int format);

  virtual int _pad() { return 0; }
  virtual uint8_t* PixelPtr(int x, int y);
  // A pixmap over a rectangle of this one, sharing its memory and keeping it alive.
  virtual Ref<TPixmap> Window(int x, int y, int w, int h);
  virtual Ref<TPixmap> Copy();
  // Converts the whole source into this pixmap with its top-left corner at (x, y); returns 0.
  virtual int Paste(const Ref<TPixmap>& source, int x, int y);
  virtual Ref<TPixmap> Convert(int format);
  // One pixel as 0xAARRGGBB; formats 7-12 read as 0.
  virtual int ReadPixel(int x, int y);
  // Formats 7-12 are left unchanged; returns 0.
  virtual int WritePixel(int x, int y, int argb);
  virtual int ClearPixels(int argb);

  uint8_t* Pixels() const { return pixels; }
  int Width() const { return width; }
  int Height() const { return height; }
  int Pitch() const { return pitch; }
  int Format() const { return format; }
  // Bytes owned; -1 for borrowed memory.
  int Capacity() const { return capacity; }
  const Ref<TObject>& Source() const { return _source; }

  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int pitch = 0;
  int format = 0;
  int capacity = 0;
  // Owner of borrowed memory, kept alive by this reference.
  Ref<TObject> _source;

 private:
  void CheckPoint(int x, int y) const;
  // The block `pixels` points into when the pixmap owns its memory (capacity >= 0).
  std::unique_ptr<uint8_t[]> block_;
};

Ref<TPixmap> AllocatePixmap(int width, int height, int format, int align = 4);
Ref<TPixmap> WrapPixelMemory(void* pixels, int width, int height, int pitch, int format);

// Converts `count` pixels through RGBA; equal formats copy. Unknown destination codes write nothing;
// unknown source codes read as transparent black.
void ConvertPixelRun(const uint8_t* src, int srcFormat, uint8_t* dst, int dstFormat, int count);
void CopyPixelRun(const uint8_t* src, uint8_t* dst, int format, int count);

// A new RGBA pixmap in which pixels of the key colour become transparent, coloured with the average of
// their non-key neighbours so that filtering does not bleed the key colour in.
Ref<TPixmap> ApplyMaskColor(const Ref<TPixmap>& pixmap, int r, int g, int b);
Ref<TPixmap> MirrorColumns(const Ref<TPixmap>& pixmap);
Ref<TPixmap> MirrorRows(const Ref<TPixmap>& pixmap);
// Bilinear resampling with pixel centres aligned; the result keeps the source's format.
Ref<TPixmap> ScalePixmap(const Ref<TPixmap>& pixmap, int width, int height);

// Free-function forms of the pixmap operations and accessors.
Ref<TPixmap> Copy(const Ref<TPixmap>& pixmap);
Ref<TPixmap> Convert(const Ref<TPixmap>& pixmap, int format);
Ref<TPixmap> Window(const Ref<TPixmap>& pixmap, int x, int y, int w, int h);
uint8_t* PixelPtr(const Ref<TPixmap>& pixmap, int x, int y);
int Paste(const Ref<TPixmap>& pixmap, const Ref<TPixmap>& source, int x, int y);
int ReadPixel(const Ref<TPixmap>& pixmap, int x, int y);
int WritePixel(const Ref<TPixmap>& pixmap, int x, int y, int argb);
int ClearPixels(const Ref<TPixmap>& pixmap, int argb);
int PixmapWidth(const Ref<TPixmap>& pixmap);
int PixmapHeight(const Ref<TPixmap>& pixmap);
int PixmapPitch(const Ref<TPixmap>& pixmap);
int PixmapFormat(const Ref<TPixmap>& pixmap);

}  // namespace kiln
