#include "runtime/draw2d/draw2d.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/core/run_once.h"
#include "runtime/draw2d/flat2d_graphics.h"
#include "runtime/draw2d/internal/float_rules.h"
#include "runtime/font/font.h"
#include "runtime/graphics/graphics.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

struct LayerState {
  int mask_r = 0, mask_g = 0, mask_b = 0;
  int autoCenterHandle = 0;
  int autoImageFlags = MaskedImageFlag | FilteredImageFlag;
};

LayerState& Layer() {
  static LayerState state;
  return state;
}

constexpr double kRadiansPerDegree = 0.017453292519943295;

// Runs f on the current context and its driver, held for the call; nothing when none is current.
template <class F>
void OnCurrent(F&& f) {
  Ref<TFlat2DGraphics> g = TFlat2DGraphics::Current();
  Ref<TFlat2DDriver> d = Current2DDriver();
  if (g && d) f(*g, *d);
}

// What the getters read: the current context, or one in the initial state when none is current.
const TFlat2DGraphics& Shown() {
  static const TFlat2DGraphics& initial = *MakeRef<TFlat2DGraphics>().Detach();
  const TFlat2DGraphics* g = TFlat2DGraphics::Current().Get();
  return g != nullptr ? *g : initial;
}

void UpdateTransform(TFlat2DGraphics& g, TFlat2DDriver& d) {
  double radians = g.tform_rot * kRadiansPerDegree;
  float s = static_cast<float>(std::sin(radians));
  float c = static_cast<float>(std::cos(radians));
  g.tform_ix = c * g.tform_scale_x;
  g.tform_iy = -s * g.tform_scale_y;
  g.tform_jx = s * g.tform_scale_x;
  g.tform_jy = c * g.tform_scale_y;
  d.SetTransform(g.tform_ix, g.tform_iy, g.tform_jx, g.tform_jy);
}

int ResolveFlags(int flags) { return flags == -1 ? Layer().autoImageFlags : flags; }

Ref<TImageFont> FontInUse() {
  Ref<TFlat2DGraphics> g = TFlat2DGraphics::Current();
  if (g && g->image_font) return g->image_font;
  return DefaultImageFont();
}

// r mod w in 0..w - 1, also for negative r (a remainder of w would start the tiles one tile late and
// leave a gap at the clip rectangle's edge).
int64_t WrapTile(int64_t r, int64_t w) { return ((r % w) + w) % w; }

}  // namespace

void InitDraw2DModule() {
  RunOnce([] {
    InitGraphicsModule();
    InitImageFontModule();
    InitInputState();
  });
}

void ClearScreen() {
  OnCurrent([](TFlat2DGraphics&, TFlat2DDriver& d) { d.Cls(); });
}

void SetClearColor(int r, int g, int b) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.clscolor_red = r;
    c.clscolor_green = g;
    c.clscolor_blue = b;
    d.SetClsColor(r, g, b);
  });
}

void GetClearColor(int& r, int& g, int& b) {
  r = Shown().clscolor_red;
  g = Shown().clscolor_green;
  b = Shown().clscolor_blue;
}

void SetDrawColor(int r, int g, int b) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.color_red = r;
    c.color_green = g;
    c.color_blue = b;
    d.SetColor(r, g, b);
  });
}

void GetDrawColor(int& r, int& g, int& b) {
  r = Shown().color_red;
  g = Shown().color_green;
  b = Shown().color_blue;
}

void SetDrawAlpha(float alpha) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.color_alpha = alpha;
    d.SetAlpha(alpha);
  });
}

float GetDrawAlpha() { return Shown().color_alpha; }

void SetBlendMode(int mode) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.blend_mode = mode;
    d.SetBlend(mode);
  });
}

int GetBlendMode() { return Shown().blend_mode; }

void SetLineThickness(float width) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.line_width = width;
    d.SetLineWidth(width);
  });
}

float GetLineThickness() { return Shown().line_width; }

void SetDrawOrigin(float x, float y) {
  if (Ref<TFlat2DGraphics> c = TFlat2DGraphics::Current()) {
    c->origin_x = x;
    c->origin_y = y;
  }
}

void GetDrawOrigin(float& x, float& y) {
  x = Shown().origin_x;
  y = Shown().origin_y;
}

void SetDrawHandle(float x, float y) {
  if (Ref<TFlat2DGraphics> c = TFlat2DGraphics::Current()) {
    c->handle_x = -x;
    c->handle_y = -y;
  }
}

