// Real X input through a program window: XTest injects, the event hook records what arrives.
// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/clock.h"
#include "runtime/system/events.h"
#include "runtime/system/hooks.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"
#include "runtime/system/x11/x11.h"
#include "tests/support/child_process.h"
#include "tests/support/event_recorder.h"
#include "tests/support/test_display.h"

namespace kiln {
namespace {

using Seen = test::SeenEvent;

Ref<TObject> recordSource;

constexpr int kWindowX = 100;
constexpr int kWindowY = 120;
constexpr int kWidth = 200;
constexpr int kHeight = 150;

// The test's own connection injects input, as another client would.
class Injector {
 public:
  Injector() : display_(XOpenDisplay(nullptr)) {}
  ~Injector() {
    if (display_ == nullptr) return;
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      XChangeKeyboardMapping(display_, it->code, static_cast<int>(it->syms.size()), it->syms.data(), 1);
    }
    XCloseDisplay(display_);
  }
  Injector(const Injector&) = delete;
  Injector& operator=(const Injector&) = delete;

  Display* display() const { return display_; }

  // The keycode of `keysym`, remapping a spare keycode when the keymap has none.
  KeyCode Code(KeySym keysym) {
    KeyCode code = XKeysymToKeycode(display_, keysym);
    if (code != 0) return code;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display_, &minCode, &maxCode);
    for (int candidate = maxCode; candidate >= minCode; --candidate) {
      int perCode = 0;
      KeySym* syms = XGetKeyboardMapping(display_, static_cast<KeyCode>(candidate), 1, &perCode);
      bool empty = true;
      for (int i = 0; i < perCode; ++i) empty = empty && syms[i] == NoSymbol;
      XFree(syms);
      if (!empty) continue;
      KeySym mapping[2] = {keysym, keysym};
      XChangeKeyboardMapping(display_, candidate, 2, mapping, 1);
      XSync(display_, False);
      SleepMillis(50);
      return static_cast<KeyCode>(candidate);
    }
    return 0;
  }
  // Gives the key with X keycode `code` the two symbols of another layout until the test ends.
  void Remap(KeyCode code, KeySym unshifted, KeySym shifted) {
    int perCode = 0;
    KeySym* syms = XGetKeyboardMapping(display_, code, 1, &perCode);
    saved_.push_back({code, std::vector<KeySym>(syms, syms + perCode)});
    XFree(syms);
    KeySym mapping[2] = {unshifted, shifted};
    XChangeKeyboardMapping(display_, code, 2, mapping, 1);
    XSync(display_, False);
  }
  void TapCode(KeyCode code) {
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
  }
  void Key(KeySym keysym, bool press) {
    XTestFakeKeyEvent(display_, Code(keysym), press ? True : False, CurrentTime);
    XSync(display_, False);
  }
  void Tap(KeySym keysym) {
    Key(keysym, true);
    Key(keysym, false);
  }
  void Button(unsigned int button, bool press) {
    XTestFakeButtonEvent(display_, button, press ? True : False, CurrentTime);
    XSync(display_, False);
  }
  void MoveTo(int x, int y) {
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    XSync(display_, False);
  }

 private:
  struct SavedMapping {
    KeyCode code;
    std::vector<KeySym> syms;
  };
  Display* display_;
  std::vector<SavedMapping> saved_;
};

