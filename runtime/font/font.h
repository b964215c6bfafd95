// Source fonts and the font loader registry.
#pragma once

#include "runtime/core/object.h"
#include "runtime/stream/url.h"

namespace kiln {

class TGlyph : public TObject {
 public:
  // The glyph's picture (a TPixmap), or empty.
  virtual Ref<TObject> Pixels() = 0;
  virtual float Advance() = 0;
  // Offset of the picture's top-left corner from the pen (on the font's top line), and its size.
  virtual int GetRect(int& x, int& y, int& w, int& h) = 0;
};

// Style bit: glyph images are filtered and mipmapped, with a clear border.
inline constexpr int SmoothFontFlag = 4;

class TFont : public TObject {
 public:
  virtual int Style() = 0;
  // Line height in pixels.
  virtual int Height() = 0;
  virtual int CountGlyphs() = 0;
  // -1 when the font has no glyph for the character.
  virtual int CharToGlyph(int c) = 0;
  virtual Ref<TGlyph> LoadGlyph(int index) = 0;
};

class TFontLoader : public TObject {
 public:
  virtual Ref<TFont> LoadFont(const Url& source, int size, int style) = 0;
  Ref<TFontLoader> _succ;
};

// Links the loader in front of the list unless it is already linked.
void AddFontLoader(const Ref<TFontLoader>& loader);
// The first font a loader makes of the source, from the newest loader on; empty when none does.
Ref<TFont> FontFromLoaders(const Url& source, int size, int style);

// Run-once initialisers: the font types, and the FreeType loader (which it adds to the list).
void InitFontModule();
void InitFreeTypeFontModule();

}  // namespace kiln
