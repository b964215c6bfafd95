// GL context records on X11/GLX: visual choice from the graphics flags, context creation on own and
// foreign windows, make-current, buffer swaps and the swap interval.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/graphics.h"
#include "runtime/core/runtime.h"
#include "runtime/graphics/internal/glx_layer.h"
#include "runtime/system/x11/x11.h"

namespace kiln {
namespace {

using x11::SystemDisplay;
using x11::XErrorTrap;

struct VisualInfoFree {
  void operator()(XVisualInfo* info) const { XFree(info); }
};
using VisualInfo = std::unique_ptr<XVisualInfo, VisualInfoFree>;

// One GL context and, for own windows, the window it draws to. Owns both.
class GLContextRecord {
 public:
  GLContextRecord() = default;
  GLContextRecord(const GLContextRecord&) = delete;
  GLContextRecord& operator=(const GLContextRecord&) = delete;
  ~GLContextRecord() {
    Display* display = SystemDisplay();
    if (display == nullptr) return;
    if (context != nullptr) glXDestroyContext(display, context);
    if (mode != GLAttachedContext) x11::DestroyContextWindow(display, window, colormap);
  }

  int handle = 0;
  GLContextMode mode = GLDesktopContext;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  bool doubleBuffered = false;
  Window window = 0;
  Colormap colormap = 0;
  GLXContext context = nullptr;
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

// The visual request: RGBA with at least one bit of every requested buffer, so the server picks
// the deepest visual that has each of them at all.
std::vector<int> VisualAttributes(int flags) {
  std::vector<int> attributes = {GLX_RGBA, GLX_RED_SIZE, 1, GLX_GREEN_SIZE, 1, GLX_BLUE_SIZE, 1};
  if (flags & BackBufferFlag) attributes.push_back(GLX_DOUBLEBUFFER);
  if (flags & AlphaBufferFlag) attributes.insert(attributes.end(), {GLX_ALPHA_SIZE, 1});
  if (flags & DepthBufferFlag) attributes.insert(attributes.end(), {GLX_DEPTH_SIZE, 1});
  if (flags & StencilBufferFlag) attributes.insert(attributes.end(), {GLX_STENCIL_SIZE, 1});
  if (flags & AccumBufferFlag) {
    attributes.insert(attributes.end(),
                      {GLX_ACCUM_RED_SIZE, 1, GLX_ACCUM_GREEN_SIZE, 1, GLX_ACCUM_BLUE_SIZE, 1});
  }
  attributes.push_back(None);
  return attributes;
}

int VisualValue(Display* display, XVisualInfo* visual, int attribute) {
  int value = 0;
  if (glXGetConfig(display, visual, attribute, &value) != 0) return 0;
  return value;
}

// Whether a foreign window's visual has what the flags ask for.
bool VisualFits(Display* display, XVisualInfo* visual, int flags) {
  if (!VisualValue(display, visual, GLX_USE_GL) || !VisualValue(display, visual, GLX_RGBA)) return false;
  if ((flags & BackBufferFlag) && !VisualValue(display, visual, GLX_DOUBLEBUFFER)) return false;
  if ((flags & AlphaBufferFlag) && VisualValue(display, visual, GLX_ALPHA_SIZE) < 1) return false;
  if ((flags & DepthBufferFlag) && VisualValue(display, visual, GLX_DEPTH_SIZE) < 1) return false;
  if ((flags & StencilBufferFlag) && VisualValue(display, visual, GLX_STENCIL_SIZE) < 1) return false;
  if ((flags & AccumBufferFlag) && VisualValue(display, visual, GLX_ACCUM_RED_SIZE) < 1) return false;
  return true;
}

GLXContext CreateContext(Display* display, XVisualInfo* visual) {
  XErrorTrap trap(display);
  GLXContext context = glXCreateContext(display, visual, nullptr, True);
  if (trap.Failed() && context != nullptr) {
    glXDestroyContext(display, context);
    return nullptr;
  }
  return context;
}

void SwapRecordBuffers(Display* display, const GLContextRecord& record) {
  if (record.doubleBuffered) {
    glXSwapBuffers(display, record.window);
  } else {
    glFlush();
  }
}

bool HasExtension(const char* list, const char* name) {
  if (list == nullptr) return false;
  size_t length = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
    bool startOk = p == list || p[-1] == ' ';
    bool endOk = p[length] == ' ' || p[length] == 0;
    if (startOk && endOk) return true;
  }
  return false;
}

}  // namespace

int GLCreateContext(int width, int height, int depth, int hertz, int flags) {
  Display* display = SystemDisplay();
  if (display == nullptr || width <= 0 || height <= 0) return 0;
  int screen = DefaultScreen(display);
  std::vector<int> attributes = VisualAttributes(flags);
  VisualInfo visual(glXChooseVisual(display, screen, attributes.data()));
  if (!visual) return 0;

  auto record = std::make_unique<GLContextRecord>();
  record->mode = depth != 0 ? GLFullScreenContext : GLDesktopContext;
  record->depth = depth;
  record->hertz = hertz;
  record->flags = flags;
  record->doubleBuffered = VisualValue(display, visual.get(), GLX_DOUBLEBUFFER) != 0;
  record->window = x11::CreateContextWindow(display, *visual, width, height, depth, hertz,
                                            record->colormap);
  if (record->window == 0) return 0;

  Window root = 0;
  int x = 0, y = 0;
  unsigned w = 0, h = 0, border = 0, bits = 0;
  XGetGeometry(display, record->window, &root, &x, &y, &w, &h, &border, &bits);
  record->width = static_cast<int>(w);
  record->height = static_cast<int>(h);

  record->context = CreateContext(display, visual.get());
  if (record->context == nullptr) return 0;  // the record's destructor removes the window

  // The display mode is switched before the window appears, so a refused mode leaves no window.
  if (depth != 0) {
    int interval = x11::SwitchDisplayMode(display, record->window, width, height, depth, hertz);
    GLSetSwapInterval(interval);
  }
  Window window = record->window;
  int handle = AddRecord(std::move(record));
  x11::ShowContextWindow(display, window, depth != 0);
  return handle;
}

int GLAttachContext(intptr_t widget, int flags) {
  Display* display = SystemDisplay();
  if (display == nullptr || widget == 0) return 0;
  Window window = static_cast<Window>(widget);
  XWindowAttributes attributes;
  {
    XErrorTrap trap(display);
    Status ok = XGetWindowAttributes(display, window, &attributes);
    if (trap.Failed() || ok == 0) return 0;
  }
  XVisualInfo pattern{};
  pattern.visualid = XVisualIDFromVisual(attributes.visual);
  pattern.screen = XScreenNumberOfScreen(attributes.screen);
  int count = 0;
  VisualInfo visual(XGetVisualInfo(display, VisualIDMask | VisualScreenMask, &pattern, &count));
  if (!visual || count < 1 || !VisualFits(display, visual.get(), flags)) return 0;

  auto record = std::make_unique<GLContextRecord>();
  record->mode = GLAttachedContext;
  record->flags = flags;
  record->window = window;
  record->width = attributes.width;
  record->height = attributes.height;
  record->doubleBuffered = VisualValue(display, visual.get(), GLX_DOUBLEBUFFER) != 0;
  record->context = CreateContext(display, visual.get());
  if (record->context == nullptr) return 0;
  return AddRecord(std::move(record));
}

void GLCloseContext(int handle) {
  if (layerGone) return;
  LayerState& layer = Layer();
  auto it = std::find_if(layer.records.begin(), layer.records.end(),
                         [handle](const auto& record) { return record->handle == handle; });
  if (it == layer.records.end()) return;
  if (layer.current == it->get()) GLMakeCurrent(0);
  std::unique_ptr<GLContextRecord> record = std::move(*it);
  layer.records.erase(it);
}

void GLMakeCurrent(int handle) {
  if (layerGone) return;
  LayerState& layer = Layer();
  GLContextRecord* record = FindRecord(handle);
  if (record == layer.current) return;
  Display* display = SystemDisplay();
  if (display == nullptr) return;
  if (record != nullptr) {
    XErrorTrap trap(display);
    Bool ok = glXMakeCurrent(display, record->window, record->context);
    if (!ok || trap.Failed()) {
      glXMakeCurrent(display, None, nullptr);
      record = nullptr;
    }
  } else {
    glXMakeCurrent(display, None, nullptr);
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
  Display* display = SystemDisplay();
  if (record->mode != GLAttachedContext) {
    // Another client may have destroyed the window; the program hears of it as a close request.
    if (!x11::IsWindowGone(record->window)) SwapRecordBuffers(display, *record);
    return;
  }
  // A foreign window may be destroyed by its owner at any time; its context then stops drawing
  // (no context current) instead of the X error ending the process.
  XErrorTrap trap(display);
  SwapRecordBuffers(display, *record);
  if (trap.Failed()) GLMakeCurrent(0);
}

int GLLastSwapInterval() { return layerGone ? -1 : Layer().lastSwapInterval; }

void GLSetSwapInterval(int interval) {
  Display* display = SystemDisplay();
  if (display == nullptr || glXGetCurrentContext() == nullptr) return;
  const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
  auto address = [](const char* name) {
    return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name));
  };
  if (HasExtension(extensions, "GLX_EXT_swap_control")) {
    using SwapIntervalEXT = void (*)(Display*, GLXDrawable, int);
    auto set = reinterpret_cast<SwapIntervalEXT>(address("glXSwapIntervalEXT"));
    GLXDrawable drawable = glXGetCurrentDrawable();
    if (set != nullptr && drawable != None) set(display, drawable, interval);
  } else if (HasExtension(extensions, "GLX_MESA_swap_control")) {
    using SwapIntervalMESA = int (*)(unsigned);
    auto set = reinterpret_cast<SwapIntervalMESA>(address("glXSwapIntervalMESA"));
    if (set != nullptr) set(static_cast<unsigned>(interval));
  } else if (HasExtension(extensions, "GLX_SGI_swap_control") && interval > 0) {
    // The SGI form cannot turn synchronisation off; an interval of 0 stays unset.
    using SwapIntervalSGI = int (*)(int);
    auto set = reinterpret_cast<SwapIntervalSGI>(address("glXSwapIntervalSGI"));
    if (set != nullptr) set(interval);
  }
}

bool GLContextSettings(int handle, int& width, int& height, int& depth, int& hertz, int& flags) {
  GLContextRecord* record = FindRecord(handle);
  if (record == nullptr) return false;
  Display* display = SystemDisplay();
  if (record->mode == GLAttachedContext && display != nullptr) {
    XErrorTrap trap(display);
    XWindowAttributes attributes;
    Status ok = XGetWindowAttributes(display, record->window, &attributes);
    if (!trap.Failed() && ok != 0) {
      record->width = attributes.width;
      record->height = attributes.height;
    }
  }
  width = record->width;
  height = record->height;
  depth = record->depth;
  hertz = record->hertz;
  flags = record->flags;
  return true;
}

intptr_t GLContextWindow(int handle) {
  GLContextRecord* record = FindRecord(handle);
  return record != nullptr ? static_cast<intptr_t>(record->window) : 0;
}

}  // namespace kiln
