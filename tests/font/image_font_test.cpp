// Image fonts over a source font, the font loader registry, and Draw's walk along the pen line.
#include <gtest/gtest.h>

#include <climits>

#include "tests/font/font_fixtures.h"

namespace kiln {
namespace {

class FakeGlyph : public TGlyph {
 public:
  Ref<TObject> Pixels() override { return pixels; }
  float Advance() override { return advance; }
  int GetRect(int& x, int& y, int& w, int& h) override {
    x = rect[0], y = rect[1], w = rect[2], h = rect[3];
    return 0;
  }
  Ref<TObject> pixels;
  float advance = 0;
  int rect[4] = {0, 0, 0, 0};
};

// Three glyphs: "a" (index 0) a 3 x 2 alpha picture, " " (1) an advance without picture, and "z"
// (2) one the font cannot load. Counts the loads it is asked for.
class FakeFont : public TFont {
 public:
  explicit FakeFont(int style) : style_(style) {
    Ref<TPixmap> picture = AllocatePixmap(3, 2, FormatAlpha8, 4);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) *picture->PixelPtr(x, y) = static_cast<uint8_t>(10 * (3 * y + x) + 5);
    a = MakeRef<FakeGlyph>();
    a->pixels = picture;
    a->advance = 4.5f;
    a->rect[0] = -1, a->rect[1] = 7, a->rect[2] = 3, a->rect[3] = 2;
    space = MakeRef<FakeGlyph>();
    space->advance = 5;
  }
  int Style() override { return style_; }
  int Height() override { return 11; }
  int CountGlyphs() override { return count; }
  int CharToGlyph(int c) override { return c == 'a' ? 0 : c == ' ' ? 1 : c == 'z' ? 2 : c == '!' ? 99 : -1; }
  Ref<TGlyph> LoadGlyph(int index) override {
    ++loads;
    return index == 0 ? Ref<TGlyph>(a) : index == 1 ? Ref<TGlyph>(space) : nullptr;
  }

  Ref<FakeGlyph> a, space;
  int count = 3;
  int loads = 0;

 private:
  int style_;
};

// Answers one source name with a new FakeFont, and counts how often it is asked.
class FakeLoader : public TFontLoader {
 public:
  explicit FakeLoader(Text name) : name_(std::move(name)) {}
  Ref<TFont> LoadFont(const Url& source, int, int style) override {
    ++asked;
    if (source.IsObject() || !(source.AsText() == name_)) return nullptr;
    last = MakeRef<FakeFont>(style);
    return last;
  }
  int asked = 0;
  Ref<FakeFont> last;

 private:
  Text name_;
};

Ref<FakeLoader> AddFake(const char* name) {
  Ref<FakeLoader> loader = MakeRef<FakeLoader>(name);
  AddFontLoader(loader);
  return loader;
}

class ImageFont : public ::testing::Test {
 protected:
  void SetUp() override {
    InitImageFontModule();
    InitFreeTypeFontModule();
  }
};

TEST_F(ImageFont, LoadKeepsTheSourceAndPicksImageFlagsFromTheStyle) {
  Ref<FakeLoader> loader = AddFake("fake-font-flags");
  const struct {
    int style;
    int imageFlags;
  } cases[] = {{0, 0}, {1, 0}, {SmoothFontFlag, FilteredImageFlag | MipmappedImageFlag},
               {SmoothFontFlag | 1, 6}, {SmoothFontFlag | 2, 6}};
  for (const auto& c : cases) {
    Ref<TImageFont> font = TImageFont::Load("fake-font-flags", 12, c.style);
    ASSERT_TRUE(font) << c.style;
    EXPECT_TRUE(font->_src_font == loader->last);
    EXPECT_EQ(font->_imageFlags, c.imageFlags) << c.style;
    EXPECT_EQ(font->Style(), c.style);
    EXPECT_EQ(font->Height(), 11);
    EXPECT_EQ(font->CountGlyphs(), 3);
    EXPECT_EQ((std::vector<int>{font->CharToGlyph('a'), font->CharToGlyph(' '), font->CharToGlyph('b')}),
              (std::vector<int>{0, 1, -1}));
    Ref<TImageGlyph> a = font->LoadGlyph(0);
    ASSERT_TRUE(a && a->Pixels());
    EXPECT_EQ(a->Pixels()->flags, c.imageFlags);
  }
}

TEST_F(ImageFont, GlyphsTakeTheSourceGlyphsPixelsOnceAndKeepThem) {
  AddFake("fake-font-glyphs");
  Ref<TImageFont> font = TImageFont::Load("fake-font-glyphs", 12, 0);
  ASSERT_TRUE(font);
  Ref<FakeFont> source = RefCast<FakeFont>(font->_src_font);

  Ref<TImageGlyph> a = font->LoadGlyph(0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Advance(), 4.5f);
  int x = 0, y = 0, w = 0, h = 0;
  a->GetRect(x, y, w, h);
  EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{-1, 7, 3, 2}));
  Ref<TImage> image = a->Pixels();
  ASSERT_TRUE(image);
  EXPECT_EQ((std::vector<int>{image->width, image->height}), (std::vector<int>{3, 2}));
  // One copy of the pixels serves both: the image holds the source glyph's own picture.
  EXPECT_TRUE(image->pixmaps[0] == RefCast<TPixmap>(source->a->pixels));
  EXPECT_EQ(*image->pixmaps[0]->PixelPtr(0, 0), 5);
  EXPECT_EQ(*image->pixmaps[0]->PixelPtr(2, 1), 55);

  Ref<TImageGlyph> space = font->LoadGlyph(1);
  ASSERT_TRUE(space);
  EXPECT_FALSE(space->Pixels());
  EXPECT_EQ(space->Advance(), 5.0f);

  // A glyph the source cannot load is an empty glyph, kept like any other.
  Ref<TImageGlyph> z = font->LoadGlyph(2);
  ASSERT_TRUE(z);
  EXPECT_FALSE(z->Pixels());
  EXPECT_EQ(z->Advance(), 0.0f);

  EXPECT_EQ(source->loads, 3);
  EXPECT_TRUE(font->LoadGlyph(0) == a);
  EXPECT_TRUE(font->LoadGlyph(2) == z);
  EXPECT_EQ(source->loads, 3);

  for (int index : {-1, 3, 99, INT_MAX, INT_MIN}) EXPECT_FALSE(font->LoadGlyph(index)) << index;
  EXPECT_EQ(source->loads, 3);
}