void GetDrawHandle(float& x, float& y) {
  x = -Shown().handle_x;
  y = -Shown().handle_y;
}

void SetDrawRotation(float degrees) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.tform_rot = degrees;
    UpdateTransform(c, d);
  });
}

float GetDrawRotation() { return Shown().tform_rot; }

void SetDrawScale(float sx, float sy) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.tform_scale_x = sx;
    c.tform_scale_y = sy;
    UpdateTransform(c, d);
  });
}

void GetDrawScale(float& sx, float& sy) {
  sx = Shown().tform_scale_x;
  sy = Shown().tform_scale_y;
}

void SetDrawTransform(float degrees, float sx, float sy) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.tform_rot = degrees;
    c.tform_scale_x = sx;
    c.tform_scale_y = sy;
    UpdateTransform(c, d);
  });
}

namespace {

// The context pixel edge nearest to a logical edge: a pixel is inside when its centre is. The
// float scales are inexact (1024 / 640 gives 639.99997 for the right edge), so truncating would
// lose the last column of a full clip.
int ContextEdge(double logical, double scale) { return TruncateToInt(std::floor(logical / scale + 0.5)); }

// Hands the stored clip rectangle, in context pixels, to the driver.
void ApplyClip(const TFlat2DGraphics& c, TFlat2DDriver& d) {
  double xs = c.vres_mousexscale, ys = c.vres_mouseyscale;
  int cx = ContextEdge(c.viewport_x, xs);
  int cy = ContextEdge(c.viewport_y, ys);
  int cw = TruncateToInt(static_cast<double>(ContextEdge(static_cast<double>(c.viewport_x) + c.viewport_w, xs)) - cx);
  int ch = TruncateToInt(static_cast<double>(ContextEdge(static_cast<double>(c.viewport_y) + c.viewport_h, ys)) - cy);
  d.SetViewport(cx, cy, cw, ch);
}

}  // namespace

void SetClipRect(int x, int y, int w, int h) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.viewport_x = x;
    c.viewport_y = y;
    c.viewport_w = w;
    c.viewport_h = h;
    ApplyClip(c, d);
  });
}

void GetClipRect(int& x, int& y, int& w, int& h) {
  x = Shown().viewport_x;
  y = Shown().viewport_y;
  w = Shown().viewport_w;
  h = Shown().viewport_h;
}

void SetLogicalResolution(float width, float height) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    c.vres_width = width;
    c.vres_height = height;
    // A context without size keeps the one-to-one mouse mapping instead of dividing by zero.
    c.vres_mousexscale = c.g_width > 0 ? width / static_cast<float>(c.g_width) : 1.0f;
    c.vres_mouseyscale = c.g_height > 0 ? height / static_cast<float>(c.g_height) : 1.0f;
    d.SetResolution(width, height);
    // The clip rectangle is logical: the same rectangle now covers other context pixels.
    ApplyClip(c, d);
  });
}

float LogicalWidth() { return Shown().vres_width; }

float LogicalHeight() { return Shown().vres_height; }

float LogicalMouseX() { return static_cast<float>(PointerX()) * Shown().vres_mousexscale; }

float LogicalMouseY() { return static_cast<float>(PointerY()) * Shown().vres_mouseyscale; }

float LogicalMouseXSpeed() { return static_cast<float>(PointerXMotion()) * Shown().vres_mousexscale; }

float LogicalMouseYSpeed() { return static_cast<float>(PointerYMotion()) * Shown().vres_mouseyscale; }

void MoveLogicalMouse(float x, float y) {
  Ref<TFlat2DGraphics> c = TFlat2DGraphics::Current();
  if (!c) return;
  SetPointerPosition(TruncateToInt(x / c->vres_mousexscale), TruncateToInt(y / c->vres_mouseyscale));
}

void PlotPoint(float x, float y) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    d.Plot(x + c.origin_x, y + c.origin_y);
  });
}

void DrawFilledRect(float x, float y, float w, float h) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    d.DrawRect(c.handle_x, c.handle_y, c.handle_x + w, c.handle_y + h, x + c.origin_x, y + c.origin_y);
  });
}

void DrawFilledOval(float x, float y, float w, float h) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    d.DrawOval(c.handle_x, c.handle_y, c.handle_x + w, c.handle_y + h, x + c.origin_x, y + c.origin_y);
  });
}

