// Real Win32 input through a window of the test's own, whose procedure hands every message to the
// translator: SendInput injects through the window system's hardware input path, the event hook
// records what arrives.
#include <gtest/gtest.h>
#include <windows.h>

#include <ostream>
#include <vector>

#include "runtime/system/events.h"
#include "runtime/system/hooks.h"
#include "runtime/system/system.h"
#include "runtime/system/win32/win32.h"
#include "tests/support/event_recorder.h"

namespace kiln {
namespace {

using Seen = test::SeenEvent;

Ref<TObject> windowSource;

// Like the program's windows, the window stays open on a close request.
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  win32::TranslateWindowMessage(window, message, wParam, lParam, windowSource);
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

constexpr wchar_t kClassName[] = L"KilnTranslatorTest";
constexpr int kWindowX = 100;
constexpr int kWindowY = 120;
constexpr int kWidth = 200;
constexpr int kHeight = 150;

void Key(WORD virtualKey, WORD scan, bool extended, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = scan;
  input.ki.dwFlags = (extended ? KEYEVENTF_EXTENDEDKEY : 0) | (down ? 0 : KEYEVENTF_KEYUP);
  SendInput(1, &input, sizeof input);
}

void MouseInput(DWORD flags, LONG dx, LONG dy, DWORD data) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = dx;
  input.mi.dy = dy;
  input.mi.mouseData = data;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

// Absolute moves are in 1/65536 of the primary screen.
void MoveTo(int x, int y) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, (x * 65536 + width - 1) / width,
             (y * 65536 + height - 1) / height, 0);
}

class Win32Input : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
  }

  void SetUp() override {
    InitSystemModule();
    windowSource = MakeRef<TTextObject>(Text("window owner"));
    MoveTo(5, 5);
    window_ = Open(kWindowX, kWindowY);
    ASSERT_NE(window_, nullptr);
    recorder_ = std::make_unique<test::EventRecorder>(windowSource);
    Settle();
    recorder_->Clear();
  }

  void TearDown() override {
    recorder_.reset();
    for (HWND window : windows_) DestroyWindow(window);
    PumpSystemEvents();
    windowSource = nullptr;
  }

  // A borderless window, so that its client area is the window and no system menu takes the Alt key.
  HWND Open(int x, int y) {
    HWND window = CreateWindowExW(0, kClassName, L"translator test", WS_POPUP | WS_VISIBLE, x, y, kWidth, kHeight,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) return nullptr;
    windows_.push_back(window);
    SetForegroundWindow(window);
    SetFocus(window);
    return window;
  }

  // Pumps until no event has arrived for a while.
  void Settle() { recorder_->Settle(10); }
  std::vector<Seen> Take() { return recorder_->Take(10); }

  HWND window_ = nullptr;
  std::unique_ptr<test::EventRecorder> recorder_;
  std::vector<HWND> windows_;
};

TEST(Win32SidedKeyCode, ScanCodeAndExtendedBitChooseTheSide) {
  struct Case {
    WPARAM vk;
    uint32_t scan;
    bool extended;
    int expected;
  };
  const Case cases[] = {
      {VK_SHIFT, 0x2A, false, 160},  {VK_SHIFT, 0x36, false, 161},   {VK_CONTROL, 0x1D, false, 162},
      {VK_CONTROL, 0x1D, true, 163}, {VK_MENU, 0x38, false, 164},    {VK_MENU, 0x38, true, 165},
      {'A', 0x1E, false, 'A'},       {VK_RETURN, 0x1C, true, 13},    {VK_LEFT, 0x4B, true, VK_LEFT},
      // Only the low seven bits of the scan code count: 0xAA is 0x2A with bit 7 set.
      {VK_SHIFT, 0xAA, false, 160},
  };
  for (const Case& c : cases) {
    // Repeat count 1, and bit 30 (previous key state) and 31 (release) set, which must not matter.
    auto lParam = static_cast<LPARAM>(1u | (c.scan << 16) | (c.extended ? 1u << 24 : 0u) | (3u << 30));
    EXPECT_EQ(win32::SidedKeyCode(c.vk, lParam), c.expected) << "scan " << c.scan << " extended " << c.extended;
  }
}

