// The GL graphics driver: contexts that are GL contexts on windows of the window-system layer.
#pragma once

#include "runtime/graphics/graphics.h"

namespace kiln {

class TGLGraphicsDriver : public TGraphicsDriver {
 public:
  std::vector<Ref<TGraphicsMode>> GraphicsModes() override;
  Ref<TGraphics> AttachGraphics(intptr_t widget, int flags) override;
  // The empty Ref when no window or context could be made.
  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz, int flags) override;
  // Makes g's context current; no context when g is empty or not a GL context.
  int SetGraphics(const Ref<TGraphics>& g) override;
  int Flip(int sync) override;
};

class TGLGraphics : public TGraphics {
 public:
  explicit TGLGraphics(int context) : _context(context) {}
  ~TGLGraphics() override;
  // The GL graphics driver; empty once closed.
  Ref<TGraphicsDriver> Driver() override;
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override;
  int Close() override;

  // Handle of the context record; 0 once closed.
  int _context;
};

// GL contexts share their textures with one another where the window system lets them: those that
// share form one texture space. The space of the current GL context (0 when none is current), and
// whether a space still has an open context, so that its texture names still mean something.
int GLTextureSpace();
bool GLTextureSpaceIsLive(int space);

// The single GL graphics driver, made on first call.
Ref<TGLGraphicsDriver> TheGLGraphicsDriver();

// Run-once initialiser: registers the driver's built-in resource and installs the driver with
// BackBufferFlag as default flags.
void InitGLGraphicsModule();

}  // namespace kiln