void DrawLineSegment(float x, float y, float x2, float y2, int lastPixel) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    float hx = c.handle_x, hy = c.handle_y;
    d.DrawLine(hx, hy, hx + x2 - x, hy + y2 - y, x + c.origin_x, y + c.origin_y);
    if (lastPixel) {
      float X = x2 - x + hx, Y = y2 - y + hy;
      d.Plot(x + X * c.tform_ix + Y * c.tform_iy + c.origin_x, y + X * c.tform_jx + Y * c.tform_jy + c.origin_y);
    }
  });
}

void DrawFilledPoly(const std::vector<float>& xy) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    if (xy.size() < 6 || xy.size() % 2 != 0) return;
    d.DrawPoly(xy, c.handle_x, c.handle_y, c.origin_x, c.origin_y);
  });
}

void DrawImageAt(const Ref<TImage>& image, float x, float y, int frame) {
  DrawImageScaled(image, x, y, image ? static_cast<float>(image->width) : 0,
                  image ? static_cast<float>(image->height) : 0, frame);
}

void DrawImageScaled(const Ref<TImage>& image, float x, float y, float w, float h, int frame) {
  if (!image) return;
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver&) {
    Ref<TImageFrame> f = image->Frame(frame);
    if (!f) return;
    float x0 = -image->handle_x, y0 = -image->handle_y;
    f->Draw(x0, y0, x0 + w, y0 + h, x + c.origin_x, y + c.origin_y, 0, 0, static_cast<float>(image->width),
            static_cast<float>(image->height));
  });
}

void DrawImagePart(const Ref<TImage>& image, float x, float y, float w, float h, float sx, float sy,
                   float sw, float sh, float hx, float hy, int frame) {
  if (!image) return;
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver&) {
    Ref<TImageFrame> f = image->Frame(frame);
    if (!f) return;
    float x0 = w * -hx / sw, y0 = h * -hy / sh;
    f->Draw(x0, y0, x0 + w, y0 + h, x + c.origin_x, y + c.origin_y, sx, sy, sw, sh);
  });
}

void TileImageFill(const Ref<TImage>& image, float x, float y, int frame) {
  if (!image || image->width <= 0 || image->height <= 0) return;
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver& d) {
    Ref<TImageFrame> f = image->Frame(frame);
    if (!f) return;
    int64_t w = image->width, h = image->height;
    int64_t vx = c.viewport_x, vy = c.viewport_y, vw = c.viewport_w, vh = c.viewport_h;
    d.SetTransform(1, 0, 0, 1);
    float px = x + c.origin_x - image->handle_x;
    float py = y + c.origin_y - image->handle_y;
    float fx = px - std::floor(px), fy = py - std::floor(py);
    int64_t sx = vx - w + 1 + WrapTile(TruncateToInt(std::floor(px) - static_cast<double>(vx - w + 1)), w);
    int64_t sy = vy - h + 1 + WrapTile(TruncateToInt(std::floor(py) - static_cast<double>(vy - h + 1)), h);
    // Copies from sx while they start left of the clip rectangle's right edge; rows likewise.
    int64_t columns = sx < vx + vw ? (vx + vw - sx + w - 1) / w : 0;
    int64_t rows = sy < vy + vh ? (vy + vh - sy + h - 1) / h : 0;
    f->DrawTiles(sx, sy, fx, fy, static_cast<int>(w), static_cast<int>(h), columns, rows);
    UpdateTransform(c, d);
  });
}

void DrawTextLine(const Text& text, float x, float y) {
  OnCurrent([&](TFlat2DGraphics& c, TFlat2DDriver&) {
    Ref<TImageFont> font = FontInUse();
    float hx = c.handle_x, hy = c.handle_y;
    float ix = c.tform_ix, iy = c.tform_iy, jx = c.tform_jx, jy = c.tform_jy;
    font->Draw(text, x + c.origin_x + hx * ix + hy * iy, y + c.origin_y + hx * jx + hy * jy, ix, iy, jx, jy);
  });
}

int MeasureTextWidth(const Text& text) {
  Ref<TImageFont> font = FontInUse();
  float width = 0;
  for (int i = 0; i < text.Length(); ++i) {
    int index = font->CharToGlyph(text[i]);
    if (index < 0) continue;
    Ref<TImageGlyph> glyph = font->LoadGlyph(index);
    if (glyph) width = static_cast<float>(TruncateToInt(width + glyph->Advance()));
  }
  return TruncateToInt(width);
}

