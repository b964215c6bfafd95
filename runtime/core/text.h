// The runtime's text: an immutable sequence of UTF-16 code units.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace kiln {

class Text {
 public:
  Text() = default;
  // 8-bit text: every byte becomes one code unit 0..255 (ASCII literals, Latin-1 data).
  Text(const char* bytes);  // NOLINT(google-explicit-constructor)
  Text(const char16_t* units);  // NOLINT(google-explicit-constructor)
  explicit Text(std::u16string units) : units_(std::move(units)) {}

  static Text FromLatin1(std::string_view bytes);
  // Strict UTF-8: every byte that starts no well-formed sequence (overlong forms and encoded
  // surrogates included) becomes U+FFFD. Throws the text "Unicode character out of UCS-2 range"
  // for characters above U+FFFF.
  static Text FromUtf8(std::string_view utf8);
  static Text FromUtf16(const char16_t* zeroTerminated);
  static Text FromInt(int64_t value);

  // Low byte of every code unit.
  std::string ToLatin1() const;
  std::string ToUtf8() const;
  const std::u16string& Units() const { return units_; }
  const char16_t* Data() const { return units_.c_str(); }

  int Length() const { return static_cast<int>(units_.size()); }
  bool IsEmpty() const { return units_.empty(); }
  char16_t operator[](int i) const { return units_[static_cast<size_t>(i)]; }

  Text operator+(const Text& other) const;
  Text& operator+=(const Text& other);

  // Units [from, to); indices are clamped to the text.
  Text Slice(int from, int to) const;
  Text Left(int count) const { return Slice(0, count); }
  Text Right(int count) const { return Slice(Length() - count, Length()); }
  Text From(int index) const { return Slice(index, Length()); }

  // Index of the first / last occurrence, or -1.
  int Find(const Text& sub, int start = 0) const;
  int FindLast(const Text& sub) const;
  bool Contains(const Text& sub) const { return Find(sub) >= 0; }
  bool StartsWith(const Text& prefix) const;
  bool EndsWith(const Text& suffix) const;

  Text Replace(const Text& from, const Text& to) const;
  // ASCII A-Z plus the runtime's case table for units from 192 up.
  Text ToLower() const;

  // Ordinal comparison: first differing unit decides by its difference, else the shorter is smaller.
  int Compare(const Text& other) const;
  bool operator==(const Text& other) const { return units_ == other.units_; }
  std::strong_ordering operator<=>(const Text& other) const;

 private:
  std::u16string units_;
};

// A text on a byte stream is its UTF-8; the printer of test failures shows it quoted.
std::ostream& operator<<(std::ostream& out, const Text& text);
void PrintTo(const Text& text, std::ostream* out);

char16_t LowerUnit(char16_t unit);
// Appends the UTF-8 bytes of one character (up to U+10FFFF).
void AppendUtf8(std::string& out, unsigned code);
// The length of the well-formed UTF-8 sequence at `at` (1..4) with its character in `code`, or 0
// when the byte there starts none: a stray or invalid byte, a truncated sequence, an overlong form,
// an encoded surrogate or a value past U+10FFFF.
int DecodeUtf8Char(std::string_view bytes, size_t at, unsigned& code);
// Appends one character as UTF-16: characters above U+FFFF as a surrogate pair.
void AppendUtf16(std::u16string& out, unsigned code);
// UTF-8 as UTF-16 code units, characters above U+FFFF as surrogate pairs, bytes that start no
// well-formed sequence as U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace kiln
