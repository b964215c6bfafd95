// The shared body of the pixmap fuzz targets: decode the input through the registry and check that
// whatever comes back is a well-formed pixmap whose every byte can be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/stream/ram_stream.h"

namespace kiln::fuzz {

// Rewrites the checksum of every whole chunk after a PNG signature, so that mutated inputs reach the
// decoder instead of stopping at libpng's checksum test. Other data is left as it is.
inline std::vector<uint8_t> WithPngChecksumsFixed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 || std::memcmp(data, signature, 8) != 0) return bytes;
  size_t at = 8;
  while (at + 12 <= size) {
    uint32_t length = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
                      bytes[at + 3];
    if (length > size - at - 12) break;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = at + 4; i < at + 8 + length; ++i) {
      crc ^= bytes[i];
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) bytes[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
  return bytes;
}

inline Ref<TPixmap> DecodeAndCheck(const uint8_t* data, size_t size) {
  Ref<TPixmap> p = PixmapFromUrl(TRamStream::Create(data, static_cast<int64_t>(size)));
  if (!p) return p;
  Check(p->width > 0 && p->height > 0);
  Check(p->format >= FormatGrey8 && p->format <= FormatLuminance8);
  Check(p->pitch >= p->width * BytesPerPixel(p->format));
  Check(p->capacity >= p->pitch * p->height);
  // Reads every pixel of every row.
  Ref<TPixmap> rgba = p->Convert(FormatRGBA8888);
  Check(rgba->width == p->width && rgba->height == p->height);
  return p;
}

}  // namespace kiln::fuzz
