// FreeType fonts: opening from files and from memory, the size search, metrics, glyph lookup and
// rendering, the smooth-font padding, and what damaged or foreign sources give.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "runtime/stream/c_stream.h"
#include "runtime/stream/ram_stream.h"
#include "runtime/stream/stream.h"
#include "tests/font/font_fixtures.h"
#include "tests/support/peak_memory.h"

namespace kiln {
namespace {

class FreeTypeFont : public ::testing::Test {
 protected:
  void SetUp() override { InitFreeTypeFontModule(); }

  static Ref<TFreeTypeGlyph> Glyph(const Ref<TFreeTypeFont>& font, int c) {
    int index = font->CharToGlyph(c);
    if (index < 0) return nullptr;
    return RefCast<TFreeTypeGlyph>(font->LoadGlyph(index));
  }
};

std::vector<int> RectOf(TFreeTypeGlyph& g) {
  int x = 0, y = 0, w = 0, h = 0;
  g.GetRect(x, y, w, h);
  return {x, y, w, h};
}

TEST_F(FreeTypeFont, OpensFromFileAndFromMemoryWithTheSameMetrics) {
  const Text sources[] = {Text::FromLatin1(test::PayloadFontPath()), test::PayloadFontUrl()};
  for (const Text& source : sources) {
    SCOPED_TRACE(source.ToUtf8());
    Ref<TFreeTypeFont> font = TFreeTypeFont::Load(source, 14, 0);
    ASSERT_TRUE(font);
    EXPECT_EQ(font->Height(), 16);
    EXPECT_EQ(font->_ascend, 13);
    EXPECT_EQ(font->_descend, -4);
    EXPECT_EQ(font->CountGlyphs(), 6253);
    EXPECT_EQ(font->_buf.size(), source.Contains("::") ? test::PayloadFontBytes().size() : 0u);
  }
  Ref<TFreeTypeFont> large = TFreeTypeFont::Load(test::PayloadFontUrl(), 28, 0);
  ASSERT_TRUE(large);
  EXPECT_EQ((std::vector<int>{large->Height(), large->_ascend, large->_descend}), (std::vector<int>{33, 26, -7}));
}

TEST_F(FreeTypeFont, CharToGlyphIsTheFaceIndexLessOne) {
  Ref<TFreeTypeFont> font = TFreeTypeFont::Load(test::PayloadFontUrl(), 14, 0);
  ASSERT_TRUE(font);
  // Face indices of this file: space 3, "A" 36, "u" with diaeresis 190.
  const struct {
    int c;
    int glyph;
  } cases[] = {{' ', 2}, {'A', 35}, {0xFC, 189}, {0xE000, -1}, {0x0378, -1}, {0xFFFF, -1},
               {1, -1},  {-1, -1}, {INT_MIN, -1}};
  for (const auto& c : cases) EXPECT_EQ(font->CharToGlyph(c.c), c.glyph) << "char " << c.c;
}

TEST_F(FreeTypeFont, GlyphsAreAlphaPixmapsOfTheirRectangle) {
  Ref<TFreeTypeFont> font = TFreeTypeFont::Load(test::PayloadFontUrl(), 14, 0);
  ASSERT_TRUE(font);
  for (int c : {int{'A'}, int{'g'}, int{'W'}, int{','}, int{'.'}, int{'|'}, 0xFC}) {
    SCOPED_TRACE(testing::Message() << "char " << c);
    Ref<TFreeTypeGlyph> g = Glyph(font, c);
    ASSERT_TRUE(g);
    Ref<TPixmap> p = RefCast<TPixmap>(g->Pixels());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->format, FormatAlpha8);
    std::vector<int> rect = RectOf(*g);
    EXPECT_EQ(p->width, rect[2]);
    EXPECT_EQ(p->height, rect[3]);
    // Pictures start inside the line: at or right of the pen, below the top line, and (but for
    // descenders) end on the baseline.
    EXPECT_GE(rect[0], 0);
    EXPECT_GE(rect[1], 0);
    EXPECT_LE(rect[1] + rect[3], font->_ascend - font->_descend);
    EXPECT_GT(g->Advance(), 0.0f);
    int darkest = 0;
    for (int y = 0; y < p->height; ++y) {
      for (int x = 0; x < p->width; ++x) darkest = std::max(darkest, (ReadPixel(p, x, y) >> 24) & 0xFF);
    }
    // Every stroke is at least half a pixel wide: some pixel is more than half covered.
    EXPECT_GT(darkest, 128);
  }
  // Capitals end on the baseline, _ascend rows below the top line.
  EXPECT_EQ(RectOf(*Glyph(font, 'A'))[1] + RectOf(*Glyph(font, 'A'))[3], font->_ascend);
}

TEST_F(FreeTypeFont, SpaceAdvancesWithoutPicture) {
  Ref<TFreeTypeFont> font = TFreeTypeFont::Load(test::PayloadFontUrl(), 14, SmoothFontFlag);
  ASSERT_TRUE(font);
  Ref<TFreeTypeGlyph> space = Glyph(font, ' ');
  ASSERT_TRUE(space);
  EXPECT_FALSE(space->Pixels());
  EXPECT_EQ(space->Advance(), 4.0f);
  EXPECT_EQ(RectOf(*space), (std::vector<int>{0, 13, 0, 0}));
}

TEST_F(FreeTypeFont, GlyphIsRenderedOnceAndIndicesOutsideTheFaceGiveNothing) {
  Ref<TFreeTypeFont> font = TFreeTypeFont::Load(test::PayloadFontUrl(), 14, 0);
  ASSERT_TRUE(font);
  Ref<TGlyph> first = font->LoadGlyph(35);
  ASSERT_TRUE(first);
  EXPECT_TRUE(font->LoadGlyph(35) == first);
  EXPECT_TRUE(font->LoadGlyph(35)->Pixels() == first->Pixels());
  for (int index : {-1, font->CountGlyphs(), INT_MAX, INT_MIN}) EXPECT_FALSE(font->LoadGlyph(index)) << index;
  // The last slot asks the face for an index one past its glyphs: an empty glyph, not a crash.
  Ref<TGlyph> last = font->LoadGlyph(font->CountGlyphs() - 1);
  ASSERT_TRUE(last);
  EXPECT_FALSE(last->Pixels());
  EXPECT_EQ(last->Advance(), 0.0f);
}

TEST_F(FreeTypeFont, SmoothStylePadsEveryPictureByAClearPixel) {
  Ref<TFreeTypeFont> plain = TFreeTypeFont::Load(test::PayloadFontUrl(), 14, 1);
  ASSERT_TRUE(plain);
  for (int style : {SmoothFontFlag, SmoothFontFlag | 1}) {
    Ref<TFreeTypeFont> smooth = TFreeTypeFont::Load(test::PayloadFontUrl(), 14, style);
    ASSERT_TRUE(smooth);
    EXPECT_EQ(smooth->Style(), style);
    for (int c : {int{'A'}, int{'g'}, int{'W'}, int{','}, int{'.'}, int{'|'}, 0xFC, int{' '}}) {
      SCOPED_TRACE(testing::Message() << "style " << style << " char " << c);
      Ref<TFreeTypeGlyph> a = Glyph(plain, c);
      Ref<TFreeTypeGlyph> b = Glyph(smooth, c);
      ASSERT_TRUE(a && b);
      EXPECT_EQ(b->Advance(), a->Advance());
      Ref<TPixmap> pa = RefCast<TPixmap>(a->Pixels());
      Ref<TPixmap> pb = RefCast<TPixmap>(b->Pixels());
      if (!pa) {
        EXPECT_FALSE(pb);
        EXPECT_EQ(RectOf(*b), RectOf(*a));
        continue;
      }
      std::vector<int> ra = RectOf(*a);
      EXPECT_EQ(RectOf(*b), (std::vector<int>{ra[0] - 1, ra[1] - 1, ra[2] + 2, ra[3] + 2}));
      ASSERT_TRUE(pb);
      ASSERT_EQ(pb->width, pa->width + 2);
      ASSERT_EQ(pb->height, pa->height + 2);
      EXPECT_EQ(pb->format, FormatAlpha8);
      for (int y = 0; y < pb->height; ++y) {
        for (int x = 0; x < pb->width; ++x) {
          bool border = x == 0 || y == 0 || x == pb->width - 1 || y == pb->height - 1;
          int expected = border ? 0 : *pa->PixelPtr(x - 1, y - 1);
          ASSERT_EQ(*pb->PixelPtr(x, y), expected) << x << "," << y;
        }
      }
    }
  }
}

TEST_F(FreeTypeFont, PadGlyphPixmapClearsTheBorderOfAnyFormat) {
  Ref<TPixmap> rgba = AllocatePixmap(3, 2, FormatRGBA8888, 4);
  ClearPixels(rgba, static_cast<int>(0xFF112233u));
  Ref<TPixmap> padded = PadGlyphPixmap(rgba);
  ASSERT_EQ((std::vector<int>{padded->width, padded->height, padded->format}),
            (std::vector<int>{5, 4, FormatRGBA8888}));
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
      EXPECT_EQ(ReadPixel(padded, x, y), inside ? static_cast<int>(0xFF112233u) : 0) << x << "," << y;
    }
  }
  EXPECT_FALSE(PadGlyphPixmap(nullptr));
}

