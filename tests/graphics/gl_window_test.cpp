// The GL driver's windows and contexts on a real X server with Mesa's software GL.
// GoogleTest comes before the X headers, whose macros (None, Bool, Status) clash with its names.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "runtime/core/runtime.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/gl_graphics.h"
#include "runtime/graphics/frame_pacing.h"
#include "runtime/graphics/internal/glx_layer.h"
#include "runtime/system/x11/x11.h"
#include "tests/graphics/fake_clock.h"
#include "runtime/stream/resources.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"
#include "tests/support/child_process.h"
#include "tests/support/test_display.h"

namespace kiln {
namespace {

Display* TheDisplay() { return x11::SystemDisplay(); }

Window WindowOf(const Ref<TGraphics>& g) {
  Ref<TGLGraphics> gl = RefCast<TGLGraphics>(g);
  return gl ? static_cast<Window>(GLContextWindow(gl->_context)) : 0;
}

bool WindowExists(Window window) {
  XWindowAttributes attributes;
  x11::XErrorTrap trap(TheDisplay());
  Status ok = XGetWindowAttributes(TheDisplay(), window, &attributes);
  return !trap.Failed() && ok != 0;
}

int RootChildCount() {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  XQueryTree(TheDisplay(), DefaultRootWindow(TheDisplay()), &root, &parent, &children, &count);
  if (children != nullptr) XFree(children);
  return static_cast<int>(count);
}

std::string TextProperty(Window window, const char* name) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(TheDisplay(), window, XInternAtom(TheDisplay(), name, False), 0, 1024, False,
                     AnyPropertyType, &type, &format, &count, &after, &data);
  std::string value = data != nullptr ? std::string(reinterpret_cast<char*>(data), count) : "";
  if (data != nullptr) XFree(data);
  return value;
}

// The pixel at (x, y) from the top left, as 0xRRGGBB, read back from the X server's image.
unsigned long ServerPixel(Window window, int x, int y) {
  XImage* image = XGetImage(TheDisplay(), window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0ul;
  unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFFul;
  XDestroyImage(image);
  return pixel;
}

// The pixel at (x, y) from the bottom left of the back buffer, as 0xRRGGBB.
unsigned long GLPixel(int x, int y) {
  unsigned char rgba[4] = {0, 0, 0, 0};
  glReadBuffer(GL_BACK);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return (static_cast<unsigned long>(rgba[0]) << 16) | (rgba[1] << 8) | rgba[2];
}

void PumpFor(int rounds) {
  for (int i = 0; i < rounds; ++i) {
    XSync(TheDisplay(), False);
    PumpSystemEvents();
    usleep(10 * 1000);
  }
}

class GLWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(test::EnsureDisplay());
    InitGLGraphicsModule();
  }
  void SetUp() override {
    ASSERT_NE(TheDisplay(), nullptr);
    InstallGraphicsDriver(TheGLGraphicsDriver(), BackBufferFlag);
  }
  void TearDown() override { CloseGraphicsWindow(); }
};

TEST_F(GLWindow, DesktopWindowIsCentredFixedSizeAndCaptioned) {
  Text savedTitle = ApplicationTitle();
  Text title = Text(u"Zunto Patcher v1.3 \u00FC\u2014");
  SetApplicationTitle(title);
  Ref<TGraphics> g = OpenGraphicsWindow(640, 480, 0, 60, 0);
  SetApplicationTitle(savedTitle);
  ASSERT_TRUE(g);
  Window window = WindowOf(g);
  ASSERT_NE(window, 0u);

  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(TheDisplay(), window, &attributes));
  EXPECT_EQ(attributes.width, 640);
  EXPECT_EQ(attributes.height, 480);
  EXPECT_EQ(attributes.map_state, IsViewable);
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(TheDisplay(), window, DefaultRootWindow(TheDisplay()), 0, 0, &x, &y, &child);
  int screen = DefaultScreen(TheDisplay());
  EXPECT_EQ(x, DisplayWidth(TheDisplay(), screen) / 2 - 320);
  EXPECT_EQ(y, DisplayHeight(TheDisplay(), screen) / 2 - 240);
  EXPECT_EQ(CurrentGraphicsWidth(), 640);
  EXPECT_EQ(CurrentGraphicsHeight(), 480);
  EXPECT_EQ(CurrentGraphicsHertz(), 60);
  EXPECT_EQ(CurrentGraphicsFlags(), BackBufferFlag);

  XSizeHints hints{};
  long supplied = 0;
  ASSERT_TRUE(XGetWMNormalHints(TheDisplay(), window, &hints, &supplied));
  EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
  EXPECT_EQ(hints.min_width, 640);
  EXPECT_EQ(hints.max_width, 640);
  EXPECT_EQ(hints.min_height, 480);
  EXPECT_EQ(hints.max_height, 480);
  // The window manager offers move, minimise and close, but neither resize (2) nor maximise (16).
  Atom motif = XInternAtom(TheDisplay(), "_MOTIF_WM_HINTS", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(TheDisplay(), window, motif, 0, 5, False, motif, &type, &format, &count, &after, &data);
  ASSERT_EQ(count, 5u);
  long functions = reinterpret_cast<long*>(data)[1];
  XFree(data);
  EXPECT_EQ(functions & (2 | 16), 0);
  EXPECT_NE(functions & 8, 0);

  EXPECT_EQ(TextProperty(window, "_NET_WM_NAME"), title.ToUtf8());
  EXPECT_EQ(TextProperty(window, "WM_NAME"), std::string("Zunto Patcher v1.3 \xFC?"));
}