TEST_F(Win32Input, KeysGiveSidedCodesModifiersCharactersAndRepeats) {
  struct Stroke {
    WORD vk;
    WORD scan;
    bool extended;
    bool down;
  };
  struct Case {
    const char* what;
    std::vector<Stroke> strokes;
    std::vector<Seen> expected;
  };
  const Case cases[] = {
      {"left Shift",
       {{VK_LSHIFT, 0x2A, false, true}, {VK_LSHIFT, 0x2A, false, false}},
       {{513, 160, 1, 0, 0, true}, {514, 160, 0, 0, 0, true}}},
      {"right Shift",
       {{VK_RSHIFT, 0x36, false, true}, {VK_RSHIFT, 0x36, false, false}},
       {{513, 161, 1, 0, 0, true}, {514, 161, 0, 0, 0, true}}},
      {"left Alt",
       {{VK_LMENU, 0x38, false, true}, {VK_LMENU, 0x38, false, false}},
       {{513, 164, 4, 0, 0, true}, {514, 164, 0, 0, 0, true}}},
      {"right Alt",
       {{VK_RMENU, 0x38, true, true}, {VK_RMENU, 0x38, true, false}},
       {{513, 165, 4, 0, 0, true}, {514, 165, 0, 0, 0, true}}},
      {"a letter",
       {{'A', 0x1E, false, true}, {'A', 0x1E, false, false}},
       {{513, 'A', 0, 0, 0, true}, {515, 'a', 0, 0, 0, true}, {514, 'A', 0, 0, 0, true}}},
      {"a shifted letter",
       {{VK_LSHIFT, 0x2A, false, true}, {'A', 0x1E, false, true}, {'A', 0x1E, false, false},
        {VK_LSHIFT, 0x2A, false, false}},
       {{513, 160, 1, 0, 0, true},
        {513, 'A', 1, 0, 0, true},
        {515, 'A', 1, 0, 0, true},
        {514, 'A', 1, 0, 0, true},
        {514, 160, 0, 0, 0, true}}},
      {"a held letter",
       {{'B', 0x30, false, true}, {'B', 0x30, false, true}, {'B', 0x30, false, true}, {'B', 0x30, false, false}},
       {{513, 'B', 0, 0, 0, true},
        {515, 'b', 0, 0, 0, true},
        {516, 'B', 0, 0, 0, true},
        {515, 'b', 0, 0, 0, true},
        {516, 'B', 0, 0, 0, true},
        {515, 'b', 0, 0, 0, true},
        {514, 'B', 0, 0, 0, true}}},
  };
  for (const Case& c : cases) {
    for (const Stroke& stroke : c.strokes) Key(stroke.vk, stroke.scan, stroke.extended, stroke.down);
    EXPECT_EQ(Take(), c.expected) << c.what;
  }
}

