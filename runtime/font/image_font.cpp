#include "runtime/font/image_font.h"

#include <algorithm>
#include <new>

#include "runtime/core/run_once.h"
#include "runtime/pixmap/pixmap_module.h"
#include "runtime/stream/resources.h"

// The committed runtime/font/kilnfont.bin, assembled into the library by its CMakeLists.txt.
extern "C" const unsigned char kiln_builtin_font_bits[];

namespace kiln {
namespace {

constexpr char kDefaultFontResource[] = "kilnfont.bin";
// The built-in font: 96 glyphs of 8 x 16 pixels for the codes 32..127, stored row by row: byte
// y * 96 + i is row y of glyph i, bit b is column b.
constexpr int kDefaultFirstCode = 32;
constexpr int kDefaultGlyphCount = 96;
constexpr int kDefaultGlyphWidth = 8;
constexpr int kDefaultGlyphHeight = 16;
constexpr int kDefaultFontBytes = kDefaultGlyphCount * kDefaultGlyphHeight;

// The registered resource, or the library's own copy when the resource is missing or too short
// (the image-font module was not started, or someone registered a shorter block under the name).
const unsigned char* DefaultFontBits() {
  const EmbeddedResourceEntry* entry = FindEmbeddedResource(kDefaultFontResource);
  if (entry == nullptr || entry->data == nullptr || entry->length < kDefaultFontBytes) return kiln_builtin_font_bits;
  return entry->data;
}

}  // namespace

int TImageGlyph::GetRect(int& x, int& y, int& w, int& h) {
  x = _x;
  y = _y;
  w = _w;
  h = _h;
  return 0;
}

int TImageFont::Style() { return _src_font ? _src_font->Style() : 0; }

int TImageFont::Height() { return _src_font ? _src_font->Height() : kDefaultGlyphHeight; }

int TImageFont::CountGlyphs() { return static_cast<int>(_glyphs.size()); }

int TImageFont::CharToGlyph(int c) {
  if (_src_font) return _src_font->CharToGlyph(c);
  if (c < kDefaultFirstCode || c >= kDefaultFirstCode + kDefaultGlyphCount) return -1;
  return c - kDefaultFirstCode;
}

// Out-of-range indices give empty rather than trusting the source font's CharToGlyph.
Ref<TImageGlyph> TImageFont::LoadGlyph(int index) {
  if (index < 0 || index >= CountGlyphs()) return nullptr;
  Ref<TImageGlyph>& slot = _glyphs[static_cast<size_t>(index)];
  if (slot || !_src_font) return slot;
  slot = MakeRef<TImageGlyph>();
  Ref<TImageGlyph> glyph = slot;

  try {
    Ref<TGlyph> source = _src_font->LoadGlyph(index);
    if (!source) return glyph;
    // The image takes the source glyph's pixels as they are: the source font is this font's own,
    // so one copy serves both.
    Ref<TPixmap> pixels = RefCast<TPixmap>(source->Pixels());
    Ref<TImage> image = pixels ? TImage::Load(Url(pixels), _imageFlags, 0, 0, 0) : nullptr;
    glyph->_advance = source->Advance();
    source->GetRect(glyph->_x, glyph->_y, glyph->_w, glyph->_h);
    glyph->_image = image;
  } catch (const std::bad_alloc&) {
    // Out of memory: the glyph stays empty, and the text around it still draws.
  }
  return glyph;
}

int TImageFont::Draw(const Text& text, float x, float y, float ix, float iy, float jx, float jy) {
  for (int n = 0; n < text.Length(); ++n) {
    int index = CharToGlyph(text[n]);
    if (index < 0) continue;
    Ref<TImageGlyph> glyph = LoadGlyph(index);
    if (!glyph) continue;
    if (Ref<TImage> image = glyph->Pixels()) {
      if (Ref<TImageFrame> frame = image->Frame(0)) {
        float gx = static_cast<float>(glyph->_x);
        float gy = static_cast<float>(glyph->_y);
        float w = static_cast<float>(image->width);
        float h = static_cast<float>(image->height);
        frame->Draw(0, 0, w, h, x + gx * ix + gy * iy, y + gx * jx + gy * jy, 0, 0, w, h);
      }
    }
    float advance = glyph->Advance();
    x += ix * advance;
    y += jx * advance;
  }
  return 0;
}

Ref<TImageFont> TImageFont::Load(const Url& source, int size, int style) {
  Ref<TFont> src;
  try {
    src = FontFromLoaders(source, size, style);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!src) return nullptr;
  Ref<TImageFont> font = MakeRef<TImageFont>();
  font->_src_font = src;
  font->_glyphs.resize(static_cast<size_t>(std::max(0, src->CountGlyphs())));
  font->_imageFlags = (style & SmoothFontFlag) ? FilteredImageFlag | MipmappedImageFlag : 0;
  return font;
}

Ref<TImageFont> TImageFont::CreateDefault() {
  Ref<TImageFont> font = MakeRef<TImageFont>();
  font->_glyphs.resize(kDefaultGlyphCount);

  const unsigned char* bits = DefaultFontBits();
  Ref<TPixmap> strip = AllocatePixmap(kDefaultGlyphCount * kDefaultGlyphWidth, kDefaultGlyphHeight, FormatRGBA8888, 4);
  for (int y = 0; y < kDefaultGlyphHeight; ++y) {
    for (int i = 0; i < kDefaultGlyphCount; ++i) {
      int row = bits[y * kDefaultGlyphCount + i];
      for (int b = 0; b < kDefaultGlyphWidth; ++b) {
        strip->WritePixel(i * kDefaultGlyphWidth + b, y, (row >> b & 1) ? static_cast<int>(0xFFFFFFFFu) : 0);
      }
    }
  }

  for (int i = 0; i < kDefaultGlyphCount; ++i) {
    Ref<TImageGlyph> glyph = MakeRef<TImageGlyph>();
    glyph->_advance = static_cast<float>(kDefaultGlyphWidth);
    glyph->_w = kDefaultGlyphWidth;
    glyph->_h = kDefaultGlyphHeight;
    Ref<TPixmap> cell = strip->Window(i * kDefaultGlyphWidth, 0, kDefaultGlyphWidth, kDefaultGlyphHeight)->Copy();
    glyph->_image = TImage::Load(Url(cell), 0, 0, 0, 0);
    font->_glyphs[static_cast<size_t>(i)] = glyph;
  }
  return font;
}

void InitImageFontModule() {
  RunOnce([] {
    AddEmbeddedResource(kDefaultFontResource, kiln_builtin_font_bits, kDefaultFontBytes);
    InitFontModule();
    InitPixmapModule();
  });
}

}  // namespace kiln
