// Pieces shared by the files of the X11/GLX window-system layer.
#pragma once

#include <X11/Xlib.h>

#include "runtime/core/text.h"

namespace kiln::x11 {

// Creates the window of a context record with the visual's colormap: the client area is exactly
// width x height, centred on the screen (depth 0) or at the origin covering the screen in its own
// display mode (depth and hertz, switched again whenever the window regains the focus), of fixed
// size, and captioned with the application title. It is registered as a program window but not
// yet mapped. Returns 0 on failure; `colormap` receives the colormap to free with the window.
Window CreateContextWindow(Display* display, const XVisualInfo& visual, int width, int height,
                           int depth, int hertz, Colormap& colormap);
// Maps the window and, for full screen, gives it the input focus.
void ShowContextWindow(Display* display, Window window, bool fullScreen);
// Unregisters and destroys a window made by CreateContextWindow; restores the desktop display
// mode and the screen saver if the window held them.
void DestroyContextWindow(Display* display, Window window, Colormap colormap);

// Switches the screen to width x height (and hertz when non-zero, retried without it if refused)
// for `owner`; the desktop mode is remembered for restoring. Returns the swap interval that fits
// the result (1 when the refresh rate was set). Throws "GLGraphicsDriver failed to set display mode".
int SwitchDisplayMode(Display* display, Window owner, int width, int height, int depth, int hertz);
// The window that currently owns a switched display mode, or 0.
Window DisplayModeOwner();
// Restores the desktop mode if `window` owns the display mode; true if it did.
bool RestoreDisplayMode(Display* display, Window window);

// Holds off the screen saver and monitor power saving; the context windows hold it while one of
// them is mapped.
void HoldScreenSaver(Display* display);
void ReleaseScreenSaver(Display* display);
bool ScreenSaverHeld();

// The caption as legacy (Latin-1) and UTF-8 window names.
void SetWindowCaption(Display* display, Window window, const Text& caption);

}  // namespace kiln::x11
