// The Win32 system driver: calls posted from other threads, and message boxes answered by a thread
// that finds the box and presses one of its buttons.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "runtime/core/runtime.h"
#include "runtime/system/internal/system_backend.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<DWORD> callThread{0};
std::atomic<int> callExtra{0};

void RecordCall(TObject*, int extra) {
  callThread.store(GetCurrentThreadId());
  callExtra.store(extra);
}

void ThrowingCall(TObject*, int) { throw Text("call failed"); }

TEST(Win32MainThreadCalls, PostedCallRunsInTheNextPumpOnTheMainThread) {
  InitSystemModule();
  PumpSystemEvents();
  callThread = 0;
  std::thread poster([] { PostMainThreadCall(RecordCall, nullptr, 7); });
  poster.join();
  EXPECT_EQ(callThread.load(), 0u);
  PumpSystemEvents();
  EXPECT_EQ(callThread.load(), GetCurrentThreadId());
  EXPECT_EQ(callExtra.load(), 7);
}

TEST(Win32MainThreadCalls, PostedCallWakesABlockedWait) {
  InitSystemModule();
  PumpSystemEvents();
  callThread = 0;
  DWORD mainThread = GetCurrentThreadId();
  std::atomic<bool> done{false};
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    PostMainThreadCall(RecordCall, nullptr, 9);
  });
  // Should the wake be lost, this ends the wait after 5 s and the test fails instead of hanging.
  std::thread watchdog([&] {
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) PostThreadMessageW(mainThread, WM_NULL, 0, 0);
  });
  Clock::time_point start = Clock::now();
  while (callThread.load() == 0 && Clock::now() - start < std::chrono::seconds(4)) AwaitSystemEvents();
  auto waited = Clock::now() - start;
  done = true;
  poster.join();
  watchdog.join();
  EXPECT_EQ(callThread.load(), mainThread);
  EXPECT_EQ(callExtra.load(), 9);
  EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST(Win32MainThreadCalls, WhatACallThrowsReachesThePumpsCaller) {
  InitSystemModule();
  PumpSystemEvents();
  std::thread poster([] { PostMainThreadCall(ThrowingCall, nullptr, 0); });
  poster.join();
  try {
    PumpSystemEvents();
    ADD_FAILURE() << "nothing thrown";
  } catch (const Text& thrown) {
    EXPECT_EQ(thrown, Text("call failed"));
  }
  // Nothing is left over for the next pump.
  EXPECT_NO_THROW(PumpSystemEvents());
}

// A loop other than the program's pump (a modal box's) takes the wake message, and the first of
// two calls throws there: the second still wakes the next wait.
TEST(Win32MainThreadCalls, ACallBehindAThrowingOneStillWakesAWait) {
  InitSystemModule();
  PumpSystemEvents();
  callThread = 0;
  DWORD mainThread = GetCurrentThreadId();
  std::thread poster([] {
    PostMainThreadCall(ThrowingCall, nullptr, 0);
    PostMainThreadCall(RecordCall, nullptr, 11);
  });
  poster.join();
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0x7001, 0x7001, PM_REMOVE));
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) PostThreadMessageW(mainThread, WM_NULL, 0, 0);
  });
  Clock::time_point start = Clock::now();
  bool thrown = false;
  while (callThread.load() == 0 && Clock::now() - start < std::chrono::seconds(4)) {
    try {
      AwaitSystemEvents();
    } catch (const Text&) {
      thrown = true;
    }
  }
  auto waited = Clock::now() - start;
  done = true;
  watchdog.join();
  EXPECT_TRUE(thrown);
  EXPECT_EQ(callExtra.load(), 11);
  EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST(Win32Addresses, AnAddressTheShellCannotOpenGivesZero) {
  InitSystemModule();
  EXPECT_EQ(SystemDriver()->OpenURL(Text("C:\\no such folder\\no such file.kilnx")), 0);
}