TEST_F(GLWindow, SwapIntervalFollowsTheSyncArgument) {
  ASSERT_TRUE(OpenGraphicsWindow(320, 240, 0, 60, 0));
  PresentFrame(1);
  EXPECT_EQ(GLLastSwapInterval(), 1);
  PresentFrame(-1);  // the paced window swaps without waiting for the display
  EXPECT_EQ(GLLastSwapInterval(), 0);
  PresentFrame(7);
  EXPECT_EQ(GLLastSwapInterval(), 1);
}

TEST_F(GLWindow, SecondOpenClosesTheFirstWindow) {
  Ref<TGraphics> first = OpenGraphicsWindow(640, 480, 0, 60, 0);
  ASSERT_TRUE(first);
  Window firstWindow = WindowOf(first);
  int firstContext = RefCast<TGLGraphics>(first)->_context;
  Ref<TGraphics> second = OpenGraphicsWindow(400, 300, 0, 0, 0);
  ASSERT_TRUE(second);
  EXPECT_EQ(RefCast<TGLGraphics>(first)->_context, 0);
  EXPECT_FALSE(WindowExists(firstWindow));
  EXPECT_EQ(GLContextWindow(firstContext), 0);
  EXPECT_TRUE(WindowExists(WindowOf(second)));
  EXPECT_EQ(GLCurrentContext(), RefCast<TGLGraphics>(second)->_context);
  EXPECT_EQ(CurrentGraphicsWidth(), 400);
}

TEST_F(GLWindow, DisplayModesIncludeTheScreenAndNothingBelowSixteenBits) {
  EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);
  std::vector<Ref<TGraphicsMode>> modes = ListGraphicsModes();
  ASSERT_FALSE(modes.empty());
  int screen = DefaultScreen(TheDisplay());
  bool screenListed = false;
  for (const auto& m : modes) {
    EXPECT_GE(m->depth, 16) << m->ToString().ToLatin1();
    if (m->width == DisplayWidth(TheDisplay(), screen) && m->height == DisplayHeight(TheDisplay(), screen)) {
      screenListed = true;
    }
  }
  EXPECT_TRUE(screenListed);
}

