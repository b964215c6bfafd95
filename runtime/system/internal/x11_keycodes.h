// X keysyms as the window system's virtual-key codes, the key codes the runtime's events carry.
#pragma once

#include <X11/X.h>

#include <array>

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

// The symbols of one key of a layout: the unshifted and the shifted level.
struct KeySymbols {
  KeySym unshifted = NoSymbol;
  KeySym shifted = NoSymbol;
};

// The codes of the typing keys of a whole layout, by X keycode (0: the key's code is not decided by
// the layout; keypad keys also depend on Num Lock). As the window system's layouts give them, each
// physical key has a code of its own: a letter or digit key its letter or digit (a digit on the
// shifted level counts); another key the code of its unshifted symbol, else the code of its place
// on the US layout. Where two keys would share a code, a letter or digit key keeps it, then a key
// at that code's own place on the US layout, then the lower keycode; the other key takes the code
// of its own place (moving a key that holds it only by its symbol to that key's own place), or a
// spare code when that is taken as well.
std::array<unsigned char, 256> LayoutKeyCodes(const std::array<KeySymbols, 256>& layout);

}  // namespace kiln::x11
