// The TGA picture loader: uncompressed (type 2) and run-length (type 10) true-colour pictures of
// 15, 16, 24 or 32 bits, decoded here directly.
//
// Run-length packets may run on from one row into the next, as older writers produce them; a packet
// that runs past the last pixel of the picture is cut there. The image descriptor's origin bits are
// honoured: rows are stored bottom-up unless bit 5 is set, left to right unless bit 4 is set.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/pixmap/internal/loader_support.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/stream.h"

namespace kiln {

namespace {

constexpr int kHeaderSize = 18;
constexpr int kMaxSide = 4096;
constexpr int kTypeTrueColour = 2;
constexpr int kTypeTrueColourRle = 10;
constexpr int kDescriptorRightToLeft = 0x10;
constexpr int kDescriptorTopDown = 0x20;

// The 18-byte file header, fields in file order.
struct tgahdr {
  int idlen;
  int colourmaptype;
  int imgtype;
  int indexlo, indexhi;
  int lenlo, lenhi;
  int cosize;
  int x0, y0;
  int width, height;
  int psize;
  int attbits;
};

tgahdr ParseHeader(const uint8_t* b) {
  auto le16 = [b](int at) { return b[at] | (b[at + 1] << 8); };
  return tgahdr{b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], le16(8), le16(10), le16(12), le16(14),
                b[16], b[17]};
}

// Buffered input for the pixel data; the end of the stream is the stream read exception.
class ByteSource {
 public:
  explicit ByteSource(TStream& stream) : stream_(stream) {}

  uint8_t Byte() {
    if (pos_ == end_) Refill();
    return buffer_[pos_++];
  }

  void Bytes(uint8_t* out, int count) {
    while (count > 0) {
      if (pos_ == end_) Refill();
      int n = std::min(count, end_ - pos_);
      std::memcpy(out, buffer_ + pos_, static_cast<size_t>(n));
      pos_ += n;
      out += n;
      count -= n;
    }
  }

 private:
  void Refill() {
    int n = stream_.Read(buffer_, sizeof buffer_);
    if (n <= 0) RaiseStreamRead();
    pos_ = 0;
    end_ = n;
  }

  TStream& stream_;
  uint8_t buffer_[4096];
  int pos_ = 0;
  int end_ = 0;
};

// Run-length packets, carried over from one row to the next.
class RlePixels {
 public:
  RlePixels(ByteSource& source, int bytesPerPixel) : source_(source), bpp_(bytesPerPixel) {}

  void Row(uint8_t* out, int width) {
    int x = 0;
    while (x < width) {
      if (left_ == 0) {
        uint8_t n = source_.Byte();
        run_ = (n & 0x80) != 0;
        left_ = (n & 0x7F) + 1;
        if (run_) source_.Bytes(value_, bpp_);
      }
      int take = std::min(left_, width - x);
      if (run_) {
        for (int i = 0; i < take; ++i) std::memcpy(out + (x + i) * bpp_, value_, static_cast<size_t>(bpp_));
      } else {
        source_.Bytes(out + x * bpp_, take * bpp_);
      }
      x += take;
      left_ -= take;
    }
  }

 private:
  ByteSource& source_;
  int bpp_;
  bool run_ = false;
  int left_ = 0;
  uint8_t value_[4] = {};
};

// 16-bit pixels (x1555, little-endian) to blue, green, red, alpha bytes; bit 15 set means transparent.
void Expand16(const uint8_t* src, uint8_t* bgra, int count) {
  for (int i = 0; i < count; ++i, src += 2, bgra += 4) {
    int v = src[0] | (src[1] << 8);
    bgra[0] = static_cast<uint8_t>((v << 3) & 0xF8);
    bgra[1] = static_cast<uint8_t>((v >> 2) & 0xF8);
    bgra[2] = static_cast<uint8_t>((v >> 7) & 0xF8);
    bgra[3] = (v & 0x8000) != 0 ? 0 : 255;
  }
}

void ReversePixels(uint8_t* row, int width, int bpp) {
  for (int l = 0, r = width - 1; l < r; ++l, --r) {
    std::swap_ranges(row + l * bpp, row + (l + 1) * bpp, row + r * bpp);
  }
}

// The fewest stream bytes that could hold the pixel data the header promises.
int64_t MinimumDataBytes(const tgahdr& h, int bpp) {
  int64_t pixels = int64_t{h.width} * h.height;
  if (h.imgtype == kTypeTrueColour) return pixels * bpp;
  return (pixels + 127) / 128 * (1 + bpp);
}

class TPixmapLoaderTGA : public TPixmapLoader {
 public:
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override;
};

Ref<TPixmap> TPixmapLoaderTGA::LoadPixmap(const Ref<TStream>& stream) {
  uint8_t raw[kHeaderSize];
  if (ReadUpTo(*stream, raw, kHeaderSize) < kHeaderSize) return nullptr;
  tgahdr h = ParseHeader(raw);
  // Colour-mapped pictures (type 1) are refused with every other type: there is no colour map to use.
  if (h.colourmaptype != 0) return nullptr;
  if (h.imgtype != kTypeTrueColour && h.imgtype != kTypeTrueColourRle) return nullptr;
  if (h.psize != 15 && h.psize != 16 && h.psize != 24 && h.psize != 32) return nullptr;
  if (h.width < 1 || h.width > kMaxSide || h.height < 1 || h.height > kMaxSide) return nullptr;

  int bpp = (h.psize + 7) / 8;
  int64_t size = stream->Size();
  int64_t pos = stream->Pos();
  if (size > 0 && pos >= 0 && size - pos - h.idlen < MinimumDataBytes(h, bpp)) return nullptr;

  bool hasAlpha = h.psize == 16 || h.psize == 32;
  Ref<TPixmap> pixmap = AllocatePixmap(h.width, h.height, hasAlpha ? FormatRGBA8888 : FormatRGB888, 4);
  if (h.idlen > 0) stream->SkipBytes(h.idlen);

  ByteSource source(*stream);
  RlePixels packets(source, bpp);
  std::vector<uint8_t> fileRow(static_cast<size_t>(h.width) * bpp);
  std::vector<uint8_t> bgraRow(bpp == 2 ? static_cast<size_t>(h.width) * 4 : 0);
  bool topDown = (h.attbits & kDescriptorTopDown) != 0;
  for (int i = 0; i < h.height; ++i) {
    if (h.imgtype == kTypeTrueColour) {
      source.Bytes(fileRow.data(), h.width * bpp);
    } else {
      packets.Row(fileRow.data(), h.width);
    }
    if ((h.attbits & kDescriptorRightToLeft) != 0) ReversePixels(fileRow.data(), h.width, bpp);
    uint8_t* dst = pixmap->PixelPtr(0, topDown ? i : h.height - 1 - i);
    switch (bpp) {
      case 2:
        Expand16(fileRow.data(), bgraRow.data(), h.width);
        ConvertPixelRun(bgraRow.data(), FormatBGRA8888, dst, pixmap->format, h.width);
        break;
      case 3: ConvertPixelRun(fileRow.data(), FormatBGR888, dst, FormatRGB888, h.width); break;
      default: ConvertPixelRun(fileRow.data(), FormatBGRA8888, dst, FormatRGBA8888, h.width); break;
    }
  }
  return pixmap;
}

}  // namespace

void InitTgaLoader() { RegisterLoaderOnce<TPixmapLoaderTGA>(); }

}  // namespace kiln
