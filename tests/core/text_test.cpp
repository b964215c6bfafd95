#include "runtime/core/text.h"

#include <gtest/gtest.h>

#include "runtime/core/exceptions.h"

namespace kiln {
namespace {

TEST(Text, Utf8DecodesBmpAndRejectsAstralCharacters) {
  EXPECT_EQ(Text::FromUtf8("Dr\xC3\xBC" "cke").Units(), u"Drücke");
  EXPECT_EQ(Text::FromUtf8("\xE2\x82\xAC").Units(), u"\u20AC");
  try {
    Text::FromUtf8("a\xF0\x9F\x98\x80");
    FAIL() << "no throw";
  } catch (const Text& thrown) {
    EXPECT_EQ(thrown, Text("Unicode character out of UCS-2 range"));
  }
}

// A decoded "/" or zero unit that was never in the bytes opens paths nobody named.
TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                  // overlong "/"
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},         // overlong "/" in three bytes
      {"\xF0\x80\x80\x80x", u"\uFFFD\uFFFD\uFFFD\uFFFDx"},  // overlong zero
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},         // encoded surrogate
      {"a\x80" "b\xFF", u"a\uFFFDb\uFFFD"},               // stray continuation, invalid byte
      {"\xC3", u"\uFFFD"},                             // truncated at the end
      {"\xC3(", u"\uFFFD("},                           // truncated by the next character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Text::FromUtf8(c.bytes).Units(), c.units) << c.bytes;
  }
  // Past U+10FFFF is malformed, not a character out of range.
  EXPECT_EQ(Text::FromUtf8("\xF4\x90\x80\x80").Units(), u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

// Failures of every suite show texts as their characters, not as the bytes of the object.
TEST(Text, TestFailuresPrintTextsQuoted) {
  EXPECT_EQ(testing::PrintToString(Text(u"Gr\u00fc\u00dfe")), "\"Gr\xC3\xBC\xC3\x9F" "e\"");
  EXPECT_EQ(testing::PrintToString(Text(std::u16string(u"a\0b\"\\", 5))), "\"a\\x00b\\\"\\\\\"");
}

TEST(Text, EightBitConversionsKeepLowBytes) {
  Text t = Text::FromLatin1("\xFC\x01");
  EXPECT_EQ(t.Length(), 2);
  EXPECT_EQ(t[0], 0xFC);
  EXPECT_EQ(Text(u"\u0141x").ToLatin1(), std::string("\x41x"));
  EXPECT_EQ(Text(u"ü€").ToUtf8(), "\xC3\xBC\xE2\x82\xAC");
}

TEST(Text, OrdinalCompareByFirstDifferenceThenLength) {
  EXPECT_LT(Text("abc").Compare("abd"), 0);
  EXPECT_EQ(Text("b").Compare("a"), 1);
  EXPECT_LT(Text("ab").Compare("abc"), 0);
  EXPECT_EQ(Text("./data/a").Compare("./data/a"), 0);
  EXPECT_NE(Text("./data/a"), Text("./Data/a"));
  EXPECT_LT(Text("Z"), Text("a"));
}

TEST(Text, LowerCaseAsciiAndTable) {
  EXPECT_EQ(Text(u"INCBIN::ÄÖÜ×Ÿ").ToLower().Units(), u"incbin::äöü×ÿ");
  EXPECT_EQ(Text(u"ŁĄ").ToLower().Units(), u"łą");
  EXPECT_EQ(Text(u"\u0130\u0131I").ToLower().Units(), u"i\u0131i");
}

TEST(Text, SliceFindReplace) {
  Text t("incbin::./data/x");
  EXPECT_EQ(t.Find("::"), 6);
  EXPECT_EQ(t.Left(6), Text("incbin"));
  EXPECT_EQ(t.From(8), Text("./data/x"));
  EXPECT_EQ(t.FindLast("/"), 14);
  EXPECT_EQ(t.Find("zz"), -1);
  EXPECT_EQ(Text("a\\b\\c").Replace("\\", "/"), Text("a/b/c"));
  EXPECT_EQ(t.Slice(-3, 100), t);
  EXPECT_EQ(Text::FromInt(-42), Text("-42"));
}

}  // namespace
}  // namespace kiln
