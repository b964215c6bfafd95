// What the files of the Win32 system backend share among themselves (and with its tests): the
// pointer and modifier state of the translator, failures held across the system's own frames, and
// the pure rules of message boxes and requesters.
#pragma once

#include <windows.h>

#include <exception>

#include "runtime/core/text.h"
#include "runtime/system/system.h"

namespace kiln::win32 {

// The system driver on the Win32 window system; its constructor starts the system (once).
class TWin32SystemDriver : public TSystemDriver {
 public:
  TWin32SystemDriver();
  int Poll() override;
  int Wait() override;
  int MoveMouse(int x, int y) override;
  int SetMouseVisible(int visible) override;
  int Notify(const Text& text, int serious) override;
  int Confirm(const Text& text, int serious) override;
  int Proceed(const Text& text, int serious) override;
  Text RequestFile(const Text& title, const Text& extensions, int save, const Text& path) override;
  Text RequestDir(const Text& title, const Text& path) override;
  int OpenURL(const Text& url) override;
};

// The focus window before a modal box or requester, given back afterwards if it still exists.
class FocusKeeper {
 public:
  FocusKeeper() : focus_(GetFocus()) {}
  ~FocusKeeper() {
    if (focus_ != nullptr && IsWindow(focus_)) SetFocus(focus_);
  }
  FocusKeeper(const FocusKeeper&) = delete;
  FocusKeeper& operator=(const FocusKeeper&) = delete;

 private:
  HWND focus_;
};

// 1 when the wide-character (W) variants of the platform calls are used, else the 8-bit ones.
bool WideSystemCalls();

// Modifier bits of the events: 1 Shift, 2 Ctrl, 4 Alt, 8 either Windows key.
int ModifierMask();
// Reads the mask afresh from the thread's key state (after a modifier key message was taken from
// the queue, or when the program is activated again).
void RecomputeModifierMask();

// Pointer visibility over program windows (0 hides it there); the pointer shows elsewhere.
void SetPointerVisible(int visible);
void UpdatePointerVisibility();

// A C++ exception must not unwind through the window system's frames (window procedures, message
// hooks): it is held here and thrown again once the pump is back in the program's own code.
void HoldFailure(std::exception_ptr failure);
void RethrowHeldFailure();

// While paused, posted calls wait in their store (during the fault report's box: the program's
// state is unknown, and the store may be locked by the faulting code).
void PauseMainThreadCalls(bool paused);

// Message box styles: MB_TOPMOST, the exclamation icon when serious else the information icon,
// and `buttons` (MB_OK, MB_OKCANCEL, MB_YESNOCANCEL).
UINT MessageBoxStyle(UINT buttons, int serious);
// Confirm: 1 for OK, else 0. Proceed: 1 for Yes, 0 for No, -1 otherwise (cancel, or no box).
int ConfirmResult(int boxResult);
int ProceedResult(int boxResult);

// The file requester's filter text from "Description:ext,ext;Description:ext": descriptions and
// patterns separated by zero characters and ending in one ("Files" when no group has a
// description); the empty list stays empty.
Text FileFilterText(const Text& extensions);
// The 1-based group of `extensions` that holds the extension of `fileName` (the text after its
// first "."), 0 when none does.
int InitialFilterGroup(const Text& extensions, const Text& fileName);
// A requester path split at its last separator ("/" or "\\", returned as "\\") into folder and
// file name. A root folder keeps its separator ("\\", "C:\\"); no separator: no folder.
struct RequesterPath {
  Text folder;
  Text fileName;
};
RequesterPath SplitRequesterPath(const Text& path);

}  // namespace kiln::win32
