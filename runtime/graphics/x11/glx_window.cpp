// The windows of GL contexts: creation with fixed size and caption, the display mode on focus, the
// screen saver while shown, and destruction.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>

#include <set>
#include <string>

#include "runtime/core/runtime.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/glx_layer.h"
#include "runtime/system/x11/x11.h"

namespace kiln::x11 {
namespace {

// _MOTIF_WM_HINTS: which functions and decorations the window manager offers for the window.
constexpr long kMwmHintsFunctions = 1;
constexpr long kMwmHintsDecorations = 2;
constexpr long kMwmFuncMove = 4;
constexpr long kMwmFuncMinimize = 8;
constexpr long kMwmFuncClose = 32;
constexpr long kMwmDecorBorder = 2;
constexpr long kMwmDecorTitle = 8;
constexpr long kMwmDecorMenu = 16;
constexpr long kMwmDecorMinimize = 32;

// The window class name of every context window.
constexpr const char* kWindowClass = "Kilnworks GLGraphics";

// Window sizes travel as 16 bits and positions as signed 16 bits; larger sizes would be cut short.
constexpr int kMaxWindowSize = 32767;

bool screenSaverHeld = false;

// Context windows that are mapped. The screen saver is held while there is one: without a window
// manager nothing may ever give the window the focus, though keys reach it under the pointer.
// Never destroyed: the exit handlers that close the windows run after static destructors would.
std::set<Window>& ShownWindows() {
  static auto* windows = new std::set<Window>;
  return *windows;
}

void SetShown(Display* display, Window window, bool shown) {
  if (shown) {
    ShownWindows().insert(window);
  } else {
    ShownWindows().erase(window);
  }
  if (ShownWindows().empty()) {
    ReleaseScreenSaver(display);
  } else {
    HoldScreenSaver(display);
  }
}

// Focus changes that do not move the focus to or away from the window itself.
bool IsIncidentalFocusChange(const XFocusChangeEvent& focus) {
  return focus.mode == NotifyGrab || focus.mode == NotifyUngrab || focus.detail == NotifyInferior ||
         focus.detail == NotifyPointer;
}

void SetFixedSize(Display* display, Window window, int x, int y, int width, int height) {
  XSizeHints* hints = XAllocSizeHints();
  if (hints == nullptr) return;
  hints->flags = PPosition | USPosition | PMinSize | PMaxSize;
  hints->x = x;
  hints->y = y;
  hints->min_width = hints->max_width = width;
  hints->min_height = hints->max_height = height;
  XSetWMNormalHints(display, window, hints);
  XFree(hints);
}

void SetWindowManagerHints(Display* display, Window window, bool fullScreen) {
  long motif[5] = {kMwmHintsFunctions | kMwmHintsDecorations, 0, 0, 0, 0};
  motif[1] = kMwmFuncMove | kMwmFuncMinimize | kMwmFuncClose;
  motif[2] = fullScreen ? 0 : kMwmDecorBorder | kMwmDecorTitle | kMwmDecorMenu | kMwmDecorMinimize;
  Atom motifAtom = XInternAtom(display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(display, window, motifAtom, motifAtom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(motif), 5);
  if (fullScreen) {
    Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    Atom full = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&full), 1);
  }
  XClassHint* classHint = XAllocClassHint();
  if (classHint != nullptr) {
    std::string name = "kilnworks";
    std::string className = kWindowClass;
    classHint->res_name = name.data();
    classHint->res_class = className.data();
    XSetClassHint(display, window, classHint);
    XFree(classHint);
  }
}

void HandleFocus(Display* display, Window window, const XFocusChangeEvent& focus, int width,
                 int height, int depth, int hertz) {
  if (IsIncidentalFocusChange(focus)) return;
  if (focus.type == FocusIn) {
    if (depth != 0 && DisplayModeOwner() != window) {
      int interval = SwitchDisplayMode(display, window, width, height, depth, hertz);
      GLSetSwapInterval(interval);
    }
  } else {
    if (RestoreDisplayMode(display, window)) {
      XIconifyWindow(display, window, DefaultScreen(display));
      GLSetSwapInterval(0);
    }
  }
}

}  // namespace

