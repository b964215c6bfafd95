#include "runtime/graphics/graphics.h"

#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/graphics/frame_pacing.h"
#include "runtime/system/hooks.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

struct GraphicsState {
  Ref<TGraphicsDriver> driver;
  int defaultFlags = 0;
  std::vector<Ref<TGraphicsMode>> modeCache;
  Ref<TGraphics> current;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  Ref<TGraphics> windowGraphics;
  int graphicsSeq = 1;
  int flipHookId = 0;
  bool softSync = false;
  bool hardSync = false;
  FramePacer pacer;
  bool exitHandlerAdded = false;
  PacingClock pacingClock = SystemPacingClock();
};

GraphicsState& State() {
  static GraphicsState state;
  return state;
}

void ClearSettings(GraphicsState& s) { s.width = s.height = s.depth = s.hertz = s.flags = 0; }

}  // namespace

Text TGraphicsMode::ToString() const {
  return Text::FromInt(width) + "," + Text::FromInt(height) + "," + Text::FromInt(depth) + " " +
         Text::FromInt(hertz) + "Hz";
}

void InitGraphicsModule() {
  RunOnce([] {
    InitCoreModule();
    InitSystemModule();
    InitInputState();
    State().flipHookId = NewHookId();
  });
}

int GraphicsSeq() { return State().graphicsSeq; }

int BumpGraphicsSeq() {
  GraphicsState& s = State();
  // Wraps like a 32-bit counter without the undefined overflow; 0 is reserved for "not built".
  s.graphicsSeq = static_cast<int>(static_cast<unsigned>(s.graphicsSeq) + 1u);
  if (s.graphicsSeq == 0) s.graphicsSeq = 1;
  return s.graphicsSeq;
}

int FlipHookId() { return State().flipHookId; }

void SetWindowPacingClock(PacingClock clock) { State().pacingClock = clock; }
PacingClock WindowPacingClock() { return State().pacingClock; }

void InstallGraphicsDriver(const Ref<TGraphicsDriver>& driver, int flags) {
  GraphicsState& s = State();
  BumpGraphicsSeq();
  if (!(driver == s.driver)) {
    if (s.driver && s.current) s.driver->SetGraphics(nullptr);
    s.modeCache.clear();
    s.driver = driver;
  }
  s.defaultFlags = flags;
  s.current = nullptr;
  ClearSettings(s);
}

Ref<TGraphicsDriver> InstalledGraphicsDriver() { return State().driver; }
int InstalledDriverFlags() { return State().defaultFlags; }

std::vector<Ref<TGraphicsMode>> ListGraphicsModes() {
  GraphicsState& s = State();
  if (s.modeCache.empty() && s.driver) s.modeCache = s.driver->GraphicsModes();
  return s.modeCache;
}

int GraphicsModeCount() { return static_cast<int>(ListGraphicsModes().size()); }

bool GraphicsModeAt(int index, int& width, int& height, int& depth, int& hertz) {
  std::vector<Ref<TGraphicsMode>> modes = ListGraphicsModes();
  if (index < 0 || index >= static_cast<int>(modes.size())) return false;
  const TGraphicsMode& m = *modes[static_cast<size_t>(index)];
  width = m.width;
  height = m.height;
  depth = m.depth;
  hertz = m.hertz;
  return true;
}

int HasGraphicsMode(int width, int height, int depth, int hertz) {
  for (const Ref<TGraphicsMode>& m : ListGraphicsModes()) {
    if (width != 0 && m->width != width) continue;
    if (height != 0 && m->height != height) continue;
    if (depth != 0 && m->depth != depth) continue;
    if (hertz != 0 && m->hertz != hertz) continue;
    return 1;
  }
  return 0;
}

Ref<TGraphics> OpenGraphicsContext(int width, int height, int depth, int hertz, int flags) {
  GraphicsState& s = State();
  if (!s.driver) return nullptr;
  try {
    return s.driver->CreateGraphics(width, height, depth, hertz, flags | s.defaultFlags);
  } catch (...) {
    return nullptr;
  }
}

Ref<TGraphics> AttachGraphicsContext(intptr_t widget, int flags) {
  GraphicsState& s = State();
  if (!s.driver) return nullptr;
  try {
    return s.driver->AttachGraphics(widget, flags | s.defaultFlags);
  } catch (...) {
    return nullptr;
  }
}

void SelectGraphicsContext(const Ref<TGraphics>& g) {
  GraphicsState& s = State();
  // A closed context has no driver any more: selecting it selects nothing, and the installed driver
  // stays, so that later windows still open.
  Ref<TGraphicsDriver> d = g ? g->Driver() : nullptr;
  if (!d) {
    if (s.driver) s.driver->SetGraphics(nullptr);
    s.current = nullptr;
    ClearSettings(s);
    return;
  }
  if (!(d == s.driver)) {
    if (s.driver) s.driver->SetGraphics(nullptr);
    s.modeCache.clear();
    s.driver = d;
  }
  g->GetSettings(s.width, s.height, s.depth, s.hertz, s.flags);
  d->SetGraphics(g);
  s.current = g;
}

void CloseGraphicsContext(const Ref<TGraphics>& g) {
  if (!g) return;
  GraphicsState& s = State();
  Ref<TGraphics> keep = g;  // g may be the only reference the module held
  if (keep == s.windowGraphics) s.windowGraphics = nullptr;
  if (keep == s.current) SelectGraphicsContext(nullptr);
  keep->Close();
}

Ref<TGraphics> CurrentGraphicsContext() { return State().current; }
int CurrentGraphicsWidth() { return State().width; }
int CurrentGraphicsHeight() { return State().height; }
int CurrentGraphicsDepth() { return State().depth; }
int CurrentGraphicsHertz() { return State().hertz; }
int CurrentGraphicsFlags() { return State().flags; }

Ref<TGraphics> OpenGraphicsWindow(int width, int height, int depth, int hertz, int flags) {
  CloseGraphicsWindow();
  GraphicsState& s = State();
  Ref<TGraphics> g = OpenGraphicsContext(width, height, depth, hertz, flags | s.defaultFlags);
  if (!g) return nullptr;
  BumpGraphicsSeq();
  SelectGraphicsContext(g);
  if (depth != 0) {
    s.softSync = false;
    s.hardSync = hertz != 0;
    SetPointerPosition(width / 2, height / 2);
  } else {
    s.hardSync = false;
    s.softSync = hertz != 0;
  }
  if (s.softSync) s.pacer.Arm(hertz, s.pacingClock);
  StartInputTracking(nullptr);
  s.windowGraphics = g;
  if (!s.exitHandlerAdded) {
    s.exitHandlerAdded = true;
    AddExitHandler(&CloseGraphicsWindow);
  }
  return g;
}

void CloseGraphicsWindow() {
  GraphicsState& s = State();
  if (!s.windowGraphics) return;
  BumpGraphicsSeq();
  StopInputTracking();
  CloseGraphicsContext(s.windowGraphics);
}

Ref<TGraphics> WindowGraphics() { return State().windowGraphics; }

void PresentFrame(int sync) {
  GraphicsState& s = State();
  CallHooks(s.flipHookId, nullptr);
  if (!s.driver) return;
  if (sync != -1) {
    s.driver->Flip(sync);
  } else if (!(s.current == s.windowGraphics) || !s.current) {
    s.driver->Flip(1);
  } else if (s.softSync) {
    s.pacer.WaitForNextFrame();
    s.driver->Flip(0);
  } else {
    s.driver->Flip(s.hardSync ? 1 : 0);
  }
}

}  // namespace kiln
