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
