#include "runtime/system/system.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "runtime/core/exceptions.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

TEST(SystemDriver, BareDriverRaisesNullMethodForEveryOperation) {
  Ref<TSystemDriver> driver = MakeRef<TSystemDriver>();
  EXPECT_THROW(driver->Poll(), TNullMethodException);
  EXPECT_THROW(driver->Wait(), TNullMethodException);
  EXPECT_THROW(driver->MoveMouse(1, 2), TNullMethodException);
  EXPECT_THROW(driver->SetMouseVisible(0), TNullMethodException);
  EXPECT_THROW(driver->Notify("a", 0), TNullMethodException);
  EXPECT_THROW(driver->Confirm("a", 0), TNullMethodException);
  EXPECT_THROW(driver->Proceed("a", 0), TNullMethodException);
  EXPECT_THROW(driver->RequestFile("a", "b", 0, "c"), TNullMethodException);
  EXPECT_THROW(driver->RequestDir("a", "b"), TNullMethodException);
  EXPECT_THROW(driver->OpenURL("a"), TNullMethodException);
}

TEST(SystemModule, AddressesAreNormalisedBeforeOpening) {
  InitSystemModule();
  test::TempDir dir;
  std::string folder = dir.Path();
  test::WriteFileBytes(folder + "/page.html", "<p>");
  Text page = Text::FromUtf8(folder + "/page.html");
  struct Case {
    Text url;
    Text expected;
  };
  const Case cases[] = {
      {"http://example.com/a#b", "http://example.com/a#b"},
      {"HTTPS://example.com", "HTTPS://example.com"},
      {"File:/tmp/x", "File:/tmp/x"},
      {"www.example.com", "http://www.example.com"},
      {"www.example.com#top", "http://www.example.com#top"},
      {page, Text("file:") + page},
      {page + "#section", Text("file:") + page + "#section"},
      {Text::FromUtf8(folder), Text("file:") + Text::FromUtf8(folder)},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeAddress(c.url), c.expected) << c.url.ToUtf8();
}

TEST(SystemModule, DateAndClockTexts) {
  std::string today = TodayText().ToUtf8();
  std::string clock = ClockText().ToUtf8();
  EXPECT_TRUE(std::regex_match(today, std::regex(R"(\d\d [A-Z][a-z][a-z] \d{4})"))) << today;
  EXPECT_TRUE(std::regex_match(clock, std::regex(R"(\d\d:\d\d:\d\d)"))) << clock;
}

int callsRun = 0;
int callsDuringNestedPump = -1;

void CountCall(TObject*, int) { ++callsRun; }

void PumpInsideACall(TObject*, int) {
  PostMainThreadCall(CountCall, nullptr, 0);
  int before = callsRun;
  // Already inside a pump: neither of these may pump again.
  PumpSystemEvents();
  AwaitSystemEvents();
  callsDuringNestedPump = callsRun - before;
}

TEST(SystemModule, PumpingDoesNotNestAndPostedCallsRunInTheNextPump) {
  InitSystemModule();
  callsRun = 0;
  PostMainThreadCall(PumpInsideACall, nullptr, 0);
  PumpSystemEvents();
  EXPECT_EQ(callsDuringNestedPump, 0);
  EXPECT_EQ(callsRun, 0);
  PumpSystemEvents();
  EXPECT_EQ(callsRun, 1);
}

}  // namespace
}  // namespace kiln
