#include <windows.h>

#include <utility>

#include "runtime/system/events.h"
#include "runtime/system/win32/win32.h"
#include "runtime/system/win32/win32_backend.h"

namespace kiln::win32 {
namespace {

constexpr int kShiftBit = 1;
constexpr int kControlBit = 2;
constexpr int kAltBit = 4;
constexpr int kWindowsBit = 8;
// Notches of the wheel are 120 units of its delta.
constexpr int kWheelNotch = 120;

int modifierMask = 0;
// The program window the pointer is over (none: nullptr), and the source of its events.
HWND hoverWindow = nullptr;
Ref<TObject> hoverSource;
int pointerVisible = 1;

std::exception_ptr heldFailure;

bool KeyDown(int virtualKey) { return (GetKeyState(virtualKey) & 0x8000) != 0; }

// Hooks run inside the window procedure; what they throw waits for the pump (HoldFailure).
void Emit(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x, int32_t y) {
  try {
    SendSystemEvent(id, source, data, mods, x, y, nullptr);
  } catch (...) {
    HoldFailure(std::current_exception());
  }
}

int SignedLow(LPARAM value) { return static_cast<short>(LOWORD(static_cast<DWORD_PTR>(value))); }
int SignedHigh(LPARAM value) { return static_cast<short>(HIWORD(static_cast<DWORD_PTR>(value))); }

// Moves the hover state to `window` (nullptr: no program window). The state changes before any
// event goes out, so a hook that pumps or opens a box meets it settled.
void SetHoverWindow(HWND window, int x, int y, const Ref<TObject>& source) {
  if (window == hoverWindow) return;
  HWND left = hoverWindow;
  Ref<TObject> leftSource = std::move(hoverSource);
  hoverWindow = window;
  if (window != nullptr) hoverSource = source;
  UpdatePointerVisibility();
  // A window destroyed without telling the translator gets no leave.
  if (left != nullptr && IsWindow(left)) {
    POINT at{};
    GetCursorPos(&at);
    ScreenToClient(left, &at);
    Emit(kEventMouseLeave, leftSource, 0, 0, at.x, at.y);
  }
  if (window != nullptr) {
    Emit(kEventMouseEnter, source, 0, 0, x, y);
    // The leave arrives later as WM_MOUSELEAVE.
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window;
    track.dwHoverTime = 0;
    TrackMouseEvent(&track);
  }
}

bool InsideClientArea(HWND window, int x, int y) {
  RECT client{};
  if (!GetClientRect(window, &client)) return false;
  return x >= 0 && y >= 0 && x < client.right && y < client.bottom;
}

// The button held during a move: the middle button is 4 here, not 3 as in the button events.
int HeldButtonDatum(WPARAM keys) {
  int datum = 0;
  if (keys & MK_LBUTTON) datum = 1;
  if (keys & MK_MBUTTON) datum = 4;
  if (keys & MK_RBUTTON) datum = 2;
  return datum;
}

// Activation moving between windows of this process, or to a minimised one, is no change of
// application.
bool IsApplicationSwitch(HWND window, WPARAM wParam, LPARAM lParam) {
  bool activated = LOWORD(wParam) != WA_INACTIVE;
  if (activated && IsIconic(window)) return false;
  HWND other = reinterpret_cast<HWND>(lParam);
  if (other != nullptr) {
    DWORD process = 0;
    GetWindowThreadProcessId(other, &process);
    if (process == GetCurrentProcessId()) return false;
  }
  return true;
}

void TranslateButton(HWND window, bool down, int button, LPARAM lParam, const Ref<TObject>& source) {
  if (down) {
    SetCapture(window);
  } else {
    ReleaseCapture();
  }
  Emit(down ? kEventMouseDown : kEventMouseUp, source, button, modifierMask, SignedLow(lParam), SignedHigh(lParam));
}

}  // namespace

int ModifierMask() { return modifierMask; }

void RecomputeModifierMask() {
  int mask = 0;
  if (KeyDown(VK_SHIFT)) mask |= kShiftBit;
  if (KeyDown(VK_CONTROL)) mask |= kControlBit;
  if (KeyDown(VK_MENU)) mask |= kAltBit;
  if (KeyDown(VK_LWIN) || KeyDown(VK_RWIN)) mask |= kWindowsBit;
  modifierMask = mask;
}

void SetPointerVisible(int visible) {
  pointerVisible = visible;
  UpdatePointerVisibility();
}

void UpdatePointerVisibility() {
  BOOL show = pointerVisible != 0 || hoverWindow == nullptr;
  // The display counter shows the pointer at 0 and above; keep it at 0 (shown) or -1 (hidden).
  int count = ShowCursor(show);
  if (count != 0 && count != -1) ShowCursor(!show);
}

void HoldFailure(std::exception_ptr failure) {
  if (!heldFailure) heldFailure = std::move(failure);
}

void RethrowHeldFailure() {
  if (!heldFailure) return;
  std::exception_ptr failure = std::exchange(heldFailure, nullptr);
  std::rethrow_exception(failure);
}

int SidedKeyCode(WPARAM virtualKey, LPARAM lParam) {
  auto bits = static_cast<uint32_t>(lParam);
  // The low seven bits of the scan code, the extended-key flag as bit 7.
  uint32_t scan = ((bits >> 17) & 0x80) | ((bits >> 16) & 0x7F);
  switch (scan) {
    case 0x2A:
      return VK_LSHIFT;
    case 0x36:
      return VK_RSHIFT;
    case 0x1D:
      return VK_LCONTROL;
    case 0x9D:
      return VK_RCONTROL;
    case 0x38:
      return VK_LMENU;
    case 0xB8:
      return VK_RMENU;
    default:
      return static_cast<int>(virtualKey);
  }
}

void TranslateWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const Ref<TObject>& source) {
  switch (message) {
    case WM_ACTIVATE: {
      bool activated = LOWORD(wParam) != WA_INACTIVE;
      // Modifiers may have been released while another application had the keyboard.
      if (activated) {
        RecomputeModifierMask();
      } else {
        modifierMask = 0;
      }
      if (!IsApplicationSwitch(window, wParam, lParam)) break;
      Emit(activated ? kEventAppResume : kEventAppSuspend, source, 0, modifierMask, 0, 0);
      break;
    }
    case WM_CLOSE:
      Emit(kEventAppTerminate, source, 0, modifierMask, 0, 0);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (wParam >= 1 && wParam <= 255) {
        bool repeat = (static_cast<uint32_t>(lParam) & (1u << 30)) != 0;
        Emit(repeat ? kEventKeyRepeat : kEventKeyDown, source, SidedKeyCode(wParam, lParam), modifierMask, 0, 0);
      }
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (wParam >= 1 && wParam <= 255) Emit(kEventKeyUp, source, SidedKeyCode(wParam, lParam), modifierMask, 0, 0);
      break;
    case WM_CHAR:
    case WM_SYSCHAR:
      Emit(kEventKeyChar, source, static_cast<int32_t>(wParam), modifierMask, 0, 0);
      break;
    case WM_MOUSEMOVE: {
      int x = SignedLow(lParam);
      int y = SignedHigh(lParam);
      SetHoverWindow(InsideClientArea(window, x, y) ? window : nullptr, x, y, source);
      Emit(kEventMouseMove, source, HeldButtonDatum(wParam), modifierMask, x, y);
      break;
    }
    case WM_LBUTTONDOWN:
      TranslateButton(window, true, 1, lParam, source);
      break;
    case WM_RBUTTONDOWN:
      TranslateButton(window, true, 2, lParam, source);
      break;
    case WM_MBUTTONDOWN:
      TranslateButton(window, true, 3, lParam, source);
      break;
    case WM_LBUTTONUP:
      TranslateButton(window, false, 1, lParam, source);
      break;
    case WM_RBUTTONUP:
      TranslateButton(window, false, 2, lParam, source);
      break;
    case WM_MBUTTONUP:
      TranslateButton(window, false, 3, lParam, source);
      break;
    case WM_MOUSEWHEEL: {
      int notches = static_cast<short>(HIWORD(wParam)) / kWheelNotch;
      POINT at{SignedLow(lParam), SignedHigh(lParam)};
      ScreenToClient(window, &at);
      Emit(kEventMouseWheel, source, notches, modifierMask, at.x, at.y);
      break;
    }
    case WM_MOUSELEAVE:
      if (window == hoverWindow) SetHoverWindow(nullptr, 0, 0, nullptr);
      break;
    // A destroyed window's handle may be reused, and the pointer hidden over it must show again:
    // forget it without an event.
    case WM_DESTROY:
    case WM_NCDESTROY:
      if (window == hoverWindow) {
        hoverWindow = nullptr;
        hoverSource = nullptr;
        UpdatePointerVisibility();
      }
      break;
    default:
      break;
  }
}

}  // namespace kiln::win32