void SetWindowCaption(Display* display, Window window, const Text& caption) {
  // The legacy name is Latin-1; characters beyond it show as '?' there and exactly in the UTF-8 name.
  std::string latin1;
  for (char16_t unit : caption.Units()) latin1.push_back(unit < 256 ? static_cast<char>(unit) : '?');
  XStoreName(display, window, latin1.c_str());
  XSetIconName(display, window, latin1.c_str());
  std::string utf8 = caption.ToUtf8();
  Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
  for (const char* property : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"}) {
    XChangeProperty(display, window, XInternAtom(display, property, False), utf8String, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(utf8.data()),
                    static_cast<int>(utf8.size()));
  }
}

Window CreateContextWindow(Display* display, const XVisualInfo& visual, int width, int height,
                           int depth, int hertz, Colormap& colormap) {
  if (width <= 0 || height <= 0 || width > kMaxWindowSize || height > kMaxWindowSize) return 0;
  bool fullScreen = depth != 0;
  int screen = visual.screen;
  Window root = RootWindow(display, screen);
  int x = 0;
  int y = 0;
  if (!fullScreen) {
    x = DisplayWidth(display, screen) / 2 - width / 2;
    y = DisplayHeight(display, screen) / 2 - height / 2;
  }
  colormap = XCreateColormap(display, root, visual.visual, AllocNone);
  XSetWindowAttributes attributes{};
  attributes.colormap = colormap;
  attributes.border_pixel = 0;
  attributes.background_pixmap = None;
  Window window = 0;
  {
    // A window the server refuses must yield no context, not end the process.
    XErrorTrap trap(display);
    window = XCreateWindow(display, root, x, y, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, visual.depth, InputOutput, visual.visual,
                           CWColormap | CWBorderPixel | CWBackPixmap, &attributes);
    if (trap.Failed() && window != 0) {
      XDestroyWindow(display, window);
      window = 0;
    }
  }
  if (window == 0) {
    XFreeColormap(display, colormap);
    colormap = 0;
    return 0;
  }
  SetFixedSize(display, window, x, y, width, height);
  SetWindowManagerHints(display, window, fullScreen);
  SetWindowCaption(display, window, ApplicationTitle());
  AttachProgramWindow(
      window, nullptr,
      [display, window, width, height, depth, hertz](XEvent& event) {
        if (event.type == FocusIn || event.type == FocusOut) {
          HandleFocus(display, window, event.xfocus, width, height, depth, hertz);
        } else if (event.type == MapNotify || event.type == UnmapNotify) {
          SetShown(display, window, event.type == MapNotify);
        }
        // The close request leaves the window open: the program decides what a close means.
      },
      FocusChangeMask | ExposureMask | StructureNotifyMask);
  return window;
}

void ShowContextWindow(Display* display, Window window, bool fullScreen) {
  XMapRaised(display, window);
  XSync(display, False);
  SetShown(display, window, true);
  if (fullScreen) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) {
      XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
  }
  XFlush(display);
}

void DestroyContextWindow(Display* display, Window window, Colormap colormap) {
  if (window != 0) {
    SetShown(display, window, false);
    RestoreDisplayMode(display, window);
    bool gone = IsWindowGone(window);
    DetachProgramWindow(window);
    if (!gone) XDestroyWindow(display, window);
  }
  if (colormap != 0) XFreeColormap(display, colormap);
  XFlush(display);
}

// The suspension belongs to this client's connection: the server lifts it when the connection ends,
// however the process ends, and it leaves the server's own settings alone. It covers monitor power
// saving as well.
void HoldScreenSaver(Display* display) {
  if (screenSaverHeld) return;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (XScreenSaverQueryExtension(display, &eventBase, &errorBase) &&
      XScreenSaverQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 1))) {
    XScreenSaverSuspend(display, True);
  }
  screenSaverHeld = true;
  XFlush(display);
}

void ReleaseScreenSaver(Display* display) {
  if (!screenSaverHeld) return;
  int eventBase = 0;
  int errorBase = 0;
  if (XScreenSaverQueryExtension(display, &eventBase, &errorBase)) XScreenSaverSuspend(display, False);
  screenSaverHeld = false;
  XFlush(display);
}

bool ScreenSaverHeld() { return screenSaverHeld; }

}  // namespace kiln::x11
