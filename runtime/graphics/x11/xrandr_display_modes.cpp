// Display modes through XRandR: enumeration, the full-screen switch and the desktop restore.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <memory>
#include <vector>

#include "runtime/core/exceptions.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/glx_layer.h"
#include "runtime/system/x11/x11.h"

namespace kiln::x11 {
namespace {

struct ConfigFree {
  void operator()(XRRScreenConfiguration* config) const { XRRFreeScreenConfigInfo(config); }
};
using ScreenConfig = std::unique_ptr<XRRScreenConfiguration, ConfigFree>;

struct DesktopMode {
  bool saved = false;
  SizeID size = 0;
  Rotation rotation = RR_Rotate_0;
  short rate = 0;
};

struct ModeState {
  Window owner = 0;
  DesktopMode desktop;
};

ModeState& Modes() {
  static ModeState state;
  return state;
}

bool HasRandr(Display* display) {
  int eventBase = 0;
  int errorBase = 0;
  return XRRQueryExtension(display, &eventBase, &errorBase) != 0;
}

ScreenConfig ReadConfig(Display* display) {
  if (!HasRandr(display)) return nullptr;
  return ScreenConfig(XRRGetScreenInfo(display, DefaultRootWindow(display)));
}

// Bits per pixel of the screen's default depth (24-bit screens store 32).
int ScreenBitsPerPixel(Display* display) {
  int depth = DefaultDepth(display, DefaultScreen(display));
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
  int bits = depth;
  for (int i = 0; i < count; ++i) {
    if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
  }
  if (formats != nullptr) XFree(formats);
  return bits;
}

bool DepthFits(Display* display, int depth) {
  return depth == ScreenBitsPerPixel(display) || depth == DefaultDepth(display, DefaultScreen(display));
}

bool SetConfig(Display* display, XRRScreenConfiguration* config, int size, Rotation rotation,
               short rate) {
  XErrorTrap trap(display);
  Status status = rate != 0
                      ? XRRSetScreenConfigAndRate(display, config, DefaultRootWindow(display), size,
                                                  rotation, rate, CurrentTime)
                      : XRRSetScreenConfig(display, config, DefaultRootWindow(display), size,
                                           rotation, CurrentTime);
  return !trap.Failed() && status == RRSetConfigSuccess;
}

bool RateOffered(XRRScreenConfiguration* config, int size, int hertz) {
  int count = 0;
  short* rates = XRRConfigRates(config, size, &count);
  for (int i = 0; i < count; ++i) {
    if (rates[i] == hertz) return true;
  }
  return false;
}

// Switches to the size, with the rate when hertz is non-zero; false when refused.
bool TrySwitch(Display* display, int width, int height, int hertz) {
  ScreenConfig config = ReadConfig(display);
  if (!config) {
    // Without XRandR the only mode is the one the screen has.
    return hertz == 0 && width == DisplayWidth(display, DefaultScreen(display)) &&
           height == DisplayHeight(display, DefaultScreen(display));
  }
  int count = 0;
  XRRScreenSize* sizes = XRRConfigSizes(config.get(), &count);
  for (int i = 0; i < count; ++i) {
    if (sizes[i].width != width || sizes[i].height != height) continue;
    if (hertz != 0 && !RateOffered(config.get(), i, hertz)) return false;
    Rotation rotation = RR_Rotate_0;
    XRRConfigCurrentConfiguration(config.get(), &rotation);
    return SetConfig(display, config.get(), i, rotation, static_cast<short>(hertz));
  }
  return false;
}

void SaveDesktopMode(Display* display) {
  DesktopMode& desktop = Modes().desktop;
  if (desktop.saved) return;
  ScreenConfig config = ReadConfig(display);
  if (!config) return;
  desktop.size = XRRConfigCurrentConfiguration(config.get(), &desktop.rotation);
  desktop.rate = XRRConfigCurrentRate(config.get());
  desktop.saved = true;
}

}  // namespace

int SwitchDisplayMode(Display* display, Window owner, int width, int height, int depth, int hertz) {
  ModeState& state = Modes();
  SaveDesktopMode(display);
  int interval = 0;
  bool switched = false;
  if (DepthFits(display, depth)) {
    if (hertz != 0 && TrySwitch(display, width, height, hertz)) {
      switched = true;
      interval = 1;
    } else {
      // The display refused the rate (or none was asked for): keep the size at any rate.
      switched = TrySwitch(display, width, height, 0);
    }
  }
  if (!switched) RaiseText("GLGraphicsDriver failed to set display mode");
  state.owner = owner;
  return interval;
}

Window DisplayModeOwner() { return Modes().owner; }

bool RestoreDisplayMode(Display* display, Window window) {
  ModeState& state = Modes();
  if (window == 0 || state.owner != window) return false;
  state.owner = 0;
  if (state.desktop.saved) {
    ScreenConfig config = ReadConfig(display);
    if (config) SetConfig(display, config.get(), state.desktop.size, state.desktop.rotation, state.desktop.rate);
    state.desktop.saved = false;
  }
  return true;
}

}  // namespace kiln::x11

namespace kiln {

std::vector<GLDisplayMode> GLDisplayModes(int limit) {
  std::vector<GLDisplayMode> modes;
  Display* display = x11::SystemDisplay();
  if (display == nullptr) return modes;
  int bits = x11::ScreenBitsPerPixel(display);
  if (bits < 16) return modes;
  auto add = [&](int width, int height, int hertz) {
    if (static_cast<int>(modes.size()) < limit) modes.push_back({width, height, bits, hertz});
  };
  x11::ScreenConfig config = x11::ReadConfig(display);
  if (!config) {
    int screen = DefaultScreen(display);
    add(DisplayWidth(display, screen), DisplayHeight(display, screen), 0);
    return modes;
  }
  int sizeCount = 0;
  XRRScreenSize* sizes = XRRConfigSizes(config.get(), &sizeCount);
  for (int i = 0; i < sizeCount; ++i) {
    int rateCount = 0;
    short* rates = XRRConfigRates(config.get(), i, &rateCount);
    if (rateCount == 0) add(sizes[i].width, sizes[i].height, 0);
    for (int r = 0; r < rateCount; ++r) add(sizes[i].width, sizes[i].height, rates[r]);
  }
  return modes;
}

}  // namespace kiln