int MeasureTextHeight() { return FontInUse()->Height(); }

Ref<TImageFont> OpenImageFont(const Url& source, int size, int style) {
  return TImageFont::Load(source, size, style);
}

void UseImageFont(const Ref<TImageFont>& font) {
  if (Ref<TFlat2DGraphics> c = TFlat2DGraphics::Current()) c->image_font = font ? font : DefaultImageFont();
}

Ref<TImageFont> CurrentImageFont() { return FontInUse(); }

Ref<TImage> OpenImage(const Url& source, int flags) {
  LayerState& s = Layer();
  Ref<TImage> image = TImage::Load(source, ResolveFlags(flags), s.mask_r, s.mask_g, s.mask_b);
  if (image && s.autoCenterHandle) CenterImageHandle(image);
  return image;
}

Ref<TImage> OpenImageStrip(const Url& source, int cellWidth, int cellHeight, int first, int count,
                           int flags) {
  LayerState& s = Layer();
  Ref<TImage> image = TImage::LoadAnim(source, cellWidth, cellHeight, first, count, ResolveFlags(flags),
                                       s.mask_r, s.mask_g, s.mask_b);
  if (image && s.autoCenterHandle) CenterImageHandle(image);
  return image;
}

Ref<TImage> NewBlankImage(int width, int height, int frameCount, int flags) {
  // Nothing could ever be drawn of an image without pixels, or one whose RGBA pixmap is too large
  // to allocate; it is refused now rather than at its first draw.
  if (width <= 0 || height <= 0) return nullptr;
  if (static_cast<int64_t>(width) * 4 * height > std::numeric_limits<int>::max()) return nullptr;
  LayerState& s = Layer();
  Ref<TImage> image = TImage::Create(width, height, frameCount, ResolveFlags(flags) | DynamicImageFlag,
                                     s.mask_r, s.mask_g, s.mask_b);
  if (s.autoCenterHandle) CenterImageHandle(image);
  return image;
}

void PlaceImageHandle(const Ref<TImage>& image, float x, float y) {
  if (!image) return;
  image->handle_x = x;
  image->handle_y = y;
}

void CenterImageHandle(const Ref<TImage>& image) {
  if (!image) return;
  image->handle_x = static_cast<float>(image->width) * 0.5f;
  image->handle_y = static_cast<float>(image->height) * 0.5f;
}

void SetAutoCenterHandle(int on) { Layer().autoCenterHandle = on; }

void SetAutoImageFlags(int flags) {
  if (flags != -1) Layer().autoImageFlags = flags;
}

void SetImageMaskColor(int r, int g, int b) {
  LayerState& s = Layer();
  s.mask_r = r;
  s.mask_g = g;
  s.mask_b = b;
}

void GetImageMaskColor(int& r, int& g, int& b) {
  const LayerState& s = Layer();
  r = s.mask_r;
  g = s.mask_g;
  b = s.mask_b;
}

Ref<TPixmap> LockImagePixels(const Ref<TImage>& image, int frame, int read, int write) {
  return image ? image->Lock(frame, read, write) : nullptr;
}

void UnlockImagePixels(const Ref<TImage>&, int) {}

void GrabScreenIntoImage(const Ref<TImage>& image, float x, float y, int frame) {
  if (!image) return;
  OnCurrent([&](TFlat2DGraphics&, TFlat2DDriver& d) {
    Ref<TPixmap> pixmap = d.GrabPixmap(TruncateToInt(x), TruncateToInt(y), image->width, image->height);
    if (!pixmap) return;
    if (image->flags & MaskedImageFlag) {
      const LayerState& s = Layer();
      pixmap = ApplyMaskColor(pixmap, s.mask_r, s.mask_g, s.mask_b);
    }
    image->SetPixmap(frame, pixmap);
  });
}

void DrawPixmapAt(const Ref<TPixmap>& pixmap, int x, int y) {
  if (!pixmap) return;
  OnCurrent([&](TFlat2DGraphics&, TFlat2DDriver& d) { d.DrawPixmap(pixmap, x, y); });
}

Ref<TPixmap> GrabScreenPixmap(int x, int y, int w, int h) {
  Ref<TPixmap> pixmap;
  OnCurrent([&](TFlat2DGraphics&, TFlat2DDriver& d) { pixmap = d.GrabPixmap(x, y, w, h); });
  return pixmap;
}

}  // namespace kiln