TEST_F(ImageFont, SourceWithNegativeGlyphCountGetsNoSlots) {
  class NegativeLoader : public TFontLoader {
   public:
    Ref<TFont> LoadFont(const Url& source, int, int) override {
      if (!(source.AsText() == Text("fake-font-negative-count"))) return nullptr;
      Ref<FakeFont> font = MakeRef<FakeFont>(0);
      font->count = -5;
      return font;
    }
  };
  AddFontLoader(MakeRef<NegativeLoader>());
  Ref<TImageFont> font = TImageFont::Load("fake-font-negative-count", 12, 0);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->CountGlyphs(), 0);
  EXPECT_FALSE(font->LoadGlyph(0));
  test::CurrentRecordingDriver current;
  font->Draw("a", 0, 0, 1, 0, 0, 1);
  EXPECT_TRUE(current.driver->draws.empty());
}

TEST_F(ImageFont, RegistryAsksNewestLoaderFirstAndLinksEachOnce) {
  Ref<FakeLoader> older = AddFake("fake-font-order");
  Ref<FakeLoader> newer = AddFake("fake-font-order");
  Ref<TFont> font = FontFromLoaders("fake-font-order", 12, 0);
  EXPECT_TRUE(font == newer->last);
  EXPECT_EQ(older->asked, 0);

  // Adding a linked loader again, the newest included, changes nothing and makes no loop.
  AddFontLoader(newer);
  AddFontLoader(older);
  AddFontLoader(nullptr);
  newer->asked = 0;
  EXPECT_FALSE(FontFromLoaders("fake-font-nobody-knows", 12, 0));
  EXPECT_EQ(newer->asked, 1);
  EXPECT_EQ(older->asked, 1);
}

TEST_F(ImageFont, PayloadFontAsTheStatusScreenOpensIt) {
  Ref<TImageFont> font = TImageFont::Load(test::PayloadFontUrl(), 14, 5);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->_imageFlags, 6);
  EXPECT_EQ(font->Style(), 5);
  EXPECT_EQ(font->Height(), 16);
  EXPECT_EQ(font->CountGlyphs(), 6253);
  int index = font->CharToGlyph(0xFC);
  ASSERT_GE(index, 0);
  Ref<TImageGlyph> u = font->LoadGlyph(index);
  ASSERT_TRUE(u && u->Pixels());
  int x = 0, y = 0, w = 0, h = 0;
  u->GetRect(x, y, w, h);
  EXPECT_EQ((std::vector<int>{u->Pixels()->width, u->Pixels()->height}), (std::vector<int>{w, h}));
  EXPECT_EQ(u->Pixels()->flags, 6);
  EXPECT_EQ(u->Pixels()->pixmaps[0]->format, FormatAlpha8);
  EXPECT_FALSE(font->LoadGlyph(font->CharToGlyph(' '))->Pixels());
}

// ---- Draw

struct Expected {
  float tx, ty;
  int w, h;
};

