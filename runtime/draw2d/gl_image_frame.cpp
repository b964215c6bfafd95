#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/core/exceptions.h"
#include "runtime/draw2d/internal/gl_draw_state.h"
#include "runtime/draw2d/gl_flat2d_driver.h"
#include "runtime/graphics/gl_graphics.h"

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

// Deletes the queued textures of the current texture space and forgets those whose space is gone;
// the names of other open spaces wait until one of their contexts is current.
void FlushDeadTextures() {
  gl2d::GLDrawState& s = gl2d::State();
  if (s.deadTextures.empty()) return;
  const int current = GLTextureSpace();
  std::vector<gl2d::GLDrawState::DeadTexture> waiting;
  for (const gl2d::GLDrawState::DeadTexture& dead : s.deadTextures) {
    if (current != 0 && dead.space == current) {
      if (s.boundTexture == dead.name) s.boundTexture = 0;
      glDeleteTextures(1, &dead.name);
    } else if (GLTextureSpaceIsLive(dead.space)) {
      waiting.push_back(dead);
    }
  }
  s.deadTextures = std::move(waiting);
}

// A tw x th RGBA pixmap holding p at (0, 0), with p's last column repeated across the padding to
// the right and its last row (with that padding) down to the bottom. Filtering at the used area's
// edge then sees the edge texels, and the smaller mipmap levels, which average padding into the
// used area, are made of defined texels only.
Ref<TPixmap> PadToTexture(const Ref<TPixmap>& p, int tw, int th) {
  int w = p->width, h = p->height;
  Ref<TPixmap> padded = AllocatePixmap(tw, th, FormatRGBA8888, 4);
  padded->Paste(p, 0, 0);
  uint8_t* pixels = padded->pixels;
  size_t pitch = static_cast<size_t>(padded->pitch);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = pixels + pitch * static_cast<size_t>(y);
    for (int x = w; x < tw; ++x) std::memcpy(row + 4 * x, row + 4 * (w - 1), 4);
  }
  for (int y = h; y < th; ++y) {
    std::memcpy(pixels + pitch * static_cast<size_t>(y), pixels + pitch * static_cast<size_t>(h - 1),
                static_cast<size_t>(tw) * 4);
  }
  return padded;
}

// A new texture of p's size (a power of two each way) holding p, an RGBA pixmap, with the filters of
// `flags` and, when they ask for it, the whole mipmap chain. Left bound.
GLuint NewTexture(Ref<TPixmap> p, int flags) {
  int tw = p->width, th = p->height;
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
  return texture;
}

}  // namespace

TGLImageFrame::~TGLImageFrame() {
  if (seq == 0) return;
  if (space != 0) {
    gl2d::State().deadTextures.push_back({space, static_cast<GLuint>(name)});
    if (sheetName != 0) gl2d::State().deadTextures.push_back({space, static_cast<GLuint>(sheetName)});
  }
  seq = 0;
}

namespace {

// Fewer copies than this are drawn one by one.
constexpr int64_t kMinTileRun = 16;
// A sheet of copies is at most this many texels across and down.
constexpr int kSheetSize = 256;
// Texture coordinates of one quad stay within this many texels, so that float keeps the texels at
// its far end apart.
constexpr int64_t kMaxQuadTexels = 4096;

// Quads of up to `across` x `down` copies each, copy (i, j) at (x + i w + fx, y + j h + fy); a quad
// of c x r copies takes the texture coordinates (0, 0)-(c us, r vs). The transform is the identity.
void DrawRuns(int64_t x, int64_t y, float fx, float fy, int w, int h, int64_t columns, int64_t rows, int64_t across,
              int64_t down, float us, float vs) {
  float fw = static_cast<float>(w), fh = static_cast<float>(h);
  glBegin(GL_QUADS);
  for (int64_t j = 0; j < rows; j += down) {
    int64_t r = std::min(down, rows - j);
    float y0 = static_cast<float>(y + j * h) + fy;
    float y1 = static_cast<float>(y + (j + r - 1) * h) + fy + fh;
    for (int64_t i = 0; i < columns; i += across) {
      int64_t c = std::min(across, columns - i);
      float x0 = static_cast<float>(x + i * w) + fx;
      float x1 = static_cast<float>(x + (i + c - 1) * w) + fx + fw;
      float u = static_cast<float>(c) * us, v = static_cast<float>(r) * vs;
      glTexCoord2f(0, 0);
      glVertex2f(x0, y0);
      glTexCoord2f(u, 0);
      glVertex2f(x1, y0);
      glTexCoord2f(u, v);
      glVertex2f(x1, y1);
      glTexCoord2f(0, v);
      glVertex2f(x0, y1);
    }
  }
  glEnd();
}

}  // namespace

