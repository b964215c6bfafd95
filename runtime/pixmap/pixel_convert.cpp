// Pixel format tables and the conversion of pixel runs, always through RGBA.
#include <bit>
#include <cstring>

#include "runtime/pixmap/pixmap.h"

namespace kiln {

const int pixelByteWidth[PixelFormatCount] = {0, 1, 1, 3, 3, 4, 4, 1, 1, 1, 1, 1, 1};
const int pixelAlphaBits[PixelFormatCount] = {0, 0, 8, 0, 0, 8, 8, 0, 0, 0, 8, 0, 0};

int BytesPerPixel(int format) {
  return format > 0 && format < PixelFormatCount ? pixelByteWidth[format] : 0;
}

int AlphaBits(int format) {
  return format > 0 && format < PixelFormatCount ? pixelAlphaBits[format] : 0;
}

namespace {

// Pixels converted per pass through the stack buffer when neither side is RGBA.
constexpr int kChunkPixels = 512;

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Swaps bytes 0 and 2 of each 4-byte pixel (BGRA <-> RGBA) in the host's byte order.
inline uint32_t SwapRedBlue(uint32_t v) {
  return (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
}

// Single-byte formats expand through one loop each: the byte goes to the channels flagged true and the
// fixed values fill the others.
inline void ExpandByte(const uint8_t* src, uint8_t* dst, int n, bool r, bool g, bool b, bool a, uint8_t fr,
                       uint8_t fg, uint8_t fb, uint8_t fa) {
  for (int i = 0; i < n; ++i) {
    uint8_t v = src[i];
    dst[0] = r ? v : fr;
    dst[1] = g ? v : fg;
    dst[2] = b ? v : fb;
    dst[3] = a ? v : fa;
    dst += 4;
  }
}

// Three-byte pixels to four-byte ones, four pixels (three words in, four out) per step. Each output
// word holds the channels in the source's order with alpha 255 on top; `swap` exchanges red and blue.
template <bool swap>
void Expand888(const uint8_t* src, uint8_t* dst, int n) {
  int i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 4 <= n; i += 4, src += 12, dst += 16) {
      uint32_t w0 = Load32(src), w1 = Load32(src + 4), w2 = Load32(src + 8);
      uint32_t p[4] = {w0 & 0xFFFFFFu, (w0 >> 24) | (w1 & 0xFFFFu) << 8, (w1 >> 16) | (w2 & 0xFFu) << 16, w2 >> 8};
      for (uint32_t& v : p) Store32(dst + 4 * (&v - p), (swap ? SwapRedBlue(v) : v) | 0xFF000000u);
    }
  }
  for (; i < n; ++i, src += 3, dst += 4) {
    dst[0] = src[swap ? 2 : 0];
    dst[1] = src[1];
    dst[2] = src[swap ? 0 : 2];
    dst[3] = 255;
  }
}

void ExpandRunToRGBA(const uint8_t* src, uint8_t* dst, int format, int n) {
  switch (format) {
    case FormatGrey8: ExpandByte(src, dst, n, true, true, true, false, 0, 0, 0, 255); break;
    case FormatAlpha8: ExpandByte(src, dst, n, false, false, false, true, 255, 255, 255, 0); break;
    case FormatBGR888: Expand888<true>(src, dst, n); break;
    case FormatRGB888: Expand888<false>(src, dst, n); break;
    case FormatBGRA8888:
      for (int i = 0; i < n; ++i) Store32(dst + 4 * i, SwapRedBlue(Load32(src + 4 * i)));
      break;
    case FormatRGBA8888: std::memcpy(dst, src, static_cast<size_t>(n) * 4); break;
    case FormatRedOnly8: ExpandByte(src, dst, n, true, false, false, false, 0, 0, 0, 1); break;
    case FormatGreenOnly8: ExpandByte(src, dst, n, false, true, false, false, 0, 0, 0, 1); break;
    case FormatBlueOnly8: ExpandByte(src, dst, n, false, false, true, false, 0, 0, 0, 1); break;
    case FormatAlphaOnly8: ExpandByte(src, dst, n, false, false, false, true, 0, 0, 0, 0); break;
    case FormatIntensity8: ExpandByte(src, dst, n, true, true, true, true, 0, 0, 0, 0); break;
    case FormatLuminance8: ExpandByte(src, dst, n, true, true, true, false, 0, 0, 0, 1); break;
    default: std::memset(dst, 0, static_cast<size_t>(n) * 4); break;
  }
}

// Picks byte `channel` (0 red .. 3 alpha) of every RGBA pixel.
inline void PackChannel(const uint8_t* src, uint8_t* dst, int n, int channel) {
  for (int i = 0; i < n; ++i) dst[i] = src[4 * i + channel];
}

inline void PackAverage3(const uint8_t* src, uint8_t* dst, int n) {
  for (int i = 0; i < n; ++i, src += 4) dst[i] = static_cast<uint8_t>((src[0] + src[1] + src[2]) / 3);
}

void PackRunFromRGBA(const uint8_t* src, uint8_t* dst, int format, int n) {
  switch (format) {
    case FormatGrey8: PackAverage3(src, dst, n); break;
    case FormatAlpha8: PackChannel(src, dst, n, 3); break;
    case FormatBGR888:
      for (int i = 0; i < n; ++i, src += 4, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
      break;
    case FormatRGB888:
      for (int i = 0; i < n; ++i, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      break;
    case FormatBGRA8888:
      for (int i = 0; i < n; ++i) Store32(dst + 4 * i, SwapRedBlue(Load32(src + 4 * i)));
      break;
    case FormatRGBA8888: std::memcpy(dst, src, static_cast<size_t>(n) * 4); break;
    case FormatRedOnly8: PackChannel(src, dst, n, 0); break;
    case FormatGreenOnly8: PackChannel(src, dst, n, 1); break;
    case FormatBlueOnly8: PackChannel(src, dst, n, 2); break;
    case FormatAlphaOnly8: PackChannel(src, dst, n, 3); break;
    case FormatIntensity8:
      for (int i = 0; i < n; ++i, src += 4) dst[i] = static_cast<uint8_t>((src[0] + src[1] + src[2] + src[3]) / 4);
      break;
    case FormatLuminance8: PackAverage3(src, dst, n); break;
    default: break;
  }
}

// The common pairs that need neither side to be RGBA get a loop of their own.
bool ConvertDirect(const uint8_t* src, int sf, uint8_t* dst, int df, int n) {
  if ((sf == FormatBGR888 && df == FormatRGB888) || (sf == FormatRGB888 && df == FormatBGR888)) {
    for (int i = 0; i < n; ++i, src += 3, dst += 3) {
      uint8_t c0 = src[0];
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = c0;
    }
    return true;
  }
  if ((sf == FormatBGRA8888 && df == FormatBGR888) || (sf == FormatRGBA8888 && df == FormatRGB888)) {
    for (int i = 0; i < n; ++i, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
    return true;
  }
  if (sf == FormatBGRA8888 && df == FormatRGB888) {
    for (int i = 0; i < n; ++i, src += 4, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
    return true;
  }
  if (sf == FormatBGR888 && df == FormatBGRA8888) {
    for (int i = 0; i < n; ++i, src += 3, dst += 4) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = 255;
    }
    return true;
  }
  return false;
}

}  // namespace

void CopyPixelRun(const uint8_t* src, uint8_t* dst, int format, int count) {
  if (count <= 0) return;
  std::memmove(dst, src, static_cast<size_t>(count) * BytesPerPixel(format));
}

void ConvertPixelRun(const uint8_t* src, int srcFormat, uint8_t* dst, int dstFormat, int count) {
  if (count <= 0) return;
  if (srcFormat == dstFormat) {
    CopyPixelRun(src, dst, srcFormat, count);
  } else if (srcFormat == FormatRGBA8888) {
    PackRunFromRGBA(src, dst, dstFormat, count);
  } else if (dstFormat == FormatRGBA8888) {
    ExpandRunToRGBA(src, dst, srcFormat, count);
  } else if (!ConvertDirect(src, srcFormat, dst, dstFormat, count)) {
    alignas(4) uint8_t rgba[kChunkPixels * 4];
    int srcStep = BytesPerPixel(srcFormat);
    int dstStep = BytesPerPixel(dstFormat);
    for (int done = 0; done < count; done += kChunkPixels) {
      int n = count - done < kChunkPixels ? count - done : kChunkPixels;
      ExpandRunToRGBA(src + static_cast<size_t>(done) * srcStep, rgba, srcFormat, n);
      PackRunFromRGBA(rgba, dst + static_cast<size_t>(done) * dstStep, dstFormat, n);
    }
  }
}

}  // namespace kiln
