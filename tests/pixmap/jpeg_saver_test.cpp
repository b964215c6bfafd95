// Writing JPEG pictures: round trips from every byte order, and what a failed save reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

// A smooth picture (JPEG keeps those close): red rises to the right, green downwards, blue fixed.
Ref<TPixmap> Gradient(int width, int height, int format) {
  Ref<TPixmap> p = AllocatePixmap(width, height, format, 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p->WritePixel(x, y, static_cast<int>(0xFF000000u | (x * 255 / (width - 1)) << 16 |
                                           (y * 255 / (height - 1)) << 8 | 0x60));
  return p;
}

TEST(JpegSaver, RoundTripKeepsSizeAndColoursForEveryByteOrder) {
  InitPixmapLoaders();
  test::TempDir dir;
  for (int format : {FormatRGB888, FormatBGR888, FormatBGRA8888, FormatRGBA8888}) {
    SCOPED_TRACE(format);
    Ref<TPixmap> source = Gradient(41, 23, format);
    std::string path = dir / "round.jpg";
    ASSERT_EQ(SavePixmapAsJpeg(source, Text::FromLatin1(path), 95), 1);
    Ref<TPixmap> back = PixmapFromJpeg(Text::FromLatin1(path));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format, FormatRGB888);
    EXPECT_EQ(back->width, 41);
    EXPECT_EQ(back->height, 23);
    int worst = 0;
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 41; ++x) {
        uint32_t a = static_cast<uint32_t>(source->ReadPixel(x, y));
        uint32_t b = static_cast<uint32_t>(back->ReadPixel(x, y));
        for (int shift : {0, 8, 16})
          worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
      }
    EXPECT_LE(worst, 10);
  }
}

TEST(JpegSaver, GreyPixmapIsWrittenAsColourThatReadsBackGrey) {
  InitPixmapLoaders();
  std::vector<unsigned char> buffer(1 << 16);
  Ref<TPixmap> grey = AllocatePixmap(16, 16, FormatGrey8, 4);
  grey->ClearPixels(static_cast<int>(0xFF808080u));
  ASSERT_EQ(SavePixmapAsJpeg(grey, TRamStream::Create(buffer.data(), static_cast<int64_t>(buffer.size()), 0, 1), 90), 1);
  Ref<TPixmap> back = PixmapFromJpeg(TRamStream::Create(buffer.data(), static_cast<int64_t>(buffer.size())));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->format, FormatRGB888);
  uint32_t v = static_cast<uint32_t>(back->ReadPixel(7, 7));
  EXPECT_NEAR(static_cast<int>(v & 0xFF), 0x80, 3);
  EXPECT_NEAR(static_cast<int>((v >> 16) & 0xFF), 0x80, 3);
}

TEST(JpegSaver, HigherQualityGivesMoreBytes) {
  InitPixmapLoaders();
  Ref<TPixmap> p = Gradient(64, 64, FormatRGB888);
  std::vector<unsigned char> low(1 << 16), high(1 << 16);
  Ref<TRamStream> a = TRamStream::Create(low.data(), static_cast<int64_t>(low.size()), 0, 1);
  Ref<TRamStream> b = TRamStream::Create(high.data(), static_cast<int64_t>(high.size()), 0, 1);
  ASSERT_EQ(SavePixmapAsJpeg(p, a, 10), 1);
  ASSERT_EQ(SavePixmapAsJpeg(p, b, 100), 1);
  EXPECT_LT(a->Pos(), b->Pos());
}

TEST(JpegSaver, FailuresReportZero) {
  InitPixmapLoaders();
  Ref<TPixmap> p = Gradient(64, 64, FormatRGB888);
  // The URL cannot be opened for writing.
  EXPECT_EQ(SavePixmapAsJpeg(p, Text("/nonexistent/folder/out.jpg"), 80), 0);
  // The destination fills up: the encoder fails on the short write, and the save says so.
  std::vector<unsigned char> small(100);
  EXPECT_EQ(SavePixmapAsJpeg(p, TRamStream::Create(small.data(), 100, 0, 1), 80), 0);
  // libjpeg refuses an empty picture.
  EXPECT_EQ(SavePixmapAsJpeg(AllocatePixmap(0, 0, FormatRGB888, 4), TRamStream::Create(small.data(), 100, 0, 1), 80), 0);
}

}  // namespace
}  // namespace kiln
