// Catches the X protocol errors of a few requests instead of letting the default handler end the
// process (a foreign window that no longer exists, a display mode the server refuses).
#pragma once

#include <X11/Xlib.h>

namespace kiln::x11 {

class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display);
  ~XErrorTrap();
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;

  // Waits for the server to answer everything sent so far; true if any request failed.
  bool Failed();

 private:
  Display* display_;
  int (*previous_)(Display*, XErrorEvent*);
};

}  // namespace kiln::x11