TEST_F(GLWindow, ClearedColourIsWhatGLAndTheServerShow) {
  Ref<TGraphics> g = OpenGraphicsWindow(640, 480, 0, 0, 0);
  ASSERT_TRUE(g);
  Window window = WindowOf(g);
  struct Colour {
    float r, g, b;
    unsigned long rgb;
  };
  for (Colour c : {Colour{0.2f, 0.4f, 0.6f, 0x336699}, Colour{1.0f, 0.0f, 0.5f, 0xFF0080}}) {
    glClearColor(c.r, c.g, c.b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(GLPixel(5, 5), c.rgb) << std::hex << c.rgb;
    EXPECT_EQ(GLPixel(634, 474), c.rgb) << std::hex << c.rgb;
    PresentFrame(0);
    glFinish();
    XSync(TheDisplay(), False);
    EXPECT_EQ(ServerPixel(window, 5, 5), c.rgb) << std::hex << c.rgb;
    EXPECT_EQ(ServerPixel(window, 634, 474), c.rgb) << std::hex << c.rgb;
  }
}

TEST_F(GLWindow, CloseRequestLeavesTheWindowOpen) {
  Ref<TGraphics> g = OpenGraphicsWindow(320, 200, 0, 60, 0);
  ASSERT_TRUE(g);
  Window window = WindowOf(g);
  TakeTerminateRequest();
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(TheDisplay(), "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(TheDisplay(), "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(TheDisplay(), window, False, NoEventMask, &event);
  PumpFor(3);
  EXPECT_EQ(TakeTerminateRequest(), 1);
  EXPECT_TRUE(WindowExists(window));
  EXPECT_TRUE(WindowGraphics() == g);
}

int ServerScreenSaverTimeout() {
  int timeout = 0, interval = 0, blanking = 0, exposures = 0;
  XGetScreenSaver(TheDisplay(), &timeout, &interval, &blanking, &exposures);
  return timeout;
}

// Whether the server's screen saver came on after `millis` without input, as the window layer saw it.
bool SaverComesOnWithin(int millis) {
  XForceScreenSaver(TheDisplay(), ScreenSaverReset);
  for (int waited = 0; waited < millis; waited += 100) PumpFor(10);
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  XScreenSaverQueryInfo(TheDisplay(), DefaultRootWindow(TheDisplay()), info);
  bool on = info->state == ScreenSaverOn;
  XFree(info);
  XForceScreenSaver(TheDisplay(), ScreenSaverReset);
  return on;
}

// Without a window manager nothing may ever give the window the focus, while keys still reach it
// under the pointer: the saver is held while the window is shown, whatever has the focus.
TEST_F(GLWindow, ShownWindowHoldsOffTheScreenSaverWhateverHasTheFocus) {
  XSetInputFocus(TheDisplay(), PointerRoot, RevertToPointerRoot, CurrentTime);
  XSetScreenSaver(TheDisplay(), 1, 1, DefaultBlanking, DefaultExposures);
  Ref<TGraphics> g = OpenGraphicsWindow(320, 200, 0, 0, 0);
  ASSERT_TRUE(g);
  Window window = WindowOf(g);
  EXPECT_FALSE(SaverComesOnWithin(1600));
  struct Step {
    const char* what;
    void (*act)(Window);
    bool held;
  } steps[] = {
      {"focus on the root",
       [](Window) { XSetInputFocus(TheDisplay(), DefaultRootWindow(TheDisplay()), RevertToParent, CurrentTime); },
       true},
      {"focus on the window", [](Window w) { XSetInputFocus(TheDisplay(), w, RevertToParent, CurrentTime); }, true},
      {"hidden", [](Window w) { XUnmapWindow(TheDisplay(), w); }, false},
      {"shown again", [](Window w) { XMapWindow(TheDisplay(), w); }, true},
      {"closed", [](Window) { CloseGraphicsWindow(); }, false},
  };
  for (const Step& step : steps) {
    step.act(window);
    PumpFor(3);
    EXPECT_EQ(x11::ScreenSaverHeld(), step.held) << step.what;
  }
  EXPECT_TRUE(SaverComesOnWithin(1600));
  XSetScreenSaver(TheDisplay(), 600, 600, DefaultBlanking, DefaultExposures);
  XSetInputFocus(TheDisplay(), PointerRoot, RevertToPointerRoot, CurrentTime);
}

// The hold is the client's own suspension: the server's settings stay as they are, and a process
// that is killed while holding leaves nothing behind.
TEST_F(GLWindow, ScreenSaverHoldLeavesTheServerSettingsAlone) {
  XSetScreenSaver(TheDisplay(), 600, 600, DefaultBlanking, DefaultExposures);
  ASSERT_TRUE(OpenGraphicsWindow(320, 200, 0, 0, 0));
  PumpFor(3);
  EXPECT_TRUE(x11::ScreenSaverHeld());
  EXPECT_EQ(ServerScreenSaverTimeout(), 600);
  CloseGraphicsWindow();

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  std::unique_ptr<test::ChildProcess> child = test::ChildProcess::Fork([&] {
    Display* own = XOpenDisplay(nullptr);
    if (own != nullptr) {
      x11::HoldScreenSaver(own);
      XSync(own, False);
    }
    char byte = 1;
    ssize_t written = write(ready[1], &byte, 1);
    (void)written;
    pause();
    return 0;
  });
  close(ready[1]);
  char byte = 0;
  EXPECT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  child->Kill();
  EXPECT_EQ(ServerScreenSaverTimeout(), 600);
}

// A window that opens under the pointer knows the pointer's place at once, before it moves.
TEST_F(GLWindow, PointerPositionIsKnownRightAfterOpening) {
  Display* d = TheDisplay();
  int screen = DefaultScreen(d);
  int left = DisplayWidth(d, screen) / 2 - 320, top = DisplayHeight(d, screen) / 2 - 240;
  for (int x : {123, 456}) {
    XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, left + x, top + 45);
    XSync(d, False);
    ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 60, 0));
    EXPECT_EQ(PointerX(), x);
    EXPECT_EQ(PointerY(), 45);
    CloseGraphicsWindow();
    XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, 5, 5);
    PumpFor(2);
  }
}