TEST_F(FreeTypeFont, OneBitGlyphsBecomeFullCoverage) {
  Text url = test::RegisterFontBytes("bdf", test::SmallBdf());
  const struct {
    int style;
    std::vector<int> rect;
    std::vector<std::string> rows;
  } cases[] = {
      {0, {1, 9, 6, 3}, {"##...#", ".#..#.", "######"}},
      {SmoothFontFlag, {0, 8, 8, 5}, {"........", ".##...#.", "..#..#..", ".######.", "........"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "style " << c.style);
    Ref<TFreeTypeFont> font = TFreeTypeFont::Load(url, 16, c.style);
    ASSERT_TRUE(font);
    EXPECT_EQ((std::vector<int>{font->Height(), font->_ascend, font->_descend}), (std::vector<int>{16, 12, -4}));
    Ref<TFreeTypeGlyph> a = Glyph(font, 'A');
    ASSERT_TRUE(a);
    EXPECT_EQ(RectOf(*a), c.rect);
    EXPECT_EQ(a->Advance(), 8.0f);
    Ref<TPixmap> p = RefCast<TPixmap>(a->Pixels());
    ASSERT_TRUE(p);
    std::vector<std::string> rows;
    for (int y = 0; y < p->height; ++y) {
      std::string row;
      for (int x = 0; x < p->width; ++x) {
        int alpha = *p->PixelPtr(x, y);
        row += alpha == 255 ? '#' : alpha == 0 ? '.' : '?';
      }
      rows.push_back(row);
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(font->CharToGlyph('B'), -1);
  }
}

TEST_F(FreeTypeFont, SizeSearchTakesTheLargestSmallerSizeTheFaceAccepts) {
  Text bdf = test::RegisterFontBytes("bdf", test::SmallBdf(16));
  // The bitmap face has one 16-pixel strike: larger requests shrink to it, smaller ones find none.
  const struct {
    int size;
    bool opens;
  } cases[] = {{16, true}, {17, true}, {40, true}, {0xFFFF, true}, {INT_MAX, true},
               {15, false}, {1, false}, {0, false}, {-3, false}, {INT_MIN, false}};
  for (const auto& c : cases) {
    Ref<TFreeTypeFont> font = TFreeTypeFont::Load(bdf, c.size, 0);
    EXPECT_EQ(static_cast<bool>(font), c.opens) << "size " << c.size;
    if (font) {
      EXPECT_EQ(font->Height(), 16) << "size " << c.size;
    }
  }
  for (int size : {0, -1}) EXPECT_FALSE(TFreeTypeFont::Load(test::PayloadFontUrl(), size, 0)) << size;
  EXPECT_TRUE(TFreeTypeFont::Load(test::PayloadFontUrl(), 1, 0));
}

TEST_F(FreeTypeFont, DamagedOrForeignBytesGiveNothing) {
  const std::string& ttf = test::PayloadFontBytes();
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::string noTables = ttf.substr(0, 12);
  noTables[4] = noTables[5] = 0;
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"sfnt version only", ttf.substr(0, 4)},
      {"header only", ttf.substr(0, 12)},
      {"zero tables", noTables},
      {"first kilobyte", ttf.substr(0, 1024)},
      {"first half", ttf.substr(0, ttf.size() / 2)},
      {"garbage", garbage},
      {"a PNG signature", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(64, '\0')},
      {"text", "STARTFONT but not really\n"},
  };
  for (const auto& c : cases) {
    Text url = test::RegisterFontBytes("damaged", c.bytes);
    EXPECT_FALSE(TFreeTypeFont::Load(url, 14, 0)) << c.what;
    EXPECT_FALSE(TImageFont::Load(url, 14, 0)) << c.what;
  }
}

