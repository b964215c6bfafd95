// Windows bitmap (BMP) loader: uncompressed 1, 4, 8, 24 and 32 bits per pixel, bottom-up or top-down.
//
// Only layouts that are decoded exactly are accepted. Run-length, JPEG/PNG-in-BMP and 16-bit files,
// bit fields other than the plain 8-bit BGR(A) layout, palettes longer than the bit count allows and
// headers shorter than 40 bytes are declined. Larger information headers are skipped, and a data
// offset past the palette is honoured. Declared sizes are checked against the stream's length before
// anything is allocated.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/pixmap/internal/loader_support.h"
#include "runtime/pixmap/pixmap_loaders.h"

namespace kiln {

namespace {

constexpr int kMaxSide = 32768;
constexpr int kMaxHeaderSize = 1024;
// Largest pixmap made from a stream that cannot tell its length.
constexpr int64_t kUnsizedPixmapLimit = int64_t{1} << 28;

constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
int32_t S32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }
int U16(const uint8_t* p) { return p[0] | p[1] << 8; }

class TPixmapLoaderBMP : public TPixmapLoader {
 public:
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override;
};

Ref<TPixmap> TPixmapLoaderBMP::LoadPixmap(const Ref<TStream>& stream) {
  TStream& s = *stream;
  uint8_t sig[2];
  s.ReadBytes(sig, 2);
  if (sig[0] != 'B' || sig[1] != 'M') return nullptr;

  // File header after the signature (12 bytes), then the 40-byte information header.
  uint8_t h[52];
  s.ReadBytes(h, sizeof h);
  int64_t consumed = 2 + sizeof h;
  uint32_t dataOffset = U32(h + 8);
  uint32_t headerSize = U32(h + 12);
  int32_t width = S32(h + 16);
  int32_t rawHeight = S32(h + 20);
  int bits = U16(h + 26);
  uint32_t compression = U32(h + 28);
  uint32_t coloursUsed = U32(h + 44);

  if (headerSize < 40 || headerSize > kMaxHeaderSize) return nullptr;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return nullptr;
  if (width <= 0 || width > kMaxSide || rawHeight == 0 || rawHeight < -kMaxSide || rawHeight > kMaxSide) return nullptr;
  bool topDown = rawHeight < 0;
  int height = topDown ? -rawHeight : rawHeight;

  std::vector<uint8_t> extra(headerSize - 40);
  if (!extra.empty()) s.ReadBytes(extra.data(), static_cast<int>(extra.size()));
  consumed += static_cast<int64_t>(extra.size());

  bool forceOpaque = false;
  if (compression == kCompressionBitFields) {
    if (bits != 32) return nullptr;
    uint8_t masks[16] = {};
    if (extra.size() >= 12) {
      std::memcpy(masks, extra.data(), extra.size() >= 16 ? 16 : 12);
    } else {
      // A plain 40-byte header is followed by the three colour masks.
      s.ReadBytes(masks, 12);
      consumed += 12;
    }
    if (U32(masks) != 0x00FF0000u || U32(masks + 4) != 0x0000FF00u || U32(masks + 8) != 0x000000FFu) return nullptr;
    uint32_t alphaMask = U32(masks + 12);
    if (alphaMask != 0 && alphaMask != 0xFF000000u) return nullptr;
    forceOpaque = alphaMask == 0;
  } else if (compression != kCompressionNone) {
    return nullptr;
  }

  // Palette entries are blue, green, red, reserved; indices past the palette read as black.
  std::vector<uint8_t> palette;
  if (bits <= 8) {
    uint32_t maxColours = 1u << bits;
    // Two-colour files always carry both entries, whatever their colours-used count says.
    uint32_t colours = coloursUsed == 0 || bits == 1 ? maxColours : coloursUsed;
    if (coloursUsed > maxColours) return nullptr;
    palette.assign(maxColours * 4, 0);
    s.ReadBytes(palette.data(), static_cast<int>(colours * 4));
    consumed += colours * 4;
  }

  int64_t rowBytes;
  switch (bits) {
    case 1: rowBytes = (width + 7) / 8; break;
    case 4: rowBytes = (width + 1) / 2; break;
    case 8: rowBytes = width; break;
    case 24: rowBytes = static_cast<int64_t>(width) * 3; break;
    default: rowBytes = static_cast<int64_t>(width) * 4; break;
  }
  rowBytes = (rowBytes + 3) / 4 * 4;
  int64_t gap = dataOffset > consumed ? dataOffset - consumed : 0;
  int64_t needed = gap + rowBytes * height;

  int format = bits == 32 ? FormatBGRA8888 : FormatBGR888;
  int64_t pixmapBytes = (static_cast<int64_t>(width) * BytesPerPixel(format) + 3) / 4 * 4 * height;
  int64_t size = s.Size();
  int64_t pos = s.Pos();
  if (size > 0 && pos >= 0) {
    if (needed > size - pos) return nullptr;
  } else if (pixmapBytes > kUnsizedPixmapLimit) {
    return nullptr;
  }
  if (pixmapBytes > INT32_MAX) return nullptr;

  // The gap can exceed what one int skip covers when the stream cannot tell its length.
  for (int64_t left = gap; left > 0;) {
    int n = static_cast<int>(std::min<int64_t>(left, int64_t{1} << 30));
    s.SkipBytes(n);
    left -= n;
  }
  Ref<TPixmap> pixmap = AllocatePixmap(width, height, format, 4);
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * 4);
  for (int i = 0; i < height; ++i) {
    int y = topDown ? i : height - 1 - i;
    uint8_t* out = pixmap->PixelPtr(0, y);
    s.ReadBytes(row.data(), static_cast<int>(rowBytes));
    switch (bits) {
      case 1:
        for (int x = 0; x < width; ++x) {
          int index = (row[x / 8] & (0x80 >> (x % 8))) != 0 ? 1 : 0;
          std::memcpy(out + x * 3, &palette[index * 4], 3);
        }
        break;
      case 4:
      case 8:
        for (int x = 0; x < width; ++x) {
          int index = bits == 8 ? row[x] : (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F);
          std::memcpy(&bgra[x * 4], &palette[index * 4], 4);
        }
        ConvertPixelRun(bgra.data(), FormatBGRA8888, out, format, width);
        break;
      case 24: CopyPixelRun(row.data(), out, FormatBGR888, width); break;
      default:
        CopyPixelRun(row.data(), out, FormatBGRA8888, width);
        if (forceOpaque)
          for (int x = 0; x < width; ++x) out[x * 4 + 3] = 255;
        break;
    }
  }
  return pixmap;
}

}  // namespace

void InitBmpLoader() { RegisterLoaderOnce<TPixmapLoaderBMP>(); }

}  // namespace kiln
