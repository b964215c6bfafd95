#include "runtime/core/file_names.h"

#include <gtest/gtest.h>

namespace kiln {
namespace {

struct NameCase {
  std::string bytes;
  std::u16string units;
};

TEST(FileNames, PlatformBytesRoundTripThroughTexts) {
  const NameCase cases[] = {
      {"plain.txt", u"plain.txt"},
      {"Dr\xC3\xBC" "cke", u"Drücke"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},         // beyond 16 bits: a surrogate pair
      {"caf\xE9", u"caf\xDCE9"},                    // not UTF-8: the byte is kept
      {"\xC0\xAF", u"\xDCC0\xDCAF"},                // overlong form of "/"
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},      // encoded surrogate
      {"\xE2\x82", u"\xDCE2\xDC82"},                // cut short
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
  };
  for (const auto& c : cases) {
    Text text = FromPlatformName(c.bytes);
    EXPECT_EQ(text.Units(), c.units) << c.bytes;
    EXPECT_EQ(ToPlatformName(text), c.bytes) << c.bytes;
  }
}

TEST(FileNames, TextsBecomeUtf8) {
  EXPECT_EQ(ToPlatformName(Text(u"Zunto_Data/Spielz\u00FCge")), "Zunto_Data/Spielz\xC3\xBCge");
  // A lone high surrogate cannot be a character; it is written as its own three bytes.
  EXPECT_EQ(ToPlatformName(Text(std::u16string(1, char16_t(0xD800)))), "\xED\xA0\x80");
}

}  // namespace
}  // namespace kiln
