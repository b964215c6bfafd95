// The windows of GL contexts: the window class, creation with exact client size and caption, and
// the window procedure (events, close requests, screen saver, display mode on focus).
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "runtime/core/runtime.h"
#include "runtime/core/win32/wide_names.h"
#include "runtime/graphics/internal/gl_context.h"
#include "runtime/graphics/internal/wgl_layer.h"
#include "runtime/system/win32/win32.h"

namespace kiln::win32 {
namespace {

constexpr wchar_t kGLWindowClassWide[] = L"Kilnworks GLGraphics";

bool classRegistered = false;

LRESULT DefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                 : DefWindowProcA(window, message, wParam, lParam);
}

void GiveUpDisplayMode(HWND window, bool minimise) {
  if (!RestoreDisplayMode(window)) return;
  if (minimise) ShowWindow(window, SW_MINIMIZE);
  GLSetSwapInterval(0);
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                      const ContextWindowInfo& info) {
  TranslateWindowMessage(window, message, wParam, lParam, nullptr);
  switch (message) {
    case WM_PAINT:
      ValidateRect(window, nullptr);
      return 0;
    case WM_CLOSE:
      // The program decides what a close request means; the window stays.
      return 0;
    case WM_SYSKEYDOWN:
      // Alt+F4 still closes through the default handling; Alt alone opens no window menu.
      if (wParam == VK_F4) return DefaultProc(window, message, wParam, lParam);
      return 0;
    case WM_SYSCOMMAND: {
      // The low four bits of the command are the system's own.
      WPARAM command = wParam & 0xFFF0;
      if (command == SC_SCREENSAVE || command == SC_MONITORPOWER) return 1;
      return DefaultProc(window, message, wParam, lParam);
    }
    case WM_SETFOCUS:
      if (info.mode == GLFullScreenContext && DisplayModeOwner() != window) {
        try {
          GLSetSwapInterval(SwitchDisplayMode(window, info.width, info.height, info.depth, info.hertz));
        } catch (...) {
          // The mode was there when the window opened; refused now, the window waits minimised
          // for the next focus instead of covering the desktop in the wrong mode.
          ShowWindow(window, SW_MINIMIZE);
        }
      }
      return 0;
    case WM_KILLFOCUS:
      GiveUpDisplayMode(window, true);
      return 0;
    case WM_DESTROY:
      GiveUpDisplayMode(window, false);
      return 0;
    default:
      return DefaultProc(window, message, wParam, lParam);
  }
}

// An exception must not unwind through the system's frames that called the window procedure: the
// platform may swallow it or end the process. The translator holds what hooks throw for the pump;
// anything else that gets here ends the program the way an unhandled thrown object does.
LRESULT CALLBACK GLWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ContextWindowInfo info;
  if (!FindContextWindow(window, info)) return DefaultProc(window, message, wParam, lParam);
  try {
    return HandleMessage(window, message, wParam, lParam, info);
  } catch (...) {
    ReportUncaughtException(std::current_exception());
  }
}

struct WindowPlacement {
  DWORD style = 0;
  RECT rect{};
};

WindowPlacement PlaceWindow(int width, int height, int depth) {
  WindowPlacement placement;
  if (depth != 0) {
    placement.style = WS_POPUP;
    placement.rect = {0, 0, width, height};
  } else {
    placement.style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    LONG left = desktop.right / 2 - width / 2;
    LONG top = desktop.bottom / 2 - height / 2;
    placement.rect = {left, top, left + width, top + height};
  }
  AdjustWindowRectEx(&placement.rect, placement.style, FALSE, 0);
  return placement;
}

}  // namespace

void RegisterContextWindowClass() {
  if (classRegistered) return;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HCURSOR arrow = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  ATOM atom = 0;
  if (WideCharApi()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = GLWindowProc;
    wc.hInstance = instance;
    wc.hCursor = arrow;
    wc.lpszClassName = kGLWindowClassWide;
    atom = RegisterClassExW(&wc);
  } else {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = GLWindowProc;
    wc.hInstance = instance;
    wc.hCursor = arrow;
    wc.lpszClassName = kGLWindowClass;
    atom = RegisterClassExA(&wc);
  }
  if (atom == 0) std::exit(-1);
  classRegistered = true;
}

HWND CreateContextWindow(int width, int height, int depth) {
  if (width <= 0 || height <= 0) return nullptr;
  RegisterContextWindowClass();
  WindowPlacement placement = PlaceWindow(width, height, depth);
  const RECT& r = placement.rect;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (WideCharApi()) {
    std::wstring caption = ToWideName(ApplicationTitle());
    return CreateWindowExW(0, kGLWindowClassWide, caption.c_str(), placement.style, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  }
  std::string caption = ApplicationTitle().ToLatin1();
  return CreateWindowExA(0, kGLWindowClass, caption.c_str(), placement.style, r.left, r.top,
                         r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, nullptr);
}

}  // namespace kiln::win32