class X11Input : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::EnsureDisplay()) GTEST_SKIP() << "no X server";
    InitSystemModule();
    display_ = x11::SystemDisplay();
    ASSERT_NE(display_, nullptr);
    injectorHolder_ = std::make_unique<Injector>();
    ASSERT_NE(injector().display(), nullptr);
    recordSource = MakeRef<TTextObject>(Text("window owner"));
    injector().MoveTo(5, 5);
    window_ = CreateWindow(kWindowX, kWindowY);
    x11::AttachProgramWindow(window_, recordSource, nullptr, 0);
    MapAndFocus(window_);
    recorder_ = std::make_unique<test::EventRecorder>(recordSource);
    Settle();
    recorder_->Clear();
  }
  Injector& injector() { return *injectorHolder_; }

  void TearDown() override {
    recorder_.reset();
    for (Window window : windows_) {
      x11::DetachProgramWindow(window);
      XDestroyWindow(display_, window);
    }
    if (display_ != nullptr) {
      XSetInputFocus(display_, PointerRoot, RevertToPointerRoot, CurrentTime);
      XSync(display_, False);
      PumpSystemEvents();
    }
  }

  Window CreateWindow(int x, int y) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = False;
    Window window = XCreateWindow(display_, DefaultRootWindow(display_), x, y, kWidth, kHeight, 0,
                                  CopyFromParent, InputOutput, CopyFromParent, 0, &attributes);
    windows_.push_back(window);
    return window;
  }

  void MapAndFocus(Window window) {
    XMapWindow(display_, window);
    XSync(display_, False);
    // Without a window manager the test hands out the focus itself, once the window is viewable.
    for (int i = 0; i < 200; ++i) {
      XWindowAttributes attributes;
      XGetWindowAttributes(display_, window, &attributes);
      if (attributes.map_state == IsViewable) break;
      SleepMillis(5);
    }
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
  }

  // Pumps until no event has arrived for a while.
  void Settle() { recorder_->Settle(8, [this] { XSync(display_, False); }); }
  std::vector<Seen> Take() { return recorder_->Take(8, [this] { XSync(display_, False); }); }

  Display* display_ = nullptr;
  // Made in SetUp, once the server runs.
  std::unique_ptr<Injector> injectorHolder_;
  Window window_ = None;
  std::unique_ptr<test::EventRecorder> recorder_;
  std::vector<Window> windows_;
};

TEST_F(X11Input, KeysGiveSidedCodesModifiersAndCharacters) {
  injector().Tap(XK_a);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 65, 0, 0, 0, true}, {515, 'a', 0, 0, 0, true}, {514, 65, 0, 0, 0, true}}));

  injector().Key(XK_Shift_L, true);
  injector().Tap(XK_a);
  injector().Key(XK_Shift_L, false);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 160, 1, 0, 0, true},
                                       {513, 65, 1, 0, 0, true},
                                       {515, 'A', 1, 0, 0, true},
                                       {514, 65, 1, 0, 0, true},
                                       {514, 160, 0, 0, 0, true}}));

  injector().Tap(XK_Shift_R);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 161, 1, 0, 0, true}, {514, 161, 0, 0, 0, true}}));

  KeySym rightAlt = XKeysymToKeycode(injector().display(), XK_Alt_R) != 0 ? XK_Alt_R : XK_ISO_Level3_Shift;
  injector().Tap(rightAlt);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 165, 4, 0, 0, true}, {514, 165, 0, 0, 0, true}}));

  injector().Tap(XK_Escape);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 27, 0, 0, 0, true}, {515, 27, 0, 0, 0, true}, {514, 27, 0, 0, 0, true}}));

  injector().Tap(XK_Left);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 37, 0, 0, 0, true}, {514, 37, 0, 0, 0, true}}));
}

TEST_F(X11Input, ControlCharactersAndKeysThatTypeNothing) {
  struct Case {
    KeySym keysym;
    int32_t vk;
    int32_t typed;  // 0: no character
  };
  const Case cases[] = {
      {XK_Return, 13, 13}, {XK_BackSpace, 8, 8}, {XK_Tab, 9, 9},   {XK_space, 32, 32}, {XK_5, 0x35, '5'},
      {XK_F1, 0x70, 0},    {XK_Down, 0x28, 0},   {XK_Delete, 0x2E, 0}, {XK_Home, 0x24, 0},
      // The extra key of 102-key keyboards ("<>" on German ones) has a code of its own.
      {XK_less, 0xE2, '<'},
  };
  for (const Case& c : cases) {
    injector().Tap(c.keysym);
    std::vector<Seen> expected{{513, c.vk, 0, 0, 0, true}};
    if (c.typed != 0) expected.push_back({515, c.typed, 0, 0, 0, true});
    expected.push_back({514, c.vk, 0, 0, 0, true});
    EXPECT_EQ(Take(), expected) << "keysym " << c.keysym;
  }
  injector().Key(XK_Control_L, true);
  injector().Tap(XK_c);
  injector().Key(XK_Control_L, false);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 162, 2, 0, 0, true},
                                       {513, 0x43, 2, 0, 0, true},
                                       {515, 3, 2, 0, 0, true},
                                       {514, 0x43, 2, 0, 0, true},
                                       {514, 162, 0, 0, 0, true}}));
}

