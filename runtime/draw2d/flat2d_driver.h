// The 2D driver interface: a graphics driver whose contexts draw images and primitives. The 2D
// layer calls only these operations; the GL 2D driver implements them.
#pragma once

#include <vector>

#include "runtime/draw2d/image.h"
#include "runtime/graphics/graphics.h"
#include "runtime/pixmap/pixmap.h"

namespace kiln {

// Blend modes; any other value draws as BlendSolid.
inline constexpr int BlendMask = 1;   // pixels with alpha below one half are not drawn
inline constexpr int BlendSolid = 2;  // no blending, no alpha test
inline constexpr int BlendAlpha = 3;  // source alpha over the destination
inline constexpr int BlendLight = 4;  // additive, weighted by source alpha
inline constexpr int BlendShade = 5;  // the destination multiplied by the source colour

class TFlat2DDriver : public TGraphicsDriver {
 public:
  // A driver frame of the pixmap, or empty when none can be built.
  virtual Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) = 0;
  virtual void SetBlend(int mode) = 0;
  virtual void SetAlpha(float alpha) = 0;
  virtual void SetColor(int r, int g, int b) = 0;
  virtual void SetClsColor(int r, int g, int b) = 0;
  // In context pixels.
  virtual void SetViewport(int x, int y, int w, int h) = 0;
  virtual void SetTransform(float ix, float iy, float jx, float jy) = 0;
  virtual void SetLineWidth(float width) = 0;
  virtual void Cls() = 0;
  virtual void Plot(float x, float y) = 0;
  // Local coordinates are transformed, then moved by (tx, ty).
  virtual void DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  virtual void DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) = 0;
  // xy holds x, y pairs; (hx, hy) is added to each before the transform.
  virtual void DrawPoly(const std::vector<float>& xy, float hx, float hy, float tx, float ty) = 0;
  virtual void DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) = 0;
  virtual Ref<TPixmap> GrabPixmap(int x, int y, int w, int h) = 0;
  virtual void SetResolution(float width, float height) = 0;
};

// The driver of the current 2D context; empty while none is current.
Ref<TFlat2DDriver> Current2DDriver();
void SetCurrent2DDriver(const Ref<TFlat2DDriver>& driver);

}  // namespace kiln
