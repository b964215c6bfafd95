#include "runtime/draw2d/gl_flat2d_driver.h"

#include <algorithm>
#include <cmath>

#include "runtime/core/run_once.h"
#include "runtime/draw2d/draw2d.h"
#include "runtime/draw2d/internal/float_rules.h"
#include "runtime/draw2d/internal/gl_draw_state.h"
#include "runtime/graphics/gl_graphics.h"

namespace kiln {
namespace {

// Caps the oval's polygon so that a huge radius cannot stall the process.
constexpr int kMaxOvalSegments = 1 << 16;
constexpr double kRadiansPerDegree = 0.017453292519943295;

GLubyte ClampByte(int v) { return static_cast<GLubyte>(std::clamp(v, 0, 255)); }

void Vertex(float x, float y, float tx, float ty) {
  const gl2d::GLDrawState& s = gl2d::State();
  glVertex2f(x * s.ix + y * s.iy + tx, x * s.jx + y * s.jy + ty);
}

}  // namespace

int OvalSegments(float rx, float ry) {
  int n = std::max(TruncateToInt(std::fabs(rx) + std::fabs(ry)), 12);
  return std::min(n, kMaxOvalSegments) & ~3;
}

Text TGLFlat2DDriver::ToString() const { return "OpenGL"; }

std::vector<Ref<TGraphicsMode>> TGLFlat2DDriver::GraphicsModes() {
  return TheGLGraphicsDriver()->GraphicsModes();
}

Ref<TGraphics> TGLFlat2DDriver::AttachGraphics(intptr_t widget, int flags) {
  Ref<TGraphics> g = TheGLGraphicsDriver()->AttachGraphics(widget, flags);
  if (!g) return nullptr;
  return TFlat2DGraphics::Create(g, Ref<TFlat2DDriver>::Share(this));
}

Ref<TGraphics> TGLFlat2DDriver::CreateGraphics(int width, int height, int depth, int hertz, int flags) {
  Ref<TGraphics> g = TheGLGraphicsDriver()->CreateGraphics(width, height, depth, hertz, flags);
  if (!g) return nullptr;
  return TFlat2DGraphics::Create(g, Ref<TFlat2DDriver>::Share(this));
}

int TGLFlat2DDriver::SetGraphics(const Ref<TGraphics>& g) {
  Ref<TFlat2DGraphics> g2d = RefCast<TFlat2DGraphics>(g);
  if (!g2d) {
    TFlat2DGraphics::ClearCurrent();
    TheGLGraphicsDriver()->SetGraphics(nullptr);
    return 0;
  }
  TheGLGraphicsDriver()->SetGraphics(g2d->_graphics);
  // Frames of the current generation were built in one texture space; a context that does not
  // share it starts a new generation, so images build their frames again in its own space.
  gl2d::GLDrawState& s = gl2d::State();
  int space = GLTextureSpace();
  if (space != s.frameSpace) {
    s.frameSpace = space;
    BumpGraphicsSeq();
  }
  ResetGLContext(g2d);
  g2d->MakeCurrent();
  return 0;
}

int TGLFlat2DDriver::Flip(int sync) { return TheGLGraphicsDriver()->Flip(sync); }

Ref<TGLFlat2DDriver> TGLFlat2DDriver::Create() { return Ref<TGLFlat2DDriver>::Share(this); }

void TGLFlat2DDriver::ResetGLContext(const Ref<TFlat2DGraphics>& g) {
  int w = 0, h = 0, depth = 0, hertz = 0, flags = 0;
  g->GetSettings(w, h, depth, hertz, flags);
  gl2d::GLDrawState& s = gl2d::State();
  s.contextWidth = w;
  s.contextHeight = h;
  s.resolutionWidth = static_cast<float>(w);
  s.resolutionHeight = static_cast<float>(h);
  s.blend = 0;
  s.boundTexture = 0;
  s.textureEnabled = false;
  glDisable(GL_TEXTURE_2D);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, w, h, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glViewport(0, 0, w, h);
}

Ref<TImageFrame> TGLFlat2DDriver::CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) {
  return TGLImageFrame::CreateFromPixmap(pixmap, flags);
}

void TGLFlat2DDriver::SetBlend(int mode) {
  gl2d::GLDrawState& s = gl2d::State();
  if (mode == s.blend) return;
  s.blend = mode;
  switch (mode) {
    case BlendMask:
      glDisable(GL_BLEND);
      glEnable(GL_ALPHA_TEST);
      glAlphaFunc(GL_GEQUAL, 0.5f);
      break;
    case BlendAlpha:
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glDisable(GL_ALPHA_TEST);
      break;
    case BlendLight:
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE);
      glDisable(GL_ALPHA_TEST);
      break;
    case BlendShade:
      glEnable(GL_BLEND);
      glBlendFunc(GL_DST_COLOR, GL_ZERO);
      glDisable(GL_ALPHA_TEST);
      break;
    default:  // BlendSolid and unknown modes
      glDisable(GL_BLEND);
      glDisable(GL_ALPHA_TEST);
      break;
  }
}

void TGLFlat2DDriver::SetAlpha(float alpha) {
  gl2d::GLDrawState& s = gl2d::State();
  if (!(alpha >= 0)) alpha = 0;  // also NaN
  if (alpha > 1) alpha = 1;
  s.color[3] = static_cast<GLubyte>(alpha * 255.0f);
  glColor4ubv(s.color);
}

void TGLFlat2DDriver::SetColor(int r, int g, int b) {
  gl2d::GLDrawState& s = gl2d::State();
  s.color[0] = ClampByte(r);
  s.color[1] = ClampByte(g);
  s.color[2] = ClampByte(b);
  glColor4ubv(s.color);
}

