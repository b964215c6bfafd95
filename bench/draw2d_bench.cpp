// The status screen's frame (the 640 x 480 picture and three text lines) through the 2D layer,
// against the same textured quads issued with raw GL, in one run and one window.
//
// Reported per frame: wall time (glFinish included, so the software rasteriser's work counts), GL
// calls and GL state changes (enable, disable, blend function, alpha function, texture binds). GL
// is counted by wrapping the GL entry points at link time (draw2d.cmake). Needs an X server: starts a
// private Xvfb when DISPLAY is unset.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <vector>

#include "bench/ratio_report.h"
#include "runtime/draw2d/draw2d.h"
#include "runtime/draw2d/gl_flat2d_driver.h"
#include "runtime/graphics/graphics.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tests/support/test_display.h"

namespace {

long glCalls = 0;
long glStateChanges = 0;

}  // namespace

#define KILN_WRAP(ret, name, params, args, state)      \
  extern "C" ret __real_##name params;                \
  extern "C" ret __wrap_##name params {               \
    ++glCalls;                                         \
    if (state) ++glStateChanges;                       \
    return __real_##name args;                         \
  }
KILN_WRAP(void, glBegin, (GLenum m), (m), false)
KILN_WRAP(void, glEnd, (), (), false)
KILN_WRAP(void, glVertex2f, (GLfloat x, GLfloat y), (x, y), false)
KILN_WRAP(void, glTexCoord2f, (GLfloat s, GLfloat t), (s, t), false)
KILN_WRAP(void, glColor4ubv, (const GLubyte* v), (v), false)
KILN_WRAP(void, glEnable, (GLenum c), (c), true)
KILN_WRAP(void, glDisable, (GLenum c), (c), true)
KILN_WRAP(void, glBlendFunc, (GLenum s, GLenum d), (s, d), true)
KILN_WRAP(void, glAlphaFunc, (GLenum f, GLclampf r), (f, r), true)
KILN_WRAP(void, glBindTexture, (GLenum t, GLuint n), (t, n), true)
#undef KILN_WRAP

namespace {

using namespace kiln;

const Text kVersion = "v 1.3";
const Text kDone = Text(u"Fertig! Dr\u00FCcke eine Taste zum Beenden.");

struct Scene {
  Ref<TImage> background;
  Ref<TImageFont> font;
};

Scene& TheScene() {
  static Scene scene = [] {
    Scene s;
    if (!test::EnsureDisplay()) return s;
    InitPixmapLoaders();
    InitFreeTypeFontModule();
    InitGLDraw2DModule();
    if (!OpenGraphicsWindow(640, 480, 0, 0, 0)) return s;
    s.background = OpenImage(KILN_SOURCE_DIR "/payload/hg_grafik.jpg", -1);
    s.font = OpenImageFont(KILN_SOURCE_DIR "/payload/arial.ttf", 14, 5);
    UseImageFont(s.font);
    return s;
  }();
  return scene;
}

void DrawStatusFrame(const Scene& s) {
  DrawImageAt(s.background, 0, 0);
  DrawTextLine(kVersion, 590, 5);
  DrawTextLine(kDone, 10, 460);
  DrawTextLine(kDone, 10, 440);
}

// The quads the 2D layer issues for one frame, taken from the built frames, for raw GL to replay.
struct Quad {
  GLuint texture;
  float x0, y0, x1, y1, u1, v1;
};

std::vector<Quad> StatusQuads(const Scene& s) {
  std::vector<Quad> quads;
  auto add = [&](const Ref<TImage>& image, float x, float y) {
    Ref<TGLImageFrame> f = RefCast<TGLImageFrame>(image->Frame(0));
    if (f) quads.push_back({static_cast<GLuint>(f->name), x, y, x + image->width, y + image->height, f->u1, f->v1});
  };
  add(s.background, 0, 0);
  auto addText = [&](const Text& text, float x, float y) {
    for (int i = 0; i < text.Length(); ++i) {
      int index = s.font->CharToGlyph(text[i]);
      if (index < 0) continue;
      Ref<TImageGlyph> g = s.font->LoadGlyph(index);
      if (g->_image) add(g->_image, x + static_cast<float>(g->_x), y + static_cast<float>(g->_y));
      x += g->Advance();
    }
  };
  addText(kVersion, 590, 5);
  addText(kDone, 10, 460);
  addText(kDone, 10, 440);
  return quads;
}

void Report(benchmark::State& state, long calls, long changes) {
  state.counters["gl_calls_per_frame"] = static_cast<double>(calls) / static_cast<double>(state.iterations());
  state.counters["gl_state_changes_per_frame"] = static_cast<double>(changes) / static_cast<double>(state.iterations());
}

void BM_StatusFrame2DLayer(benchmark::State& state) {
  Scene& s = TheScene();
  if (!s.background || !s.font) return state.SkipWithError("no window, picture or font");
  DrawStatusFrame(s);  // warm: textures and glyphs exist from here on
  glFinish();
  long calls = glCalls, changes = glStateChanges;
  for (auto _ : state) {
    DrawStatusFrame(s);
    glFinish();
  }
  Report(state, glCalls - calls, glStateChanges - changes);
}
BENCHMARK(BM_StatusFrame2DLayer)->Unit(benchmark::kMicrosecond);

void BM_StatusFrameRawGL(benchmark::State& state) {
  Scene& s = TheScene();
  if (!s.background || !s.font) return state.SkipWithError("no window, picture or font");
  std::vector<Quad> quads = StatusQuads(s);
  glFinish();
  long calls = glCalls, changes = glStateChanges;
  for (auto _ : state) {
    for (const Quad& q : quads) {
      glBindTexture(GL_TEXTURE_2D, q.texture);
      glBegin(GL_QUADS);
      glTexCoord2f(0, 0);
      glVertex2f(q.x0, q.y0);
      glTexCoord2f(q.u1, 0);
      glVertex2f(q.x1, q.y0);
      glTexCoord2f(q.u1, q.v1);
      glVertex2f(q.x1, q.y1);
      glTexCoord2f(0, q.v1);
      glVertex2f(q.x0, q.y1);
      glEnd();
    }
    glFinish();
  }
  Report(state, glCalls - calls, glStateChanges - changes);
}
BENCHMARK(BM_StatusFrameRawGL)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return kiln::bench::RunWithRatios(argc, argv, {{"BM_StatusFrame2DLayer", "BM_StatusFrameRawGL"}});
}
