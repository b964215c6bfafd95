// Image fonts: fonts whose glyphs are drawable images, the only fonts the 2D layer draws. A glyph is
// rendered from its source font and turned into an image on first use, then kept.
#pragma once

#include <vector>

#include "runtime/core/object.h"
#include "runtime/draw2d/image.h"
#include "runtime/font/font.h"
#include "runtime/stream/url.h"

namespace kiln {

class TImageGlyph : public TObject {
 public:
  // The glyph's image, or empty for glyphs without pixels (a space).
  virtual Ref<TImage> Pixels() { return _image; }
  virtual float Advance() { return _advance; }
  // Offset of the picture's top-left corner from the pen (on the font's top line), and its size.
  virtual int GetRect(int& x, int& y, int& w, int& h);

  Ref<TImage> _image;
  float _advance = 0;
  int _x = 0, _y = 0, _w = 0, _h = 0;
};

class TImageFont : public TObject {
 public:
  virtual int Style();
  virtual int Height();
  virtual int CountGlyphs();
  // Glyph index of a UTF-16 code unit, -1 when the font has none.
  virtual int CharToGlyph(int c);
  // The glyph of an index from CharToGlyph, loaded on first call and the same object afterwards.
  virtual Ref<TImageGlyph> LoadGlyph(int index);
  // Draws each code unit's glyph with the pen starting at (x, y) and moving along (ix, jx) by each
  // glyph's advance; (ix, iy, jx, jy) is the current 2D transform. Returns 0.
  virtual int Draw(const Text& text, float x, float y, float ix, float iy, float jx, float jy);

  // A font from the registered font loaders at `size` pixels; empty when none can open the source.
  // A protocol URL that cannot be opened throws TStreamReadException.
  static Ref<TImageFont> Load(const Url& source, int size, int style);
  // The built-in 8 x 16 font for codes 32..127, from the resource "kilnfont.bin".
  static Ref<TImageFont> CreateDefault();

  Ref<TFont> _src_font;  // empty for the built-in font
  std::vector<Ref<TImageGlyph>> _glyphs;
  int _imageFlags = 0;
};

// Run-once initialiser of the image-font module: registers "kilnfont.bin", then starts the font and
// pixmap modules.
void InitImageFontModule();

}  // namespace kiln
