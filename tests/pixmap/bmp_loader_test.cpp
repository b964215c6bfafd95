// The BMP loader, through the registry, on files written by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

void Put16(std::string& s, int v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Colour of image pixel (x, y) (y = 0 is the top row) as 0xAARRGGBB, and the palette index used for
// paletted depths.
uint32_t ColourAt(int x, int y) { return 0x80000000u | (x * 37 & 0xFF) << 16 | (y * 53 & 0xFF) << 8 | ((x + y) * 11 & 0xFF); }
int IndexAt(int x, int y, int colours) { return (x * 3 + y * 5) % colours; }
uint32_t PaletteColour(int i) { return 0xFF000000u | (i * 7 & 0xFF) << 16 | (255 - i) << 8 | (i * 13 & 0xFF); }

struct BmpLayout {
  int width = 5;
  int height = 3;  // negative: top-down
  int bits = 24;
  uint32_t compression = 0;
  uint32_t coloursUsed = 0;  // 0: the full palette for the depth
  int paletteEntries = -1;   // entries written; -1: as coloursUsed says
  uint32_t headerSize = 40;
  int gap = 0;                       // bytes between palette and pixel data, named by the data offset
  std::vector<uint32_t> masks;       // written after a 40-byte header
  int dropTail = 0;                  // bytes cut off the end
};

std::string MakeBmp(const BmpLayout& b) {
  int rows = b.height < 0 ? -b.height : b.height;
  int paletteColours = b.bits <= 8 ? (b.coloursUsed ? b.coloursUsed : 1 << b.bits) : 0;
  int entries = b.paletteEntries >= 0 ? b.paletteEntries : paletteColours;
  int width = b.width < 0 ? 0 : b.width;
  int rowBytes = ((width * b.bits + 7) / 8 + 3) / 4 * 4;
  uint32_t offset = 14 + b.headerSize + static_cast<uint32_t>(b.masks.size() * 4 + entries * 4 + b.gap);
  std::string s = "BM";
  Put32(s, offset + rowBytes * rows);
  Put32(s, 0);
  Put32(s, offset);
  Put32(s, b.headerSize);
  Put32(s, static_cast<uint32_t>(b.width));
  Put32(s, static_cast<uint32_t>(b.height));
  Put16(s, 1);
  Put16(s, b.bits);
  Put32(s, b.compression);
  Put32(s, rowBytes * rows);
  Put32(s, 2835);
  Put32(s, 2835);
  Put32(s, b.coloursUsed);
  Put32(s, 0);
  if (b.headerSize > 40) s.append(b.headerSize - 40, '\0');
  for (uint32_t m : b.masks) Put32(s, m);
  for (int i = 0; i < entries; ++i) Put32(s, PaletteColour(i) & 0x00FFFFFF);
  s.append(static_cast<size_t>(b.gap), '\x5A');
  for (int r = 0; r < rows; ++r) {
    int y = b.height < 0 ? r : rows - 1 - r;
    std::string row(static_cast<size_t>(rowBytes), '\0');
    for (int x = 0; x < width; ++x) {
      uint32_t c = ColourAt(x, y);
      switch (b.bits) {
        case 1:
          if (IndexAt(x, y, 2)) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
          break;
        case 4: row[x / 2] = static_cast<char>(row[x / 2] | IndexAt(x, y, paletteColours) << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = static_cast<char>(IndexAt(x, y, paletteColours)); break;
        case 24:
        case 32:
          for (int k = 0; k < b.bits / 8; ++k) row[x * (b.bits / 8) + k] = static_cast<char>(c >> (8 * k));
          break;
        default: break;
      }
    }
    // Padding bytes that a loader must not take for pixels.
    for (int i = (width * b.bits + 7) / 8; i < rowBytes; ++i) row[i] = '\x77';
    s += row;
  }
  s.resize(s.size() - static_cast<size_t>(b.dropTail));
  return s;
}

BmpLayout With(const std::function<void(BmpLayout&)>& change) {
  BmpLayout b;
  change(b);
  return b;
}

Ref<TPixmap> Load(const std::string& bytes) {
  InitBmpLoader();
  return PixmapFromUrl(TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
}

uint32_t Expected(const BmpLayout& b, int x, int y) {
  int colours = b.coloursUsed ? b.coloursUsed : (b.bits <= 8 ? 1 << b.bits : 0);
  switch (b.bits) {
    case 1:
    case 4:
    case 8: return PaletteColour(IndexAt(x, y, b.bits == 1 ? 2 : colours));
    case 24: return 0xFF000000u | ColourAt(x, y);
    default: return ColourAt(x, y);
  }
}

void ExpectDecoded(const BmpLayout& b, const Ref<TPixmap>& p) {
  ASSERT_TRUE(p) << b.bits << " bits, " << b.width << "x" << b.height;
  int rows = b.height < 0 ? -b.height : b.height;
  EXPECT_EQ(p->width, b.width);
  EXPECT_EQ(p->height, rows);
  EXPECT_EQ(p->format, b.bits == 32 ? FormatBGRA8888 : FormatBGR888);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < b.width; ++x)
      ASSERT_EQ(static_cast<uint32_t>(p->ReadPixel(x, y)), Expected(b, x, y))
          << b.bits << " bits, " << b.width << "x" << b.height << " at " << x << "," << y;
}

TEST(BmpLoader, EveryDepthAndWidthWithRowPadding) {
  for (int bits : {1, 4, 8, 24, 32})
    for (int width : {1, 2, 3, 5, 7, 8, 9, 17, 33}) {
      BmpLayout b;
      b.bits = bits;
      b.width = width;
      b.height = 3;
      ExpectDecoded(b, Load(MakeBmp(b)));
    }
}

TEST(BmpLoader, TopDownRows) {
  for (int bits : {1, 8, 24, 32}) {
    BmpLayout b;
    b.bits = bits;
    b.height = -4;
    ExpectDecoded(b, Load(MakeBmp(b)));
  }
}

TEST(BmpLoader, ShortPalettesAndColoursUsed) {
  BmpLayout b;
  b.bits = 8;
  b.coloursUsed = 20;
  ExpectDecoded(b, Load(MakeBmp(b)));
  b.bits = 4;
  b.coloursUsed = 3;
  ExpectDecoded(b, Load(MakeBmp(b)));
  b.bits = 1;
  b.coloursUsed = 2;
  ExpectDecoded(b, Load(MakeBmp(b)));
  // Two-colour files hold both entries whatever colours-used says.
  b.coloursUsed = 1;
  b.paletteEntries = 2;
  ExpectDecoded(b, Load(MakeBmp(b)));
}

TEST(BmpLoader, IndexPastAShortPaletteIsBlack) {
  BmpLayout b;
  b.bits = 8;
  b.width = 4;
  b.height = 1;
  b.coloursUsed = 1;
  std::string bytes = MakeBmp(b);
  bytes[bytes.size() - 4 + 2] = 9;  // pixel 2 names entry 9 of a one-entry palette
  Ref<TPixmap> p = Load(bytes);
  ASSERT_TRUE(p);
  EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(2, 0)), 0xFF000000u);
  EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(0, 0)), PaletteColour(0));
}