TEST_F(GLWindow, FullScreenInTheCurrentModeOpensAndRetriesWithoutARefusedRate) {
  int screen = DefaultScreen(TheDisplay());
  int w = DisplayWidth(TheDisplay(), screen);
  int h = DisplayHeight(TheDisplay(), screen);
  for (int hertz : {0, 1234}) {
    SCOPED_TRACE(hertz);
    Ref<TGraphics> g = OpenGraphicsWindow(w, h, 32, hertz, 0);
    ASSERT_TRUE(g);
    Window window = WindowOf(g);
    int x = -1, y = -1;
    Window child = 0;
    XTranslateCoordinates(TheDisplay(), window, DefaultRootWindow(TheDisplay()), 0, 0, &x, &y, &child);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(CurrentGraphicsDepth(), 32);
    CloseGraphicsWindow();
    EXPECT_FALSE(WindowExists(window));
  }
  PumpFor(2);
  EXPECT_EQ(DisplayWidth(TheDisplay(), screen), w);
}

TEST_F(GLWindow, FullScreenGivesUpTheDisplayModeOnFocusLossAndTakesItBack) {
  int screen = DefaultScreen(TheDisplay());
  Ref<TGraphics> g = OpenGraphicsWindow(DisplayWidth(TheDisplay(), screen),
                                        DisplayHeight(TheDisplay(), screen), 32, 0, 0);
  ASSERT_TRUE(g);
  Window window = WindowOf(g);
  EXPECT_EQ(x11::DisplayModeOwner(), window);
  XSetInputFocus(TheDisplay(), DefaultRootWindow(TheDisplay()), RevertToParent, CurrentTime);
  PumpFor(3);
  EXPECT_EQ(x11::DisplayModeOwner(), 0u);
  XSetInputFocus(TheDisplay(), window, RevertToParent, CurrentTime);
  PumpFor(3);
  EXPECT_EQ(x11::DisplayModeOwner(), window);
  CloseGraphicsWindow();
  EXPECT_EQ(x11::DisplayModeOwner(), 0u);
  XSetInputFocus(TheDisplay(), PointerRoot, RevertToPointerRoot, CurrentTime);
}

TEST_F(GLWindow, PacedWindowPresentsSixtyFramesPerSecondOfTheClock) {
  test::ResetFakeClock(123);
  SetWindowPacingClock(test::FakePacingClock());
  Ref<TGraphics> g = OpenGraphicsWindow(640, 480, 0, 60, 0);
  SetWindowPacingClock(SystemPacingClock());
  ASSERT_TRUE(g);
  for (int i = 0; i < 120; ++i) PresentFrame(-1);
  EXPECT_EQ(test::FakeClock().now, 123u + 2000u);
  EXPECT_EQ(test::FakeClock().sleeps.size(), 120u);
  EXPECT_EQ(GLLastSwapInterval(), 0);
}

TEST_F(GLWindow, RefusedDisplayModeThrowsAndLeavesNoWindow) {
  int before = RootChildCount();
  struct Case {
    int w, h, depth, hertz;
  };
  for (Case c : {Case{800, 600, 32, 0}, Case{800, 600, 32, 60}, Case{1280, 1024, 8, 0}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.depth);
    try {
      int handle = GLCreateContext(c.w, c.h, c.depth, c.hertz, BackBufferFlag);
      ADD_FAILURE() << "no error, handle " << handle;
      GLCloseContext(handle);
    } catch (const Text& error) {
      EXPECT_EQ(error, Text("GLGraphicsDriver failed to set display mode"));
    }
    EXPECT_EQ(RootChildCount(), before);
    EXPECT_FALSE(OpenGraphicsWindow(c.w, c.h, c.depth, c.hertz, 0));
    EXPECT_EQ(RootChildCount(), before);
  }
}

