#include "runtime/graphics/gl_graphics.h"

#include "runtime/core/run_once.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/gl_text_font.h"
#include "runtime/stream/resources.h"

namespace kiln {
namespace {

// Display modes are enumerated up to this many.
constexpr int kMaxDisplayModes = 1024;

}  // namespace

std::vector<Ref<TGraphicsMode>> TGLGraphicsDriver::GraphicsModes() {
  std::vector<Ref<TGraphicsMode>> modes;
  for (const GLDisplayMode& m : GLDisplayModes(kMaxDisplayModes)) {
    Ref<TGraphicsMode> mode = MakeRef<TGraphicsMode>();
    mode->width = m.width;
    mode->height = m.height;
    mode->depth = m.depth;
    mode->hertz = m.hertz;
    modes.push_back(std::move(mode));
  }
  return modes;
}

Ref<TGraphics> TGLGraphicsDriver::AttachGraphics(intptr_t widget, int flags) {
  int context = GLAttachContext(widget, flags);
  if (context == 0) return nullptr;
  return MakeRef<TGLGraphics>(context);
}

Ref<TGraphics> TGLGraphicsDriver::CreateGraphics(int width, int height, int depth, int hertz,
                                                 int flags) {
  int context = GLCreateContext(width, height, depth, hertz, flags);
  if (context == 0) return nullptr;
  return MakeRef<TGLGraphics>(context);
}

int TGLGraphicsDriver::SetGraphics(const Ref<TGraphics>& g) {
  Ref<TGLGraphics> gl = RefCast<TGLGraphics>(g);
  GLMakeCurrent(gl ? gl->_context : 0);
  return 0;
}

int TGLGraphicsDriver::Flip(int sync) {
  GLSwapContext(sync);
  return 0;
}

// A context that is dropped without Close still gives its window back.
TGLGraphics::~TGLGraphics() {
  if (_context != 0) GLCloseContext(_context);
}

// A closed context belongs to no driver.
Ref<TGraphicsDriver> TGLGraphics::Driver() {
  if (_context == 0) return nullptr;
  return TheGLGraphicsDriver();
}

int TGLGraphics::GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) {
  width = height = depth = hertz = flags = 0;
  GLContextSettings(_context, width, height, depth, hertz, flags);
  return 0;
}

int TGLGraphics::Close() {
  if (_context != 0) {
    GLCloseContext(_context);
    _context = 0;
  }
  return 0;
}

int GLTextureSpace() { return GLCurrentTextureSpace(); }

bool GLTextureSpaceIsLive(int space) { return GLTextureSpaceLive(space); }

Ref<TGLGraphicsDriver> TheGLGraphicsDriver() {
  static Ref<TGLGraphicsDriver> driver = MakeRef<TGLGraphicsDriver>();
  return driver;
}

void InitGLGraphicsModule() {
  RunOnce([] {
    InitGraphicsModule();
    AddEmbeddedResource("gldrawtextfont.bin", GLTextFontBytes(), GLTextFontSize());
    InstallGraphicsDriver(TheGLGraphicsDriver(), BackBufferFlag);
  });
}

}  // namespace kiln
