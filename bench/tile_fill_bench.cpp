// TileImageFill of small images over a 640 x 480 clip rectangle, against the same copies drawn one
// quad each (what every copy cost before runs of copies were joined) and against one full-window
// quad with raw GL, in one run and one window. Wall time includes glFinish, so the software
// rasteriser's work counts. Needs an X server: starts a private Xvfb when DISPLAY is unset.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include "bench/ratio_report.h"
#include "runtime/draw2d/draw2d.h"
#include "runtime/draw2d/gl_flat2d_driver.h"
#include "runtime/graphics/graphics.h"
#include "tests/support/test_display.h"

namespace {

using namespace kiln;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

bool OpenWindow() {
  static bool open = [] {
    if (!test::EnsureDisplay()) return false;
    InitGLDraw2DModule();
    return static_cast<bool>(OpenGraphicsWindow(kWidth, kHeight, 0, 0, 0));
  }();
  return open;
}

// A w x h image of distinct colours.
Ref<TImage> Tile(int w, int h) {
  Ref<TPixmap> p = AllocatePixmap(w, h, FormatRGBA8888, 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) p->WritePixel(x, y, static_cast<int>(0xFF000000u | (x * 40) << 16 | (y * 40) << 8 | 200));
  }
  return TImage::Load(Url(p), 0, 0, 0, 0);
}

// state.range(0) x state.range(1): the image size.
void BM_TileImageFill(benchmark::State& state) {
  if (!OpenWindow()) return state.SkipWithError("no window");
  Ref<TImage> image = Tile(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  TileImageFill(image);  // warm: the texture (and a sheet of copies) exist from here on
  glFinish();
  for (auto _ : state) {
    TileImageFill(image);
    glFinish();
  }
}
BENCHMARK(BM_TileImageFill)->Args({1, 1})->Args({3, 2})->Args({16, 16})->Unit(benchmark::kMicrosecond);

void BM_TilesOneQuadEach(benchmark::State& state) {
  if (!OpenWindow()) return state.SkipWithError("no window");
  int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  Ref<TImage> image = Tile(w, h);
  Ref<TImageFrame> frame = image->Frame(0);
  for (auto _ : state) {
    frame->TImageFrame::DrawTiles(0, 0, 0, 0, w, h, (kWidth + w - 1) / w, (kHeight + h - 1) / h);
    glFinish();
  }
}
BENCHMARK(BM_TilesOneQuadEach)->Args({1, 1})->Args({3, 2})->Args({16, 16})->Unit(benchmark::kMicrosecond);

// The least any fill of the window costs: one textured quad.
void BM_OneWindowQuadRawGL(benchmark::State& state) {
  if (!OpenWindow()) return state.SkipWithError("no window");
  Ref<TImage> image = Tile(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  Ref<TGLImageFrame> frame = RefCast<TGLImageFrame>(image->Frame(0));
  glEnable(GL_TEXTURE_2D);
  for (auto _ : state) {
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(frame->name));
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, 0);
    glTexCoord2f(1, 0);
    glVertex2f(kWidth, 0);
    glTexCoord2f(1, 1);
    glVertex2f(kWidth, kHeight);
    glTexCoord2f(0, 1);
    glVertex2f(0, kHeight);
    glEnd();
    glFinish();
  }
  glDisable(GL_TEXTURE_2D);
  // The 2D layer's caches must not believe what this changed behind them.
  SelectGraphicsContext(WindowGraphics());
}
BENCHMARK(BM_OneWindowQuadRawGL)->Args({1, 1})->Args({3, 2})->Args({16, 16})->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<kiln::bench::RatioPair> pairs;
  for (const char* size : {"1/1", "3/2", "16/16"}) {
    std::string fill = std::string("BM_TileImageFill/") + size;
    pairs.push_back({fill, std::string("BM_TilesOneQuadEach/") + size});
    pairs.push_back({fill, std::string("BM_OneWindowQuadRawGL/") + size});
  }
  return kiln::bench::RunWithRatios(argc, argv, pairs);
}