// X keycodes are PC scan codes + 8; the layouts are set up by remapping single keys.
TEST_F(X11Input, EveryLayoutsKeysGiveTheCodesOfTheirLayoutOrPosition) {
  struct Case {
    int scanCode;
    KeySym unshifted, shifted;
    int32_t vk;
    std::u16string typed;
  };
  const Case cases[] = {
      {0x02, XK_ampersand, XK_1, '1', u"&"},        // French digit row
      {0x03, XK_eacute, XK_2, '2', u"\u00E9"},
      {0x04, XK_quotedbl, XK_3, '3', u"\""},
      // German "ö" alone in the US layout: the US key of its German code (0xC0) keeps that code, so
      // it takes the code of its own place.
      {0x27, XK_odiaeresis, XK_Odiaeresis, 0xBA, u"\u00F6"},
      {0x1A, XK_aring, XK_Aring, 0xDB, u"\u00E5"},             // Swedish, by position
      {0x1E, XK_Cyrillic_ef, XK_Cyrillic_EF, 'A', u"\u0444"},  // Russian, by position
      // Beyond the basic plane: two character events, as a Unicode window gets them.
      {0x2C, 0x0101D11E, 0x0101D11E, 'Z', u"\U0001D11E"},
  };
  for (const Case& c : cases) injector().Remap(static_cast<KeyCode>(c.scanCode + 8), c.unshifted, c.shifted);
  Take();
  for (const Case& c : cases) {
    injector().TapCode(static_cast<KeyCode>(c.scanCode + 8));
    std::vector<Seen> expected{{513, c.vk, 0, 0, 0, true}};
    for (char16_t unit : c.typed) expected.push_back({515, unit, 0, 0, 0, true});
    expected.push_back({514, c.vk, 0, 0, 0, true});
    EXPECT_EQ(Take(), expected) << "scan code " << c.scanCode;
  }
}

TEST_F(X11Input, AltF4RequestsTheWindowsClose) {
  injector().Key(XK_Alt_L, true);
  injector().Tap(XK_F4);
  injector().Key(XK_Alt_L, false);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 164, 4, 0, 0, true},
                                       {513, 115, 4, 0, 0, true},
                                       {259, 0, 4, 0, 0, true},
                                       {514, 115, 4, 0, 0, true},
                                       {514, 164, 0, 0, 0, true}}));
}

TEST_F(X11Input, KeypadGivesDigitCodesOnlyWithNumLock) {
  injector().Tap(XK_Num_Lock);
  injector().Tap(XK_KP_7);
  injector().Tap(XK_KP_Decimal);
  injector().Tap(XK_Num_Lock);
  injector().Tap(XK_KP_7);
  EXPECT_EQ(Take(), (std::vector<Seen>{{513, 0x90, 0, 0, 0, true},
                                       {514, 0x90, 0, 0, 0, true},
                                       {513, 0x67, 0, 0, 0, true},
                                       {515, '7', 0, 0, 0, true},
                                       {514, 0x67, 0, 0, 0, true},
                                       {513, 0x6E, 0, 0, 0, true},
                                       {515, '.', 0, 0, 0, true},
                                       {514, 0x6E, 0, 0, 0, true},
                                       {513, 0x90, 0, 0, 0, true},
                                       {514, 0x90, 0, 0, 0, true},
                                       {513, 0x24, 0, 0, 0, true},
                                       {514, 0x24, 0, 0, 0, true}}));
}

