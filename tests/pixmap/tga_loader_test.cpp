// Decoding TGA pictures: raw and run-length rows in every depth, origins, and untrusted headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"

namespace kiln {
namespace {

struct Header {
  Header(int type_, int bits_, int width_, int height_, int descriptor_ = 0, int colourMapType_ = 0,
         std::string id_ = "")
      : type(type_), bits(bits_), width(width_), height(height_), descriptor(descriptor_),
        colourMapType(colourMapType_), id(std::move(id_)) {}
  int type;
  int bits;
  int width;
  int height;
  int descriptor;
  int colourMapType;
  std::string id;
};

std::string Tga(const Header& h, const std::string& data) {
  std::string b(18, '\0');
  b[0] = static_cast<char>(h.id.size());
  b[1] = static_cast<char>(h.colourMapType);
  b[2] = static_cast<char>(h.type);
  b[12] = static_cast<char>(h.width);
  b[13] = static_cast<char>(h.width >> 8);
  b[14] = static_cast<char>(h.height);
  b[15] = static_cast<char>(h.height >> 8);
  b[16] = static_cast<char>(h.bits);
  b[17] = static_cast<char>(h.descriptor);
  return b + h.id + data;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// The registry tries TGA first, so PixmapFromUrl reaches this loader before any other.
Ref<TPixmap> Load(const std::string& bytes) {
  InitPixmapLoaders();
  return PixmapFromUrl(TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
}

// The TGA loader on its own: the head of the registry.
Ref<TPixmap> LoadWithTgaLoader(const std::string& bytes) {
  InitPixmapLoaders();
  return PixmapLoaderHead()->LoadPixmap(TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
}

std::vector<uint32_t> Pixels(const Ref<TPixmap>& p) {
  std::vector<uint32_t> v;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) v.push_back(static_cast<uint32_t>(p->ReadPixel(x, y)));
  return v;
}

struct Case {
  const char* name;
  Header header;
  std::string data;
  int format;
  std::vector<uint32_t> argb;  // top row first
};

TEST(TgaLoader, DecodesRawAndRunLengthRowsInEveryDepth) {
  const Case cases[] = {
      // Rows are stored bottom-up: the first file row is the pixmap's last.
      {"raw 24", {2, 24, 2, 2}, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), FormatRGB888,
       {0xFF090807, 0xFF0C0B0A, 0xFF030201, 0xFF060504}},
      {"raw 32", {2, 32, 2, 1}, Bytes({1, 2, 3, 4, 5, 6, 7, 8}), FormatRGBA8888, {0x04030201, 0x08070605}},
      {"raw 15", {2, 15, 1, 1}, Bytes({0xFF, 0x7F}), FormatRGB888, {0xFFF8F8F8}},
      {"raw 16", {2, 16, 3, 1}, Bytes({0xFF, 0x7F, 0xFF, 0xFF, 0x1F, 0x00}), FormatRGBA8888,
       {0xFFF8F8F8, 0x00F8F8F8, 0xFF0000F8}},
      {"rle run 24", {10, 24, 3, 1}, Bytes({0x82, 1, 2, 3}), FormatRGB888, {0xFF030201, 0xFF030201, 0xFF030201}},
      {"rle raw 24", {10, 24, 2, 1}, Bytes({0x01, 1, 2, 3, 4, 5, 6}), FormatRGB888, {0xFF030201, 0xFF060504}},
      {"rle mixed 32", {10, 32, 3, 1}, Bytes({0x00, 1, 2, 3, 4, 0x81, 5, 6, 7, 8}), FormatRGBA8888,
       {0x04030201, 0x08070605, 0x08070605}},
      {"rle 16", {10, 16, 3, 1}, Bytes({0x81, 0xFF, 0xFF, 0x00, 0x1F, 0x00}), FormatRGBA8888,
       {0x00F8F8F8, 0x00F8F8F8, 0xFF0000F8}},
      {"rle 15", {10, 15, 2, 1}, Bytes({0x81, 0xE0, 0x03}), FormatRGB888, {0xFF00F800, 0xFF00F800}},
      // One packet may run on into the next row.
      {"rle across rows", {10, 24, 2, 2}, Bytes({0x83, 1, 2, 3}), FormatRGB888,
       {0xFF030201, 0xFF030201, 0xFF030201, 0xFF030201}},
      {"rle raw across rows", {10, 24, 1, 2}, Bytes({0x01, 1, 2, 3, 4, 5, 6}), FormatRGB888, {0xFF060504, 0xFF030201}},
      // Origin bits: top-down rows, right-to-left pixels.
      {"top down", {2, 24, 1, 2, 0x20}, Bytes({1, 2, 3, 4, 5, 6}), FormatRGB888, {0xFF030201, 0xFF060504}},
      {"right to left", {2, 24, 2, 1, 0x10}, Bytes({1, 2, 3, 4, 5, 6}), FormatRGB888, {0xFF060504, 0xFF030201}},
      // The image ID field is skipped.
      {"id field", {2, 24, 1, 1, 0, 0, "hello"}, Bytes({1, 2, 3}), FormatRGB888, {0xFF030201}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TPixmap> p = Load(Tga(c.header, c.data));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->format, c.format);
    EXPECT_EQ(p->width, c.header.width);
    EXPECT_EQ(p->height, c.header.height);
    EXPECT_EQ(Pixels(p), c.argb);
  }
}

TEST(TgaLoader, PacketRunningPastThePictureIsCutThere) {
  // 128 repeats and 128 raw pixels for a picture of 2: the rest of each packet is ignored.
  Ref<TPixmap> run = Load(Tga({10, 24, 2, 1}, Bytes({0xFF, 1, 2, 3})));
  ASSERT_TRUE(run);
  EXPECT_EQ(Pixels(run), (std::vector<uint32_t>{0xFF030201, 0xFF030201}));
  Ref<TPixmap> raw = Load(Tga({10, 24, 2, 1}, Bytes({0x7F, 1, 2, 3, 4, 5, 6})));
  ASSERT_TRUE(raw);
  EXPECT_EQ(Pixels(raw), (std::vector<uint32_t>{0xFF030201, 0xFF060504}));
}

TEST(TgaLoader, HeadersOutsideTheAcceptedSetsGiveNull) {
  const Header refused[] = {
      {2, 24, 4097, 1},  {2, 24, 1, 4097}, {2, 24, 0, 1},  {2, 24, 1, 0},    {2, 8, 1, 1},
      {2, 31, 1, 1},     {3, 24, 1, 1},    {9, 24, 1, 1},  {11, 24, 1, 1},
      {1, 24, 1, 1},                      // colour-mapped type without a colour map
      {2, 24, 1, 1, 0, 1},                // a colour map
  };
  for (const Header& h : refused) {
    EXPECT_FALSE(LoadWithTgaLoader(Tga(h, std::string(64, '\x01')))) << h.type << " " << h.bits << " " << h.width;
  }
  EXPECT_FALSE(LoadWithTgaLoader(std::string(7, '\0')));
  EXPECT_FALSE(LoadWithTgaLoader(""));
}

TEST(TgaLoader, LargestAcceptedSideDecodes) {
  std::string packets;
  for (int i = 0; i < 32; ++i) packets += Bytes({0xFF, 1, 2, 3, 4});
  Ref<TPixmap> p = Load(Tga({10, 32, 4096, 1}, packets));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 4096);
  EXPECT_EQ(p->pitch, 4096 * 4);
}

TEST(TgaLoader, DataTooShortForTheHeaderIsRefused) {
  // Raw data shorter than width x height x bytes: refused before the pixels are allocated.
  EXPECT_FALSE(LoadWithTgaLoader(Tga({2, 32, 4096, 4096}, std::string(100, '\x01'))));
  EXPECT_FALSE(Load(Tga({2, 24, 2, 2}, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}))));
  // Run-length data that ends early: the stream read exception, which the registry takes as a refusal.
  std::string cut = Tga({10, 24, 300, 300}, std::string(3000, '\x00'));
  EXPECT_THROW(LoadWithTgaLoader(cut), TStreamReadException);
  EXPECT_FALSE(Load(cut));
}

TEST(TgaLoader, EveryTruncationOfAValidFileIsRefusedCleanly) {
  std::string full = Tga({10, 16, 5, 3}, Bytes({0x84, 1, 2, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x84, 0, 0x80}));
  ASSERT_TRUE(Load(full));
  for (size_t n = 0; n < full.size(); ++n) EXPECT_FALSE(Load(full.substr(0, n))) << n;
}

}  // namespace
}  // namespace kiln