// The payload font with its em (head.unitsPerEm, 2048) set to `unitsPerEm`: a two-byte edit that
// makes every glyph that many times larger.
std::string WithUnitsPerEm(int unitsPerEm) {
  std::string ttf = test::PayloadFontBytes();
  auto word = [&](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(ttf[at])) << 8 | static_cast<unsigned char>(ttf[at + 1]); };
  const uint32_t tables = word(4);
  for (uint32_t i = 0; i < tables; ++i) {
    const size_t record = 12 + 16 * i;
    if (ttf.compare(record, 4, "head") != 0) continue;
    const size_t head = word(record + 8) << 16 | word(record + 10);
    ttf[head + 18] = static_cast<char>(unitsPerEm >> 8);
    ttf[head + 19] = static_cast<char>(unitsPerEm);
  }
  return ttf;
}

// Glyphs many ems large come only from a damaged font: they become empty before FreeType renders
// them, so that drawing text costs what it costs with the sound font.
TEST_F(FreeTypeFont, GlyphsFarLargerThanTheirSizeAreEmptyAndCostNoMemory) {
  std::u16string codes;
  for (char16_t c = 0x20; c < 0x180; ++c) codes.push_back(c);
  const Text text(codes);
  for (const int unitsPerEm : {2048, 16}) {
    SCOPED_TRACE(unitsPerEm);
    const Ref<TImageFont> font = TImageFont::Load(test::RegisterFontBytes("em", WithUnitsPerEm(unitsPerEm)), 14, SmoothFontFlag);
    ASSERT_TRUE(font);
    int drawn = 0;
    const int64_t growth = test::PeakMemoryGrowth([&] {
      for (int i = 0; i < text.Length(); ++i) {
        const Ref<TImageGlyph> glyph = font->LoadGlyph(font->CharToGlyph(text[i]));
        drawn += glyph && glyph->Pixels();
      }
      font->Draw(text, 0, 0, 1, 0, 0, 1);
    });
    if (unitsPerEm == 2048) {
      EXPECT_GT(drawn, 300) << "the sound font draws its characters";
    }
    if (growth >= 0) {
      EXPECT_LT(growth, int64_t{16} << 20);
    }
  }
}

