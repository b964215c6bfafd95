#include "runtime/system/internal/x11_message_box.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "runtime/system/internal/x11_display.h"
#include "runtime/system/x11/x11.h"

namespace kiln::x11 {
namespace {

constexpr int kMargin = 18;
constexpr int kIconSize = 32;
constexpr int kMinWidth = 260;
constexpr int kMaxTextWidth = 900;

// Nobody can answer a question written to standard error, so it counts as cancelled.
int WriteToStandardError(const Text& caption, const Text& text, int cancelButton) {
  std::string line = (caption + ": " + text + "\n").ToUtf8();
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return cancelButton;
}

// Owns the core font used to draw the box.
class BoxFont {
 public:
  explicit BoxFont(Display* display) : display_(display) {
    // A Unicode font draws every code unit; the Latin-1 "fixed" font is the fallback.
    const char* unicodeNames[] = {"-misc-fixed-medium-r-normal--13-*-*-*-*-*-iso10646-1",
                                  "-*-*-medium-r-normal--*-120-*-*-*-*-iso10646-1"};
    for (const char* name : unicodeNames) {
      font_ = XLoadQueryFont(display, name);
      if (font_ != nullptr) {
        unicode_ = true;
        return;
      }
    }
    font_ = XLoadQueryFont(display, "fixed");
  }
  ~BoxFont() {
    if (font_ != nullptr) XFreeFont(display_, font_);
  }
  BoxFont(const BoxFont&) = delete;
  BoxFont& operator=(const BoxFont&) = delete;

  bool Loaded() const { return font_ != nullptr; }
  XFontStruct* Get() const { return font_; }
  int LineHeight() const { return font_->ascent + font_->descent + 2; }

  int Width(const Text& text) const {
    if (unicode_) {
      std::vector<XChar2b> chars = Chars(text);
      return XTextWidth16(font_, chars.data(), static_cast<int>(chars.size()));
    }
    std::string bytes = Bytes(text);
    return XTextWidth(font_, bytes.data(), static_cast<int>(bytes.size()));
  }

  void Draw(Drawable drawable, GC gc, int x, int baseline, const Text& text) const {
    if (unicode_) {
      std::vector<XChar2b> chars = Chars(text);
      XDrawString16(display_, drawable, gc, x, baseline, chars.data(), static_cast<int>(chars.size()));
    } else {
      std::string bytes = Bytes(text);
      XDrawString(display_, drawable, gc, x, baseline, bytes.data(), static_cast<int>(bytes.size()));
    }
  }

 private:
  static std::vector<XChar2b> Chars(const Text& text) {
    std::vector<XChar2b> chars;
    for (char16_t unit : text.Units()) {
      chars.push_back(XChar2b{static_cast<unsigned char>(unit >> 8), static_cast<unsigned char>(unit & 0xFF)});
    }
    return chars;
  }
  static std::string Bytes(const Text& text) {
    std::string bytes;
    for (char16_t unit : text.Units()) bytes += unit < 256 ? static_cast<char>(unit) : '?';
    return bytes;
  }

  Display* display_;
  XFontStruct* font_ = nullptr;
  bool unicode_ = false;
};

// Owns the box window and its graphics context; the window counts as the program's own while it
// exists.
class BoxWindow {
 public:
  BoxWindow(Display* display, Window window) : display_(display), window_(window) {
    gc_ = XCreateGC(display, window, 0, nullptr);
    AddOwnWindow(window);
  }
  ~BoxWindow() {
    RemoveOwnWindow(window_);
    XFreeGC(display_, gc_);
    if (!destroyed_) XDestroyWindow(display_, window_);
    XFlush(display_);
  }
  // Someone else destroyed the window.
  void MarkDestroyed() { destroyed_ = true; }
  BoxWindow(const BoxWindow&) = delete;
  BoxWindow& operator=(const BoxWindow&) = delete;

  Window Get() const { return window_; }
  GC Gc() const { return gc_; }