struct BoxSeen {
  bool found = false;
  std::wstring caption;
  std::wstring text;
  bool hasCancel = false;
  bool hasYes = false;
  bool hasNo = false;
};

// Finds the dialog captioned `caption` of this process and presses the button `button`.
std::thread PressInBox(const std::wstring& caption, int button, BoxSeen& seen) {
  return std::thread([caption, button, &seen] {
    for (int i = 0; i < 500; ++i) {
      HWND box = FindWindowW(L"#32770", caption.c_str());
      // Shown once its set-up is done.
      if (box != nullptr && IsWindowVisible(box)) {
        seen.found = true;
        wchar_t buffer[256] = {};
        GetWindowTextW(box, buffer, 256);
        seen.caption = buffer;
        // The message text is the static control 0xFFFF.
        GetDlgItemTextW(box, 0xFFFF, buffer, 256);
        seen.text = buffer;
        seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
        seen.hasYes = GetDlgItem(box, IDYES) != nullptr;
        seen.hasNo = GetDlgItem(box, IDNO) != nullptr;
        // Taken from the queue before the button's command, inside the box's own message loop.
        PostMainThreadCall(RecordCall, nullptr, 100 + button);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        return;
      }
      Sleep(10);
    }
  });
}

// The fault report's box shows its own caption and text.
TEST(Win32MessageBoxes, ButtonsAndResultsOfNotifyConfirmProceedAndTheFaultBox) {
  InitSystemModule();
  SetApplicationTitle(Text("Box Test"));
  enum Kind { kNotify, kConfirm, kProceed, kFault };
  struct Case {
    Kind kind;
    int press;
    int expected;
    bool cancel, yes, no;
  };
  const Case cases[] = {
      {kNotify, IDOK, 0, false, false, false},     {kConfirm, IDOK, 1, true, false, false},
      {kConfirm, IDCANCEL, 0, true, false, false}, {kProceed, IDYES, 1, true, true, true},
      {kProceed, IDNO, 0, true, true, true},       {kProceed, IDCANCEL, -1, true, true, true},
      {kFault, IDOK, 0, false, false, false},
  };
  for (const Case& c : cases) {
    BoxSeen seen;
    callExtra = 0;
    std::wstring caption = c.kind == kFault ? L"Windows exception" : L"Box Test";
    std::thread presser = PressInBox(caption, c.press, seen);
    Text message("Question \xC4");
    int result = 0;
    if (c.kind == kNotify) result = NotifyUser(message, 0);
    if (c.kind == kConfirm) result = AskConfirm(message, 1);
    if (c.kind == kProceed) result = AskProceed(message, 0);
    if (c.kind == kFault) PlatformFaultMessageBox()("Windows exception", "EXCEPTION_INT_DIVIDE_BY_ZERO");
    presser.join();
    ASSERT_TRUE(seen.found) << "kind " << c.kind;
    EXPECT_EQ(result, c.expected) << "kind " << c.kind << " press " << c.press;
    EXPECT_EQ(seen.caption, caption);
    EXPECT_EQ(seen.text, c.kind == kFault ? L"EXCEPTION_INT_DIVIDE_BY_ZERO" : L"Question \u00C4");
    EXPECT_EQ(seen.hasCancel, c.cancel) << "kind " << c.kind;
    EXPECT_EQ(seen.hasYes, c.yes) << "kind " << c.kind;
    EXPECT_EQ(seen.hasNo, c.no) << "kind " << c.kind;
    // Posted calls run inside the program's boxes, but wait while the fault report's box shows.
    EXPECT_EQ(callExtra.load(), c.kind == kFault ? 0 : 100 + c.press) << "kind " << c.kind;
    PumpSystemEvents();
    EXPECT_EQ(callExtra.load(), 100 + c.press) << "kind " << c.kind;
  }
  SetApplicationTitle(Text("Kilnworks Application"));
}

}  // namespace
}  // namespace kiln
