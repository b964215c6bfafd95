// Catches the X protocol errors of a few requests instead of letting the default handler end the
// process (a window another client destroyed, a display mode the server refuses). Traps nest: an
// error inside an inner trap counts for the outer one too.
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
  int errorsBefore_;
};

}  // namespace kiln::x11
