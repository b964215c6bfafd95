// Fuzzes FreeType fonts opened from memory: the first input byte picks the pixel size (1..32) and
// the smooth style (bit 7), the rest is the font file. Every glyph up to a cap is rendered, checked
// for a well-formed picture (with its clear border when smooth) and turned into an image-font glyph
// that shares its pixels.
//
// Seeds in fuzz/corpus/font/: subsets of DejaVu Sans (Bitstream Vera licence, DejaVu changes in
// the public domain) made with fontTools' pyftsubset, and a small BDF bitmap font written by hand.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "runtime/font/freetype_font.h"
#include "runtime/font/image_font.h"

namespace {

// Rendering stays fast per input: at most this many glyphs, through the image font for the first few.
constexpr int kMaxGlyphs = 300;
constexpr int kMaxImageGlyphs = 40;

using kiln::fuzz::Check;

void CheckGlyph(const kiln::Ref<kiln::TGlyph>& glyph, bool smooth) {
  Check(static_cast<bool>(glyph));
  int x = 0, y = 0, w = 0, h = 0;
  glyph->GetRect(x, y, w, h);
  kiln::Ref<kiln::TPixmap> p = kiln::RefCast<kiln::TPixmap>(glyph->Pixels());
  if (!p) return;
  Check(p->format == kiln::FormatAlpha8 && p->width == w && p->height == h && w > 0 && h > 0);
  Check(p->pitch >= p->width && p->capacity >= p->pitch * p->height);
  // A damaged font can make a glyph of millions of pixels: the sums need 64 bits.
  uint64_t sum = 0;
  for (int row = 0; row < p->height; ++row) {
    const uint8_t* line = p->PixelPtr(0, row);
    for (int col = 0; col < p->width; ++col) sum += line[col];
  }
  Check(sum <= uint64_t{255} * static_cast<uint64_t>(w) * static_cast<uint64_t>(h));
  // Smooth glyphs carry a clear border, so that filtering never bleeds into the next texel.
  if (smooth) {
    for (int col = 0; col < p->width; ++col) Check(*p->PixelPtr(col, 0) == 0 && *p->PixelPtr(col, p->height - 1) == 0);
    for (int row = 0; row < p->height; ++row) Check(*p->PixelPtr(0, row) == 0 && *p->PixelPtr(p->width - 1, row) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    kiln::InitImageFontModule();
    kiln::InitFreeTypeFontModule();
    kiln::TStreamFactory::Register(kiln::MakeRef<kiln::fuzz::InputFactory>(kiln::Text("fuzz"), kiln::Text()));
    return true;
  }();
  (void)started;
  if (size < 1) return 0;
  int pixels = 1 + (data[0] & 31);
  int style = (data[0] & 0x80) ? kiln::SmoothFontFlag : 0;
  kiln::fuzz::CurrentInput::data = data + 1;
  kiln::fuzz::CurrentInput::size = size - 1;

  kiln::Ref<kiln::TFreeTypeFont> font = kiln::TFreeTypeFont::Load("fuzz::input", pixels, style);
  if (!font) return 0;
  int count = font->CountGlyphs();
  Check(count >= 0);
  Check(!font->LoadGlyph(-1) && !font->LoadGlyph(count));
  for (int c = 0; c < 0x180; ++c) {
    int index = font->CharToGlyph(c);
    Check(index >= -1 && index < count);
  }
  for (int i = 0; i < std::min(count, kMaxGlyphs); ++i) {
    kiln::Ref<kiln::TGlyph> glyph = font->LoadGlyph(i);
    CheckGlyph(glyph, style != 0);
    Check(font->LoadGlyph(i) == glyph);
  }

  kiln::Ref<kiln::TImageFont> imageFont = kiln::TImageFont::Load("fuzz::input", pixels, style);
  Check(static_cast<bool>(imageFont) && imageFont->CountGlyphs() == count);
  for (int i = 0; i < std::min(count, kMaxImageGlyphs); ++i) {
    kiln::Ref<kiln::TImageGlyph> glyph = imageFont->LoadGlyph(i);
    Check(static_cast<bool>(glyph));
    kiln::Ref<kiln::TImage> image = glyph->Pixels();
    if (!image) continue;
    Check(image->width == glyph->_w && image->height == glyph->_h);
    // One copy of the pixels: the image holds the source glyph's pixmap.
    Check(image->pixmaps[0] == kiln::RefCast<kiln::TPixmap>(imageFont->_src_font->LoadGlyph(i)->Pixels()));
  }
  return 0;
}
