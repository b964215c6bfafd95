#include "runtime/core/file_names.h"

namespace kiln {

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
    int length = DecodeUtf8Char(bytes, i, code);
    if (length == 0) {
      units.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
      ++i;
      continue;
    }
    AppendUtf16(units, code);
    i += static_cast<size_t>(length);
  }
  return Text(std::move(units));
}

}  // namespace kiln
