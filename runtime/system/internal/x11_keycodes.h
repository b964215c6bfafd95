// X keysyms as the window system's virtual-key codes, the key codes the runtime's events carry.
#pragma once

#include <X11/X.h>

namespace kiln::x11 {

// The virtual-key code of the key whose unshifted keysym is `keysym`: letters 0x41.., digits
// 0x30.., F1.. 0x70.., sided Shift/Ctrl/Alt 160..165; 0 for keys without one.
int VirtualKeyForKeysym(KeySym keysym);

// The virtual-key code of the key at the position of PC scan code `scanCode` (set 1, the main block
// without the extended keys) on the US layout; 0 for positions without one. X servers number
// these keys scan code + 8.
int VirtualKeyForScanCode(int scanCode);

// The modifier bit (1 Shift, 2 Ctrl, 4 Alt, 8 Super) a sided modifier key code stands for, else 0.
int ModifierBitForKey(int virtualKey);

}  // namespace kiln::x11