TEST_F(X11Input, HeldKeyRepeatsAndNonAsciiCharactersArriveAsOneUnit) {
  // The server repeats a held key; a short repeat delay keeps the test quick.
  unsigned int delay = 0;
  unsigned int interval = 0;
  Display* d = injector().display();
  XkbGetAutoRepeatRate(d, XkbUseCoreKbd, &delay, &interval);
  XkbSetAutoRepeatRate(d, XkbUseCoreKbd, 100, 40);
  XSync(d, False);
  injector().Key(XK_b, true);
  uint32_t start = MilliSecs();
  while (MilliSecs() - start < 300) {
    PumpSystemEvents();
    SleepMillis(5);
  }
  injector().Key(XK_b, false);
  XkbSetAutoRepeatRate(d, XkbUseCoreKbd, delay, interval);
  XSync(d, False);
  std::vector<Seen> held = Take();
  ASSERT_GE(held.size(), 7u);
  EXPECT_EQ(held.front(), (Seen{513, 66, 0, 0, 0, true}));
  EXPECT_EQ(held.back(), (Seen{514, 66, 0, 0, 0, true}));
  // Every repeat is a 516 followed by its character; no key-up in between.
  for (size_t i = 1; i + 1 < held.size(); i += 2) {
    EXPECT_EQ(held[i], (Seen{515, 'b', 0, 0, 0, true}));
    if (i + 2 < held.size()) {
      EXPECT_EQ(held[i + 1], (Seen{516, 66, 0, 0, 0, true}));
    }
  }
  injector().Code(XK_udiaeresis);
  Take();
  injector().Tap(XK_udiaeresis);
  std::vector<Seen> events = Take();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1], (Seen{515, 0xFC, 0, 0, 0, true}));
}

TEST_F(X11Input, ButtonsWheelMotionEnterAndLeave) {
  injector().MoveTo(kWindowX + 10, kWindowY + 20);
  EXPECT_EQ(Take(), (std::vector<Seen>{{1029, 0, 0, 10, 20, true}, {1027, 0, 0, 10, 20, true}}));

  struct Case {
    unsigned int xButton;
    int32_t button;
  };
  for (const Case c : {Case{1, 1}, Case{3, 2}, Case{2, 3}}) {
    injector().Button(c.xButton, true);
    injector().Button(c.xButton, false);
    EXPECT_EQ(Take(), (std::vector<Seen>{{1025, c.button, 0, 10, 20, true}, {1026, c.button, 0, 10, 20, true}}));
  }

  injector().Button(4, true);
  injector().Button(4, false);
  injector().Button(5, true);
  injector().Button(5, false);
  EXPECT_EQ(Take(), (std::vector<Seen>{{1028, 1, 0, 10, 20, true}, {1028, -1, 0, 10, 20, true}}));

  // Motion names the held buttons: left 1, middle 4, right 2; the last that applies wins.
  struct Held {
    std::vector<unsigned int> xButtons;
    int32_t datum;
  };
  const Held helds[] = {{{1}, 1}, {{2}, 4}, {{3}, 2}, {{1, 2}, 4}, {{2, 3}, 2}};
  int x = 10;
  for (const Held& held : helds) {
    for (unsigned int b : held.xButtons) injector().Button(b, true);
    Take();
    ++x;
    injector().MoveTo(kWindowX + x, kWindowY + 20);
    std::vector<Seen> events = Take();
    for (unsigned int b : held.xButtons) injector().Button(b, false);
    Take();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], (Seen{1027, held.datum, 0, x, 20, true}));
  }

  injector().MoveTo(kWindowX + kWidth + 30, kWindowY + 5);
  EXPECT_EQ(Take(), (std::vector<Seen>{{1030, 0, 0, kWidth + 30, 5, true}}));
}

TEST_F(X11Input, WindowOpeningUnderThePointerGetsEnterAndPosition) {
  injector().MoveTo(650, 520);
  Take();
  Window below = CreateWindow(600, 500);
  x11::AttachProgramWindow(below, recordSource, nullptr, 0);
  MapAndFocus(below);
  EXPECT_EQ(Take(), (std::vector<Seen>{{1029, 0, 0, 50, 20, true}, {1027, 0, 0, 50, 20, true}}));
}