TEST(BmpLoader, DataOffsetAndLargerHeadersAreHonoured) {
  for (uint32_t headerSize : {40u, 108u, 124u})
    for (int gap : {0, 6}) {
      BmpLayout b;
      b.bits = 8;
      b.headerSize = headerSize;
      b.gap = gap;
      ExpectDecoded(b, Load(MakeBmp(b)));
      b.bits = 24;
      ExpectDecoded(b, Load(MakeBmp(b)));
    }
}

TEST(BmpLoader, PlainBitFieldsAreDecoded) {
  BmpLayout b;
  b.bits = 32;
  b.compression = 3;
  b.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  Ref<TPixmap> p = Load(MakeBmp(b));
  ASSERT_TRUE(p);
  // No alpha mask: the fourth byte is not alpha, so the pixels are opaque.
  EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(2, 1)), 0xFF000000u | ColourAt(2, 1));

  // A version-4 header carries the masks itself, alpha included.
  BmpLayout v4;
  v4.bits = 32;
  v4.compression = 3;
  v4.headerSize = 108;
  std::string bytes = MakeBmp(v4);
  const uint32_t masks[] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) bytes[54 + i * 4 + k] = static_cast<char>(masks[i] >> (8 * k));
  ExpectDecoded(v4, Load(bytes));
}

