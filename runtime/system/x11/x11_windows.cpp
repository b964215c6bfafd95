#include "runtime/system/x11/x11.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <map>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "runtime/system/internal/x11_display.h"
#include "runtime/system/internal/x11_translator.h"

namespace kiln::x11 {
namespace {

// Input the translator needs from every program window.
constexpr long kTranslatorMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                                 PointerMotionMask | EnterWindowMask | LeaveWindowMask |
                                 FocusChangeMask | StructureNotifyMask;

// Owns the display connection and its input method for the life of the process.
class DisplayConnection {
 public:
  DisplayConnection() {
    // The input method composes dead keys only in a locale it knows; the plain "C" locale has no
    // compose table, so the character type locale is raised to UTF-8 when nothing else is set.
    const char* ctype = std::setlocale(LC_CTYPE, nullptr);
    if (ctype == nullptr || std::strcmp(ctype, "C") == 0 || std::strcmp(ctype, "POSIX") == 0) {
      if (std::setlocale(LC_CTYPE, "") == nullptr || !XSupportsLocale()) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
      }
    }
    if (!XSupportsLocale()) std::setlocale(LC_CTYPE, "C");
    XSetLocaleModifiers("");
    Open();
  }

  // Without a connection, tries again whenever DISPLAY names another server than last time.
  void Open() {
    if (display_ != nullptr) return;
    const char* name = std::getenv("DISPLAY");
    std::string wanted = name != nullptr ? name : "";
    if (tried_ && wanted == triedName_) return;
    tried_ = true;
    triedName_ = wanted;
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return;
    previousErrorHandler_ = XSetErrorHandler(&HandleXError);
    wmProtocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
    wmDeleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    // Held keys then repeat as presses without the releases in between.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display_, True, &supported);
  }
  DisplayConnection(const DisplayConnection&) = delete;
  DisplayConnection& operator=(const DisplayConnection&) = delete;

  // Opened when the first key reaches a program window: reading the locale's compose table is a
  // good part of a program's start-up, and a screen that is only looked at never needs it.
  XIM InputMethod() {
    if (display_ == nullptr || inputMethodTried_) return inputMethod_;
    inputMethodTried_ = true;
    inputMethod_ = XOpenIM(display_, nullptr, nullptr, nullptr);
    if (inputMethod_ == nullptr) {
      XSetLocaleModifiers("@im=none");
      inputMethod_ = XOpenIM(display_, nullptr, nullptr, nullptr);
    }
    return inputMethod_;
  }

  static int HandleXError(Display* display, XErrorEvent* error);

  Display* display_ = nullptr;
  XIM inputMethod_ = nullptr;
  bool inputMethodTried_ = false;
  int (*previousErrorHandler_)(Display*, XErrorEvent*) = nullptr;
  // Program windows that another client destroyed; kept after they are detached, since errors
  // about requests already sent may still arrive. X never hands a window's id out again.
  std::set<Window> goneWindows_;
  Atom wmProtocols_ = None;
  Atom wmDeleteWindow_ = None;
  bool tried_ = false;
  std::string triedName_;
};

// The connection stays open until the process ends: at exit, exit handlers and graphics contexts
// may still use it, and a test's private server may already be gone, where closing would make
// Xlib end the process with an I/O error.
union LifetimeConnection {
  LifetimeConnection() { new (&connection) DisplayConnection(); }
  ~LifetimeConnection() {}
  DisplayConnection connection;
};

DisplayConnection& Lifetime() {
  static LifetimeConnection lifetime;
  return lifetime.connection;
}

DisplayConnection& Connection() {
  DisplayConnection& connection = Lifetime();
  connection.Open();
  return connection;
}

struct ProgramWindow {
  Ref<TObject> source;
  WindowHandler handler;
  // Made with the input method, at the window's first key or focus.
  XIC inputContext = nullptr;
  bool inputContextTried = false;
  long eventMask = 0;
  int width = 0;
  int height = 0;
};

std::map<Window, ProgramWindow>& ProgramWindows() {
  static std::map<Window, ProgramWindow> windows;
  return windows;
}

// A request about a program window that another client destroyed fails; that must not end the
// process as Xlib's default handler would. Every other error still goes to the previous handler.
int DisplayConnection::HandleXError(Display* display, XErrorEvent* error) {
  DisplayConnection& connection = Lifetime();
  Window window = static_cast<Window>(error->resourceid);
  if (connection.goneWindows_.count(window) != 0) return 0;
  if ((error->error_code == BadWindow || error->error_code == BadDrawable) && IsProgramWindow(window)) {
    connection.goneWindows_.insert(window);
    return 0;
  }
  return connection.previousErrorHandler_ != nullptr ? connection.previousErrorHandler_(display, error) : 0;
}

std::set<Window>& OwnWindows() {
  static std::set<Window> windows;
  return windows;
}

// The parent of `window`, or None when it is a top-level window or no longer exists (another
// client may destroy it at any moment; the error must not end the process).
Window ParentWindow(Display* display, Window window) {
  XErrorTrap trap(display);
  Window root = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned int count = 0;
  Status ok = XQueryTree(display, window, &root, &parent, &children, &count);
  bool failed = trap.Failed();
  if (children != nullptr) XFree(children);
  if (failed || ok == 0) return None;
  return parent == root ? None : parent;
}

// Gives the window its input context once, with the events the input method filters added to
// what the window selects.
void EnsureInputContext(Window window, ProgramWindow& entry) {
  if (entry.inputContextTried) return;
  entry.inputContextTried = true;
  XIM im = Connection().InputMethod();
  if (im == nullptr) return;
  entry.inputContext = XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow, window,
                                 XNFocusWindow, window, static_cast<char*>(nullptr));
  if (entry.inputContext == nullptr) return;
  long imMask = 0;
  if (XGetICValues(entry.inputContext, XNFilterEvents, &imMask, static_cast<char*>(nullptr)) == nullptr &&
      (entry.eventMask | imMask) != entry.eventMask) {
    entry.eventMask |= imMask;
    XSelectInput(Connection().display_, window, entry.eventMask);
  }
}

}  // namespace