TEST_F(Win32Input, PointerEntersMovesClicksWheelsAndLeaves) {
  const int x = 50;
  const int y = 40;
  MoveTo(kWindowX + x, kWindowY + y);
  // The enter comes first, at the position of the move that caused it.
  EXPECT_EQ(Take(), (std::vector<Seen>{{1029, 0, 0, x, y, true}, {1027, 0, 0, x, y, true}}));

  struct Click {
    DWORD down, up;
    int button;
  };
  for (Click click : {Click{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, 1}, Click{MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, 2},
                      Click{MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP, 3}}) {
    MouseInput(click.down, 0, 0, 0);
    MouseInput(click.up, 0, 0, 0);
    EXPECT_EQ(Take(), (std::vector<Seen>{{1025, click.button, 0, x, y, true}, {1026, click.button, 0, x, y, true}}))
        << "button " << click.button;
  }

  // A move with the middle button held reports it as 4.
  MouseInput(MOUSEEVENTF_MIDDLEDOWN, 0, 0, 0);
  MoveTo(kWindowX + x + 10, kWindowY + y);
  MouseInput(MOUSEEVENTF_MIDDLEUP, 0, 0, 0);
  EXPECT_EQ(Take(), (std::vector<Seen>{{1025, 3, 0, x, y, true}, {1027, 4, 0, x + 10, y, true},
                                       {1026, 3, 0, x + 10, y, true}}));

  // Wheel positions are converted from the screen to the window.
  struct Wheel {
    int delta;
    int notches;
  };
  for (Wheel wheel : {Wheel{120, 1}, Wheel{-240, -2}, Wheel{60, 0}, Wheel{-60, 0}}) {
    MouseInput(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(wheel.delta));
    EXPECT_EQ(Take(), (std::vector<Seen>{{1028, wheel.notches, 0, x + 10, y, true}})) << "delta " << wheel.delta;
  }

  // Leaving: the leave's position is relative to the window left. The window system notices the
  // pointer has gone on a timer of its own.
  MoveTo(kWindowX + kWidth + 30, kWindowY + 5);
  std::vector<Seen> left;
  for (int i = 0; i < 100 && (left.empty() || left.back().id != 1030); ++i) {
    std::vector<Seen> more = Take();
    left.insert(left.end(), more.begin(), more.end());
  }
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(left.back(), (Seen{1030, 0, 0, kWidth + 30, 5, true}));
  for (const Seen& seen : left) EXPECT_NE(seen.id, 1029);
}

bool PointerShowing() {
  CURSORINFO info{};
  info.cbSize = sizeof info;
  return GetCursorInfo(&info) && (info.flags & CURSOR_SHOWING) != 0;
}

TEST_F(Win32Input, HiddenPointerHidesOnlyOverTheWindowAndShowsWhenItCloses) {
  HidePointer();
  EXPECT_TRUE(PointerShowing());
  MoveTo(kWindowX + 20, kWindowY + 20);
  Take();
  EXPECT_FALSE(PointerShowing());
  DestroyWindow(window_);
  windows_.clear();
  EXPECT_TRUE(PointerShowing());
  ShowPointer();
  EXPECT_TRUE(PointerShowing());
}

TEST_F(Win32Input, CloseRequestsAndActivationWithinTheProgram) {
  SendMessageW(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(Take(), (std::vector<Seen>{{259, 0, 0, 0, 0, true}}));
  // The window stays: the translator never closes it.
  EXPECT_TRUE(IsWindow(window_));

  // Activation moving between two windows of the program is no suspend or resume.
  HWND second = Open(kWindowX + kWidth + 20, kWindowY);
  ASSERT_NE(second, nullptr);
  SetForegroundWindow(window_);
  SetForegroundWindow(second);
  for (const Seen& seen : Take()) {
    EXPECT_NE(seen.id, 257);
    EXPECT_NE(seen.id, 258);
  }

  // Another process's window in lParam (none exists here: the desktop's), and none at all.
  HWND desktop = GetDesktopWindow();
  DWORD desktopProcess = 0;
  GetWindowThreadProcessId(desktop, &desktopProcess);
  if (desktopProcess != GetCurrentProcessId()) {
    win32::TranslateWindowMessage(second, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(desktop), windowSource);
    win32::TranslateWindowMessage(second, WM_ACTIVATE, WA_ACTIVE, 0, windowSource);
    EXPECT_EQ(recorder_->Events(), (std::vector<Seen>{{257, 0, 0, 0, 0, true}, {258, 0, 0, 0, 0, true}}));
    recorder_->Clear();
  }
}

}  // namespace
}  // namespace kiln
