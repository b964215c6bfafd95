// What the system module shares with the X11 code of other modules (the GLX windows of the graphics
// module): the process's display connection, the registry of program windows and the error trap.
// Only X11 backend code includes this header.
#pragma once

#include <X11/Xlib.h>

#include <functional>

#include "runtime/core/object.h"

namespace kiln::x11 {

// The process's display connection, opened on first use (DISPLAY); nullptr when none can be opened.
Display* SystemDisplay();

// What a window's owner does with each event of its window, after the translator has seen it
// (the X11 counterpart of a window procedure's own handling).
using WindowHandler = std::function<void(XEvent& event)>;

// Makes `window` a program window: selects the input the translator needs plus `extraMask`, asks the
// window manager for WM_DELETE_WINDOW, and creates the window's input context. From then on the
// system driver's Poll hands every event of the window to the translator (events carry `source`),
// then to `handler`.
void AttachProgramWindow(Window window, const Ref<TObject>& source, WindowHandler handler, long extraMask);
// Forgets the window and releases its input context; call before XDestroyWindow.
void DetachProgramWindow(Window window);
bool IsProgramWindow(Window window);
// True once another client has destroyed the program window (its destruction or an error naming it
// has arrived): nothing may be drawn into it any more. Its owner still detaches it.
bool IsWindowGone(Window window);

// Dispatches every event already queued on the connection; never blocks.
void DispatchPendingEvents();

// Catches the X protocol errors of a few requests instead of letting the default handler end the
// process (a window another client destroyed, a display mode the server refuses). Traps nest: an
// error inside an inner trap counts for the outer one too.
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