Display* SystemDisplay() { return Connection().display_; }
XIM SystemInputMethod() { return Connection().InputMethod(); }
Atom WmProtocolsAtom() { return Connection().wmProtocols_; }
Atom WmDeleteWindowAtom() { return Connection().wmDeleteWindow_; }

void AttachProgramWindow(Window window, const Ref<TObject>& source, WindowHandler handler, long extraMask) {
  Display* display = SystemDisplay();
  if (display == nullptr || window == None) return;
  auto& windows = ProgramWindows();
  auto existing = windows.find(window);
  if (existing != windows.end()) {
    if (existing->second.inputContext != nullptr) XDestroyIC(existing->second.inputContext);
    windows.erase(existing);
  }
  ProgramWindow entry;
  entry.source = source;
  entry.handler = std::move(handler);
  long mask = kTranslatorMask | extraMask;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) != 0) {
    entry.width = attributes.width;
    entry.height = attributes.height;
    mask |= attributes.your_event_mask;
  }
  XSelectInput(display, window, mask);
  entry.eventMask = mask;
  Atom deleteWindow = WmDeleteWindowAtom();
  XSetWMProtocols(display, window, &deleteWindow, 1);
  windows.emplace(window, std::move(entry));
  ApplyPointerVisibility(window);
  XFlush(display);
}

void DetachProgramWindow(Window window) {
  auto& windows = ProgramWindows();
  auto it = windows.find(window);
  if (it == windows.end()) return;
  if (it->second.inputContext != nullptr) XDestroyIC(it->second.inputContext);
  windows.erase(it);
  ForgetTranslatorWindow(window, windows.empty());
}

bool IsProgramWindow(Window window) { return ProgramWindows().count(window) != 0; }

bool IsWindowGone(Window window) { return Lifetime().goneWindows_.count(window) != 0; }

void AddOwnWindow(Window window) { OwnWindows().insert(window); }
void RemoveOwnWindow(Window window) { OwnWindows().erase(window); }

bool BelongsToProgram(Window window) {
  Display* display = SystemDisplay();
  // Focus may sit on a child of a program window; walk up to the top.
  for (int depth = 0; display != nullptr && window != None && depth < 64; ++depth) {
    if (window == PointerRoot) return false;
    if (IsProgramWindow(window) || OwnWindows().count(window) != 0) return true;
    window = ParentWindow(display, window);
  }
  return false;
}

std::vector<Window> ProgramWindowList() {
  std::vector<Window> windows;
  for (const auto& entry : ProgramWindows()) windows.push_back(entry.first);
  return windows;
}

bool ProgramWindowSize(Window window, int* width, int* height) {
  auto& windows = ProgramWindows();
  auto it = windows.find(window);
  if (it == windows.end()) return false;
  *width = it->second.width;
  *height = it->second.height;
  return true;
}

void DispatchPendingEvents() {
  Display* display = SystemDisplay();
  if (display == nullptr) return;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      if (event.xmapping.request == MappingKeyboard) ForgetKeyboardLayout();
      continue;
    }
    // The input method may rewrite the event it keeps: the key that completes a composition
    // comes back with key code 0, carrying only the composed character.
    XEvent unfiltered = event;
    auto& windows = ProgramWindows();
    auto it = windows.find(unfiltered.xany.window);
    if (it != windows.end() && (event.type == KeyPress || event.type == KeyRelease || event.type == FocusIn)) {
      EnsureInputContext(it->first, it->second);
    }
    bool filtered = XFilterEvent(&event, None) == True;
    if (it == windows.end()) continue;
    if (filtered) {
      // A key the input method composes with still goes down and up.
      if (unfiltered.type == KeyPress || unfiltered.type == KeyRelease) {
        TranslateXEvent(unfiltered, Ref<TObject>(it->second.source), nullptr, true);
      }
      continue;
    }
    if (event.type == DestroyNotify && event.xdestroywindow.window == event.xdestroywindow.event) {
      Lifetime().goneWindows_.insert(event.xdestroywindow.window);
    }
    if (event.type == ConfigureNotify) {
      it->second.width = event.xconfigure.width;
      it->second.height = event.xconfigure.height;
    }
    // The translator and the handler may attach or detach windows; work on copies.
    Ref<TObject> source = it->second.source;
    WindowHandler handler = it->second.handler;
    XIC inputContext = it->second.inputContext;
    TranslateXEvent(event, source, inputContext, false);
    if (handler && IsProgramWindow(event.xany.window)) handler(event);
  }
}

}  // namespace kiln::x11
