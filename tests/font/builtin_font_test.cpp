// The built-in 8 x 16 font: its resource, its metrics and glyph table, and its glyph images.
#include <gtest/gtest.h>

#include <climits>

#include "tests/font/font_fixtures.h"

namespace kiln {
namespace {

class BuiltInFont : public ::testing::Test {
 protected:
  void SetUp() override { InitImageFontModule(); }

  static int Bit(int glyph, int row, int column) {
    return EmbeddedResourcePointer("kilnfont.bin")[row * 96 + glyph] >> column & 1;
  }
};

TEST_F(BuiltInFont, ResourceIsTheCommittedFileAndHoldsTheF) {
  ASSERT_EQ(EmbeddedResourceSize("kilnfont.bin"), 1536);
  std::string committed = test::ReadFileBytes(std::string(KILN_TEST_DATA_DIR) + "/../../runtime/font/kilnfont.bin");
  ASSERT_EQ(committed.size(), 1536u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(EmbeddedResourcePointer("kilnfont.bin")), 1536), committed);

  const unsigned char expectedF[16] = {0, 0, 0xFE, 0x06, 0x06, 0x06, 0x3E, 0x06, 0x06, 0x06, 0x06, 0, 0, 0, 0, 0};
  for (int y = 0; y < 16; ++y) {
    EXPECT_EQ(EmbeddedResourcePointer("kilnfont.bin")[y * 96 + ('F' - 32)], expectedF[y]) << "row " << y;
  }
}

TEST_F(BuiltInFont, MetricsAndGlyphTable) {
  Ref<TImageFont> font = TImageFont::CreateDefault();
  EXPECT_EQ(font->Style(), 0);
  EXPECT_EQ(font->Height(), 16);
  EXPECT_EQ(font->CountGlyphs(), 96);
  const struct {
    int c;
    int glyph;
  } cases[] = {{' ', 0}, {'!', 1}, {'A', 33}, {'F', 38}, {'~', 94}, {127, 95}, {31, -1}, {0, -1},
               {128, -1}, {0xFC, -1}, {0xFFFF, -1}, {-1, -1}, {INT_MIN, -1}, {INT_MAX, -1}};
  for (const auto& c : cases) EXPECT_EQ(font->CharToGlyph(c.c), c.glyph) << "char " << c.c;
}

TEST_F(BuiltInFont, EveryGlyphIsAnEightBySixteenImageOfItsBits) {
  Ref<TImageFont> font = TImageFont::CreateDefault();
  for (int i = 0; i < 96; ++i) {
    SCOPED_TRACE(testing::Message() << "glyph " << i);
    Ref<TImageGlyph> glyph = font->LoadGlyph(i);
    ASSERT_TRUE(glyph);
    int x = -1, y = -1, w = -1, h = -1;
    glyph->GetRect(x, y, w, h);
    EXPECT_EQ(glyph->Advance(), 8.0f);
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{0, 0, 8, 16}));
    Ref<TImage> image = glyph->Pixels();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 8);
    EXPECT_EQ(image->height, 16);
    EXPECT_EQ(image->flags, 0);
    Ref<TPixmap> pixels = image->pixmaps[0];
    ASSERT_TRUE(pixels);
    int ink = 0;
    for (int row = 0; row < 16; ++row) {
      for (int column = 0; column < 8; ++column) {
        int expected = Bit(i, row, column) ? static_cast<int>(0xFFFFFFFFu) : 0;
        ASSERT_EQ(pixels->ReadPixel(column, row), expected) << "row " << row << " column " << column;
        ink += Bit(i, row, column);
      }
    }
    // Only the space is blank; every other glyph, the DEL box included, has pixels.
    EXPECT_EQ(ink == 0, i == 0);
  }
}

TEST_F(BuiltInFont, RenderedFIsTheDrawnShape) {
  Ref<TImageFont> font = TImageFont::CreateDefault();
  Ref<TPixmap> f = font->LoadGlyph(font->CharToGlyph('F'))->Pixels()->pixmaps[0];
  const char* rows[16] = {"........", "........", ".#######", ".##.....", ".##.....", ".##.....",
                          ".#####..", ".##.....", ".##.....", ".##.....", ".##.....", "........",
                          "........", "........", "........", "........"};
  for (int y = 0; y < 16; ++y) {
    std::string drawn;
    for (int x = 0; x < 8; ++x) drawn += f->ReadPixel(x, y) == static_cast<int>(0xFFFFFFFFu) ? '#' : '.';
    EXPECT_EQ(drawn, rows[y]) << "row " << y;
  }
}

TEST_F(BuiltInFont, GlyphsAreKeptAndIndicesOutsideTheTableGiveNothing) {
  Ref<TImageFont> font = TImageFont::CreateDefault();
  EXPECT_TRUE(font->LoadGlyph(33) == font->LoadGlyph(33));
  for (int index : {-1, 96, INT_MAX, INT_MIN}) EXPECT_FALSE(font->LoadGlyph(index)) << index;
}

}  // namespace
}  // namespace kiln
