// A graphics driver that records what the module asks of it, for tests of the module functions
// that must not depend on a window system.
#pragma once

#include <stdexcept>
#include <vector>

#include "runtime/graphics/graphics.h"

namespace kiln::test {

class FakeGraphicsDriver;

class FakeGraphics : public TGraphics {
 public:
  FakeGraphics(FakeGraphicsDriver* driver, int w, int h, int d, int hz, int f)
      : driver_(driver), width(w), height(h), depth(d), hertz(hz), flags(f) {}
  Ref<TGraphicsDriver> Driver() override;
  int GetSettings(int& w, int& h, int& d, int& hz, int& f) override {
    w = width;
    h = height;
    d = depth;
    hz = hertz;
    f = flags;
    return 0;
  }
  int Close() override {
    ++closes;
    return 0;
  }

  FakeGraphicsDriver* driver_;
  int width, height, depth, hertz, flags;
  int closes = 0;
};

class FakeGraphicsDriver : public TGraphicsDriver {
 public:
  std::vector<Ref<TGraphicsMode>> GraphicsModes() override {
    ++modeQueries;
    std::vector<Ref<TGraphicsMode>> list;
    for (const auto& m : modes) {
      Ref<TGraphicsMode> mode = MakeRef<TGraphicsMode>();
      mode->width = m[0];
      mode->height = m[1];
      mode->depth = m[2];
      mode->hertz = m[3];
      list.push_back(mode);
    }
    return list;
  }
  Ref<TGraphics> AttachGraphics(intptr_t, int flags) override {
    if (failCreate) throw std::runtime_error("attach failed");
    return MakeRef<FakeGraphics>(this, 10, 20, 0, 0, flags);
  }
  Ref<TGraphics> CreateGraphics(int w, int h, int d, int hz, int flags) override {
    if (throwOnCreate) throw Text("no window today");
    if (failCreate) return nullptr;
    lastCreateFlags = flags;
    return MakeRef<FakeGraphics>(this, w, h, d, hz, flags);
  }
  int SetGraphics(const Ref<TGraphics>& g) override {
    selected.push_back(g);
    return 0;
  }
  int Flip(int sync) override {
    flips.push_back(sync);
    return 0;
  }

  std::vector<std::vector<int>> modes;
  int modeQueries = 0;
  bool failCreate = false;
  bool throwOnCreate = false;
  int lastCreateFlags = -1;
  std::vector<Ref<TGraphics>> selected;
  std::vector<int> flips;
};

inline Ref<TGraphicsDriver> FakeGraphics::Driver() {
  return Ref<TGraphicsDriver>::Share(driver_);
}

}  // namespace kiln::test