TEST(BmpLoader, DeclinesWhatItCannotDecodeExactly) {
  struct Case {
    const char* what;
    BmpLayout layout;
  } cases[] = {
      {"16 bits", With([](BmpLayout& b) { b.bits = 16; })},
      {"2 bits", With([](BmpLayout& b) { b.bits = 2; })},
      {"run-length 8", With([](BmpLayout& b) { b.bits = 8; b.compression = 1; })},
      {"run-length 4", With([](BmpLayout& b) { b.bits = 4; b.compression = 2; })},
      {"embedded jpeg", With([](BmpLayout& b) { b.bits = 24; b.compression = 4; })},
      {"bit fields on 24 bits", With([](BmpLayout& b) { b.bits = 24; b.compression = 3; })},
      {"565 bit fields", With([](BmpLayout& b) { b.bits = 32; b.compression = 3; b.masks = std::vector<uint32_t>{0xF800, 0x07E0, 0x001F}; })},
      {"palette longer than 4 bits allow", With([](BmpLayout& b) { b.bits = 4; b.coloursUsed = 17; b.paletteEntries = 16; })},
      {"palette longer than 8 bits allow", With([](BmpLayout& b) { b.bits = 8; b.coloursUsed = 257; b.paletteEntries = 256; })},
      {"palette longer than 1 bit allows", With([](BmpLayout& b) { b.bits = 1; b.coloursUsed = 3; b.paletteEntries = 2; })},
      {"core header", With([](BmpLayout& b) { b.bits = 24; b.headerSize = 12; })},
      {"zero width", With([](BmpLayout& b) { b.width = 0; })},
      {"negative width", With([](BmpLayout& b) { b.width = -3; })},
      {"zero height", With([](BmpLayout& b) { b.height = 0; })},
      {"truncated pixel data", With([](BmpLayout& b) { b.bits = 24; b.dropTail = 1; })},
      {"truncated palette", With([](BmpLayout& b) { b.bits = 8; b.width = 1; b.height = 1; b.dropTail = 1000; })},
  };
  for (const Case& c : cases) EXPECT_FALSE(Load(MakeBmp(c.layout))) << c.what;
}

TEST(BmpLoader, HugeDeclaredSizesDoNotAllocate) {
  struct Case {
    int width, height, bits;
  } cases[] = {{30000, 30000, 24}, {32768, -32768, 32}, {1 << 30, 1, 1}, {1, 1 << 30, 8}, {20000, 20000, 1}};
  for (const Case& c : cases) {
    BmpLayout b;
    b.bits = c.bits;
    std::string bytes = MakeBmp(b);
    for (int k = 0; k < 4; ++k) {
      bytes[18 + k] = static_cast<char>(static_cast<uint32_t>(c.width) >> (8 * k));
      bytes[22 + k] = static_cast<char>(static_cast<uint32_t>(c.height) >> (8 * k));
    }
    EXPECT_FALSE(Load(bytes)) << c.width << "x" << c.height;
  }
}

TEST(BmpLoader, NotABitmap) {
  EXPECT_FALSE(Load("BX"));
  EXPECT_FALSE(Load("B"));
  EXPECT_FALSE(Load(""));
  EXPECT_FALSE(Load(std::string("BM") + std::string(10, '\0')));
  EXPECT_FALSE(Load(std::string(100, '\0')));
}

TEST(BmpLoader, LoadsFromAFileWithTheFilePath) {
  test::TempDir dir;
  BmpLayout b;
  b.bits = 24;
  b.width = 3;
  b.height = 2;
  test::WriteFileBytes(dir.Path() / "tiny.bmp", MakeBmp(b));
  InitBmpLoader();
  ExpectDecoded(b, PixmapFromUrl(Text((dir / "tiny.bmp").c_str())));
}

// A memory stream that cannot tell its length, so the loader cannot check declared sizes against it.
class UnsizedStream : public TStream {
 public:
  explicit UnsizedStream(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Pos() override { return pos_; }
  int64_t Seek(int64_t pos) override { return pos_ = std::clamp<int64_t>(pos, 0, Length()); }
  int Read(void* buf, int count) override {
    int n = static_cast<int>(std::min<int64_t>(count, Length() - pos_));
    std::memcpy(buf, bytes_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }

 private:
  int64_t Length() const { return static_cast<int64_t>(bytes_.size()); }
  std::string bytes_;
  int64_t pos_ = 0;
};

TEST(BmpLoader, DataOffsetBeyondTwoGigabytesIsNotIgnored) {
  InitBmpLoader();
  BmpLayout b;
  b.width = 1;
  b.height = 1;
  std::string bytes = MakeBmp(b);
  ExpectDecoded(b, PixmapFromUrl(MakeRef<UnsizedStream>(bytes)));
  // The pixel data is said to start 2 GiB in: there is none there, so nothing may be decoded.
  uint32_t offset = 0x80000000u + 54;
  for (int k = 0; k < 4; ++k) bytes[10 + k] = static_cast<char>(offset >> (8 * k));
  EXPECT_FALSE(PixmapFromUrl(MakeRef<UnsizedStream>(bytes)));
}

// Every prefix of a valid file is declined cleanly.
TEST(BmpLoader, EveryTruncationIsDeclined) {
  BmpLayout b;
  b.bits = 4;
  b.width = 3;
  b.height = 2;
  std::string bytes = MakeBmp(b);
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(Load(bytes.substr(0, n))) << n;
  EXPECT_TRUE(Load(bytes));
}

}  // namespace
}  // namespace kiln
