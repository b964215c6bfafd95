// Pixel operations on a 640x480 picture, against memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_report.h"
#include "runtime/pixmap/pixmap.h"

namespace {

using namespace kiln;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// A picture with smooth gradients and some key-coloured spots, as a background would have.
Ref<TPixmap> Picture(int format) {
  Ref<TPixmap> p = AllocatePixmap(kWidth, kHeight, FormatRGBA8888, 4);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* q = p->PixelPtr(x, y);
      bool key = (x / 8 + y / 8) % 11 == 0;
      q[0] = key ? 255 : static_cast<uint8_t>(x * 255 / kWidth);
      q[1] = key ? 0 : static_cast<uint8_t>(y * 255 / kHeight);
      q[2] = key ? 255 : static_cast<uint8_t>((x + y) & 0xFF);
      q[3] = 255;
    }
  return format == FormatRGBA8888 ? p : p->Convert(format);
}

void ConvertRows(benchmark::State& state, int srcFormat) {
  Ref<TPixmap> src = Picture(srcFormat);
  Ref<TPixmap> dst = AllocatePixmap(kWidth, kHeight, FormatRGBA8888, 4);
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y)
      ConvertPixelRun(src->PixelPtr(0, y), srcFormat, dst->PixelPtr(0, y), FormatRGBA8888, kWidth);
    benchmark::DoNotOptimize(dst->pixels);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}

void BM_ConvertPixelRun_RGB888_to_RGBA8888(benchmark::State& state) { ConvertRows(state, FormatRGB888); }
void BM_ConvertPixelRun_BGRA8888_to_RGBA8888(benchmark::State& state) { ConvertRows(state, FormatBGRA8888); }
void BM_ConvertPixelRun_BGR888_to_RGBA8888(benchmark::State& state) { ConvertRows(state, FormatBGR888); }
void BM_ConvertPixelRun_Grey8_to_RGBA8888(benchmark::State& state) { ConvertRows(state, FormatGrey8); }

void BM_ConvertPixelRun_RGBA8888_to_BGR888(benchmark::State& state) {
  Ref<TPixmap> src = Picture(FormatRGBA8888);
  Ref<TPixmap> dst = AllocatePixmap(kWidth, kHeight, FormatBGR888, 4);
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y)
      ConvertPixelRun(src->PixelPtr(0, y), FormatRGBA8888, dst->PixelPtr(0, y), FormatBGR888, kWidth);
    benchmark::DoNotOptimize(dst->pixels);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}

// The reference: copying the destination's bytes row by row, the least any conversion must do.
void BM_Memcpy_RGBA8888_rows(benchmark::State& state) {
  Ref<TPixmap> src = Picture(FormatRGBA8888);
  Ref<TPixmap> dst = AllocatePixmap(kWidth, kHeight, FormatRGBA8888, 4);
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) std::memcpy(dst->PixelPtr(0, y), src->PixelPtr(0, y), kWidth * 4);
    benchmark::DoNotOptimize(dst->pixels);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}

void BM_ScalePixmap_640x480_to_800x600(benchmark::State& state) {
  Ref<TPixmap> src = Picture(FormatRGBA8888);
  for (auto _ : state) benchmark::DoNotOptimize(ScalePixmap(src, 800, 600).Get());
}

void BM_ScalePixmap_640x480_to_512x512(benchmark::State& state) {
  Ref<TPixmap> src = Picture(FormatRGB888);
  for (auto _ : state) benchmark::DoNotOptimize(ScalePixmap(src, 512, 512).Get());
}

void BM_ApplyMaskColor_640x480(benchmark::State& state) {
  Ref<TPixmap> src = Picture(FormatRGBA8888);
  for (auto _ : state) benchmark::DoNotOptimize(ApplyMaskColor(src, 255, 0, 255).Get());
}

// The reference for the whole-picture operations: a fresh pixmap and a copy of the picture into it.
void BM_Copy_640x480_RGBA(benchmark::State& state) {
  Ref<TPixmap> src = Picture(FormatRGBA8888);
  for (auto _ : state) benchmark::DoNotOptimize(src->Copy().Get());
}

BENCHMARK(BM_Memcpy_RGBA8888_rows);
BENCHMARK(BM_ConvertPixelRun_RGB888_to_RGBA8888);
BENCHMARK(BM_ConvertPixelRun_BGRA8888_to_RGBA8888);
BENCHMARK(BM_ConvertPixelRun_BGR888_to_RGBA8888);
BENCHMARK(BM_ConvertPixelRun_Grey8_to_RGBA8888);
BENCHMARK(BM_ConvertPixelRun_RGBA8888_to_BGR888);
BENCHMARK(BM_Copy_640x480_RGBA);
BENCHMARK(BM_ScalePixmap_640x480_to_800x600);
BENCHMARK(BM_ScalePixmap_640x480_to_512x512);
BENCHMARK(BM_ApplyMaskColor_640x480);

}  // namespace

int main(int argc, char** argv) {
  const std::string rows = "BM_Memcpy_RGBA8888_rows", copy = "BM_Copy_640x480_RGBA";
  return kiln::bench::RunWithRatios(argc, argv,
                                    {{"BM_ConvertPixelRun_RGB888_to_RGBA8888", rows},
                                     {"BM_ConvertPixelRun_BGRA8888_to_RGBA8888", rows},
                                     {"BM_ConvertPixelRun_BGR888_to_RGBA8888", rows},
                                     {"BM_ConvertPixelRun_Grey8_to_RGBA8888", rows},
                                     {"BM_ConvertPixelRun_RGBA8888_to_BGR888", rows},
                                     {"BM_ScalePixmap_640x480_to_800x600", copy},
                                     {"BM_ScalePixmap_640x480_to_512x512", copy},
                                     {"BM_ApplyMaskColor_640x480", copy}});
}
