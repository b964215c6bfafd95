#include <algorithm>
#include <cstdint>

#include "runtime/core/exceptions.h"
#include "runtime/draw2d/internal/gl_draw_state.h"
#include "runtime/draw2d/gl_flat2d_driver.h"

namespace kiln {
namespace {

// The smallest power of two >= n (1 for n <= 1), at most 2^30.
int NextPowerOfTwo(int n) {
  int p = 1;
  while (p < n && p < (1 << 30)) p <<= 1;
  return p;
}

bool ProxyAccepts(int tw, int th) {
  glTexImage2D(GL_PROXY_TEXTURE_2D, 0, 4, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  GLint width = 0;
  glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  return width != 0;
}

// Deletes the queued textures if they belong to the current generation, then empties the queue.
void FlushDeadTextures() {
  gl2d::GLDrawState& s = gl2d::State();
  if (s.deadTexturesSeq == GraphicsSeq()) {
    for (GLuint name : s.deadTextures) {
      if (s.boundTexture == name) s.boundTexture = 0;
      glDeleteTextures(1, &name);
    }
  }
  s.deadTextures.clear();
  s.deadTexturesSeq = GraphicsSeq();
}

// A tw x th RGBA pixmap holding p at (0, 0), with p's last column and row repeated once into the
// padding so that filtering at the used area's edge does not pull in undefined texels.
Ref<TPixmap> PadToTexture(const Ref<TPixmap>& p, int tw, int th) {
  int w = p->width, h = p->height;
  Ref<TPixmap> padded = AllocatePixmap(tw, th, FormatRGBA8888, 4);
  padded->Paste(p, 0, 0);
  if (w < tw) padded->Paste(p->Window(w - 1, 0, 1, h), w, 0);
  if (h < th) {
    padded->Paste(p->Window(0, h - 1, w, 1), 0, h);
    if (w < tw) padded->Paste(p->Window(w - 1, h - 1, 1, 1), w, h);
  }
  return padded;
}

}  // namespace

TGLImageFrame::~TGLImageFrame() {
  if (seq == 0) return;
  gl2d::GLDrawState& s = gl2d::State();
  if (seq == s.deadTexturesSeq) s.deadTextures.push_back(static_cast<GLuint>(name));
  seq = 0;
}

void TGLImageFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy,
                         float sw, float sh) {
  gl2d::GLDrawState& s = gl2d::State();
  float tu0 = sx * uscale, tv0 = sy * vscale;
  float tu1 = (sx + sw) * uscale, tv1 = (sy + sh) * vscale;
  gl2d::BindTexture(static_cast<GLuint>(name));
  gl2d::EnableTexture(true);
  glBegin(GL_QUADS);
  glTexCoord2f(tu0, tv0);
  glVertex2f(x0 * s.ix + y0 * s.iy + tx, x0 * s.jx + y0 * s.jy + ty);
  glTexCoord2f(tu1, tv0);
  glVertex2f(x1 * s.ix + y0 * s.iy + tx, x1 * s.jx + y0 * s.jy + ty);
  glTexCoord2f(tu1, tv1);
  glVertex2f(x1 * s.ix + y1 * s.iy + tx, x1 * s.jx + y1 * s.jy + ty);
  glTexCoord2f(tu0, tv1);
  glVertex2f(x0 * s.ix + y1 * s.iy + tx, x0 * s.jx + y1 * s.jy + ty);
  glEnd();
}

Ref<TGLImageFrame> TGLImageFrame::CreateFromPixmap(const Ref<TPixmap>& source, int flags) {
  // A pixmap without pixels has nothing to draw.
  if (!source || source->width <= 0 || source->height <= 0) return nullptr;
  Ref<TPixmap> p = source;

  int tw = NextPowerOfTwo(p->width), th = NextPowerOfTwo(p->height);
  while (!ProxyAccepts(tw, th)) {
    if (tw == 1 && th == 1) RaiseRuntimeError("Unable to calculate tex size");
    if (tw > 1) tw /= 2;
    if (th > 1) th /= 2;
  }

  int w = std::min(p->width, tw), h = std::min(p->height, th);
  if (w != p->width || h != p->height) p = ScalePixmap(p, w, h);
  if (w < tw || h < th) {
    p = PadToTexture(p, tw, th);
  } else if (p->format != FormatRGBA8888) {
    p = p->Convert(FormatRGBA8888);
  }

  FlushDeadTextures();
  GLuint texture = 0;
  glGenTextures(1, &texture);
  gl2d::BindTexture(texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  bool mipmapped = (flags & MipmappedImageFlag) != 0;
  if (flags & FilteredImageFlag) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  } else {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
  }
  for (int level = 0, lw = tw, lh = th;; ++level) {
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, lw, lh, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    if (!mipmapped || (lw == 1 && lh == 1)) break;
    lw = std::max(lw / 2, 1);
    lh = std::max(lh / 2, 1);
  }
  for (int level = 0;; ++level) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, p->pitch / 4);
    glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, p->width, p->height, GL_RGBA, GL_UNSIGNED_BYTE, p->pixels);
    if (!mipmapped || (p->width == 1 && p->height == 1)) break;
    p = ScalePixmap(p, p->width > 1 ? p->width / 2 : 1, p->height > 1 ? p->height / 2 : 1);
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

  Ref<TGLImageFrame> frame = MakeRef<TGLImageFrame>();
  frame->name = static_cast<int>(texture);
  frame->uscale = 1.0f / static_cast<float>(tw);
  frame->vscale = 1.0f / static_cast<float>(th);
  frame->u1 = static_cast<float>(w) * frame->uscale;
  frame->v1 = static_cast<float>(h) * frame->vscale;
  frame->seq = GraphicsSeq();
  return frame;
}

}  // namespace kiln
