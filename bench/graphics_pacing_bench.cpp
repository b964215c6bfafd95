// Frame pacing accuracy of the application window over 600 real frames (10 s at 60 Hz), against
// the loop a programmer would otherwise write: sleep_until an exact 1/60 s schedule, then swap.
//
// Reported per loop: mean and worst lateness of each present against its deadline (us), total
// drift against 10 s (ms), and CPU time used per second of wall time (ms/s); then the ratios
// paced / reference. Needs an X server: starts a private Xvfb when DISPLAY is unset.
#include <benchmark/benchmark.h>
#include <time.h>

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "bench/ratio_report.h"
#include "runtime/core/clock.h"
#include "runtime/graphics/frame_pacing.h"
#include "runtime/graphics/gl_graphics.h"
#include "tests/support/test_display.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 600;


double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct LoopFigures {
  double meanLateUs = 0;
  double worstLateUs = 0;
  double driftMs = 0;
  double cpuMsPerS = 0;
};

// Runs 600 frames; `present(n)` presents frame n (1-based) and returns its deadline.
template <class Present>
LoopFigures MeasureLoop(Clock::time_point start, Present present) {
  double cpuStart = CpuSeconds();
  double total = 0;
  double worst = 0;
  Clock::time_point last = start;
  for (int n = 1; n <= kFrames; ++n) {
    glClear(GL_COLOR_BUFFER_BIT);
    Clock::time_point deadline = present(n);
    last = Clock::now();
    double late = std::chrono::duration<double, std::micro>(last - deadline).count();
    total += late;
    worst = std::max(worst, late);
  }
  double wall = std::chrono::duration<double>(last - start).count();
  LoopFigures f;
  f.meanLateUs = total / kFrames;
  f.worstLateUs = worst;
  f.driftMs = (wall - 10.0) * 1000.0;
  f.cpuMsPerS = (CpuSeconds() - cpuStart) * 1000.0 / wall;
  return f;
}

void BM_PacedPresentVersusSleepUntil(benchmark::State& state) {
  if (!kiln::test::EnsureDisplay()) {
    state.SkipWithError("no X server");
    return;
  }
  kiln::InitGLGraphicsModule();
  LoopFigures paced, reference;
  for (auto _ : state) {
    if (!kiln::OpenGraphicsWindow(640, 480, 0, 60, 0)) {
      state.SkipWithError("no GL window");
      return;
    }
    // What PresentFrame(-1) does for the paced window, with the pacer in reach for its deadlines
    // (the millisecond clock and the steady clock are both the monotonic clock).
    kiln::FramePacer pacer;
    pacer.Arm(60, kiln::SystemPacingClock());
    auto msToSteady = [](uint32_t ms) {
      int32_t ahead = static_cast<int32_t>(ms - kiln::MilliSecs());
      return Clock::now() + std::chrono::milliseconds(ahead);
    };
    paced = MeasureLoop(Clock::now(), [&](int) {
      pacer.WaitForNextFrame();
      Clock::time_point deadline = msToSteady(pacer.NextTime());
      kiln::PresentFrame(0);
      return deadline;
    });
    Clock::time_point start = Clock::now();
    reference = MeasureLoop(start, [start](int n) {
      Clock::time_point deadline = start + std::chrono::microseconds(n * 1000000LL / 60);
      std::this_thread::sleep_until(deadline);
      kiln::PresentFrame(0);
      return deadline;
    });
    kiln::CloseGraphicsWindow();
  }
  state.counters["paced_mean_late_us"] = paced.meanLateUs;
  state.counters["paced_worst_late_us"] = paced.worstLateUs;
  state.counters["paced_drift_ms"] = paced.driftMs;
  state.counters["paced_cpu_ms_per_s"] = paced.cpuMsPerS;
  state.counters["ref_mean_late_us"] = reference.meanLateUs;
  state.counters["ref_worst_late_us"] = reference.worstLateUs;
  state.counters["ref_drift_ms"] = reference.driftMs;
  state.counters["ref_cpu_ms_per_s"] = reference.cpuMsPerS;
  state.counters["ratio_mean_late"] = paced.meanLateUs / std::max(reference.meanLateUs, 1.0);
  state.counters["ratio_cpu"] = paced.cpuMsPerS / std::max(reference.cpuMsPerS, 1e-3);
}
BENCHMARK(BM_PacedPresentVersusSleepUntil)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The cost of one unpaced present of a cleared 640x480 window (software GL).
void BM_UnpacedPresent(benchmark::State& state) {
  if (!kiln::test::EnsureDisplay()) {
    state.SkipWithError("no X server");
    return;
  }
  kiln::InitGLGraphicsModule();
  if (!kiln::OpenGraphicsWindow(640, 480, 0, 0, 0)) {
    state.SkipWithError("no GL window");
    return;
  }
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT);
    kiln::PresentFrame(0);
  }
  glFinish();
  kiln::CloseGraphicsWindow();
}
BENCHMARK(BM_UnpacedPresent)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return kiln::bench::RunWithRatios(argc, argv, {}); }