TEST_F(X11Input, CloseRequestGivesAppTerminateAndLeavesTheWindowOpen) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window_;
  event.xclient.message_type = XInternAtom(injector().display(), "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(injector().display(), "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(injector().display(), window_, False, NoEventMask, &event);
  XSync(injector().display(), False);
  EXPECT_EQ(Take(), (std::vector<Seen>{{259, 0, 0, 0, 0, true}}));
  XWindowAttributes attributes;
  ASSERT_NE(XGetWindowAttributes(display_, window_, &attributes), 0);
  EXPECT_EQ(attributes.map_state, IsViewable);
}

TEST_F(X11Input, FocusBetweenOwnWindowsIsNoApplicationChange) {
  Window second = CreateWindow(kWindowX + kWidth + 50, kWindowY);
  x11::AttachProgramWindow(second, recordSource, nullptr, 0);
  MapAndFocus(second);
  EXPECT_EQ(Take(), (std::vector<Seen>{}));
  XSetInputFocus(injector().display(), PointerRoot, RevertToPointerRoot, CurrentTime);
  XSync(injector().display(), False);
  EXPECT_EQ(Take(), (std::vector<Seen>{{257, 0, 0, 0, 0, true}}));
  MapAndFocus(window_);
  EXPECT_EQ(Take(), (std::vector<Seen>{{258, 0, 0, 0, 0, true}}));
}

TEST_F(X11Input, AwaitTypedCharReturnsACharacterTypedFromAnotherThread) {
  StartInputTracking(nullptr);
  std::thread typist([] {
    SleepMillis(150);
    Injector other;
    other.Tap(XK_k);
  });
  int c = AwaitTypedChar();
  typist.join();
  StopInputTracking();
  EXPECT_EQ(c, 'k');
}

int postedSum = 0;
void AddToSum(TObject*, int extra) { postedSum += extra; }

TEST_F(X11Input, PostedCallWakesAWaitAndRunsOnTheMainThread) {
  postedSum = 0;
  std::thread poster([] {
    SleepMillis(100);
    PostMainThreadCall(AddToSum, nullptr, 7);
  });
  uint32_t start = MilliSecs();
  while (postedSum == 0 && MilliSecs() - start < 5000) AwaitSystemEvents();
  poster.join();
  EXPECT_EQ(postedSum, 7);
}

// A key that does not combine with the dead key before it types the accent and then itself.
TEST_F(X11Input, DeadKeyComposesWithTheNextKeyOrTypesItsAccentFirst) {
  // The dead key sits where German keyboards have "ü", on the US "[" key.
  constexpr KeyCode kDeadKey = 0x1A + 8;
  injector().Remap(kDeadKey, XK_dead_acute, XK_dead_grave);
  Take();
  struct Case {
    KeySym next;
    int32_t vk;
    std::u16string typed;
  } cases[] = {
      {XK_e, 'E', u"\u00E9"},
      {XK_x, 'X', u"\u00B4x"},
      {XK_5, '5', u"\u00B45"},
  };
  for (const Case& c : cases) {
    injector().TapCode(kDeadKey);
    injector().Tap(c.next);
    std::vector<Seen> expected{{513, 0xDB, 0, 0, 0, true}, {514, 0xDB, 0, 0, 0, true}, {513, c.vk, 0, 0, 0, true}};
    for (char16_t unit : c.typed) expected.push_back({515, unit, 0, 0, 0, true});
    expected.push_back({514, c.vk, 0, 0, 0, true});
    EXPECT_EQ(Take(), expected) << "then keysym " << c.next;
  }
}

// A whole layout set with setxkbmap on the test's server (which runs with -noreset, so the keymap
// stays while no client is connected); the layout before comes back at the end.
class KeyboardLayout {
 public:
  static constexpr const char* kSetXkbMap = "/usr/bin/setxkbmap";  // from x11-xkb-utils, as Xvfb's xkbcomp