TEST_F(GLWindow, ImpossibleWindowsYieldNoContext) {
  // X window sizes are 16-bit: 65536 would reach the server as 0, a protocol error that ends the
  // process unless the window layer refuses it first.
  for (int size : {0, -5, 65536, 70000}) {
    EXPECT_FALSE(OpenGraphicsContext(size, 100, 0, 0, 0)) << size;
    EXPECT_FALSE(OpenGraphicsContext(100, size, 0, 0, 0)) << size;
  }
  // A context whose Close ran once closes nothing the second time.
  Ref<TGraphics> g = OpenGraphicsContext(64, 64, 0, 0, 0);
  ASSERT_TRUE(g);
  g->Close();
  g->Close();
  int w = -1, h = -1, d = -1, hz = -1, f = -1;
  g->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(w, 0);
  SelectGraphicsContext(g);
  PresentFrame(-1);  // no context current: nothing happens
  EXPECT_EQ(GLCurrentContext(), 0);
}

class ForeignWindow {
 public:
  explicit ForeignWindow(int width, int height) {
    Display* display = TheDisplay();
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 1, GLX_GREEN_SIZE, 1, GLX_BLUE_SIZE, 1, None};
    visual_ = glXChooseVisual(display, DefaultScreen(display), attributes);
    XSetWindowAttributes set{};
    colormap_ = XCreateColormap(display, DefaultRootWindow(display), visual_->visual, AllocNone);
    set.colormap = colormap_;
    window = XCreateWindow(display, DefaultRootWindow(display), 10, 10, width, height, 0, visual_->depth,
                           InputOutput, visual_->visual, CWColormap, &set);
    XMapWindow(display, window);
    XSync(display, False);
  }
  ~ForeignWindow() {
    XDestroyWindow(TheDisplay(), window);
    XFreeColormap(TheDisplay(), colormap_);
    XFree(visual_);
    XSync(TheDisplay(), False);
  }
  Window window = 0;

 private:
  XVisualInfo* visual_ = nullptr;
  Colormap colormap_ = 0;
};

TEST_F(GLWindow, AttachedContextDrawsIntoAForeignWindowAndFollowsItsSize) {
  ForeignWindow foreign(200, 100);
  Ref<TGraphics> g = AttachGraphicsContext(static_cast<intptr_t>(foreign.window), 0);
  ASSERT_TRUE(g);
  int w = 0, h = 0, d = -1, hz = -1, f = 0;
  g->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 100);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(hz, 0);
  EXPECT_EQ(f, BackBufferFlag);
  XResizeWindow(TheDisplay(), foreign.window, 260, 150);
  XSync(TheDisplay(), False);
  g->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(w, 260);
  EXPECT_EQ(h, 150);

  SelectGraphicsContext(g);
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  PresentFrame(-1);
  glFinish();
  XSync(TheDisplay(), False);
  EXPECT_EQ(ServerPixel(foreign.window, 3, 3), 0x00FF00ul);
  CloseGraphicsContext(g);
  EXPECT_TRUE(WindowExists(foreign.window));  // the window is not ours to destroy
}

TEST_F(GLWindow, AttachedContextSurvivesItsWindowBeingDestroyed) {
  Ref<TGraphics> g;
  {
    ForeignWindow foreign(120, 80);
    g = AttachGraphicsContext(static_cast<intptr_t>(foreign.window), 0);
    ASSERT_TRUE(g);
    SelectGraphicsContext(g);
    PresentFrame(-1);
  }
  // The owner destroyed the window: presenting, drawing and querying must not end the process.
  PresentFrame(-1);
  glClear(GL_COLOR_BUFFER_BIT);
  PresentFrame(0);
  glFinish();
  XSync(TheDisplay(), False);
  int w = 0, h = 0, d = 0, hz = 0, f = 0;
  g->GetSettings(w, h, d, hz, f);
  CloseGraphicsContext(g);
  EXPECT_EQ(GLCurrentContext(), 0);
}

