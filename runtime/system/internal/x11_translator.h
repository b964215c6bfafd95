// Turns the X events of program windows into the runtime's events.
#pragma once

#include <X11/Xlib.h>

#include "runtime/core/object.h"

namespace kiln::x11 {

// Emits the events that `event` stands for, with `source` as their source. `inputContext` is the
// window's input context (may be nullptr) through which key presses become typed characters.
// `filtered` marks a key event the input method kept (a dead key): it still counts as a key
// press or release but types nothing by itself.
void TranslateXEvent(XEvent& event, const Ref<TObject>& source, XIC inputContext, bool filtered);

// The modifier bits of the last modifier key event: 1 Shift, 2 Ctrl, 4 Alt, 8 Super.
int CurrentModifierMask();

// The keyboard mapping changed: key codes are worked out again for the new layout.
void ForgetKeyboardLayout();

// Forgets hover state that refers to `window` (called when it leaves the registry); after the
// last program window the application counts as inactive, so the next focus gives a resume.
void ForgetTranslatorWindow(Window window, bool lastWindow);

}  // namespace kiln::x11
