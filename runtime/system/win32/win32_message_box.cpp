#include <windows.h>

#include <string>

#include "runtime/core/runtime.h"
#include "runtime/core/win32/wide_names.h"
#include "runtime/system/internal/system_backend.h"
#include "runtime/system/win32/win32_backend.h"

namespace kiln {
namespace win32 {
namespace {

int ShowMessageBox(const Text& text, UINT style) {
  FocusKeeper focus;
  HWND owner = GetActiveWindow();
  if (WideSystemCalls()) {
    return MessageBoxW(owner, ToWideName(text).c_str(), ToWideName(ApplicationTitle()).c_str(), style);
  }
  return MessageBoxA(owner, text.ToLatin1().c_str(), ApplicationTitle().ToLatin1().c_str(), style);
}

void WriteFaultLine(const char* caption, const char* text) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  std::string line = std::string(caption) + ": " + text + "\n";
  DWORD written = 0;
  WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// The fault report's box: one OK button. A box that cannot be shown (no desktop, no window system)
// returns at once with 0; the report then goes to standard error as it would without a box.
void ShowFaultBox(const char* caption, const char* text) {
  PauseMainThreadCalls(true);
  int result = MessageBoxA(GetActiveWindow(), text, caption, MB_OK | MB_ICONERROR | MB_TOPMOST);
  PauseMainThreadCalls(false);
  if (result != IDOK) WriteFaultLine(caption, text);
}

}  // namespace

UINT MessageBoxStyle(UINT buttons, int serious) {
  return MB_TOPMOST | (serious != 0 ? MB_ICONEXCLAMATION : MB_ICONINFORMATION) | buttons;
}

int ConfirmResult(int boxResult) { return boxResult == IDOK ? 1 : 0; }

int ProceedResult(int boxResult) {
  if (boxResult == IDYES) return 1;
  if (boxResult == IDNO) return 0;
  return -1;
}

int TWin32SystemDriver::Notify(const Text& text, int serious) {
  ShowMessageBox(text, MessageBoxStyle(MB_OK, serious));
  return 0;
}

int TWin32SystemDriver::Confirm(const Text& text, int serious) {
  return ConfirmResult(ShowMessageBox(text, MessageBoxStyle(MB_OKCANCEL, serious)));
}

int TWin32SystemDriver::Proceed(const Text& text, int serious) {
  return ProceedResult(ShowMessageBox(text, MessageBoxStyle(MB_YESNOCANCEL, serious)));
}

}  // namespace win32

FaultMessageBox PlatformFaultMessageBox() { return win32::ShowFaultBox; }

}  // namespace kiln
