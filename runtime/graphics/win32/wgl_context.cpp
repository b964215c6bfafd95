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
#include "runtime/graphics/internal/wgl_layer.h"

namespace kiln {
namespace {

// One GL context with the device context it draws to and, for own windows, the window. Owns all
// three; a foreign window's device context goes back to the window, which stays.
class GLContextRecord {
 public:
  GLContextRecord() = default;
  GLContextRecord(const GLContextRecord&) = delete;
  GLContextRecord& operator=(const GLContextRecord&) = delete;
  ~GLContextRecord() { Release(); }

  // Deletes the context and destroys an own window, giving back a display mode it holds. The
  // window stays set while it is destroyed, so the window procedure still finds the record.
  void Release() {
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

  int handle = 0;
  GLContextMode mode = GLDesktopContext;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  bool doubleBuffered = false;
  bool closing = false;  // set while Release runs inside GLCloseContext
  HWND window = nullptr;
  HDC dc = nullptr;
  HGLRC context = nullptr;
};

// Set once the layer's state has been destroyed at program end; contexts released after that
// (by objects destroyed later) have nothing left to close.
bool layerGone = false;

struct LayerState {
  ~LayerState() { layerGone = true; }
  // Newest first.
  std::vector<std::unique_ptr<GLContextRecord>> records;
  GLContextRecord* current = nullptr;
  int lastSwapInterval = -1;
  int nextHandle = 1;
  bool exitHandlerAdded = false;
};

LayerState& Layer() {
  static LayerState state;
  return state;
}

GLContextRecord* FindRecord(int handle) {
  if (handle == 0 || layerGone) return nullptr;
  for (auto& record : Layer().records) {
    if (record->handle == handle) return record.get();
  }
  return nullptr;
}

// Closes what is still open when the program ends, so the desktop mode comes back.
void CloseAllContexts() {
  LayerState& layer = Layer();
  while (!layer.records.empty()) GLCloseContext(layer.records.front()->handle);
}

int AddRecord(std::unique_ptr<GLContextRecord> record) {
  LayerState& layer = Layer();
  if (!layer.exitHandlerAdded) {
    layer.exitHandlerAdded = true;
    AddExitHandler(&CloseAllContexts);
  }
  record->handle = layer.nextHandle++;
  if (layer.nextHandle <= 0) layer.nextHandle = 1;
  int handle = record->handle;
  layer.records.insert(layer.records.begin(), std::move(record));
  return handle;
}

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
bool MakeGLContext(GLContextRecord& record) {
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
  return record.context != nullptr;
}

void ReadClientSize(GLContextRecord& record) {
  RECT client{};
  if (!GetClientRect(record.window, &client)) return;
  record.width = client.right;
  record.height = client.bottom;
}

}  // namespace

namespace win32 {

bool FindContextWindow(HWND window, ContextWindowInfo& info) {
  if (window == nullptr || layerGone) return false;
  for (auto& record : Layer().records) {
    if (record->window != window || record->mode == GLAttachedContext) continue;
    info = {record->mode, record->width, record->height, record->depth, record->hertz};
    return true;
  }
  return false;
}

}  // namespace win32

int GLCreateContext(int width, int height, int depth, int hertz, int flags) {
  if (width <= 0 || height <= 0 || layerGone) return 0;
  auto record = std::make_unique<GLContextRecord>();
  record->mode = depth != 0 ? GLFullScreenContext : GLDesktopContext;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->window = win32::CreateContextWindow(width, height, depth);
  if (record->window == nullptr) return 0;
  ReadClientSize(*record);
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
  int handle = AddRecord(std::move(record));
  ShowWindow(window, SW_SHOW);
  return handle;
}

int GLAttachContext(intptr_t widget, int flags) {
  HWND window = reinterpret_cast<HWND>(widget);
  if (window == nullptr || layerGone || !IsWindow(window)) return 0;
  win32::RegisterContextWindowClass();
  auto record = std::make_unique<GLContextRecord>();
  record->mode = GLAttachedContext;
  record->flags = flags;
  record->window = window;
  record->dc = GetDC(window);
  if (record->dc == nullptr || !MakeGLContext(*record)) return 0;
  ReadClientSize(*record);
  return AddRecord(std::move(record));
}

void GLCloseContext(int handle) {
  if (layerGone) return;
  LayerState& layer = Layer();
  auto it = std::find_if(layer.records.begin(), layer.records.end(),
                         [handle](const auto& record) { return record->handle == handle; });
  if (it == layer.records.end()) return;
  GLContextRecord* record = it->get();
  if (record->closing) return;
  record->closing = true;
  if (layer.current == record) GLMakeCurrent(0);
  // The window is destroyed while its record is still listed, so the window procedure handles
  // the messages of its end; their hooks may open or close other contexts meanwhile.
  record->Release();
  it = std::find_if(layer.records.begin(), layer.records.end(),
                    [record](const auto& listed) { return listed.get() == record; });
  if (it != layer.records.end()) layer.records.erase(it);
}

void GLMakeCurrent(int handle) {
  if (layerGone) return;
  LayerState& layer = Layer();
  GLContextRecord* record = FindRecord(handle);
  // A record that is closing is still listed while its window ends; selected by a hook meanwhile,
  // it would stay current after it is gone.
  if (record != nullptr && record->closing) record = nullptr;
  if (record == layer.current) return;
  if (record != nullptr) {
    if (!wglMakeCurrent(record->dc, record->context)) {
      wglMakeCurrent(nullptr, nullptr);
      record = nullptr;
    }
  } else {
    wglMakeCurrent(nullptr, nullptr);
  }
  layer.current = record;
}

int GLCurrentContext() {
  if (layerGone) return 0;
  GLContextRecord* current = Layer().current;
  return current != nullptr ? current->handle : 0;
}

void GLSwapContext(int sync) {
  if (layerGone) return;
  LayerState& layer = Layer();
  GLContextRecord* record = layer.current;
  if (record == nullptr) return;
  int interval = sync != 0 ? 1 : 0;
  if (interval != layer.lastSwapInterval) {
    layer.lastSwapInterval = interval;
    GLSetSwapInterval(interval);
  }
  if (!record->doubleBuffered) {
    glFlush();
    return;
  }
  // A foreign window may be destroyed by its owner at any time; its context then stops drawing
  // (no context current).
  if (!SwapBuffers(record->dc) && record->mode == GLAttachedContext && !IsWindow(record->window)) {
    GLMakeCurrent(0);
  }
}

int GLLastSwapInterval() { return layerGone ? -1 : Layer().lastSwapInterval; }

void GLSetSwapInterval(int interval) {
  // Extension functions belong to the current context; there is none to ask without one.
  if (wglGetCurrentContext() == nullptr) return;
  using SwapIntervalEXT = BOOL(WINAPI*)(int);
  auto set = reinterpret_cast<SwapIntervalEXT>(
      reinterpret_cast<void*>(wglGetProcAddress("wglSwapIntervalEXT")));
  if (set != nullptr) set(interval);
}

bool GLContextSettings(int handle, int& width, int& height, int& depth, int& hertz, int& flags) {
  GLContextRecord* record = FindRecord(handle);
  if (record == nullptr) return false;
  if (record->mode == GLAttachedContext) ReadClientSize(*record);
  width = record->width;
  height = record->height;
  depth = record->depth;
  hertz = record->hertz;
  flags = record->flags;
  return true;
}

intptr_t GLContextWindow(int handle) {
  GLContextRecord* record = FindRecord(handle);
  return record != nullptr ? reinterpret_cast<intptr_t>(record->window) : 0;
}

}  // namespace kiln
