// Pieces shared by the files of the Win32/WGL window-system layer.
#pragma once

#include <windows.h>

namespace kiln::win32 {

// The window class of every context window.
inline constexpr char kGLWindowClass[] = "Kilnworks GLGraphics";

// What the window procedure needs to know of the record that owns a window.
struct ContextWindowInfo {
  int mode = 0;  // GLContextMode
  int width = 0, height = 0, depth = 0, hertz = 0;
};

// The record of one of the layer's own or attached windows; false when the window has none.
bool FindContextWindow(HWND window, ContextWindowInfo& info);

// Creates a hidden window of the context window class whose client area is exactly width x height:
// centred on the desktop with a caption and no resizing (depth 0), or a bare popup at the origin.
// The caption is the application title. Registers the class on first use; a refused
// registration ends the process with exit code -1. Returns nullptr on failure.
HWND CreateContextWindow(int width, int height, int depth);
// Registers the class if that has not been done.
void RegisterContextWindowClass();

// Switches the display to width x height x depth (and hertz when non-zero, retried without it if
// refused) for `owner`. Returns the swap interval that fits the result (1 when the rate was set).
// Throws "GLGraphicsDriver failed to set display mode".
int SwitchDisplayMode(HWND owner, int width, int height, int depth, int hertz);
// The window that currently owns a switched display mode, or nullptr.
HWND DisplayModeOwner();
// Restores the desktop mode if `window` owns the display mode; true if it did.
bool RestoreDisplayMode(HWND window);

}  // namespace kiln::win32