void TGLFlat2DDriver::SetClsColor(int r, int g, int b) {
  glClearColor(ClampByte(r) / 255.0f, ClampByte(g) / 255.0f, ClampByte(b) / 255.0f, 1.0f);
}

void TGLFlat2DDriver::SetViewport(int x, int y, int w, int h) {
  const gl2d::GLDrawState& s = gl2d::State();
  if (x == 0 && y == 0 && w == s.contextWidth && h == s.contextHeight) {
    glDisable(GL_SCISSOR_TEST);
    return;
  }
  glEnable(GL_SCISSOR_TEST);
  // GL refuses a negative size; an empty rectangle clips everything away as intended.
  w = std::max(w, 0);
  h = std::max(h, 0);
  glScissor(x, TruncateToInt(static_cast<double>(s.contextHeight) - y - h), w, h);
}

void TGLFlat2DDriver::SetTransform(float ix, float iy, float jx, float jy) {
  gl2d::GLDrawState& s = gl2d::State();
  s.ix = ix;
  s.iy = iy;
  s.jx = jx;
  s.jy = jy;
}

void TGLFlat2DDriver::SetLineWidth(float width) { glLineWidth(width); }

void TGLFlat2DDriver::Cls() { glClear(GL_COLOR_BUFFER_BIT); }

void TGLFlat2DDriver::Plot(float x, float y) {
  gl2d::EnableTexture(false);
  glBegin(GL_POINTS);
  glVertex2f(x + 0.5f, y + 0.5f);
  glEnd();
}

void TGLFlat2DDriver::DrawLine(float x0, float y0, float x1, float y1, float tx, float ty) {
  gl2d::EnableTexture(false);
  glBegin(GL_LINES);
  Vertex(x0, y0, tx + 0.5f, ty + 0.5f);
  Vertex(x1, y1, tx + 0.5f, ty + 0.5f);
  glEnd();
}

void TGLFlat2DDriver::DrawRect(float x0, float y0, float x1, float y1, float tx, float ty) {
  gl2d::EnableTexture(false);
  glBegin(GL_QUADS);
  Vertex(x0, y0, tx, ty);
  Vertex(x1, y0, tx, ty);
  Vertex(x1, y1, tx, ty);
  Vertex(x0, y1, tx, ty);
  glEnd();
}

void TGLFlat2DDriver::DrawOval(float x0, float y0, float x1, float y1, float tx, float ty) {
  gl2d::EnableTexture(false);
  float rx = (x1 - x0) * 0.5f, ry = (y1 - y0) * 0.5f;
  float cx = x0 + rx, cy = y0 + ry;
  int n = OvalSegments(rx, ry);
  glBegin(GL_POLYGON);
  for (int i = 0; i < n; ++i) {
    double t = i * 360.0 / n * kRadiansPerDegree;
    Vertex(cx + rx * static_cast<float>(std::cos(t)), cy - ry * static_cast<float>(std::sin(t)), tx, ty);
  }
  glEnd();
}

void TGLFlat2DDriver::DrawPoly(const std::vector<float>& xy, float hx, float hy, float tx, float ty) {
  if (xy.size() < 6 || xy.size() % 2 != 0) return;
  gl2d::EnableTexture(false);
  glBegin(GL_POLYGON);
  for (size_t k = 0; k + 1 < xy.size(); k += 2) Vertex(xy[k] + hx, xy[k + 1] + hy, tx, ty);
  glEnd();
}

void TGLFlat2DDriver::DrawPixmap(const Ref<TPixmap>& pixmap, int x, int y) {
  if (!pixmap || pixmap->width <= 0 || pixmap->height <= 0) return;
  gl2d::GLDrawState& s = gl2d::State();
  int blend = s.blend;
  gl2d::EnableTexture(false);
  SetBlend(BlendSolid);
  Ref<TPixmap> rgba = pixmap->format == FormatRGBA8888 ? pixmap : pixmap->Convert(FormatRGBA8888);
  glPixelZoom(1, -1);
  glRasterPos2i(0, 0);
  glBitmap(0, 0, 0, 0, static_cast<float>(x), static_cast<float>(-y), nullptr);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, rgba->pitch / 4);
  glDrawPixels(rgba->width, rgba->height, GL_RGBA, GL_UNSIGNED_BYTE, rgba->pixels);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelZoom(1, 1);
  SetBlend(blend);
}

Ref<TPixmap> TGLFlat2DDriver::GrabPixmap(int x, int y, int w, int h) {
  if (w <= 0 || h <= 0) return nullptr;
  gl2d::GLDrawState& s = gl2d::State();
  int blend = s.blend;
  SetBlend(BlendSolid);
  Ref<TPixmap> pixmap = AllocatePixmap(w, h, FormatRGBA8888, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(x, TruncateToInt(static_cast<double>(s.contextHeight) - h - y), w, h, GL_RGBA,
               GL_UNSIGNED_BYTE, pixmap->pixels);
  pixmap = MirrorRows(pixmap);
  SetBlend(blend);
  return pixmap;
}

void TGLFlat2DDriver::SetResolution(float width, float height) {
  gl2d::GLDrawState& s = gl2d::State();
  s.resolutionWidth = width;
  s.resolutionHeight = height;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
}

Ref<TGLFlat2DDriver> TheGLFlat2DDriver() {
  static Ref<TGLFlat2DDriver>& driver = *new Ref<TGLFlat2DDriver>(MakeRef<TGLFlat2DDriver>());
  return driver;
}

void InitGLDraw2DModule() {
  RunOnce([] {
    InitDraw2DModule();
    InitGLGraphicsModule();
    InstallGraphicsDriver(TheGLFlat2DDriver()->Create(), BackBufferFlag);
  });
}

}  // namespace kiln