 private:
  Display* display_;
  Window window_;
  GC gc_;
  bool destroyed_ = false;
};

std::vector<Text> SplitLines(const Text& text) {
  std::vector<Text> lines;
  Text plain = text.Replace("\r\n", "\n").Replace("\r", "\n");
  int start = 0;
  for (;;) {
    int end = plain.Find("\n", start);
    if (end < 0) {
      lines.push_back(plain.From(start));
      break;
    }
    lines.push_back(plain.Slice(start, end));
    start = end + 1;
  }
  return lines;
}

// Breaks lines wider than `maxWidth` at spaces (or anywhere, for a single long word). Core fonts
// have no kerning, so a line's width is the sum of its characters' widths: one pass per line.
std::vector<Text> WrapLines(const std::vector<Text>& lines, const BoxFont& font, int maxWidth) {
  std::vector<Text> wrapped;
  for (const Text& line : lines) {
    int start = 0;
    int width = 0;
    int lastSpace = -1;
    for (int i = 0; i < line.Length(); ++i) {
      int unitWidth = font.Width(line.Slice(i, i + 1));
      if (width + unitWidth > maxWidth && i > start) {
        int cut = lastSpace > start ? lastSpace : i;
        wrapped.push_back(line.Slice(start, cut));
        lastSpace = -1;
        // The space a line breaks at is not carried to the next line.
        if (cut == i && line[i] == u' ') {
          start = i + 1;
          width = 0;
          continue;
        }
        start = cut < i ? cut + 1 : cut;
        width = font.Width(line.Slice(start, i));
      }
      if (line[i] == u' ') lastSpace = i;
      width += unitWidth;
    }
    wrapped.push_back(line.From(start));
  }
  return wrapped;
}

// Keeps as many lines as fit in `maxHeight`; the last kept line then says that text was cut.
void LimitLines(std::vector<Text>& lines, const BoxFont& font, int maxHeight) {
  size_t fit = static_cast<size_t>(std::max(1, maxHeight / font.LineHeight()));
  if (lines.size() <= fit) return;
  lines.resize(fit);
  lines.back() = Text("...");
}

// The window that had the focus may have been destroyed meanwhile.
void RestoreFocus(Display* display, Window previous) {
  if (previous == None || previous == PointerRoot) return;
  XErrorTrap trap(display);
  XSetInputFocus(display, previous, RevertToParent, CurrentTime);
}

Bool IsBoxEvent(Display*, XEvent* event, XPointer window) {
  return event->xany.window == *reinterpret_cast<Window*>(window) ? True : False;
}

struct Layout {
  int width = 0;
  int height = 0;
  int textX = 0;
  int textY = 0;
  int buttonsX = 0;
  int buttonsY = 0;
};

int ButtonAt(const Layout& layout, int count, int x, int y) {
  if (y < layout.buttonsY || y >= layout.buttonsY + kButtonHeight) return -1;
  for (int i = 0; i < count; ++i) {
    int left = layout.buttonsX + i * (kButtonWidth + kButtonGap);
    if (x >= left && x < left + kButtonWidth) return i;
  }
  return -1;
}

void Paint(Display* display, const BoxWindow& box, const BoxFont& font, const Layout& layout,
           const std::vector<Text>& lines, const std::vector<Text>& buttons, int focused, int pressed,
           bool serious) {
  int screen = DefaultScreen(display);
  unsigned long black = BlackPixel(display, screen);
  unsigned long white = WhitePixel(display, screen);
  GC gc = box.Gc();
  XSetFont(display, gc, font.Get()->fid);
  XSetForeground(display, gc, white);
  XFillRectangle(display, box.Get(), gc, 0, 0, static_cast<unsigned>(layout.width), static_cast<unsigned>(layout.height));
  XSetForeground(display, gc, black);
  // The icon: "!" in a triangle-like box for serious messages, "i" otherwise.
  XDrawArc(display, box.Get(), gc, kMargin, kMargin, kIconSize, kIconSize, 0, 360 * 64);
  Text mark = serious ? Text("!") : Text("i");
  font.Draw(box.Get(), gc, kMargin + (kIconSize - font.Width(mark)) / 2, kMargin + kIconSize / 2 + font.Get()->ascent / 2,
            mark);
  int baseline = layout.textY + font.Get()->ascent;
  for (const Text& line : lines) {
    font.Draw(box.Get(), gc, layout.textX, baseline, line);
    baseline += font.LineHeight();
  }
  for (int i = 0; i < static_cast<int>(buttons.size()); ++i) {
    int left = layout.buttonsX + i * (kButtonWidth + kButtonGap);
    if (i == pressed) {
      XFillRectangle(display, box.Get(), gc, left, layout.buttonsY, kButtonWidth, kButtonHeight);
      XSetForeground(display, gc, white);
    } else {
      XDrawRectangle(display, box.Get(), gc, left, layout.buttonsY, kButtonWidth - 1, kButtonHeight - 1);
      if (i == focused) XDrawRectangle(display, box.Get(), gc, left + 2, layout.buttonsY + 2, kButtonWidth - 5, kButtonHeight - 5);
    }
    int textWidth = font.Width(buttons[static_cast<size_t>(i)]);
    int textBaseline = layout.buttonsY + (kButtonHeight + font.Get()->ascent - font.Get()->descent) / 2;
    font.Draw(box.Get(), gc, left + (kButtonWidth - textWidth) / 2, textBaseline, buttons[static_cast<size_t>(i)]);
    XSetForeground(display, gc, black);
  }
  XFlush(display);
}

// Owns a display connection opened for one box.
class PrivateConnection {
 public:
  PrivateConnection() : display_(XOpenDisplay(nullptr)) {}
  ~PrivateConnection() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  PrivateConnection(const PrivateConnection&) = delete;
  PrivateConnection& operator=(const PrivateConnection&) = delete;
  Display* Get() const { return display_; }

