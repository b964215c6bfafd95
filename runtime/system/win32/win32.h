// What the system module shares with the Win32 code of other modules (the GL windows of the
// graphics module): the window-message translator and the process's timer resolution.
// Only Win32 backend code includes this header.
#pragma once

#include <windows.h>

#include "runtime/core/object.h"

namespace kiln::win32 {

// Every window procedure of the program calls this first for each message of its windows. It turns
// close requests, activation changes, keys, characters and the mouse into events carrying `source`
// (Null for the graphics windows); it never calls the default window procedure.
void TranslateWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const Ref<TObject>& source);

// The key code of a key message: the left/right variant of Shift, Control and Alt read from the scan
// code and extended-key bit of lParam, any other key's virtual key unchanged.
int SidedKeyCode(WPARAM virtualKey, LPARAM lParam);

}  // namespace kiln::win32
