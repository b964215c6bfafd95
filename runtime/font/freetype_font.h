// Outline and bitmap font files rasterised by FreeType. Glyphs are rendered one at a time on first
// use into alpha pixmaps (coverage over white) and kept for the font's life.
#pragma once

#include <memory>
#include <vector>

#include "runtime/font/font.h"
#include "runtime/pixmap/pixmap.h"

struct FT_FaceRec_;

namespace kiln {

class TFreeTypeGlyph : public TGlyph {
 public:
  Ref<TObject> Pixels() override { return _pixmap; }
  float Advance() override { return _advance; }
  int GetRect(int& x, int& y, int& w, int& h) override;

  Ref<TPixmap> _pixmap;  // empty for glyphs without pixels
  float _advance = 0;
  int _x = 0, _y = 0, _w = 0, _h = 0;
};

class TFreeTypeFont : public TFont {
 public:
  int Style() override { return _style; }
  int Height() override { return _height; }
  int CountGlyphs() override { return static_cast<int>(_glyphs.size()); }
  // The face's glyph index minus one, so the face's missing-glyph shape (index 0) is -1.
  int CharToGlyph(int c) override;
  // Renders the glyph on first call. Empty for an index outside 0 .. CountGlyphs() - 1; a glyph
  // the face cannot render, one larger than a few ems of the pixel size (a damaged font) and one
  // there is no memory for are empty glyphs (no pixels, advance 0).
  Ref<TGlyph> LoadGlyph(int index) override;

  // `source` is a "protocol::path" URL, read whole into memory (an unopenable one throws
  // TStreamReadException), or a file path. `size` is the pixel height; a face that cannot take it
  // gets the largest smaller size it accepts. Empty when the source is not a font FreeType reads
  // or no size down to 1 can be set.
  // Out of memory gives empty too.
  static Ref<TFreeTypeFont> Load(const Text& source, int size, int style);

  struct FaceCloser {
    void operator()(FT_FaceRec_* face) const;
  };

  int _style = 0;
  // Line metrics in whole pixels; _descend is negative below the baseline.
  int _height = 0;
  int _ascend = 0;
  int _descend = 0;
  std::vector<Ref<TFreeTypeGlyph>> _glyphs;
  // The font file when the face was opened from memory; FreeType reads it for the face's life, so
  // it is declared before _ft_face and outlives it.
  std::vector<unsigned char> _buf;
  std::unique_ptr<FT_FaceRec_, FaceCloser> _ft_face;

 private:
  static Ref<TFreeTypeFont> Open(const Text& source, int size, int style);
};

class TFreeTypeFontLoader : public TFontLoader {
 public:
  // A text source goes to TFreeTypeFont::Load; an object source or an empty text gives empty.
  Ref<TFont> LoadFont(const Url& source, int size, int style) override;
};

// A copy of the pixmap with a clear one-pixel border, so that filtered glyph images do not bleed
// at their edges.
Ref<TPixmap> PadGlyphPixmap(const Ref<TPixmap>& pixmap);

}  // namespace kiln