 private:
  Display* display_;
};

int ShowMessageBoxOn(Display* display, const Text& caption, const Text& text, const std::vector<Text>& buttons,
                     int defaultButton, int cancelButton, bool serious) {
  if (display == nullptr || buttons.empty()) return WriteToStandardError(caption, text, cancelButton);
  BoxFont font(display);
  if (!font.Loaded()) return WriteToStandardError(caption, text, cancelButton);

  int count = static_cast<int>(buttons.size());
  int screen = DefaultScreen(display);
  // Room for the margins, the icon, the button row and a window manager's frame.
  constexpr int kFrameAllowance = 64;
  int maxTextWidth = std::min(kMaxTextWidth, DisplayWidth(display, screen) - 3 * kMargin - kIconSize - kFrameAllowance);
  std::vector<Text> lines = WrapLines(SplitLines(text), font, std::max(maxTextWidth, kIconSize));
  LimitLines(lines, font,
             DisplayHeight(display, screen) - 3 * kMargin - kButtonHeight - kButtonBottomMargin - kFrameAllowance);
  Layout layout;
  int textWidth = 0;
  for (const Text& line : lines) textWidth = std::max(textWidth, font.Width(line));
  int buttonsWidth = count * kButtonWidth + (count - 1) * kButtonGap;
  layout.textX = kMargin + kIconSize + kMargin;
  layout.textY = kMargin;
  layout.width = std::max({kMinWidth, layout.textX + textWidth + kMargin, buttonsWidth + 2 * kMargin});
  int textHeight = std::max(kIconSize, static_cast<int>(lines.size()) * font.LineHeight());
  layout.buttonsY = kMargin + textHeight + kMargin;
  layout.height = layout.buttonsY + kButtonHeight + kButtonBottomMargin;
  layout.buttonsX = (layout.width - buttonsWidth) / 2;

  Window previousFocus = None;
  int revert = 0;
  XGetInputFocus(display, &previousFocus, &revert);
  int x = (DisplayWidth(display, screen) - layout.width) / 2;
  int y = (DisplayHeight(display, screen) - layout.height) / 3;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = WhitePixel(display, screen);
  attributes.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                          FocusChangeMask;
  BoxWindow box(display, XCreateWindow(display, RootWindow(display, screen), x, y, static_cast<unsigned>(layout.width),
                                       static_cast<unsigned>(layout.height), 1, CopyFromParent, InputOutput,
                                       CopyFromParent, CWBackPixel | CWEventMask, &attributes));

  std::string title = caption.ToUtf8();
  Xutf8SetWMProperties(display, box.Get(), title.c_str(), title.c_str(), nullptr, 0, nullptr, nullptr, nullptr);
  XSizeHints* hints = XAllocSizeHints();
  if (hints != nullptr) {
    hints->flags = PPosition | PMinSize | PMaxSize;
    hints->x = x;
    hints->y = y;
    hints->min_width = hints->max_width = layout.width;
    hints->min_height = hints->max_height = layout.height;
    XSetWMNormalHints(display, box.Get(), hints);
    XFree(hints);
  }
  Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, box.Get(), &deleteWindow, 1);
  Atom windowType = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  Atom dialogType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(display, box.Get(), windowType, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&dialogType), 1);
  if (IsProgramWindow(previousFocus)) XSetTransientForHint(display, box.Get(), previousFocus);
  XMapRaised(display, box.Get());
  XFlush(display);

