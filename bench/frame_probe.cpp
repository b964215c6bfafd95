// Preloaded (LD_PRELOAD) into a program under measurement, the patcher or the minimal GLX program
// alike: it notes when the first frame was presented, the CPU time per second of wall time between
// frames 60 and 180, and the peak resident memory, writes them to the file $FRAME_PROBE_OUT as
// "<first frame, CLOCK_REALTIME ns> <CPU s per s> <peak KiB>" and ends the process after frame 180.
// With FRAME_PROBE_FIRST_ONLY set it ends the process right after the first frame instead, so that a
// profiler sees the start-up alone.
#include <GL/glx.h>
#include <dlfcn.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kIdleFrom = 60;
constexpr int kIdleTo = 180;

int frames = 0;
long long firstFrameNs = 0;
double idleWall = 0, idleCpu = 0;

double Seconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

extern "C" void glXSwapBuffers(Display* display, GLXDrawable drawable) {
  using Swap = void (*)(Display*, GLXDrawable);
  static const Swap real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
  real(display, drawable);
  ++frames;
  if (frames == 1) {
    XSync(display, False);
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    firstFrameNs = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    if (std::getenv("FRAME_PROBE_FIRST_ONLY") != nullptr) _exit(0);
  } else if (frames == kIdleFrom) {
    idleWall = Seconds(CLOCK_MONOTONIC);
    idleCpu = CpuSeconds();
  } else if (frames == kIdleTo) {
    const double cpuPerSecond = (CpuSeconds() - idleCpu) / (Seconds(CLOCK_MONOTONIC) - idleWall);
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    if (const char* out = std::getenv("FRAME_PROBE_OUT")) {
      if (FILE* f = std::fopen(out, "w")) {
        std::fprintf(f, "%lld %.5f %ld\n", firstFrameNs, cpuPerSecond, usage.ru_maxrss);
        std::fclose(f);
      }
    }
    _exit(0);
  }
}
