#include "runtime/system/system.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
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

// Puts a fake xdg-open with the shell `body` first on PATH while it lives.
class FakeOpener {
 public:
  explicit FakeOpener(const std::string& body) : oldPath_(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "") {
    std::string script = dir_ / "xdg-open";
    test::WriteFileBytes(script, "#!/bin/sh\n" + body + "\n");
    chmod(script.c_str(), 0755);
    setenv("PATH", (dir_.Path().string() + ":" + oldPath_).c_str(), 1);
  }
  ~FakeOpener() { setenv("PATH", oldPath_.c_str(), 1); }
  FakeOpener(const FakeOpener&) = delete;
  FakeOpener& operator=(const FakeOpener&) = delete;
  std::string operator/(const std::string& name) const { return dir_ / name; }

 private:
  test::TempDir dir_;
  std::string oldPath_;
};

TEST(SystemModule, OpenAddressReportsWhetherTheDesktopTookIt) {
  InitSystemModule();
  {
    FakeOpener opener("exit 4");
    EXPECT_EQ(OpenAddress("http://example.com"), 0);
  }
  {
    FakeOpener opener("printf '%s' \"$1\" > \"$(dirname \"$0\")/seen\"");
    EXPECT_EQ(OpenAddress("www.example.com"), 1);
    EXPECT_EQ(test::ReadFileBytes(opener / "seen"), "http://www.example.com");
  }
  {
    // Some openers run the browser in the foreground until it closes; the program goes on.
    FakeOpener opener("sleep 30");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(OpenAddress("http://example.com"), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

// True when `text` fits `pattern`: '9' a digit, 'A' an upper-case and 'a' a lower-case letter,
// anything else itself.
bool Fits(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool ok = pattern[i] == '9' ? std::isdigit(c) != 0
              : pattern[i] == 'A' ? std::isupper(c) != 0
              : pattern[i] == 'a' ? std::islower(c) != 0
                                  : text[i] == pattern[i];
    if (!ok) return false;
  }
  return true;
}

TEST(SystemModule, DateAndClockTexts) {
  std::string today = TodayText().ToUtf8();
  std::string clock = ClockText().ToUtf8();
  EXPECT_TRUE(Fits(today, "99 Aaa 9999")) << today;
  EXPECT_TRUE(Fits(clock, "99:99:99")) << clock;
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
