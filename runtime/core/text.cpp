#include "runtime/core/text.h"

#include <algorithm>
#include <ostream>

#include "runtime/core/exceptions.h"

namespace kiln {

Text::Text(const char* bytes) {
  if (bytes == nullptr) return;
  for (const char* p = bytes; *p != 0; ++p) units_.push_back(static_cast<unsigned char>(*p));
}

Text::Text(const char16_t* units) {
  if (units != nullptr) units_ = units;
}

Text Text::FromLatin1(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size());
  for (char c : bytes) units.push_back(static_cast<unsigned char>(c));
  return Text(std::move(units));
}

int DecodeUtf8Char(std::string_view bytes, size_t at, unsigned& code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned lead = byte(at);
  int extra = 0;
  unsigned min = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - at <= static_cast<size_t>(extra)) return 0;
  for (int k = 1; k <= extra; ++k) {
    unsigned next = byte(at + static_cast<size_t>(k));
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < min || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return 0;
  return extra + 1;
}

void AppendUtf16(std::u16string& out, unsigned code) {
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
    return;
  }
  code -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

template <typename OnCharacter>
std::u16string DecodeUtf8(std::string_view utf8, OnCharacter onCharacter) {
  std::u16string units;
  units.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned code = 0;
    int length = DecodeUtf8Char(utf8, i, code);
    if (length == 0) {
      units.push_back(kReplacementCharacter);
      ++i;
      continue;
    }
    onCharacter(units, code);
    i += static_cast<size_t>(length);
  }
  return units;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) { return DecodeUtf8(utf8, AppendUtf16); }

Text Text::FromUtf8(std::string_view utf8) {
  return Text(DecodeUtf8(utf8, [](std::u16string& units, unsigned code) {
    if (code > 0xFFFF) RaiseText("Unicode character out of UCS-2 range");
    units.push_back(static_cast<char16_t>(code));
  }));
}

Text Text::FromUtf16(const char16_t* zeroTerminated) { return Text(zeroTerminated); }

Text Text::FromInt(int64_t value) { return Text(std::to_string(value).c_str()); }

std::string Text::ToLatin1() const {
  std::string out;
  out.reserve(units_.size());
  for (char16_t u : units_) out.push_back(static_cast<char>(u & 0xFF));
  return out;
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::string Text::ToUtf8() const {
  std::string out;
  out.reserve(units_.size());
  for (size_t i = 0; i < units_.size(); ++i) {
    unsigned code = units_[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < units_.size() && units_[i + 1] >= 0xDC00 &&
        units_[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units_[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, code);
  }
  return out;
}

Text Text::operator+(const Text& other) const {
  std::u16string units;
  units.reserve(units_.size() + other.units_.size());
  units += units_;
  units += other.units_;
  return Text(std::move(units));
}

Text& Text::operator+=(const Text& other) {
  units_ += other.units_;
  return *this;
}

Text Text::Slice(int from, int to) const {
  from = std::clamp(from, 0, Length());
  to = std::clamp(to, from, Length());
  return Text(units_.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
}

int Text::Find(const Text& sub, int start) const {
  if (start < 0) start = 0;
  if (start > Length()) return -1;
  size_t at = units_.find(sub.units_, static_cast<size_t>(start));
  return at == std::u16string::npos ? -1 : static_cast<int>(at);
}

int Text::FindLast(const Text& sub) const {
  size_t at = units_.rfind(sub.units_);
  return at == std::u16string::npos ? -1 : static_cast<int>(at);
}

bool Text::StartsWith(const Text& prefix) const {
  return units_.size() >= prefix.units_.size() &&
         units_.compare(0, prefix.units_.size(), prefix.units_) == 0;
}

bool Text::EndsWith(const Text& suffix) const {
  return units_.size() >= suffix.units_.size() &&
         units_.compare(units_.size() - suffix.units_.size(), suffix.units_.size(), suffix.units_) == 0;
}

Text Text::Replace(const Text& from, const Text& to) const {
  if (from.IsEmpty()) return *this;
  std::u16string out;
  size_t pos = 0;
  for (;;) {
    size_t at = units_.find(from.units_, pos);
    if (at == std::u16string::npos) break;
    out.append(units_, pos, at - pos);
    out += to.units_;
    pos = at + from.units_.size();
  }
  out.append(units_, pos, std::u16string::npos);
  return Text(std::move(out));
}

char16_t LowerUnit(char16_t u) {
  if (u >= u'A' && u <= u'Z') return static_cast<char16_t>(u + 32);
  if (u < 192) return u;
  // Latin-1 capitals (the multiplication sign 0xD7 has no case).
  if (u <= 0xDE) return u == 0xD7 ? u : static_cast<char16_t>(u + 32);
  // Latin Extended-A: capitals and small letters alternate.
  // Capital I with dot above lowers to the plain i, not to the dotless i beside it.
  if (u == 0x130) return u'i';
  if ((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) return (u & 1) ? u : static_cast<char16_t>(u + 1);
  if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) return (u & 1) ? static_cast<char16_t>(u + 1) : u;
  if (u == 0x178) return 0xFF;
  // Greek and Cyrillic capitals.
  if (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) return static_cast<char16_t>(u + 32);
  if (u >= 0x410 && u <= 0x42F) return static_cast<char16_t>(u + 32);
  if (u >= 0x400 && u <= 0x40F) return static_cast<char16_t>(u + 80);
  return u;
}

Text Text::ToLower() const {
  std::u16string out(units_);
  for (char16_t& u : out) u = LowerUnit(u);
  return Text(std::move(out));
}

int Text::Compare(const Text& other) const {
  const size_t n = std::min(units_.size(), other.units_.size());
  for (size_t i = 0; i < n; ++i) {
    if (units_[i] != other.units_[i]) return static_cast<int>(units_[i]) - static_cast<int>(other.units_[i]);
  }
  return static_cast<int>(units_.size()) - static_cast<int>(other.units_.size());
}

std::strong_ordering Text::operator<=>(const Text& other) const {
  int c = Compare(other);
  return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::ostream& operator<<(std::ostream& out, const Text& text) { return out << text.ToUtf8(); }

// Quoted, with control units (the zero separators of filter lists among them) as \xNN.
void PrintTo(const Text& text, std::ostream* out) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown = "\"";
  for (char c : text.ToUtf8()) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '"' || c == '\\') {
      shown += byte < 0x20 ? std::string{'\\', 'x', kHex[byte >> 4], kHex[byte & 15]} : std::string{'\\', c};
    } else {
      shown += c;
    }
  }
  *out << shown << '"';
}

}  // namespace kiln