// Copies joined in one quad sample across their seams where separate copies sample only their own
// edge texels. That makes no difference where every pixel takes one texel and no pixel centre lies
// on a seam: one texel per pixel (no logical scaling, frame not scaled down), and either nearest
// filtering with seams clear of the pixel centres or, where texels are blended, a whole-pixel
// offset that puts the pixel centres on the texel centres. Elsewhere the copies are drawn one by one.
void TGLImageFrame::DrawTiles(int64_t x, int64_t y, float fx, float fy, int w, int h, int64_t columns, int64_t rows) {
  if (columns <= 0 || rows <= 0) return;
  const gl2d::GLDrawState& s = gl2d::State();
  bool identity = s.ix == 1 && s.iy == 0 && s.jx == 0 && s.jy == 1;
  bool many = columns >= kMinTileRun || rows >= kMinTileRun || columns * rows >= kMinTileRun;
  bool texelPerPixel = s.resolutionWidth == static_cast<float>(s.contextWidth) &&
                       s.resolutionHeight == static_cast<float>(s.contextHeight) && width == w && height == h;
  auto clearOfCentres = [](float f) { return std::fabs(f - 0.5f) > 1.0f / 64; };
  bool seamsSafe = filtered ? fx == 0 && fy == 0 : clearOfCentres(fx) && clearOfCentres(fy);
  int across = std::max(1, kSheetSize / width), down = std::max(1, kSheetSize / height);
  bool repeats = u1 == 1 && v1 == 1;
  if (!identity || !many || !texelPerPixel || !seamsSafe || (!repeats && (!source || across * down == 1))) {
    TImageFrame::DrawTiles(x, y, fx, fy, w, h, columns, rows);
    return;
  }
  // A texture without padding repeats itself.
  if (repeats) {
    gl2d::BindTexture(static_cast<GLuint>(name));
    gl2d::EnableTexture(true);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    DrawRuns(x, y, fx, fy, w, h, columns, rows, std::max<int64_t>(1, kMaxQuadTexels / width),
             std::max<int64_t>(1, kMaxQuadTexels / height), 1, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return;
  }
  // Else a padded sheet of copies, made on first need.
  if (sheetName == 0) {
    Ref<TPixmap> sheet = AllocatePixmap(across * width, down * height, FormatRGBA8888, 4);
    for (int j = 0; j < down; ++j) {
      for (int i = 0; i < across; ++i) sheet->Paste(source, i * width, j * height);
    }
    int tw = NextPowerOfTwo(sheet->width), th = NextPowerOfTwo(sheet->height);
    if (tw != sheet->width || th != sheet->height) sheet = PadToTexture(sheet, tw, th);
    // Only level 0 is ever sampled at one texel per pixel.
    sheetName = static_cast<int>(NewTexture(sheet, filtered ? FilteredImageFlag : 0));
    sheetUScale = static_cast<float>(width) / static_cast<float>(tw);
    sheetVScale = static_cast<float>(height) / static_cast<float>(th);
  }
  gl2d::BindTexture(static_cast<GLuint>(sheetName));
  gl2d::EnableTexture(true);
  DrawRuns(x, y, fx, fy, w, h, columns, rows, across, down, sheetUScale, sheetVScale);
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

  GLuint texture = NewTexture(p, flags);

  Ref<TGLImageFrame> frame = MakeRef<TGLImageFrame>();
  frame->name = static_cast<int>(texture);
  frame->uscale = 1.0f / static_cast<float>(tw);
  frame->vscale = 1.0f / static_cast<float>(th);
  frame->u1 = static_cast<float>(w) * frame->uscale;
  frame->v1 = static_cast<float>(h) * frame->vscale;
  frame->seq = GraphicsSeq();
  frame->space = GLTextureSpace();
  frame->filtered = (flags & FilteredImageFlag) != 0;
  frame->width = w;
  frame->height = h;
  // The pixels stay at hand for a sheet of copies (DrawTiles), unless they had to be scaled down.
  if (w == source->width && h == source->height) frame->source = source;
  return frame;
}

}  // namespace kiln
