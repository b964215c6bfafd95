// The 2D context: a graphics context of a context driver wrapped with the drawing state that the
// 2D layer keeps for it and re-applies whenever it becomes current.
#pragma once

#include "runtime/draw2d/flat2d_driver.h"
#include "runtime/font/image_font.h"
#include "runtime/graphics/graphics.h"

namespace kiln {

class TFlat2DGraphics : public TGraphics {
 public:
  int color_red = 255, color_green = 255, color_blue = 255;
  float color_alpha = 1.0f;
  int clscolor_red = 0, clscolor_green = 0, clscolor_blue = 0;
  float line_width = 1.0f;
  float tform_rot = 0;  // degrees
  float tform_scale_x = 1.0f, tform_scale_y = 1.0f;
  // Derived from rotation and scale by the transform update.
  float tform_ix = 1.0f, tform_iy = 0, tform_jx = 0, tform_jy = 1.0f;
  int viewport_x = 0, viewport_y = 0, viewport_w = 0, viewport_h = 0;
  float origin_x = 0, origin_y = 0;
  // The negated drawing handle.
  float handle_x = 0, handle_y = 0;
  Ref<TImageFont> image_font;
  int blend_mode = BlendMask;
  float vres_width = 0, vres_height = 0;
  float vres_mousexscale = 1.0f, vres_mouseyscale = 1.0f;
  int g_width = 0, g_height = 0;
  Ref<TGraphics> _graphics;
  Ref<TFlat2DDriver> _driver;
  int _setup = 0;

  Ref<TGraphicsDriver> Driver() override { return _driver; }
  int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) override;
  int Close() override;
  // Takes a changed context size over, then re-applies the whole drawing state to the driver.
  virtual void Validate();
  // Makes this the current 2D context and validates it; both buffers are cleared on first use.
  virtual void MakeCurrent();

  static void ClearCurrent();
  static Ref<TFlat2DGraphics> Current();
  static Ref<TFlat2DGraphics> Create(const Ref<TGraphics>& context, const Ref<TFlat2DDriver>& driver);
};

// The built-in image font, made on first call.
Ref<TImageFont> DefaultImageFont();

}  // namespace kiln
