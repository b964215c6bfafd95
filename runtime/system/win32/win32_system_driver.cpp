#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <atomic>

#include "runtime/core/runtime.h"
#include "runtime/core/win32/wide_names.h"
#include "runtime/system/internal/system_backend.h"
#include "runtime/system/win32/win32_backend.h"

namespace kiln {
namespace win32 {
namespace {

// Posted to the main thread when calls wait in the portable store (RunMainThreadCalls); its message
// hook runs them as the message is taken, in the program's pumps and in modal loops alike.
constexpr UINT kMainThreadCallMessage = 0x7001;
// Every kind of input, posted and sent messages included (QS_ALLINPUT without raw input).
constexpr DWORD kWaitWakeMask = 0xFF;

bool started = false;
bool wideCalls = true;
std::atomic<DWORD> mainThreadId{0};
// Set while a wake message is on its way, so a burst of posts queues one message, not thousands.
std::atomic<bool> wakePosted{false};
std::atomic<bool> callsPaused{false};

// The process's message hook on the main thread; unhooked when the process's statics end.
class MessageHook {
 public:
  MessageHook() = default;
  ~MessageHook() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  }
  MessageHook(const MessageHook&) = delete;
  MessageHook& operator=(const MessageHook&) = delete;

  void Install(HOOKPROC procedure, DWORD thread) {
    hook_ = wideCalls ? SetWindowsHookExW(WH_GETMESSAGE, procedure, nullptr, thread)
                      : SetWindowsHookExA(WH_GETMESSAGE, procedure, nullptr, thread);
  }

 private:
  HHOOK hook_ = nullptr;
};

MessageHook& MainThreadHook() {
  static MessageHook hook;
  return hook;
}

void RunPostedCalls() {
  if (callsPaused.load()) return;
  wakePosted.store(false);
  try {
    RunMainThreadCalls();
  } catch (...) {
    HoldFailure(std::current_exception());
    // The calls behind the one that threw are still queued, and their wake message is used up: a
    // wait would block until unrelated input came.
    WakeSystemWait();
  }
}

LRESULT CALLBACK MainThreadCallHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && wParam == PM_REMOVE) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (message->message == kMainThreadCallMessage && message->hwnd == nullptr) RunPostedCalls();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void EndTimerPeriod() {
  if (started) timeEndPeriod(1);
}

bool IsModifierKey(WPARAM virtualKey) {
  return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU || virtualKey == VK_LWIN ||
         virtualKey == VK_RWIN;
}

bool IsTabStopChild(HWND window) {
  constexpr LONG kTabStopChild = WS_CHILD | WS_TABSTOP;
  return window != nullptr && (GetWindowLongW(window, GWL_STYLE) & kTabStopChild) == kTabStopChild;
}

// Keyboard navigation of dialog-like parents: the message goes to the nearest ancestor that is
// not itself a tab-stop child.
bool TakenByDialog(MSG& message) {
  if (!IsTabStopChild(message.hwnd)) return false;
  HWND ancestor = GetParent(message.hwnd);
  while (ancestor != nullptr && IsTabStopChild(ancestor)) ancestor = GetParent(ancestor);
  if (ancestor == nullptr) return false;
  return (wideCalls ? IsDialogMessageW(ancestor, &message) : IsDialogMessageA(ancestor, &message)) != 0;
}

void StartSystem() {
  if (started) return;
  wideCalls = WideCharApi() != 0;
  SetPointerVisible(1);
  mainThreadId.store(GetCurrentThreadId());
  // A thread gets its message queue on its first message call; without one, posts to it fail.
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  MainThreadHook().Install(MainThreadCallHook, mainThreadId.load());
  timeBeginPeriod(1);
  AddExitHandler(EndTimerPeriod);
  started = true;
}

}  // namespace

bool WideSystemCalls() { return wideCalls; }

void PauseMainThreadCalls(bool paused) { callsPaused.store(paused); }

TWin32SystemDriver::TWin32SystemDriver() { StartSystem(); }

int TWin32SystemDriver::Poll() {
  // Calls whose wake message could not be posted run here.
  RunPostedCalls();
  RethrowHeldFailure();
  MSG message;
  // The W calls keep characters beyond the 8-bit code page for the windows of W classes.
  while (wideCalls ? PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) : PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    switch (message.message) {
      case WM_KEYDOWN:
      case WM_KEYUP:
      case WM_SYSKEYDOWN:
      case WM_SYSKEYUP:
        // Before dispatch, so a modifier's own key event carries the new mask.
        if (IsModifierKey(message.wParam)) RecomputeModifierMask();
        break;
      default:
        break;
    }
    if (!TakenByDialog(message)) {
      TranslateMessage(&message);
      if (wideCalls) {
        DispatchMessageW(&message);
      } else {
        DispatchMessageA(&message);
      }
    }
    RethrowHeldFailure();
  }
  return 0;
}

int TWin32SystemDriver::Wait() {
  // Also returns for input already in the queue that an earlier peek saw but left there.
  MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, kWaitWakeMask, MWMO_INPUTAVAILABLE);
  return Poll();
}

int TWin32SystemDriver::MoveMouse(int x, int y) {
  POINT at{x, y};
  if (HWND active = GetActiveWindow()) ClientToScreen(active, &at);
  SetCursorPos(at.x, at.y);
  return 0;
}

int TWin32SystemDriver::SetMouseVisible(int visible) {
  SetPointerVisible(visible);
  return 0;
}

int TWin32SystemDriver::OpenURL(const Text& url) {
  HINSTANCE result = nullptr;
  if (wideCalls) {
    result = ShellExecuteW(nullptr, nullptr, ToWideName(url).c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
  } else {
    result = ShellExecuteA(nullptr, nullptr, url.ToLatin1().c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
  }
  // Values up to 32 are error codes.
  return reinterpret_cast<INT_PTR>(result) > 32 ? 1 : 0;
}

}  // namespace win32

Ref<TSystemDriver> CreatePlatformSystemDriver() { return MakeRef<win32::TWin32SystemDriver>(); }

void WakeSystemWait() {
  DWORD thread = win32::mainThreadId.load();
  if (thread == 0 || win32::wakePosted.exchange(true)) return;
  if (!PostThreadMessageW(thread, win32::kMainThreadCallMessage, 0, 0)) win32::wakePosted.store(false);
}

}  // namespace kiln
