// Display modes through the display-settings calls: enumeration, the full-screen switch and the
// desktop restore.
#include <windows.h>

#include <vector>

#include "runtime/core/exceptions.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/wgl_layer.h"

namespace kiln::win32 {
namespace {

static_assert(sizeof(DEVMODEA) == 156, "the display-settings calls take the 156-byte DEVMODEA");

HWND modeOwner = nullptr;

DEVMODEA EmptyMode() {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmDriverExtra = 0;
  return mode;
}

bool TrySwitch(int width, int height, int depth, int hertz) {
  DEVMODEA mode = EmptyMode();
  mode.dmPelsWidth = static_cast<DWORD>(width);
  mode.dmPelsHeight = static_cast<DWORD>(height);
  mode.dmBitsPerPel = static_cast<DWORD>(depth);
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  if (hertz != 0) {
    mode.dmDisplayFrequency = static_cast<DWORD>(hertz);
    mode.dmFields |= DM_DISPLAYFREQUENCY;
  }
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

}  // namespace

int SwitchDisplayMode(HWND owner, int width, int height, int depth, int hertz) {
  int interval = 0;
  bool switched = false;
  if (width > 0 && height > 0 && depth > 0) {
    if (hertz != 0 && TrySwitch(width, height, depth, hertz)) {
      switched = true;
      interval = 1;
    } else {
      // The display refused the rate (or none was asked for): keep the size at any rate.
      switched = TrySwitch(width, height, depth, 0);
    }
  }
  if (!switched) RaiseText("GLGraphicsDriver failed to set display mode");
  modeOwner = owner;
  return interval;
}

HWND DisplayModeOwner() { return modeOwner; }

bool RestoreDisplayMode(HWND window) {
  if (window == nullptr || modeOwner != window) return false;
  modeOwner = nullptr;
  // No mode and no flags: back to the mode of the registry, the documented way out of a
  // full-screen change.
  ChangeDisplaySettingsA(nullptr, 0);
  return true;
}

}  // namespace kiln::win32

namespace kiln {

std::vector<GLDisplayMode> GLDisplayModes(int limit) {
  std::vector<GLDisplayMode> modes;
  DEVMODEA mode = win32::EmptyMode();
  for (DWORD i = 0; static_cast<int>(modes.size()) < limit; ++i) {
    mode = win32::EmptyMode();
    if (!EnumDisplaySettingsA(nullptr, i, &mode)) break;
    if (mode.dmBitsPerPel < 16) continue;
    modes.push_back({static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight),
                     static_cast<int>(mode.dmBitsPerPel), static_cast<int>(mode.dmDisplayFrequency)});
  }
  return modes;
}

}  // namespace kiln