  int focused = std::clamp(defaultButton, 0, count - 1);
  int pressed = -1;
  int choice = -1;
  Window boxWindow = box.Get();
  while (choice < 0) {
    XEvent event;
    XIfEvent(display, &event, IsBoxEvent, reinterpret_cast<XPointer>(&boxWindow));
    switch (event.type) {
      case MapNotify:
        XSetInputFocus(display, boxWindow, RevertToParent, CurrentTime);
        break;
      case Expose:
        if (event.xexpose.count == 0) Paint(display, box, font, layout, lines, buttons, focused, pressed, serious);
        break;
      case KeyPress: {
        KeySym keysym = XLookupKeysym(&event.xkey, 0);
        bool shift = (event.xkey.state & ShiftMask) != 0;
        if (keysym == XK_Return || keysym == XK_KP_Enter || keysym == XK_space) {
          choice = focused;
        } else if (keysym == XK_Escape) {
          choice = cancelButton;
        } else if (keysym == XK_Right || (keysym == XK_Tab && !shift)) {
          focused = (focused + 1) % count;
        } else if (keysym == XK_Left || keysym == XK_ISO_Left_Tab || (keysym == XK_Tab && shift)) {
          focused = (focused + count - 1) % count;
        }
        Paint(display, box, font, layout, lines, buttons, focused, pressed, serious);
        break;
      }
      case ButtonPress:
        if (event.xbutton.button == Button1) {
          pressed = ButtonAt(layout, count, event.xbutton.x, event.xbutton.y);
          if (pressed >= 0) focused = pressed;
          Paint(display, box, font, layout, lines, buttons, focused, pressed, serious);
        }
        break;
      case ButtonRelease:
        if (event.xbutton.button == Button1) {
          if (pressed >= 0 && ButtonAt(layout, count, event.xbutton.x, event.xbutton.y) == pressed) choice = pressed;
          pressed = -1;
          Paint(display, box, font, layout, lines, buttons, focused, pressed, serious);
        }
        break;
      case ClientMessage:
        if (event.xclient.message_type == protocols && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
          choice = cancelButton;
        }
        break;
      case DestroyNotify:
        box.MarkDestroyed();
        choice = cancelButton;
        break;
      default:
        break;
    }
  }
  RestoreFocus(display, previousFocus);
  return choice;
}

}  // namespace

int ShowMessageBox(const Text& caption, const Text& text, const std::vector<Text>& buttons, int defaultButton,
                   int cancelButton, bool serious) {
  return ShowMessageBoxOn(SystemDisplay(), caption, text, buttons, defaultButton, cancelButton, serious);
}

void ShowFaultMessageBox(const char* caption, const char* text) {
  Text captionText = Text::FromLatin1(caption != nullptr ? caption : "");
  Text bodyText = Text::FromLatin1(text != nullptr ? text : "");
  PrivateConnection connection;
  ShowMessageBoxOn(connection.Get(), captionText, bodyText, {Text("OK")}, 0, 0, true);
}

}  // namespace kiln::x11
