// GL context records on Win32/WGL: pixel format choice from the graphics flags, context creation on
// own and foreign windows, make-current, buffer swaps and the swap interval.
#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "runtime/core/runtime.h"
#include "runtime/graphics/graphics.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/gl_context_list.h"
#include "runtime/graphics/internal/wgl_layer.h"

namespace kiln {
namespace {

// One GL context with the device context it draws to and, for own windows, the window. Owns all
// three; a foreign window's device context goes back to the window, which stays.
class WGLContextRecord : public GLContextRecord {
 public:
  ~WGLContextRecord() override { Release(); }

  // The window stays set while it is destroyed, so the window procedure still finds the record.
  void Release() override {
    if (context != nullptr) wglDeleteContext(context);
    context = nullptr;
    if (dc != nullptr) ReleaseDC(window, dc);
    dc = nullptr;
    if (mode != GLAttachedContext && window != nullptr) {
      win32::RestoreDisplayMode(window);
      DestroyWindow(window);
    }
    window = nullptr;
  }

  bool Activate() override {
    if (wglMakeCurrent(dc, context)) return true;
    wglMakeCurrent(nullptr, nullptr);
    return false;
  }

  bool Present() override {
    if (!doubleBuffered) {
      glFlush();
      return true;
    }
    // A foreign window may be destroyed by its owner at any time.
    return SwapBuffers(dc) || mode != GLAttachedContext || IsWindow(window);
  }

  void RefreshSize() override {
    RECT client{};
    if (!GetClientRect(window, &client)) return;
    width = client.right;
    height = client.bottom;
  }

  intptr_t NativeWindow() const override { return reinterpret_cast<intptr_t>(window); }

  HWND window = nullptr;
  HDC dc = nullptr;
  HGLRC context = nullptr;
};

// The pixel format request: RGBA with at least one bit of every requested buffer, so the system
// picks the best format that has each of them at all.
PIXELFORMATDESCRIPTOR PixelFormatRequest(int flags) {
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
  if (flags & BackBufferFlag) pfd.dwFlags |= PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 1;
  pfd.cAlphaBits = (flags & AlphaBufferFlag) ? 1 : 0;
  pfd.cAccumBits = (flags & AccumBufferFlag) ? 1 : 0;
  pfd.cDepthBits = (flags & DepthBufferFlag) ? 1 : 0;
  pfd.cStencilBits = (flags & StencilBufferFlag) ? 1 : 0;
  pfd.iLayerType = PFD_MAIN_PLANE;
  return pfd;
}

// Whether a format has what the flags ask for.
bool FormatFits(const PIXELFORMATDESCRIPTOR& pfd, int flags) {
  if (!(pfd.dwFlags & PFD_SUPPORT_OPENGL) || !(pfd.dwFlags & PFD_DRAW_TO_WINDOW)) return false;
  if (pfd.iPixelType != PFD_TYPE_RGBA) return false;
  if ((flags & BackBufferFlag) && !(pfd.dwFlags & PFD_DOUBLEBUFFER)) return false;
  if ((flags & AlphaBufferFlag) && pfd.cAlphaBits < 1) return false;
  if ((flags & DepthBufferFlag) && pfd.cDepthBits < 1) return false;
  if ((flags & StencilBufferFlag) && pfd.cStencilBits < 1) return false;
  if ((flags & AccumBufferFlag) && pfd.cAccumBits < 1) return false;
  return true;
}

// Gives the record's device context a pixel format for the flags and makes its GL context. A
// window can take a pixel format only once: a foreign window that has one keeps it, if it fits.
bool MakeGLContext(WGLContextRecord& record) {
  PIXELFORMATDESCRIPTOR pfd = PixelFormatRequest(record.flags);
  int format = GetPixelFormat(record.dc);
  if (format == 0) {
    format = ChoosePixelFormat(record.dc, &pfd);
    if (format == 0 || !SetPixelFormat(record.dc, format, &pfd)) return false;
  }
  PIXELFORMATDESCRIPTOR chosen{};
  if (DescribePixelFormat(record.dc, format, sizeof chosen, &chosen) == 0) return false;
  if (record.mode == GLAttachedContext && !FormatFits(chosen, record.flags)) return false;
  record.doubleBuffered = (chosen.dwFlags & PFD_DOUBLEBUFFER) != 0;
  record.context = wglCreateContext(record.dc);
  if (record.context == nullptr) return false;
  // The new context shares the objects of the open ones where the driver allows it (pixel formats
  // of different kinds may not); otherwise it starts a texture space of its own.
  auto* candidate = static_cast<WGLContextRecord*>(GLShareCandidate());
  if (candidate != nullptr && candidate->context != nullptr && wglShareLists(candidate->context, record.context)) {
    record.textureSpace = candidate->textureSpace;
  } else {
    record.textureSpace = NewGLTextureSpace();
  }
  return true;
}

}  // namespace

namespace win32 {

bool FindContextWindow(HWND window, ContextWindowInfo& info) {
  if (window == nullptr) return false;
  const GLContextRecord* record = FindGLContextRecord([window](const GLContextRecord& listed) {
    return listed.mode != GLAttachedContext && static_cast<const WGLContextRecord&>(listed).window == window;
  });
  if (record == nullptr) return false;
  info = {record->mode, record->width, record->height, record->depth, record->hertz};
  return true;
}

}  // namespace win32

int GLCreateContext(int width, int height, int depth, int hertz, int flags) {
  if (width <= 0 || height <= 0 || GLContextListGone()) return 0;
  auto record = std::make_unique<WGLContextRecord>();
  record->mode = depth != 0 ? GLFullScreenContext : GLDesktopContext;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->window = win32::CreateContextWindow(width, height, depth);
  if (record->window == nullptr) return 0;
  record->RefreshSize();
  record->dc = GetDC(record->window);
  if (record->dc == nullptr || !MakeGLContext(*record)) return 0;  // the record removes the window

  // The display mode is switched before the window appears, so a refused mode throws from here
  // (not from inside the window procedure) and leaves no window behind. The focus that comes with
  // showing the window then finds the mode already owned.
  if (depth != 0) {
    int interval = win32::SwitchDisplayMode(record->window, width, height, depth, hertz);
    GLSetSwapInterval(interval);
  }
  HWND window = record->window;
  int handle = AddGLContextRecord(std::move(record));
  ShowWindow(window, SW_SHOW);
  return handle;
}

int GLAttachContext(intptr_t widget, int flags) {
  HWND window = reinterpret_cast<HWND>(widget);
  if (window == nullptr || GLContextListGone() || !IsWindow(window)) return 0;
  win32::RegisterContextWindowClass();
  auto record = std::make_unique<WGLContextRecord>();
  record->mode = GLAttachedContext;
  record->flags = flags;
  record->window = window;
  record->dc = GetDC(window);
  if (record->dc == nullptr || !MakeGLContext(*record)) return 0;
  record->RefreshSize();
  return AddGLContextRecord(std::move(record));
}

void ClearCurrentGLContext() { wglMakeCurrent(nullptr, nullptr); }

void GLSetSwapInterval(int interval) {
  // Extension functions belong to the current context; there is none to ask without one.
  if (wglGetCurrentContext() == nullptr) return;
  using SwapIntervalEXT = BOOL(WINAPI*)(int);
  auto set = reinterpret_cast<SwapIntervalEXT>(
      reinterpret_cast<void*>(wglGetProcAddress("wglSwapIntervalEXT")));
  if (set != nullptr) set(interval);
}

}  // namespace kiln
