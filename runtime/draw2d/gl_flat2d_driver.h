// The GL 2D driver: 2D contexts over the GL graphics driver's contexts, images as padded
// power-of-two textures, primitives and quads in immediate mode.
#pragma once

#include "runtime/draw2d/flat2d_driver.h"
#include "runtime/draw2d/flat2d_graphics.h"

namespace kiln {

class TGLFlat2DDriver : public TFlat2DDriver {
 public:
  // "OpenGL"
  Text ToString() const override;

  std::vector<Ref<TGraphicsMode>> GraphicsModes() override;
  Ref<TGraphics> AttachGraphics(intptr_t widget, int flags) override;
  Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz, int flags) override;
  int SetGraphics(const Ref<TGraphics>& g) override;
  int Flip(int sync) override;

  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) override;
  void SetBlend(int mode) override;
  void SetAlpha(float alpha) override;
  void SetColor(int r, int g, int b) override;
  void SetClsColor(int r, int g, int b) override;
  void SetViewport(int x, int y, int w, int h) override;
  void SetTransform(float ix, float iy, float jx, float jy) override;
  void SetLineWidth(float width) override;
  void Cls() override;
  void Plot(float x, float y) override;
  void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) override;
  void DrawPoly(const std::vector<float>& xy, float hx, float hy, float tx, float ty) override;
  void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) override;
  Ref<TPixmap> GrabPixmap(int x, int y, int w, int h) override;
  void SetResolution(float width, float height) override;

  // The driver; the GL graphics driver it draws through always exists.
  Ref<TGLFlat2DDriver> Create();
  // Forgets the cached GL state and sets up projection and viewport for g's size.
  void ResetGLContext(const Ref<TFlat2DGraphics>& g);
};

// A frame as a GL texture. Its texture is deleted at a later texture creation while a context of
// its own texture space is current, never from the destructor.
class TGLImageFrame : public TImageFrame {
 public:
  ~TGLImageFrame() override;
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
            float sh) override;
  // Runs of copies as single quads: over the texture itself with GL_REPEAT when it has no padding,
  // else over a sheet of copies made on first need.
  void DrawTiles(int64_t x, int64_t y, float fx, float fy, int w, int h, int64_t columns, int64_t rows) override;
  // Throws the runtime error "Unable to calculate tex size" when GL accepts no texture size at all.
  static Ref<TGLImageFrame> CreateFromPixmap(const Ref<TPixmap>& pixmap, int flags);

  // The used area of the texture, and the size of one texel.
  float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
  float uscale = 0, vscale = 0;
  int name = 0;
  int seq = 0;    // generation the texture belongs to; 0 once released
  int space = 0;  // texture space of the context it was made in (GLTextureSpace)
  // Used size in texels, whether texels are blended (linear filtering), and the pixels it was made
  // from (empty when they had to be scaled down to fit a texture).
  int width = 0, height = 0;
  bool filtered = false;
  Ref<TPixmap> source;
  // The sheet of copies for DrawTiles (0 until needed), and the texture size of one copy in it.
  int sheetName = 0;
  float sheetUScale = 0, sheetVScale = 0;
};

Ref<TGLFlat2DDriver> TheGLFlat2DDriver();

// Polygon segments of an oval with these radii: at least 12, a multiple of 4.
int OvalSegments(float rx, float ry);

}  // namespace kiln
