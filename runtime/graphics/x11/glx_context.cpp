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
#include "runtime/graphics/internal/gl_context_list.h"
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

void SwapBuffersOf(Display* display, Window window, bool doubleBuffered);

// One GL context and, for own windows, the window it draws to. Owns both.
class GLXContextRecord : public GLContextRecord {
 public:
  ~GLXContextRecord() override { Release(); }

  void Release() override {
    Display* display = SystemDisplay();
    if (display == nullptr) return;
    if (context != nullptr) glXDestroyContext(display, context);
    context = nullptr;
    if (mode != GLAttachedContext && window != 0) x11::DestroyContextWindow(display, window, colormap);
    window = 0;
  }

  bool Activate() override {
    Display* display = SystemDisplay();
    if (display == nullptr) return false;
    XErrorTrap trap(display);
    Bool ok = glXMakeCurrent(display, window, context);
    return ok && !trap.Failed();
  }

  bool Present() override {
    Display* display = SystemDisplay();
    if (display == nullptr) return true;
    if (mode != GLAttachedContext) {
      // Another client may have destroyed the window; the program hears of it as a close request.
      if (!x11::IsWindowGone(window)) SwapBuffersOf(display, window, doubleBuffered);
      return true;
    }
    // A foreign window may be destroyed by its owner at any time; its context then stops drawing
    // instead of the X error ending the process.
    XErrorTrap trap(display);
    SwapBuffersOf(display, window, doubleBuffered);
    return !trap.Failed();
  }

  void RefreshSize() override {
    Display* display = SystemDisplay();
    if (display == nullptr) return;
    XErrorTrap trap(display);
    XWindowAttributes attributes;
    Status ok = XGetWindowAttributes(display, window, &attributes);
    if (!trap.Failed() && ok != 0) {
      width = attributes.width;
      height = attributes.height;
    }
  }

  intptr_t NativeWindow() const override { return static_cast<intptr_t>(window); }

  Window window = 0;
  Colormap colormap = 0;
  GLXContext context = nullptr;
};

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

GLXContext CreateContext(Display* display, XVisualInfo* visual, GLXContext share) {
  XErrorTrap trap(display);
  GLXContext context = glXCreateContext(display, visual, share, True);
  if (trap.Failed() && context != nullptr) {
    glXDestroyContext(display, context);
    return nullptr;
  }
  return context;
}

// Makes the record's context, sharing the objects of the open contexts when the server allows it
// (another screen, or direct and indirect rendering mixed, do not); otherwise it starts a texture
// space of its own.
bool MakeContext(Display* display, XVisualInfo* visual, GLXContextRecord& record) {
  auto* candidate = static_cast<GLXContextRecord*>(GLShareCandidate());
  if (candidate != nullptr && candidate->context != nullptr) {
    record.context = CreateContext(display, visual, candidate->context);
    if (record.context != nullptr) {
      record.textureSpace = candidate->textureSpace;
      return true;
    }
  }
  record.context = CreateContext(display, visual, nullptr);
  if (record.context == nullptr) return false;
  record.textureSpace = NewGLTextureSpace();
  return true;
}

void SwapBuffersOf(Display* display, Window window, bool doubleBuffered) {
  if (doubleBuffered) {
    glXSwapBuffers(display, window);
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

  auto record = std::make_unique<GLXContextRecord>();
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

  if (!MakeContext(display, visual.get(), *record)) return 0;  // the record's destructor removes the window

  // The display mode is switched before the window appears, so a refused mode leaves no window.
  if (depth != 0) {
    int interval = x11::SwitchDisplayMode(display, record->window, width, height, depth, hertz);
    GLSetSwapInterval(interval);
  }
  Window window = record->window;
  int handle = AddGLContextRecord(std::move(record));
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

  auto record = std::make_unique<GLXContextRecord>();
  record->mode = GLAttachedContext;
  record->flags = flags;
  record->window = window;
  record->width = attributes.width;
  record->height = attributes.height;
  record->doubleBuffered = VisualValue(display, visual.get(), GLX_DOUBLEBUFFER) != 0;
  if (!MakeContext(display, visual.get(), *record)) return 0;
  return AddGLContextRecord(std::move(record));
}

void ClearCurrentGLContext() {
  if (Display* display = SystemDisplay()) glXMakeCurrent(display, None, nullptr);
}

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

}  // namespace kiln
