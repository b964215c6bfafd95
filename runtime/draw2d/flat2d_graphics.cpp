#include "runtime/draw2d/flat2d_graphics.h"

#include "runtime/draw2d/draw2d.h"

namespace kiln {
namespace {

// Never destroyed: frames and contexts may still be released by other objects' destructors while
// the process ends.
struct ContextState {
  Ref<TFlat2DGraphics> current;
  Ref<TImageFont> defaultFont;
};

ContextState& State() {
  static ContextState& state = *new ContextState;
  return state;
}

}  // namespace

Ref<TImageFont> DefaultImageFont() {
  ContextState& s = State();
  if (!s.defaultFont) s.defaultFont = TImageFont::CreateDefault();
  return s.defaultFont;
}

int TFlat2DGraphics::GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) {
  width = height = depth = hertz = flags = 0;
  if (!_graphics) return 0;
  return _graphics->GetSettings(width, height, depth, hertz, flags);
}

int TFlat2DGraphics::Close() {
  if (_graphics) {
    _graphics->Close();
    _graphics = nullptr;
    _driver = nullptr;
  }
  return 0;
}

void TFlat2DGraphics::Validate() {
  int w = 0, h = 0, depth = 0, hertz = 0, flags = 0;
  GetSettings(w, h, depth, hertz, flags);
  if (w != g_width || h != g_height) {
    g_width = w;
    g_height = h;
    vres_width = static_cast<float>(w);
    vres_height = static_cast<float>(h);
    vres_mousexscale = vres_mouseyscale = 1.0f;
  }
  SetLogicalResolution(vres_width, vres_height);
  SetBlendMode(blend_mode);
  SetDrawColor(color_red, color_green, color_blue);
  SetDrawAlpha(color_alpha);
  SetClearColor(clscolor_red, clscolor_green, clscolor_blue);
  SetLineThickness(line_width);
  SetDrawRotation(tform_rot);
  SetDrawScale(tform_scale_x, tform_scale_y);
  SetClipRect(viewport_x, viewport_y, viewport_w, viewport_h);
  SetDrawOrigin(origin_x, origin_y);
  SetDrawHandle(-handle_x, -handle_y);
  UseImageFont(image_font);
}

void TFlat2DGraphics::MakeCurrent() {
  ContextState& s = State();
  s.current = Ref<TFlat2DGraphics>::Share(this);
  SetCurrent2DDriver(_driver);
  Validate();
  if (_setup == 0) {
    ClearScreen();
    PresentFrame(0);
    ClearScreen();
    PresentFrame(0);
    _setup = 1;
  }
}

void TFlat2DGraphics::ClearCurrent() {
  State().current = nullptr;
  SetCurrent2DDriver(nullptr);
}

Ref<TFlat2DGraphics> TFlat2DGraphics::Current() { return State().current; }

Ref<TFlat2DGraphics> TFlat2DGraphics::Create(const Ref<TGraphics>& context,
                                             const Ref<TFlat2DDriver>& driver) {
  Ref<TFlat2DGraphics> g = MakeRef<TFlat2DGraphics>();
  g->_graphics = context;
  g->_driver = driver;
  int w = 0, h = 0, depth = 0, hertz = 0, flags = 0;
  g->GetSettings(w, h, depth, hertz, flags);
  g->image_font = DefaultImageFont();
  g->viewport_w = w;
  g->viewport_h = h;
  g->vres_width = static_cast<float>(w);
  g->vres_height = static_cast<float>(h);
  g->g_width = w;
  g->g_height = h;
  return g;
}

}  // namespace kiln
