// Writing PNG pictures: exact round trips for every format, the compression clamp, failed saves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

// Distinct bytes in every channel of every pixel, so that swapped channels or rows show.
Ref<TPixmap> Pattern(int width, int height, int format) {
  Ref<TPixmap> p = AllocatePixmap(width, height, format, 4);
  int bpp = BytesPerPixel(format);
  for (int y = 0; y < height; ++y)
    for (int i = 0; i < width * bpp; ++i) p->PixelPtr(0, y)[i] = static_cast<uint8_t>(y * 37 + i * 11 + 5);
  return p;
}

// Saves into a memory block and returns the bytes written.
std::string SaveToMemory(const Ref<TPixmap>& p, int compression) {
  std::vector<unsigned char> block(1 << 16);
  Ref<TRamStream> stream = TRamStream::Create(block.data(), static_cast<int64_t>(block.size()), 0, 1);
  EXPECT_EQ(SavePixmapAsPng(p, stream, compression), 1);
  return std::string(reinterpret_cast<const char*>(block.data()), static_cast<size_t>(stream->Pos()));
}

TEST(PngSaver, RoundTripIsExactForEveryFormat) {
  InitPixmapLoaders();
  struct Case {
    int format;
    int loadedAs;
  };
  const Case cases[] = {
      {FormatGrey8, FormatGrey8},         {FormatBGR888, FormatRGB888},       {FormatRGB888, FormatRGB888},
      {FormatBGRA8888, FormatRGBA8888},   {FormatRGBA8888, FormatRGBA8888},   {FormatAlpha8, FormatRGBA8888},
      {FormatLuminance8, FormatRGBA8888}, {FormatIntensity8, FormatRGBA8888},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Ref<TPixmap> source = Pattern(7, 5, c.format);
    std::string bytes = SaveToMemory(source, 6);
    Ref<TPixmap> back = PixmapFromPng(TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->format, c.loadedAs);
    ASSERT_EQ(back->width, 7);
    ASSERT_EQ(back->height, 5);
    // Compare through RGBA so that every format is checked the same way.
    Ref<TPixmap> want = source->Convert(FormatRGBA8888);
    Ref<TPixmap> got = back->Convert(FormatRGBA8888);
    for (int y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(want->PixelPtr(0, y), got->PixelPtr(0, y), 7 * 4), 0) << y;
  }
}

TEST(PngSaver, RoundTripThroughAFile) {
  InitPixmapLoaders();
  test::TempDir dir;
  Ref<TPixmap> source = Pattern(33, 17, FormatRGB888);
  Text path = Text::FromLatin1(dir / "out.png");
  ASSERT_EQ(SavePixmapAsPng(source, path, 9), 1);
  Ref<TPixmap> back = PixmapFromPng(path);
  ASSERT_TRUE(back);
  for (int y = 0; y < 17; ++y) EXPECT_EQ(std::memcmp(source->PixelPtr(0, y), back->PixelPtr(0, y), 33 * 3), 0);
}

TEST(PngSaver, CompressionIsClampedToZeroThroughNine) {
  InitPixmapLoaders();
  Ref<TPixmap> p = Pattern(64, 64, FormatRGBA8888);
  EXPECT_EQ(SaveToMemory(p, 12), SaveToMemory(p, 9));
  EXPECT_EQ(SaveToMemory(p, -3), SaveToMemory(p, 0));
  EXPECT_NE(SaveToMemory(p, 0), SaveToMemory(p, 9));
}

TEST(PngSaver, FailuresReportZero) {
  InitPixmapLoaders();
  Ref<TPixmap> p = Pattern(64, 64, FormatRGBA8888);
  EXPECT_EQ(SavePixmapAsPng(p, Text("/nonexistent/folder/out.png"), 6), 0);
  // The destination fills up part way.
  std::vector<unsigned char> small(200);
  EXPECT_EQ(SavePixmapAsPng(p, TRamStream::Create(small.data(), 200, 0, 1), 6), 0);
  // libpng refuses a picture without pixels.
  EXPECT_EQ(SavePixmapAsPng(AllocatePixmap(0, 3, FormatRGB888, 4), TRamStream::Create(small.data(), 200, 0, 1), 6), 0);
}

}  // namespace
}  // namespace kiln
