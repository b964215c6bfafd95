// press_key <caption> [keysym] [timeout-ms]: presses and releases a key (default "space") in the
// top-level window with that caption on $DISPLAY, through XTest, as a user at the keyboard would.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/screenshot/x_window.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <window caption> [keysym] [timeout-ms]\n", argv[0]);
    return 2;
  }
  const std::string caption = argv[1];
  const std::string key = argc > 2 ? argv[2] : "space";
  const int timeoutMs = argc > 3 ? std::atoi(argv[3]) : 10000;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "%s: cannot open the X display\n", argv[0]);
    return 1;
  }
  int status = 0;
  const Window window = zunto::xwindow::AwaitWindow(display, caption, timeoutMs);
  if (window == 0) {
    std::fprintf(stderr, "%s: no window \"%s\" appeared within %d ms\n", argv[0], caption.c_str(), timeoutMs);
    status = 1;
  } else if (!zunto::xwindow::PressKey(display, window, key)) {
    std::fprintf(stderr, "%s: cannot press the key \"%s\"\n", argv[0], key.c_str());
    status = 1;
  }
  XCloseDisplay(display);
  return status;
}
