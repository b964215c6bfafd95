// A program's top-level window on an X display, found by its caption, read back and fed input, for
// the demo and the tests, which watch the patcher from another client.
#pragma once

#include <X11/Xlib.h>

#include <string>

#include "runtime/pixmap/pixmap.h"

namespace zunto::xwindow {

// The viewable window below the root whose WM_NAME or _NET_WM_NAME is `caption`; 0 when none.
Window FindWindowByCaption(Display* display, const std::string& caption);
// Polls until FindWindowByCaption finds one or `timeoutMs` have passed; 0 then.
Window AwaitWindow(Display* display, const std::string& caption, int timeoutMs);
// Polls until no such window is left, as after its program ended: the server destroys it only when
// it has seen the connection close, and a new window may get the same id. False on time-out.
bool AwaitNoWindow(Display* display, const std::string& caption, int timeoutMs);

// The window's inside as it is on the screen, as an RGB888 pixmap; empty when it cannot be read.
kiln::Ref<kiln::TPixmap> GrabWindow(Display* display, Window window);
// A capture saved by `xwd` (a true-colour ZPixmap of 24 or 32 bits a pixel), as RGB888; empty when
// the file is missing, short or of another kind.
kiln::Ref<kiln::TPixmap> ReadXwdCapture(const std::string& path);
// Grabs until two grabs 50 ms apart are equal and not a single colour, so that the program has
// drawn and presented; the last grab when `timeoutMs` runs out first.
kiln::Ref<kiln::TPixmap> GrabSettledWindow(Display* display, Window window, int timeoutMs);

// XTest input as a user gives it: the pointer moved into the window first, so that it has the
// keyboard under a pointer-root focus, then a press and a release.
bool PressKey(Display* display, Window window, const std::string& keysymName);
bool ClickButton(Display* display, Window window, unsigned int button);
// Asks the window to close as its close button does (WM_DELETE_WINDOW).
bool RequestClose(Display* display, Window window);

}  // namespace zunto::xwindow
