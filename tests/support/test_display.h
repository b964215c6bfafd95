// Test fixture support: a window system that window, GL and input tests can reach.
#pragma once

namespace kiln::test {

// X11: makes sure DISPLAY names a reachable X server. When DISPLAY is unset (or unreachable), starts
// a private Xvfb (640x480 is too small for centring tests, so the screen is 1280x1024x24, with GLX
// and XTest) on a free display number, sets DISPLAY, and stops the server at process exit.
// Windows: the process's window station has a visible desktop.
// Returns false when no display could be reached or started.
bool EnsureDisplay();

}  // namespace kiln::test
