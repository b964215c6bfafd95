// The GL driver's windows and contexts on Win32/WGL, run under Wine with Mesa's software GL.
#include <gtest/gtest.h>

#include <windows.h>

#include <GL/gl.h>

#include <string>
#include <vector>

#include "runtime/core/runtime.h"
#include "runtime/graphics/gl_graphics.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/wgl_layer.h"
#include "runtime/system/events.h"
#include "runtime/system/hooks.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

struct SeenEvent {
  int id, data;
};

std::vector<SeenEvent>& Seen() {
  static std::vector<SeenEvent> seen;
  return seen;
}

Ref<TObject> RecordEvent(int, const Ref<TObject>& data, const Ref<TObject>&) {
  if (Ref<TEvent> event = RefCast<TEvent>(data)) Seen().push_back({event->id, event->data});
  return data;
}

// Position of the first such event among those seen, -1 when none came.
int EventIndex(int id, int data = 0) {
  for (size_t i = 0; i < Seen().size(); ++i) {
    if (Seen()[i].id == id && Seen()[i].data == data) return static_cast<int>(i);
  }
  return -1;
}

HWND WindowOf(const Ref<TGraphics>& g) {
  Ref<TGLGraphics> gl = RefCast<TGLGraphics>(g);
  return gl ? reinterpret_cast<HWND>(GLContextWindow(gl->_context)) : nullptr;
}

// Whether the current context's swap interval is `interval`; true when the display cannot say.
bool DisplaySwapIntervalIs(int interval) {
  using GetSwapInterval = int(WINAPI*)();
  auto get = reinterpret_cast<GetSwapInterval>(
      reinterpret_cast<void*>(wglGetProcAddress("wglGetSwapIntervalEXT")));
  return get == nullptr || get() == interval;
}

// left, top, right, bottom
std::vector<LONG> WindowRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
std::vector<LONG> WindowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return WindowRect(r);
}

void PumpFor(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    PumpSystemEvents();
    Sleep(10);
  }
}

// Whether this thread has a window of the context window class left.
bool ContextWindowLeft() {
  HWND window = FindWindowW(L"Kilnworks GLGraphics", nullptr);
  return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

class GLWindowWin32 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitGLGraphicsModule();
    InsertHook(EventHookId(), &RecordEvent, nullptr, 100);
  }
  static void TearDownTestSuite() { DeleteHook(EventHookId(), &RecordEvent, nullptr); }
  void SetUp() override {
    InstallGraphicsDriver(TheGLGraphicsDriver(), BackBufferFlag);
    Seen().clear();
  }
  void TearDown() override { CloseGraphicsWindow(); }
};

TEST_F(GLWindowWin32, StatusWindowOpensPresentsAndRefusesToClose) {
  Text savedTitle = ApplicationTitle();
  Text title = Text(u"Zunto Patcher v1.3 \u00FC\u20AC");
  SetApplicationTitle(title);
  Ref<TGraphics> g = OpenGraphicsWindow(640, 480, 0, 60, 0);
  SetApplicationTitle(savedTitle);
  ASSERT_TRUE(g);
  HWND window = WindowOf(g);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindowVisible(window));

  wchar_t text[128] = {};
  GetClassNameW(window, text, 128);
  EXPECT_EQ(std::wstring(text), L"Kilnworks GLGraphics");
  GetWindowTextW(window, text, 128);
  EXPECT_EQ(std::wstring(text), L"Zunto Patcher v1.3 \u00FC\u20AC");

  // Exact client area, centred on the desktop, fixed size: a caption, no frame to drag, no maximise.
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);
  LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  RECT desktop{};
  GetWindowRect(GetDesktopWindow(), &desktop);
  RECT expected{desktop.right / 2 - 320, desktop.bottom / 2 - 240, 0, 0};
  expected.right = expected.left + 640;
  expected.bottom = expected.top + 480;
  AdjustWindowRectEx(&expected, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, 0);
  EXPECT_EQ(WindowRect(window), WindowRect(expected));
  EXPECT_EQ(CurrentGraphicsWidth(), 640);
  EXPECT_EQ(CurrentGraphicsHeight(), 480);

  // The cleared colour is in the back buffer, and after the swap in the window. The paced window
  // swaps without waiting for the display from the first present on; other sync values reach the
  // display's interval.
  glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  unsigned char rgba[4] = {};
  glReadPixels(634, 474, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  EXPECT_EQ(RGB(rgba[0], rgba[1], rgba[2]), RGB(0x33, 0x66, 0x99));
  PresentFrame(-1);
  EXPECT_EQ(GLLastSwapInterval(), 0);
  EXPECT_TRUE(DisplaySwapIntervalIs(0));
  glFinish();
  HDC dc = GetDC(window);
  EXPECT_EQ(GetPixel(dc, 5, 5), RGB(0x33, 0x66, 0x99));
  EXPECT_EQ(GetPixel(dc, 634, 474), RGB(0x33, 0x66, 0x99));
  ReleaseDC(window, dc);
  PresentFrame(1);
  EXPECT_EQ(GLLastSwapInterval(), 1);
  EXPECT_TRUE(DisplaySwapIntervalIs(1));
  PresentFrame(-1);
  EXPECT_EQ(GLLastSwapInterval(), 0);
  EXPECT_TRUE(DisplaySwapIntervalIs(0));

  // A close request is an event; the window stays.
  TakeTerminateRequest();
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_GE(EventIndex(kEventAppTerminate), 0);
  EXPECT_EQ(TakeTerminateRequest(), 1);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(WindowGraphics() == g);

  // The screen saver and monitor power-off are refused, whatever the system's low command bits.
  for (WPARAM command : {SC_SCREENSAVE, SC_MONITORPOWER, SC_SCREENSAVE | 2}) {
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, command, 2), 1) << std::hex << command;
  }

  CloseGraphicsWindow();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(GLCurrentContext(), 0);
}

