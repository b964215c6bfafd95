// Polled input: a snapshot of keys, typed characters, mouse buttons, pointer, wheel and the
// close and deactivation requests, kept up to date by an event hook while tracking is on.
#pragma once

#include "runtime/core/object.h"

namespace kiln {

// Run-once initialiser; does not start tracking.
void InitInputState();

// Starts recording events of `source` (the empty Ref: every source). A second start keeps the
// first filter. Both return 0.
int StartInputTracking(const Ref<TObject>& source);
int StopInputTracking();

// The tests below pump the system events first.
// 1 after a close request until taken.
int TakeTerminateRequest();
int IsSuspended();
// Presses of the key (key code 0..255) since last taken.
int TakeKeyPresses(int key);
int IsKeyHeld(int key);
// The next typed character, 0 when none is queued.
int NextTypedChar();
int ResetKeyState();
int PointerX();
int PointerY();
int WheelTotal();
// Change since the previous call of the same function.
int PointerXMotion();
int PointerYMotion();
int WheelMotion();
int ResetMouseState();
// Clicks of the button (1 left, 2 right, 3 middle) since last taken.
int TakeButtonClicks(int button);
int IsButtonHeld(int button);

// Discard pending input, then sleep until a key is pressed / a character is typed / a button is
// clicked; return its code (lowest key code, or lowest button, wins).
int AwaitKeyPress();
int AwaitTypedChar();
int AwaitButtonClick();

}  // namespace kiln
