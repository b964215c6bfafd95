// Test fixture support: a reachable X server for window, GL and input tests.
#pragma once

namespace kiln::test {

// Makes sure DISPLAY names a reachable X server. When DISPLAY is unset (or unreachable), starts a
// private Xvfb (640x480 is too small for centring tests, so the screen is 1280x1024x24, with GLX
// and XTest) on a free display number, sets DISPLAY, and stops the server at process exit.
// Returns false when no server could be reached or started.
bool EnsureXServer();

}  // namespace kiln::test
