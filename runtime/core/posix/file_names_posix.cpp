#include "runtime/core/file_names.h"

namespace kiln {
namespace {

// Length of the well-formed UTF-8 sequence at `i` and its character, or 0.
int DecodeOne(std::string_view s, size_t i, unsigned& code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned c = byte(i);
  int extra;
  unsigned min;
  if (c < 0x80) {
    code = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1, code = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, code = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, code = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + static_cast<size_t>(extra) >= s.size()) return 0;
  for (int k = 1; k <= extra; ++k) {
    unsigned cc = byte(i + static_cast<size_t>(k));
    if ((cc & 0xC0) != 0x80) return 0;
    code = (code << 6) | (cc & 0x3F);
  }
  // Overlong forms, encoded surrogates and values past U+10FFFF are not UTF-8.
  if (code < min || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return 0;
  return extra + 1;
}

}  // namespace

std::string ToPlatformName(const Text& name) {
  const std::u16string& units = name.Units();
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    unsigned code = units[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xDC80 && code <= 0xDCFF) {
      out.push_back(static_cast<char>(code - 0xDC00));
      continue;
    }
    AppendUtf8(out, code);
  }
  return out;
}

Text FromPlatformName(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned code = 0;
    int length = DecodeOne(bytes, i, code);
    if (length == 0) {
      units.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(code));
    }
    i += static_cast<size_t>(length);
  }
  return Text(std::move(units));
}

}  // namespace kiln
