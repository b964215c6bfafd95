// Decoding PNG pictures: every colour type after expansion, cut-off and corrupt files, size limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

std::string Fixture(const std::string& name) {
  return test::ReadFileBytes(std::string(KILN_TEST_DATA_DIR) + "/pixmap/png/" + name);
}

Ref<TRamStream> Over(const std::string& bytes) {
  return TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size()));
}

struct Expected {
  const char* file;
  int format;
  int width;
  int height;
  std::vector<uint32_t> argb;  // row by row
};

TEST(PngLoader, ColourTypesExpandToGreyRgbOrRgba) {
  InitPixmapLoaders();
  const Expected cases[] = {
      {"grey1.png", FormatGrey8, 10, 2,
       {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000,
        0xFFFFFFFF, 0xFF000000,  //
        0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000,
        0xFF000000, 0xFF000000}},
      {"grey_alpha.png", FormatRGBA8888, 3, 1, {0x32C8C8C8, 0xFF000000, 0x00FFFFFF}},
      {"palette_trns.png", FormatRGBA8888, 4, 1, {0x00FF0000, 0x8000FF00, 0xFF0000FF, 0xFF0A141E}},
      {"palette.png", FormatRGB888, 2, 1, {0xFF0A141E, 0xFFFF0000}},
      {"grey_trns.png", FormatRGBA8888, 3, 1, {0xFF0A0A0A, 0x00141414, 0xFF1E1E1E}},
      {"rgb_trns.png", FormatRGBA8888, 2, 1, {0xFF010203, 0x00040506}},
      {"rgb16.png", FormatRGB888, 2, 1, {0xFF12569A, 0xFFFF0080}},
      {"rgba.png", FormatRGBA8888, 3, 2,
       {0x03000102, 0x07040506, 0x0B08090A, 0x67646566, 0x6B68696A, 0x6F6C6D6E}},
      {"interlaced.png", FormatRGB888, 3, 1, {0xFF010203, 0xFF040506, 0xFF070809}},
  };
  for (const Expected& e : cases) {
    SCOPED_TRACE(e.file);
    Ref<TPixmap> p = PixmapFromPng(Over(Fixture(e.file)));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->format, e.format);
    ASSERT_EQ(p->width, e.width);
    ASSERT_EQ(p->height, e.height);
    for (int y = 0; y < e.height; ++y)
      for (int x = 0; x < e.width; ++x)
        EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(x, y)), e.argb[static_cast<size_t>(y * e.width + x)])
            << x << "," << y;
  }
}

TEST(PngLoader, NotAPngGivesNullAfterReadingOnlyTheSignature) {
  InitPixmapLoaders();
  std::string bytes = "GIF89a, certainly not a PNG";
  Ref<TRamStream> stream = Over(bytes);
  EXPECT_FALSE(PixmapFromPng(stream));
  EXPECT_EQ(stream->Pos(), 8);
  // Fewer bytes than a signature: Null, not an exception.
  EXPECT_FALSE(PixmapFromPng(Over(std::string("\x89PN", 4))));
  EXPECT_FALSE(PixmapFromPng(Over("")));
}

TEST(PngLoader, CorruptPicturesGiveNull) {
  InitPixmapLoaders();
  EXPECT_FALSE(PixmapFromPng(Over(Fixture("bad_crc.png"))));
  EXPECT_FALSE(PixmapFromPng(Over(Fixture("short_idat.png"))));
  std::string rgba = Fixture("rgba.png");
  // Every byte of the compressed data flipped in turn: never a crash, never an exception.
  size_t idat = rgba.find("IDAT") + 4;
  for (size_t i = idat; i < rgba.size() - 16; ++i) {
    std::string bad = rgba;
    bad[i] = static_cast<char>(bad[i] ^ 0x5A);
    EXPECT_NO_THROW(PixmapFromPng(Over(bad))) << i;
  }
}

TEST(PngLoader, CutInsideTheFirstChunkThrowsTheStreamReadException) {
  InitPixmapLoaders();
  EXPECT_THROW(PixmapFromPng(Over(Fixture("cut_in_first_chunk.png"))), TStreamReadException);
  // Cut anywhere later: either the read exception or Null, nothing else.
  std::string rgba = Fixture("rgba.png");
  for (size_t n = 9; n < rgba.size(); ++n) {
    try {
      EXPECT_FALSE(PixmapFromPng(Over(rgba.substr(0, n)))) << n;
    } catch (const TStreamReadException&) {
    }
  }
}

// A stand-alone header chunk claiming the given size, followed by a little image data.
std::string HeaderClaiming(uint32_t width, uint32_t height) {
  std::string png = Fixture("rgba.png");
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  // The header's checksum covers the size, so it must be recomputed: libpng would report it anyway,
  // but the point here is the size check, which comes after the checksum.
  uint32_t crc = 0xFFFFFFFFu;
  for (int i = 12; i < 12 + 4 + 13; ++i) {
    crc ^= static_cast<uint8_t>(png[static_cast<size_t>(i)]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

TEST(PngLoader, SizesTheDataCannotFillAreRefusedWithoutAllocating) {
  InitPixmapLoaders();
  // Over the pixel limit outright.
  EXPECT_FALSE(PixmapFromPng(Over(HeaderClaiming(100000, 100000))));
  // Within the limit, but a 90-byte file cannot inflate to 8000 x 8000 x 4 bytes.
  EXPECT_FALSE(PixmapFromPng(Over(HeaderClaiming(8000, 8000))));
  // A plausible size still decodes as far as libpng lets it: here it runs out of image data.
  EXPECT_FALSE(PixmapFromPng(Over(HeaderClaiming(3, 3))));
}

// The size cap counts the bytes of the pixmap that results: a grey picture four times the pixels
// of the largest RGBA one still loads.
TEST(PngLoader, SizeCapCountsTheBytesOfTheResultingFormat) {
  InitPixmapLoaders();
  constexpr int kSide = 8200;  // 67 million pixels: over the cap at 4 bytes, well under at 1
  Ref<TPixmap> grey = AllocatePixmap(kSide, kSide, FormatGrey8);
  std::memset(grey->pixels, 0, static_cast<size_t>(grey->pitch) * kSide);
  grey->WritePixel(kSide - 1, kSide - 1, static_cast<int>(0xFF808080u));
  test::TempDir dir;
  Text path = Text::FromUtf8((dir.Path() / "grey.png").string());
  ASSERT_EQ(SavePixmapAsPng(grey, path, 1), 1);
  grey = nullptr;
  Ref<TPixmap> p = PixmapFromPng(path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->format, FormatGrey8);
  EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(kSide - 1, kSide - 1)), 0xFF808080u);
}

TEST(PngLoader, OpensTextUrls) {
  InitPixmapLoaders();
  Ref<TPixmap> p = PixmapFromPng(Text::FromLatin1(std::string(KILN_TEST_DATA_DIR) + "/pixmap/png/rgba.png"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 3);
  EXPECT_FALSE(PixmapFromPng(Text("/nonexistent/folder/picture.png")));
}

}  // namespace
}  // namespace kiln