TEST_F(FreeTypeFont, FilePathsThatNameNoFontGiveNothing) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "notes.txt", "not a font");
  const Text paths[] = {
      Text::FromLatin1(dir / "missing.ttf"),
      Text::FromLatin1(dir.Path().string()),
      Text::FromLatin1(dir / "notes.txt"),
      // A NUL would cut the name down to the payload font's path.
      Text(std::u16string(Text::FromLatin1(test::PayloadFontPath()).Units()) + u'\0' + u"x"),
      // "::" at the start is no protocol: a file path.
      Text("::missing"),
  };
  for (const Text& path : paths) EXPECT_FALSE(TFreeTypeFont::Load(path, 14, 0)) << path.ToUtf8();
}

TEST_F(FreeTypeFont, LoaderTakesOnlyNonEmptyTexts) {
  Ref<TFreeTypeFontLoader> loader = MakeRef<TFreeTypeFontLoader>();
  const std::string& ttf = test::PayloadFontBytes();
  Ref<TStream> stream = TRamStream::Create(ttf.data(), static_cast<int64_t>(ttf.size()));
  EXPECT_FALSE(loader->LoadFont(Url(stream), 14, 0));
  EXPECT_FALSE(loader->LoadFont(Url(AllocatePixmap(1, 1, FormatAlpha8)), 14, 0));
  EXPECT_FALSE(loader->LoadFont(Url(Text()), 14, 0));
  EXPECT_FALSE(loader->LoadFont(Url(), 14, 0));
  EXPECT_EQ(stream->Pos(), 0);
  Ref<TFont> font = loader->LoadFont(Url(test::PayloadFontUrl()), 14, 0);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->Height(), 16);
}

TEST_F(FreeTypeFont, ProtocolUrlThatCannotBeOpenedThrows) {
  const Text urls[] = {"incbin::font-test/never-registered", "nosuchprotocol::font.ttf"};
  for (const Text& url : urls) {
    EXPECT_THROW(TFreeTypeFont::Load(url, 14, 0), TStreamReadException) << url.ToUtf8();
    EXPECT_THROW(TImageFont::Load(url, 14, 0), TStreamReadException) << url.ToUtf8();
  }
}

}  // namespace
}  // namespace kiln
