#include "runtime/core/exceptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <stdexcept>

namespace kiln {
namespace {

struct RaiseCase {
  void (*raise)();
  const char* text;
};

TEST(Exceptions, EachRaiseThrowsItsTypeWithItsText) {
  const RaiseCase cases[] = {
      {[] { RaiseNullObject(); }, "Attempt to access field or method of Null object"},
      {[] { RaiseAbstractCall(); }, "Attempt to call abstract method"},
      {[] { RaiseNullFunction(); }, "Attempt to call uninitialized function pointer"},
      {[] { RaiseArrayBounds(); }, "Attempt to index array element beyond array length"},
      {[] { throw TOutOfDataException(); }, "Attempt to read beyond end of data"},
      {[] { RaiseRuntimeError("Stream is not readable"); }, "Stream is not readable"},
  };
  for (const auto& c : cases) {
    try {
      c.raise();
      ADD_FAILURE() << "nothing thrown for " << c.text;
    } catch (const TKilnException& e) {
      EXPECT_EQ(e.ToString(), Text(c.text));
      EXPECT_STREQ(e.what(), c.text);
      EXPECT_EQ(ThrownObjectText(std::current_exception()), Text(c.text));
    }
  }
  EXPECT_THROW(RaiseNullObject(), TNullObjectException);
  EXPECT_THROW(RaiseAbstractCall(), TNullMethodException);
  EXPECT_THROW(RaiseNullFunction(), TNullFunctionException);
  EXPECT_THROW(RaiseArrayBounds(), TArrayBoundsException);
  EXPECT_THROW(RaiseRuntimeError("x"), TRuntimeException);
}

TEST(Exceptions, RuntimeExceptionCarriesItsError) {
  TRuntimeException e = TRuntimeException::Create(u"Fehler \u00FC");
  EXPECT_EQ(e.Error(), Text(u"Fehler \u00FC"));
  EXPECT_EQ(e.ToString(), e.Error());
}

TEST(Exceptions, BaseTypeShowsItsAddress) {
  TKilnException e;
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p", static_cast<const void*>(&e));
  EXPECT_EQ(e.ToString(), Text(expected));
}

TEST(Exceptions, ThrownTextsAreCaughtAsThemselves) {
  try {
    RaiseText("Too many hook ids");
  } catch (const Text& thrown) {
    EXPECT_EQ(thrown, Text("Too many hook ids"));
    EXPECT_EQ(ThrownObjectText(std::current_exception()), Text("Too many hook ids"));
  }
  // Bytes are code units 0..255, not UTF-8.
  try {
    RaiseText("\xFC");
  } catch (const Text& thrown) {
    ASSERT_EQ(thrown.Length(), 1);
    EXPECT_EQ(thrown[0], 0xFC);
  }
}

class TNamedThing : public TObject {
 public:
  Text ToString() const override { return "named thing"; }
};

TEST(Exceptions, ThrowObjectThrowsTheObjectItself) {
  Ref<TObject> thing = MakeRef<TNamedThing>();
  try {
    ThrowObject(thing);
  } catch (const Ref<TObject>& caught) {
    EXPECT_TRUE(caught == thing);
    EXPECT_EQ(ThrownObjectText(std::current_exception()), Text("named thing"));
  }
  // A text object is a thrown text.
  try {
    ThrowObject(MakeRef<TTextObject>(Text("Too many hook ids")));
  } catch (const Text& caught) {
    EXPECT_EQ(caught, Text("Too many hook ids"));
  }
  try {
    ThrowObject(nullptr);
  } catch (const Ref<TObject>& caught) {
    EXPECT_FALSE(caught);
    EXPECT_EQ(ThrownObjectText(std::current_exception()), Text());
  }
}

TEST(Exceptions, ThrownObjectTextOfForeignValues) {
  EXPECT_EQ(ThrownObjectText(nullptr), Text());
  EXPECT_EQ(ThrownObjectText(std::make_exception_ptr(std::runtime_error("disk gone"))), Text("disk gone"));
  EXPECT_EQ(ThrownObjectText(std::make_exception_ptr(42)), Text("Unknown exception"));
  // A message beyond the text type's range is still reported rather than lost.
  EXPECT_EQ(ThrownObjectText(std::make_exception_ptr(std::runtime_error("x\xF0\x9F\x98\x80"))).Length(), 5);
  EXPECT_EQ(ThrownObjectText(std::make_exception_ptr(std::runtime_error("caf\xE9"))), Text::FromLatin1("caf\xE9"));
}

}  // namespace
}  // namespace kiln
