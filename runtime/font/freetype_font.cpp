// Fonts through FreeType: the only file that talks to the library. FreeType reports every failure
// by an error code; each is turned into an empty result here, at the call.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include "runtime/core/file_names.h"
#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/font/freetype_font.h"
#include "runtime/pixmap/pixmap_module.h"
#include "runtime/stream/stream_functions.h"

namespace kiln {
namespace {

// FreeType treats every pixel height from 0xFFFF up as 0xFFFF, so the size search starts there at
// most: same result, and at most 65535 tries for a bitmap face.
constexpr int kLargestPixelSize = 0xFFFF;
// No font format holds more glyphs than this; a face that claims more is damaged.
constexpr FT_Long kMaxGlyphs = FT_Long{1} << 20;
// Larger glyph bitmaps (only from absurd pixel sizes) are not copied.
constexpr int64_t kMaxGlyphPixels = int64_t{1} << 26;
// A real glyph fits in a few ems. One whose box is wider or taller than this many ems (plus a
// margin for tiny sizes) comes from a damaged font and becomes an empty glyph before it is
// rendered: rendering it could cost seconds and hundreds of megabytes.
constexpr int64_t kMaxGlyphEms = 8;
constexpr int64_t kGlyphMarginPixels = 64;

// Created at the first Load and never released: faces of fonts held in globals use it until the
// process ends. A failed start leaves it null, and the next Load tries again.
FT_Library freeTypeLibrary = nullptr;

FT_Library FreeTypeLibrary() {
  if (freeTypeLibrary == nullptr && FT_Init_FreeType(&freeTypeLibrary) != 0) freeTypeLibrary = nullptr;
  return freeTypeLibrary;
}

// The row that is drawn topmost; FreeType's pitch is negative for bitmaps stored bottom-up.
const unsigned char* TopRow(const FT_Bitmap& bitmap) {
  if (bitmap.pitch >= 0) return bitmap.buffer;
  return bitmap.buffer + static_cast<int64_t>(-bitmap.pitch) * (bitmap.rows - 1);
}

// Coverage 0..255 of pixel j of a row.
int Coverage(const FT_Bitmap& bitmap, const unsigned char* row, unsigned j) {
  switch (bitmap.pixel_mode) {
    case FT_PIXEL_MODE_MONO:
      return (row[j >> 3] >> (7 - (j & 7)) & 1) ? 255 : 0;
    case FT_PIXEL_MODE_GRAY2:
      return (row[j >> 2] >> (6 - 2 * (j & 3)) & 3) * 85;
    case FT_PIXEL_MODE_GRAY4:
      return (row[j >> 1] >> (4 - 4 * (j & 1)) & 15) * 17;
    case FT_PIXEL_MODE_BGRA:
      return row[4 * j + 3];
    default: {
      int levels = bitmap.num_grays;
      if (levels <= 1 || levels == 256) return row[j];
      return std::min(255, row[j] * 255 / (levels - 1));
    }
  }
}

// Whether the loaded, not yet rendered glyph fits the bound of the face's pixel size.
bool FitsThePixelSize(FT_Face face) {
  const FT_GlyphSlot slot = face->glyph;
  int64_t w = 0, h = 0;
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    w = (int64_t{box.xMax} - box.xMin) / 64;
    h = (int64_t{box.yMax} - box.yMin) / 64;
  } else if (slot->format == FT_GLYPH_FORMAT_BITMAP) {
    w = slot->bitmap.width;
    h = slot->bitmap.rows;
  } else {
    w = int64_t{slot->metrics.width} / 64;
    h = int64_t{slot->metrics.height} / 64;
  }
  const int64_t em = std::max(face->size->metrics.x_ppem, face->size->metrics.y_ppem);
  const int64_t bound = kMaxGlyphEms * em + kGlyphMarginPixels;
  return w >= 0 && h >= 0 && w <= bound && h <= bound;
}

// The rendered glyph as an alpha pixmap (coverage over white) with a clear border of `pad` pixels,
// by the bitmap's pixel mode; empty for modes that carry no coverage (sub-pixel LCD) and for
// oversized bitmaps.
Ref<TPixmap> AlphaPixmapOf(const FT_Bitmap& bitmap, int pad) {
  switch (bitmap.pixel_mode) {
    case FT_PIXEL_MODE_MONO:
    case FT_PIXEL_MODE_GRAY:
    case FT_PIXEL_MODE_GRAY2:
    case FT_PIXEL_MODE_GRAY4:
    case FT_PIXEL_MODE_BGRA:
      break;
    default:
      return nullptr;
  }
  if (bitmap.buffer == nullptr || int64_t{bitmap.width} * bitmap.rows > kMaxGlyphPixels) return nullptr;
  int w = static_cast<int>(bitmap.width);
  int h = static_cast<int>(bitmap.rows);
  Ref<TPixmap> pixmap = AllocatePixmap(w + 2 * pad, h + 2 * pad, FormatAlpha8, 4);
  if (pad > 0) std::memset(pixmap->pixels, 0, static_cast<size_t>(pixmap->pitch) * static_cast<size_t>(pixmap->height));
  const unsigned char* top = TopRow(bitmap);
  for (int i = 0; i < h; ++i) {
    const unsigned char* row = top + int64_t{i} * bitmap.pitch;
    uint8_t* out = pixmap->PixelPtr(pad, pad + i);
    for (int j = 0; j < w; ++j) out[j] = static_cast<uint8_t>(Coverage(bitmap, row, static_cast<unsigned>(j)));
  }
  return pixmap;
}

}  // namespace

