#include "runtime/system/internal/x11_system_driver.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/core/runtime.h"
#include "runtime/system/internal/system_backend.h"
#include "runtime/system/internal/x11_desktop.h"
#include "runtime/system/internal/x11_display.h"
#include "runtime/system/internal/x11_message_box.h"
#include "runtime/system/x11/x11.h"

namespace kiln {
namespace x11 {
namespace {

// A self-pipe that wakes the main thread's Wait; written from any thread.
class WakePipe {
 public:
  WakePipe() {
    if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~WakePipe() {
    if (fds_[0] >= 0) close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  int ReadEnd() const { return fds_[0]; }
  void Signal() {
    if (fds_[1] < 0) return;
    char byte = 1;
    // A full pipe already wakes the reader.
    ssize_t written = write(fds_[1], &byte, 1);
    (void)written;
  }
  void Drain() {
    if (fds_[0] < 0) return;
    char buffer[64];
    while (read(fds_[0], buffer, sizeof buffer) > 0) {
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

WakePipe& MainThreadWake() {
  static WakePipe wake;
  return wake;
}

int pointerVisible = 1;

Cursor BlankCursor(Display* display) {
  static Cursor blank = None;
  if (blank != None) return blank;
  static const char bits[1] = {0};
  Window root = DefaultRootWindow(display);
  Pixmap pixmap = XCreateBitmapFromData(display, root, bits, 1, 1);
  XColor black{};
  blank = XCreatePixmapCursor(display, pixmap, pixmap, &black, &black, 0, 0);
  XFreePixmap(display, pixmap);
  return blank;
}

std::vector<Text> Labels(std::initializer_list<const char*> names) {
  std::vector<Text> labels;
  for (const char* name : names) labels.emplace_back(name);
  return labels;
}

}  // namespace

void ApplyPointerVisibility(Window window) {
  Display* display = SystemDisplay();
  if (display == nullptr) return;
  // A cursor defined on a window shows only while the pointer is over it.
  if (pointerVisible) {
    XUndefineCursor(display, window);
  } else {
    XDefineCursor(display, window, BlankCursor(display));
  }
}

TX11SystemDriver::TX11SystemDriver() {
  MainThreadWake();
  SystemDisplay();
}

int TX11SystemDriver::Poll() {
  MainThreadWake().Drain();
  RunMainThreadCalls();
  DispatchPendingEvents();
  return 0;
}

int TX11SystemDriver::Wait() {
  Display* display = SystemDisplay();
  if (display != nullptr && XPending(display) == 0) {
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {MainThreadWake().ReadEnd(), POLLIN, 0}};
    int count = MainThreadWake().ReadEnd() >= 0 ? 2 : 1;
    while (poll(fds, static_cast<nfds_t>(count), -1) < 0 && errno == EINTR) {
    }
  } else if (display == nullptr) {
    // Without a display only posted calls can arrive; look again after a short sleep.
    pollfd wake = {MainThreadWake().ReadEnd(), POLLIN, 0};
    poll(&wake, wake.fd >= 0 ? 1 : 0, 100);
  }
  return Poll();
}

int TX11SystemDriver::MoveMouse(int x, int y) {
  Display* display = SystemDisplay();
  if (display == nullptr) return 0;
  Window focused = None;
  int revert = 0;
  XGetInputFocus(display, &focused, &revert);
  Window target = IsProgramWindow(focused) ? focused : DefaultRootWindow(display);
  XWarpPointer(display, None, target, 0, 0, 0, 0, x, y);
  XFlush(display);
  return 0;
}

int TX11SystemDriver::SetMouseVisible(int visible) {
  pointerVisible = visible != 0 ? 1 : 0;
  for (Window window : ProgramWindowList()) ApplyPointerVisibility(window);
  if (Display* display = SystemDisplay()) XFlush(display);
  return 0;
}

int TX11SystemDriver::Notify(const Text& text, int serious) {
  ShowMessageBox(ApplicationTitle(), text, Labels({"OK"}), 0, 0, serious != 0);
  return 0;
}

int TX11SystemDriver::Confirm(const Text& text, int serious) {
  return ShowMessageBox(ApplicationTitle(), text, Labels({"OK", "Cancel"}), 0, 1, serious != 0) == 0 ? 1 : 0;
}

int TX11SystemDriver::Proceed(const Text& text, int serious) {
  int choice = ShowMessageBox(ApplicationTitle(), text, Labels({"Yes", "No", "Cancel"}), 0, 2, serious != 0);
  return choice == 0 ? 1 : choice == 1 ? 0 : -1;
}

Text TX11SystemDriver::RequestFile(const Text& title, const Text& extensions, int save, const Text& path) {
  return RunFileRequester(title, extensions, save != 0, path);
}

Text TX11SystemDriver::RequestDir(const Text& title, const Text& path) { return RunFolderRequester(title, path); }

int TX11SystemDriver::OpenURL(const Text& url) { return OpenWithDesktop(url) ? 1 : 0; }

}  // namespace x11

Ref<TSystemDriver> CreatePlatformSystemDriver() { return MakeRef<x11::TX11SystemDriver>(); }

FaultMessageBox PlatformFaultMessageBox() { return x11::ShowFaultMessageBox; }

void WakeSystemWait() { x11::MainThreadWake().Signal(); }

}  // namespace kiln