TEST_F(GLWindowWin32, AltF4IsAKeyThenACloseRequest) {
  Ref<TGraphics> g = OpenGraphicsWindow(320, 240, 0, 0, 0);
  ASSERT_TRUE(g);
  HWND window = WindowOf(g);
  SetForegroundWindow(window);
  SetFocus(window);
  PumpFor(5);
  ASSERT_EQ(GetForegroundWindow(), window);
  Seen().clear();
  INPUT keys[4] = {};
  WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
  }
  ASSERT_EQ(SendInput(4, keys, sizeof(INPUT)), 4u);
  PumpFor(20);
  int key = EventIndex(kEventKeyDown, VK_F4);
  int close = EventIndex(kEventAppTerminate);
  EXPECT_GE(key, 0) << "no key-down of F4";
  EXPECT_GT(close, key) << "no close request after the key";
  EXPECT_TRUE(IsWindow(window));
}

int closingContext = 0;
int otherContext = 0;
int closingSelections = 0;

Ref<TObject> SelectClosingContext(int, const Ref<TObject>& data, const Ref<TObject>&) {
  Ref<TEvent> event = RefCast<TEvent>(data);
  if (event && event->id == kEventAppSuspend && closingContext != 0) {
    ++closingSelections;
    GLMakeCurrent(otherContext);
    GLMakeCurrent(closingContext);
  }
  return data;
}

// The end of the active window deactivates the program while the context closes; a hook that
// selects another context and then that one leaves none current, not the closed one.
TEST_F(GLWindowWin32, AContextSelectedWhileItClosesIsNotLeftCurrent) {
  otherContext = GLCreateContext(64, 64, 0, 0, BackBufferFlag);
  int handle = GLCreateContext(320, 240, 0, 0, BackBufferFlag);
  ASSERT_NE(otherContext, 0);
  ASSERT_NE(handle, 0);
  // Hidden, so that the activation leaves the program.
  ShowWindow(reinterpret_cast<HWND>(GLContextWindow(otherContext)), SW_HIDE);
  HWND window = reinterpret_cast<HWND>(GLContextWindow(handle));
  SetForegroundWindow(window);
  SetFocus(window);
  PumpFor(5);
  ASSERT_EQ(GetForegroundWindow(), window);
  GLMakeCurrent(handle);
  closingContext = handle;
  closingSelections = 0;
  InsertHook(EventHookId(), &SelectClosingContext, nullptr, 50);
  GLCloseContext(handle);
  DeleteHook(EventHookId(), &SelectClosingContext, nullptr);
  closingContext = 0;
  EXPECT_GT(closingSelections, 0) << "no deactivation while the window ended";
  EXPECT_EQ(GLCurrentContext(), 0);
  EXPECT_FALSE(IsWindow(window));
  GLCloseContext(otherContext);
}

// Full screen in the display's own size (Wine on Xvfb offers no other, at any rate); a refused mode
// throws from the create and leaves no window behind. The mode list holds Wine's 8-bit mode too.
TEST_F(GLWindowWin32, FullScreenTakesTheDisplayModeAndRefusedModesLeaveNoWindow) {
  std::vector<Ref<TGraphicsMode>> modes = ListGraphicsModes();
  ASSERT_FALSE(modes.empty());
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);
  for (const auto& m : modes) EXPECT_GE(m->depth, 16) << m->ToString().ToLatin1();

  DEVMODEA desktop{};
  desktop.dmSize = sizeof desktop;
  ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &desktop));
  int w = static_cast<int>(desktop.dmPelsWidth), h = static_cast<int>(desktop.dmPelsHeight);
  int bits = static_cast<int>(desktop.dmBitsPerPel);
  Ref<TGraphics> g = OpenGraphicsWindow(w, h, bits, 1234, 0);
  ASSERT_TRUE(g);
  HWND window = WindowOf(g);
  EXPECT_EQ(WindowRect(window), WindowRect(RECT{0, 0, w, h}));
  EXPECT_EQ(CurrentGraphicsDepth(), bits);
  EXPECT_EQ(win32::DisplayModeOwner(), window);

  CloseGraphicsWindow();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(win32::DisplayModeOwner(), nullptr);

  ASSERT_FALSE(ContextWindowLeft());
  struct Case {
    int w, h, depth, hertz;
  };
  for (Case c : {Case{123, 45, 32, 0}, Case{123, 45, 32, 60}, Case{w, h, 5, 0}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.depth << " " << c.hertz);
    try {
      int handle = GLCreateContext(c.w, c.h, c.depth, c.hertz, BackBufferFlag);
      ADD_FAILURE() << "no error, handle " << handle;
      GLCloseContext(handle);
    } catch (const Text& error) {
      EXPECT_EQ(error, Text("GLGraphicsDriver failed to set display mode"));
    }
    EXPECT_FALSE(ContextWindowLeft());
    EXPECT_FALSE(OpenGraphicsWindow(c.w, c.h, c.depth, c.hertz, 0));
    EXPECT_FALSE(ContextWindowLeft());
  }
}

}  // namespace
}  // namespace kiln
