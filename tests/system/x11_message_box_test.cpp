// Message boxes as real X windows, answered by another client through XTest.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "runtime/core/clock.h"
#include "runtime/core/runtime.h"
#include "runtime/system/system.h"
#include "runtime/system/internal/x11_message_box.h"
#include "runtime/system/x11/x11.h"
#include "tests/support/test_display.h"

namespace kiln {
namespace {

// Plays the user: waits for the box captioned `title` to have the focus, then acts on it.
class User {
 public:
  User() : display_(XOpenDisplay(nullptr)) {}
  ~User() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  User(const User&) = delete;
  User& operator=(const User&) = delete;

  Display* display() const { return display_; }

  Window WaitForBox(const std::string& title) {
    for (int attempt = 0; attempt < 400; ++attempt) {
      Window focus = None;
      int revert = 0;
      XGetInputFocus(display_, &focus, &revert);
      char* name = nullptr;
      if (focus != None && focus != PointerRoot && XFetchName(display_, focus, &name) != 0 && name != nullptr) {
        bool match = title == name;
        XFree(name);
        if (match) return focus;
      }
      SleepMillis(10);
    }
    return None;
  }
  void Tap(KeySym keysym) {
    KeyCode code = XKeysymToKeycode(display_, keysym);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XSync(display_, False);
  }
  // Clicks button `index` of a box with `count` buttons.
  void ClickButton(Window box, int index, int count) {
    Window root = None;
    Window child = None;
    int x = 0;
    int y = 0;
    unsigned int width = 0;
    unsigned int height = 0;
    unsigned int border = 0;
    unsigned int depth = 0;
    XGetGeometry(display_, box, &root, &x, &y, &width, &height, &border, &depth);
    int rootX = 0;
    int rootY = 0;
    XTranslateCoordinates(display_, box, root, 0, 0, &rootX, &rootY, &child);
    int rowWidth = count * x11::kButtonWidth + (count - 1) * x11::kButtonGap;
    int left = (static_cast<int>(width) - rowWidth) / 2 + index * (x11::kButtonWidth + x11::kButtonGap);
    int top = static_cast<int>(height) - x11::kButtonBottomMargin - x11::kButtonHeight;
    XTestFakeMotionEvent(display_, DefaultScreen(display_), rootX + left + 10, rootY + top + 10, CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
  }
  void Close(Window box) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = box;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    XSendEvent(display_, box, False, NoEventMask, &event);
    XSync(display_, False);
  }

 private:
  Display* display_;
};

class MessageBox : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::EnsureDisplay()) GTEST_SKIP() << "no X server";
    InitSystemModule();
    ASSERT_NE(x11::SystemDisplay(), nullptr);
    SetApplicationTitle("Box Test Caption");
  }

  // Shows a box through `show` while the user answers with `act`; returns what `show` returned.
  int Answer(const std::function<int()>& show, const std::function<void(User&, Window)>& act) {
    bool found = true;
    std::thread user([&] {
      User person;
      Window box = person.WaitForBox("Box Test Caption");
      found = box != None;
      if (box != None) act(person, box);
    });
    int result = show();
    user.join();
    EXPECT_TRUE(found);
    return result;
  }
};

TEST_F(MessageBox, KeyboardAnswers) {
  struct Case {
    const char* name;
    std::function<int()> show;
    std::vector<KeySym> keys;
    int expected;
  };
  const Case cases[] = {
      {"notify enter", [] { return NotifyUser("All done.", 0); }, {XK_Return}, 0},
      {"confirm enter", [] { return AskConfirm("Go on?", 0); }, {XK_Return}, 1},
      {"confirm escape", [] { return AskConfirm("Go on?", 1); }, {XK_Escape}, 0},
      {"confirm tab", [] { return AskConfirm("Go on?", 0); }, {XK_Tab, XK_space}, 0},
      {"proceed enter", [] { return AskProceed("Save?\nSecond line", 0); }, {XK_Return}, 1},
      {"proceed right", [] { return AskProceed("Save?", 0); }, {XK_Right, XK_Return}, 0},
      {"proceed left wraps", [] { return AskProceed("Save?", 1); }, {XK_Left, XK_Return}, -1},
      {"proceed escape", [] { return AskProceed(u"Sp\u00e4ter speichern?", 0); }, {XK_Escape}, -1},
  };
  for (const Case& c : cases) {
    int result = Answer(c.show, [&](User& user, Window) {
      for (KeySym key : c.keys) user.Tap(key);
    });
    EXPECT_EQ(result, c.expected) << c.name;
  }
}

TEST_F(MessageBox, MouseAndCloseAnswers) {
  for (int index = 0; index < 3; ++index) {
    int result = Answer([] { return AskProceed("Which?", 0); },
                        [&](User& user, Window box) { user.ClickButton(box, index, 3); });
    EXPECT_EQ(result, index == 0 ? 1 : index == 1 ? 0 : -1);
  }
  EXPECT_EQ(Answer([] { return AskConfirm("Close me", 0); }, [](User& user, Window box) { user.Close(box); }), 0);
}

TEST_F(MessageBox, LongTextsFitTheScreenAndShowPromptly) {
  std::u16string manyLines;
  for (int i = 0; i < 3000; ++i) manyLines += u"line\n";
  const Text texts[] = {Text(manyLines), Text(std::u16string(40000, u'x')),
                        Text(std::u16string(40000, u' ') + u"end")};
  for (const Text& text : texts) {
    unsigned int width = 0;
    unsigned int height = 0;
    int screenWidth = 0;
    int screenHeight = 0;
    auto start = std::chrono::steady_clock::now();
    int result = Answer([&] { return AskConfirm(text, 0); },
                        [&](User& user, Window box) {
                          Display* display = user.display();
                          Window root = None;
                          int x = 0;
                          int y = 0;
                          unsigned int border = 0;
                          unsigned int depth = 0;
                          XGetGeometry(display, box, &root, &x, &y, &width, &height, &border, &depth);
                          screenWidth = DisplayWidth(display, DefaultScreen(display));
                          screenHeight = DisplayHeight(display, DefaultScreen(display));
                          user.Tap(XK_Escape);
                        });
    EXPECT_EQ(result, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_LE(static_cast<int>(width), screenWidth);
    EXPECT_LE(static_cast<int>(height), screenHeight);
  }
}

TEST_F(MessageBox, FaultReportBoxUsesItsOwnConnection) {
  bool found = false;
  std::thread user([&] {
    User person;
    Window box = person.WaitForBox("Windows exception");
    found = box != None;
    if (box != None) person.Tap(XK_Return);
  });
  x11::ShowFaultMessageBox("Windows exception", "EXCEPTION_ACCESS_VIOLATION");
  user.join();
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace kiln