void ExpectDraws(const std::vector<test::FrameDraw>& draws, const std::vector<Expected>& expected) {
  ASSERT_EQ(draws.size(), expected.size());
  for (size_t i = 0; i < draws.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "draw " << i);
    const test::FrameDraw& d = draws[i];
    float w = static_cast<float>(expected[i].w), h = static_cast<float>(expected[i].h);
    EXPECT_EQ((std::vector<float>{d.x0, d.y0, d.x1, d.y1}), (std::vector<float>{0, 0, w, h}));
    EXPECT_EQ((std::vector<float>{d.sx, d.sy, d.sw, d.sh}), (std::vector<float>{0, 0, w, h}));
    EXPECT_FLOAT_EQ(d.tx, expected[i].tx);
    EXPECT_FLOAT_EQ(d.ty, expected[i].ty);
    EXPECT_EQ((std::vector<int>{d.pixmap->width, d.pixmap->height}), (std::vector<int>{expected[i].w, expected[i].h}));
  }
}

TEST_F(ImageFont, BuiltInDrawWalksThePenAlongTheTransform) {
  // "A", "B", a space (a blank image, drawn like any other), "C", then a control code and "ü", which
  // have no glyph and neither draw nor move the pen, and "D".
  const struct {
    const char* what;
    float ix, iy, jx, jy;
    std::vector<Expected> draws;
  } cases[] = {
      {"identity", 1, 0, 0, 1, {{10, 20, 8, 16}, {18, 20, 8, 16}, {26, 20, 8, 16}, {34, 20, 8, 16}, {42, 20, 8, 16}}},
      {"scaled and sheared",
       2,
       0.5f,
       0.25f,
       3,
       {{10, 20, 8, 16}, {26, 22, 8, 16}, {42, 24, 8, 16}, {58, 26, 8, 16}, {74, 28, 8, 16}}},
      {"rotated a quarter",
       0,
       -1,
       1,
       0,
       {{10, 20, 8, 16}, {10, 28, 8, 16}, {10, 36, 8, 16}, {10, 44, 8, 16}, {10, 52, 8, 16}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::CurrentRecordingDriver current;
    Ref<TImageFont> font = TImageFont::CreateDefault();
    EXPECT_EQ(font->Draw(Text(u"AB C\x01\u00fcD"), 10, 20, c.ix, c.iy, c.jx, c.jy), 0);
    ExpectDraws(current.driver->draws, c.draws);
    const TPixmap* a = font->LoadGlyph(33)->Pixels()->pixmaps[0].Get();
    ASSERT_FALSE(current.driver->draws.empty());
    EXPECT_EQ(current.driver->draws[0].pixmap, a);
  }
}

TEST_F(ImageFont, DrawPlacesEachPictureAtItsOffsetFromThePen) {
  // Bitmap font: "A" is 6 x 3 at offset (1, 9), the space a 1 x 1 blank at (0, 11); both advance 8.
  // "B" and "é" have no glyph.
  Text bdf = test::RegisterFontBytes("bdf", test::SmallBdf());
  const struct {
    const char* what;
    float ix, iy, jx, jy;
    std::vector<Expected> draws;
  } cases[] = {
      {"identity", 1, 0, 0, 1, {{11, 29, 6, 3}, {18, 31, 1, 1}, {27, 29, 6, 3}}},
      {"scaled and sheared",
       2,
       0.5f,
       0.25f,
       3,
       {{10 + 2 + 4.5f, 20 + 0.25f + 27, 6, 3}, {26 + 5.5f, 22 + 33, 1, 1}, {42 + 2 + 4.5f, 24 + 0.25f + 27, 6, 3}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::CurrentRecordingDriver current;
    Ref<TImageFont> font = TImageFont::Load(bdf, 16, 0);
    ASSERT_TRUE(font);
    font->Draw(Text(u"AB\u00e9 A"), 10, 20, c.ix, c.iy, c.jx, c.jy);
    ExpectDraws(current.driver->draws, c.draws);
  }
}

TEST_F(ImageFont, EmptyGlyphAndUnknownIndexDoNotMoveThePen) {
  AddFake("fake-font-draw");
  Ref<TImageFont> font = TImageFont::Load("fake-font-draw", 12, 0);
  ASSERT_TRUE(font);
  test::CurrentRecordingDriver current;
  // "a" is drawn at (-1, 7) from the pen and advances 4.5, " " advances 5 without a picture, "z" is
  // an empty glyph (advance 0) and "!" an index past the glyph table.
  font->Draw("a za!a", 0, 0, 1, 0, 0, 1);
  ExpectDraws(current.driver->draws, {{-1, 7, 3, 2}, {8.5f, 7, 3, 2}, {13, 7, 3, 2}});
}

TEST_F(ImageFont, RefusedFrameStillAdvancesThePen) {
  Text bdf = test::RegisterFontBytes("bdf", test::SmallBdf());
  test::CurrentRecordingDriver current;
  current.driver->refuseWidth = 1;
  current.driver->refuseHeight = 1;
  Ref<TImageFont> font = TImageFont::Load(bdf, 16, 0);
  ASSERT_TRUE(font);
  font->Draw("  A", 100, 50, 1, 0, 0, 1);
  ExpectDraws(current.driver->draws, {{100 + 16 + 1, 50 + 9, 6, 3}});
}

}  // namespace
}  // namespace kiln
