// The window-system layer under the GL graphics driver: windows with a GL context, make-current,
// buffer swaps with a swap interval, and display modes. One backend per window system implements
// it; GL itself is called only here and in the GL 2D driver.
#pragma once

#include <cstdint>
#include <vector>

namespace kiln {

// How a context record came to be.
enum GLContextMode {
  GLAttachedContext = 1,    // on a foreign window
  GLDesktopContext = 2,     // own window on the desktop
  GLFullScreenContext = 3,  // own window covering the screen in a display mode of its own
};

struct GLDisplayMode {
  int width = 0;
  int height = 0;
  int depth = 0;  // bits per pixel
  int hertz = 0;  // 0 when the display does not report a rate
};

// Opens a window whose client area is width x height with a GL context for it; depth 0 centres it
// on the desktop, any other depth switches the display mode and covers the screen. Returns the
// record handle, 0 when no window or context could be made. A failed display-mode switch throws
// the text "GLGraphicsDriver failed to set display mode" and leaves nothing behind.
int GLCreateContext(int width, int height, int depth, int hertz, int flags);
// A GL context on a window of another owner; the window is not shown, moved or watched.
int GLAttachContext(intptr_t window, int flags);
// Releases the context and destroys the record's own window; unknown handles are ignored.
void GLCloseContext(int handle);
// Makes the record current (0: none); nothing happens when it already is.
void GLMakeCurrent(int handle);
int GLCurrentContext();
// Swaps the current record's buffers; the swap interval is set first when (sync != 0) differs
// from the last interval set. Nothing happens when no record is current.
void GLSwapContext(int sync);
// Sets the swap interval through the swap-control extension, if the display offers one.
void GLSetSwapInterval(int interval);
// The last interval GLSwapContext set; -1 before the first swap.
int GLLastSwapInterval();
// Settings of a record (attached ones re-read their window's size); false for unknown handles.
bool GLContextSettings(int handle, int& width, int& height, int& depth, int& hertz, int& flags);
// The texture space of the current context (see gl_graphics.h); 0 when none is current.
int GLCurrentTextureSpace();
// Whether some context of the space is still open, so that its GL objects still exist.
bool GLTextureSpaceLive(int space);
// The platform window of a record, 0 for unknown handles.
intptr_t GLContextWindow(int handle);
// Up to `limit` display modes of at least 16 bits per pixel, in the display's order.
std::vector<GLDisplayMode> GLDisplayModes(int limit);

}  // namespace kiln