  explicit KeyboardLayout(const std::string& layout) {
    std::string settings = test::RunProgram({kSetXkbMap, "-query"}, {}).out;
    size_t at = settings.find("layout:");
    if (at != std::string::npos) {
      size_t begin = settings.find_first_not_of(' ', at + 7);
      saved_ = settings.substr(begin, settings.find('\n', begin) - begin);
    }
    set_ = !saved_.empty() && test::RunProgram({kSetXkbMap, "-layout", layout}, {}).exitCode == 0;
  }
  ~KeyboardLayout() {
    if (set_) test::RunProgram({kSetXkbMap, "-layout", saved_}, {});
  }
  KeyboardLayout(const KeyboardLayout&) = delete;
  KeyboardLayout& operator=(const KeyboardLayout&) = delete;
  bool IsSet() const { return set_; }

 private:
  std::string saved_;
  bool set_ = false;
};

// As the window system's own layouts give them, every typing key of a layout has a code of its own
// (on French "; ." and ": /", "^" and "*", on Russian "ю" and ". ," used to share one).
TEST_F(X11Input, EveryKeyOfAWholeLayoutHasACodeOfItsOwn) {
  std::vector<int> scanCodes;  // the digit row, the three letter rows and the 102nd key
  for (auto [first, last] : {std::pair{0x02, 0x0D}, {0x10, 0x1B}, {0x1E, 0x29}, {0x2B, 0x35}, {0x56, 0x56}}) {
    for (int scan = first; scan <= last; ++scan) scanCodes.push_back(scan);
  }
  struct Case {
    const char* layout;
    std::vector<std::pair<int, int32_t>> known;  // scan code, key code
  } cases[] = {
      {"us", {{0x02, '1'}, {0x10, 'Q'}, {0x27, 0xBA}, {0x29, 0xC0}, {0x2B, 0xDC}, {0x35, 0xBF}, {0x56, 0xE2}}},
      {"de", {{0x15, 'Z'}, {0x2C, 'Y'}, {0x0C, 0xDB}, {0x0D, 0xDD}, {0x1A, 0xBA}, {0x1B, 0xBB}, {0x27, 0xC0},
              {0x28, 0xDE}, {0x29, 0xDC}, {0x2B, 0xBF}, {0x35, 0xBD}}},
      {"fr", {{0x02, '1'}, {0x10, 'A'}, {0x11, 'Z'}, {0x1E, 'Q'}, {0x27, 'M'}, {0x2C, 'W'}, {0x2B, 0xDC}}},
      {"ru", {{0x10, 'Q'}, {0x1E, 'A'}, {0x29, 0xC0}, {0x33, 0xBC}, {0x34, 0xBE}, {0x35, 0xBF}, {0x56, 0xE2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    KeyboardLayout layout(c.layout);
    ASSERT_TRUE(layout.IsSet());
    Take();
    for (int scan : scanCodes) injector().TapCode(static_cast<KeyCode>(scan + 8));
    std::map<int, int32_t> codes;
    std::set<int32_t> distinct;
    size_t next = 0;
    for (const Seen& seen : Take()) {
      if (seen.id != 513 || next >= scanCodes.size()) continue;
      codes[scanCodes[next++]] = seen.data;
      distinct.insert(seen.data);
    }
    ASSERT_EQ(codes.size(), scanCodes.size());
    EXPECT_EQ(distinct.size(), scanCodes.size());
    EXPECT_EQ(distinct.count(0), 0u);
    for (auto [scan, vk] : c.known) EXPECT_EQ(codes[scan], vk) << "scan code " << scan;
  }
}

TEST_F(X11Input, MoveMouseUsesTheFocusedWindowsClientCoordinates) {
  SetPointerPosition(30, 40);
  Take();
  Window root = None;
  Window child = None;
  int rootX = 0;
  int rootY = 0;
  int x = 0;
  int y = 0;
  unsigned int mask = 0;
  XQueryPointer(injector().display(), window_, &root, &child, &rootX, &rootY, &x, &y, &mask);
  EXPECT_EQ(x, 30);
  EXPECT_EQ(y, 40);
  EXPECT_EQ(rootX, kWindowX + 30);
  HidePointer();
  ShowPointer();
}

}  // namespace
}  // namespace kiln