void TFreeTypeFont::FaceCloser::operator()(FT_FaceRec_* face) const { FT_Done_Face(face); }

int TFreeTypeGlyph::GetRect(int& x, int& y, int& w, int& h) {
  x = _x;
  y = _y;
  w = _w;
  h = _h;
  return 0;
}

int TFreeTypeFont::CharToGlyph(int c) {
  if (c < 0) return -1;
  return static_cast<int>(FT_Get_Char_Index(_ft_face.get(), static_cast<FT_ULong>(c))) - 1;
}

Ref<TGlyph> TFreeTypeFont::LoadGlyph(int index) {
  if (index < 0 || index >= CountGlyphs()) return nullptr;
  Ref<TFreeTypeGlyph>& slot = _glyphs[static_cast<size_t>(index)];
  if (slot) return slot;
  slot = MakeRef<TFreeTypeGlyph>();
  Ref<TFreeTypeGlyph> glyph = slot;

  FT_Face face = _ft_face.get();
  if (FT_Load_Glyph(face, static_cast<FT_UInt>(index) + 1, FT_LOAD_DEFAULT) != 0) return glyph;
  if (!FitsThePixelSize(face)) return glyph;
  FT_GlyphSlot rendered = face->glyph;
  if (rendered->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(rendered, FT_RENDER_MODE_NORMAL) != 0) {
    return glyph;
  }
  if (rendered->format != FT_GLYPH_FORMAT_BITMAP) return glyph;
  const FT_Bitmap& bitmap = rendered->bitmap;

  // Smooth glyphs get a clear border, so that filtered glyph images do not bleed at their edges.
  const int pad = (_style & SmoothFontFlag) ? 1 : 0;
  Ref<TPixmap> pixmap;
  if (bitmap.width > 0 && bitmap.rows > 0) {
    try {
      pixmap = AlphaPixmapOf(bitmap, pad);
    } catch (const std::bad_alloc&) {
      // Out of memory: the glyph stays empty, and the text around it still draws.
    }
    if (!pixmap) return glyph;
  }
  glyph->_x = rendered->bitmap_left;
  glyph->_y = _ascend - rendered->bitmap_top;
  glyph->_w = static_cast<int>(bitmap.width);
  glyph->_h = static_cast<int>(bitmap.rows);
  glyph->_advance = static_cast<float>(rendered->advance.x >> 6);
  if (!pixmap) return glyph;
  glyph->_x -= pad;
  glyph->_y -= pad;
  glyph->_w += 2 * pad;
  glyph->_h += 2 * pad;
  glyph->_pixmap = pixmap;
  return glyph;
}

Ref<TFreeTypeFont> TFreeTypeFont::Load(const Text& source, int size, int style) {
  try {
    return Open(source, size, style);
  } catch (const std::bad_alloc&) {
    // A font that cannot be held in memory is no font.
    return nullptr;
  }
}

Ref<TFreeTypeFont> TFreeTypeFont::Open(const Text& source, int size, int style) {
  FT_Library library = FreeTypeLibrary();
  if (library == nullptr) return nullptr;

  // Failures below drop `font`, which closes the face before it frees the block the face reads.
  Ref<TFreeTypeFont> font = MakeRef<TFreeTypeFont>();
  FT_Face face = nullptr;
  if (source.Find("::", 1) >= 1) {
    font->_buf = LoadByteArray(Url(source));
    if (font->_buf.empty()) return nullptr;
    if (FT_New_Memory_Face(library, font->_buf.data(), static_cast<FT_Long>(font->_buf.size()), 0, &face) != 0)
      return nullptr;
  } else {
    std::string name = ToPlatformName(source);
    // A name with a NUL in it would open the file named by its first part.
    if (name.find('\0') != std::string::npos) return nullptr;
    if (FT_New_Face(library, name.c_str(), 0, &face) != 0) return nullptr;
  }
  font->_ft_face.reset(face);
  if (face->num_glyphs < 0 || face->num_glyphs > kMaxGlyphs) return nullptr;

  int pixels = std::min(size, kLargestPixelSize);
  while (pixels > 0 && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) --pixels;
  if (pixels <= 0) return nullptr;

  const FT_Size_Metrics& metrics = face->size->metrics;
  font->_style = style;
  font->_height = static_cast<int>(metrics.height >> 6);
  font->_ascend = static_cast<int>(metrics.ascender >> 6);
  font->_descend = static_cast<int>(metrics.descender >> 6);
  font->_glyphs.resize(static_cast<size_t>(face->num_glyphs));
  return font;
}

Ref<TFont> TFreeTypeFontLoader::LoadFont(const Url& source, int size, int style) {
  if (source.IsObject() || source.AsText().IsEmpty()) return nullptr;
  return TFreeTypeFont::Load(source.AsText(), size, style);
}

Ref<TPixmap> PadGlyphPixmap(const Ref<TPixmap>& pixmap) {
  if (!pixmap) return nullptr;
  Ref<TPixmap> padded = AllocatePixmap(pixmap->width + 2, pixmap->height + 2, pixmap->format, 4);
  std::memset(padded->pixels, 0, static_cast<size_t>(padded->pitch) * static_cast<size_t>(padded->height));
  padded->Paste(pixmap, 1, 1);
  return padded;
}

void InitFreeTypeFontModule() {
  RunOnce([] {
    InitCoreModule();
    InitFontModule();
    InitPixmapModule();
    AddFontLoader(MakeRef<TFreeTypeFontLoader>());
  });
}

}  // namespace kiln