// Another client (a desktop tool, a crashed window manager) may destroy the window at any moment.
// Run in a child: the X error that used to follow ends the process, and the exit handlers must
// close the dead window too. Exit code 0 only when the destruction came as one close request.
void PresentIntoAWindowAnotherClientDestroys() {
  Ref<TGraphics> g = OpenGraphicsWindow(320, 200, 0, 0, 0);
  if (!g) std::_Exit(3);
  Window window = WindowOf(g);
  PresentFrame(0);
  TakeTerminateRequest();
  Display* other = XOpenDisplay(nullptr);
  XDestroyWindow(other, window);
  XCloseDisplay(other);
  // The first frames go out before the destruction has been seen.
  for (int i = 0; i < 3; ++i) {
    glClear(GL_COLOR_BUFFER_BIT);
    PresentFrame(0);
  }
  XSync(TheDisplay(), False);
  if (TakeTerminateRequest() != 1) std::_Exit(4);
  PresentFrame(0);
  glFinish();
  XSync(TheDisplay(), False);
  if (TakeTerminateRequest() != 0) std::_Exit(5);
  std::exit(0);
}

TEST_F(GLWindow, WindowDestroyedByAnotherClientIsACloseRequest) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(PresentIntoAWindowAnotherClientDestroys(), testing::ExitedWithCode(0), "")
      << "3: no window, 4: no close request, 5: more than one";
}

TEST_F(GLWindow, ModuleRegistersItsDebugTextFont) {
  const unsigned char* font = EmbeddedResourcePointer("gldrawtextfont.bin");
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(EmbeddedResourceSize("gldrawtextfont.bin"), 1536);
  auto glyphBits = [font](char c) {
    int bits = 0;
    for (int row = 0; row < 16; ++row) bits += __builtin_popcount(font[(c - 32) * 16 + row]);
    return bits;
  };
  EXPECT_EQ(glyphBits(' '), 0);
  EXPECT_GT(glyphBits('A'), 0);
  EXPECT_NE(glyphBits('O'), glyphBits('I'));
}

TEST_F(GLWindow, AttachingToAMissingWindowYieldsNoContext) {
  EXPECT_FALSE(AttachGraphicsContext(0, 0));
  EXPECT_FALSE(AttachGraphicsContext(0x3FFFFFF, 0));
}

// The child half of ClosingAtExitReleasesContextAndWindow: runs only when started by it.
Window exitChildWindow = 0;

// Exit code 42 when the window was closed at exit, so a child that never got here cannot pass.
void CheckAfterWindowClosed() {
  int code = 42;
  if (WindowGraphics()) code = 3;
  else if (GLCurrentContext() != 0) code = 4;
  else if (WindowExists(exitChildWindow)) code = 5;
  std::_Exit(code);
}

TEST(GLWindowExitChild, OpensPresentsAndExits) {
  if (std::getenv("KILN_GL_EXIT_CHILD") == nullptr) GTEST_SKIP() << "started by the exit test";
  ASSERT_TRUE(test::EnsureDisplay());
  InitGLGraphicsModule();
  AddExitHandler(&CheckAfterWindowClosed);  // runs after the graphics module's own handler
  if (!(InstalledGraphicsDriver() == TheGLGraphicsDriver()) || InstalledDriverFlags() != BackBufferFlag) {
    std::_Exit(9);
  }
  if (GLLastSwapInterval() != -1) std::_Exit(6);
  Ref<TGraphics> g = OpenGraphicsWindow(640, 480, 0, 60, 0);
  if (!g) std::_Exit(7);
  exitChildWindow = WindowOf(g);
  PresentFrame(-1);
  if (GLLastSwapInterval() != 0) std::_Exit(8);
  g = nullptr;
  std::exit(0);
}

TEST_F(GLWindow, ClosingAtExitReleasesContextAndWindow) {
  char self[4096] = {0};
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  test::ChildResult child = test::RunProgram({self, "--gtest_filter=GLWindowExitChild.OpensPresentsAndExits"},
                                             {.environment = {{"KILN_GL_EXIT_CHILD", "1"}}}, 300000);
  ASSERT_EQ(child.signal, 0);
  EXPECT_EQ(child.exitCode, 42) << "3: window still set, 4: context current, 5: window exists, "
                                   "6/8: swap interval, 7: no window, 9: GL driver not installed";
}

}  // namespace
}  // namespace kiln
