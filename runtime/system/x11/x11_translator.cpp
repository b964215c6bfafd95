#include "runtime/system/internal/x11_translator.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "runtime/core/text.h"
#include "runtime/system/events.h"
#include "runtime/system/internal/x11_display.h"
#include "runtime/system/internal/x11_keycodes.h"
#include "runtime/system/x11/x11.h"

namespace kiln::x11 {
namespace {

constexpr int kF4Key = 0x73;
constexpr int kControlBit = 2;
constexpr int kAltBit = 4;

int modifierMask = 0;
// Sided modifier keys (by virtual-key code) and X keycodes currently down.
std::array<bool, 256> virtualKeyDown{};
std::array<bool, 256> keycodeDown{};
Window hoverWindow = None;
Ref<TObject> hoverSource;
// The pointer motion emitted with the last enter, which the motion event that usually follows at
// the same place must not repeat.
struct EnterMove {
  Window window = None;
  int x = 0;
  int y = 0;
  int datum = 0;
};
EnterMove enterMove;
// True while one of the program's windows has the keyboard focus.
bool applicationActive = false;
// Accents of dead keys pressed since the last typed character.
std::u16string pendingAccents;

void RecomputeModifierMask() {
  int mask = 0;
  for (int vk : {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x5B, 0x5C}) {
    if (virtualKeyDown[static_cast<size_t>(vk)]) mask |= ModifierBitForKey(vk);
  }
  modifierMask = mask;
}

// Keys may have gone up or down while another application had the focus.
void ResyncKeyboardState(Display* display) {
  char keys[32];
  XQueryKeymap(display, keys);
  virtualKeyDown.fill(false);
  for (int keycode = 0; keycode < 256; ++keycode) {
    bool down = (keys[keycode / 8] >> (keycode % 8)) & 1;
    keycodeDown[static_cast<size_t>(keycode)] = down;
    if (!down) continue;
    int vk = VirtualKeyForKeysym(XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0));
    if (ModifierBitForKey(vk) != 0) virtualKeyDown[static_cast<size_t>(vk)] = true;
  }
  RecomputeModifierMask();
}

void Emit(int32_t id, const Ref<TObject>& source, int32_t data, int32_t x, int32_t y) {
  SendSystemEvent(id, source, data, modifierMask, x, y, nullptr);
}

// Moves the hover state to `window` (None: no program window), emitting the leave of the old window
// at (leaveX, leaveY) in its coordinates and the enter of the new one at (x, y).
void SetHoverWindow(Window window, int x, int y, const Ref<TObject>& source, int leaveX, int leaveY) {
  if (window == hoverWindow) return;
  if (hoverWindow != None) {
    Ref<TObject> oldSource = std::move(hoverSource);
    hoverWindow = None;
    SendSystemEvent(kEventMouseLeave, oldSource, 0, 0, leaveX, leaveY, nullptr);
  }
  hoverWindow = window;
  if (window != None) {
    hoverSource = source;
    SendSystemEvent(kEventMouseEnter, source, 0, 0, x, y, nullptr);
  }
}

bool InsideClientArea(Window window, int x, int y) {
  int width = 0;
  int height = 0;
  if (!ProgramWindowSize(window, &width, &height)) return false;
  return x >= 0 && y >= 0 && x < width && y < height;
}

// The characters a key press types, as the code units the character messages would deliver:
// characters beyond the basic plane as their two surrogates.
std::u16string TypedUnits(XKeyEvent& key, XIC inputContext, KeySym* keysym) {
  std::u16string units;
  char buffer[64];
  if (inputContext != nullptr) {
    Status status = 0;
    int length = Xutf8LookupString(inputContext, &key, buffer, sizeof buffer, keysym, &status);
    std::string large;
    const char* bytes = buffer;
    if (status == XBufferOverflow) {
      large.assign(static_cast<size_t>(length) + 1, '\0');
      length = Xutf8LookupString(inputContext, &key, large.data(), static_cast<int>(large.size()), keysym, &status);
      bytes = large.data();
    }
    if ((status == XLookupChars || status == XLookupBoth) && length > 0) {
      units = Utf8ToUtf16(std::string_view(bytes, static_cast<size_t>(length)));
    }
    return units;
  }
  int length = XLookupString(&key, buffer, sizeof buffer, keysym, nullptr);
  for (int i = 0; i < length; ++i) units += static_cast<char16_t>(static_cast<unsigned char>(buffer[i]));
  return units;
}

// The codes of the current keyboard layout (LayoutKeyCodes), made on first need after each change
// of the keyboard mapping.
struct LayoutCodes {
  bool valid = false;
  std::array<unsigned char, 256> codes{};
};
LayoutCodes layoutCodes;

const std::array<unsigned char, 256>& CurrentLayoutCodes(Display* display) {
  if (layoutCodes.valid) return layoutCodes.codes;
  int minCode = 0;
  int maxCode = 0;
  XDisplayKeycodes(display, &minCode, &maxCode);
  std::array<KeySymbols, 256> layout{};
  XKeyEvent key{};
  key.type = KeyPress;
  key.display = display;
  for (int keycode = std::max(minCode, 8); keycode <= std::min(maxCode, 255); ++keycode) {
    key.keycode = static_cast<unsigned int>(keycode);
    layout[static_cast<size_t>(keycode)] = {XLookupKeysym(&key, 0), XLookupKeysym(&key, 1)};
  }
  layoutCodes.codes = LayoutKeyCodes(layout);
  layoutCodes.valid = true;
  return layoutCodes.codes;
}

// The virtual-key code of a key event, as the window system's layouts assign them (LayoutKeyCodes).
// On the keypad Num Lock (and Shift undoing it) decide between digits and navigation keys.
int VirtualKeyOf(XKeyEvent& key) {
  KeySym keysym = XLookupKeysym(&key, 0);
  if (IsKeypadKey(keysym)) {
    KeySym resolved = NoSymbol;
    unsigned int consumed = 0;
    if (XkbLookupKeySym(key.display, static_cast<KeyCode>(key.keycode), key.state, &consumed, &resolved) &&
        IsKeypadKey(resolved)) {
      keysym = resolved;
    }
    return VirtualKeyForKeysym(keysym);
  }
  return CurrentLayoutCodes(key.display)[key.keycode & 0xFF];
}

// The accent a dead key types when the next key does not combine with it.
char16_t SpacingAccent(KeySym keysym) {
  switch (keysym) {
    case XK_dead_grave: return u'`';
    case XK_dead_acute: return u'\u00B4';
    case XK_dead_circumflex: return u'^';
    case XK_dead_tilde: return u'~';
    case XK_dead_macron: return u'\u00AF';
    case XK_dead_breve: return u'\u02D8';
    case XK_dead_abovedot: return u'\u02D9';
    case XK_dead_diaeresis: return u'\u00A8';
    case XK_dead_abovering: return u'\u00B0';
    case XK_dead_doubleacute: return u'\u02DD';
    case XK_dead_caron: return u'\u02C7';
    case XK_dead_cedilla: return u'\u00B8';
    case XK_dead_ogonek: return u'\u02DB';
    default: return 0;
  }
}

// Whether the input method has just put back the event that carries a completed composition (a
// key press with key code 0).
bool CompositionQueued(const XKeyEvent& key) {
  if (XEventsQueued(key.display, QueuedAlready) == 0) return false;
  XEvent next;
  XPeekEvent(key.display, &next);
  return next.type == KeyPress && next.xkey.keycode == 0 && next.xkey.window == key.window;
}

// The characters of a key press. A dead key types nothing by itself; when the key after it does not
// combine with it, the accent comes before that key's own characters, as on the other window
// systems, instead of both being lost.
std::u16string PressedUnits(XKeyEvent& key, XIC inputContext, bool filtered) {
  KeySym typed = NoSymbol;
  std::u16string units;
  if (!filtered) {
    units = TypedUnits(key, inputContext, &typed);
    // Delete types nothing, as on the other window systems.
    if (typed == XK_Delete || typed == XK_KP_Delete) units.clear();
    if (key.keycode == 0) {
      pendingAccents.clear();  // the input method composed the sequence
      return units;
    }
  }
  if (units.empty()) {
    // What the key types on its own, also for a key the input method kept.
    std::u16string own = TypedUnits(key, nullptr, &typed);
    if (char16_t accent = SpacingAccent(typed)) {
      pendingAccents += accent;
      return units;
    }
    if (filtered && !pendingAccents.empty() && !IsModifierKey(typed) && !CompositionQueued(key)) units = own;
  }
  if (!units.empty() && !pendingAccents.empty()) {
    units = pendingAccents + units;
    pendingAccents.clear();
  }
  return units;
}

void TranslateKeyPress(XKeyEvent& key, const Ref<TObject>& source, XIC inputContext, bool filtered) {
  // Look the characters up before emitting anything: a hook may close the window and with it the
  // input context.
  std::u16string units = PressedUnits(key, inputContext, filtered);
  bool closeRequested = false;
  if (key.keycode != 0) {
    int vk = VirtualKeyOf(key);
    bool repeat = keycodeDown[key.keycode & 0xFF];
    keycodeDown[key.keycode & 0xFF] = true;
    if (ModifierBitForKey(vk) != 0) {
      virtualKeyDown[static_cast<size_t>(vk)] = true;
      RecomputeModifierMask();
    }
    if (vk > 0 && vk < 256) Emit(repeat ? kEventKeyRepeat : kEventKeyDown, source, vk, 0, 0);
    closeRequested = vk == kF4Key && (modifierMask & (kAltBit | kControlBit)) == kAltBit;
  }
  for (char16_t unit : units) Emit(kEventKeyChar, source, unit, 0, 0);
  // Alt+F4 closes the window as the system menu would; a window manager that binds it grabs the
  // key, so the program sees it only where nothing else handles it.
  if (closeRequested) Emit(kEventAppTerminate, source, 0, 0, 0);
}

void TranslateKeyRelease(XKeyEvent& key, const Ref<TObject>& source) {
  if (key.keycode == 0) return;
  keycodeDown[key.keycode & 0xFF] = false;
  int vk = VirtualKeyOf(key);
  if (ModifierBitForKey(vk) != 0) {
    virtualKeyDown[static_cast<size_t>(vk)] = false;
    RecomputeModifierMask();
  }
  if (vk > 0 && vk < 256) Emit(kEventKeyUp, source, vk, 0, 0);
}

// X buttons 1, 2, 3 are left, middle, right; the events number them left 1, right 2, middle 3.
int ButtonNumber(unsigned int xButton) {
  switch (xButton) {
    case Button1:
      return 1;
    case Button2:
      return 3;
    case Button3:
      return 2;
    default:
      return 0;
  }
}

int HeldButtonDatum(unsigned int state) {
  int datum = 0;
  if (state & Button1Mask) datum = 1;
  if (state & Button2Mask) datum = 4;
  if (state & Button3Mask) datum = 2;
  return datum;
}

void TranslateFocusIn(XFocusChangeEvent& focus, const Ref<TObject>& source, XIC inputContext) {
  if (focus.mode == NotifyGrab || focus.mode == NotifyUngrab) return;
  if (focus.detail == NotifyPointer || focus.detail == NotifyInferior) return;
  if (inputContext != nullptr) XSetICFocus(inputContext);
  pendingAccents.clear();
  if (applicationActive) return;
  applicationActive = true;
  ResyncKeyboardState(focus.display);
  Emit(kEventAppResume, source, 0, 0, 0);
}

void TranslateFocusOut(XFocusChangeEvent& focus, const Ref<TObject>& source, XIC inputContext) {
  if (focus.mode == NotifyGrab || focus.mode == NotifyUngrab) return;
  if (focus.detail == NotifyPointer || focus.detail == NotifyInferior) return;
  if (inputContext != nullptr) XUnsetICFocus(inputContext);
  Window focused = None;
  int revert = 0;
  XGetInputFocus(focus.display, &focused, &revert);
  // Focus moving between the program's own windows is no change of application.
  if (BelongsToProgram(focused)) return;
  if (!applicationActive) return;
  applicationActive = false;
  Emit(kEventAppSuspend, source, 0, 0, 0);
}

}  // namespace

int CurrentModifierMask() { return modifierMask; }

void ForgetKeyboardLayout() { layoutCodes.valid = false; }

void ForgetTranslatorWindow(Window window, bool lastWindow) {
  if (window == hoverWindow) {
    hoverWindow = None;
    hoverSource = nullptr;
  }
  if (lastWindow) applicationActive = false;
}

void TranslateXEvent(XEvent& event, const Ref<TObject>& source, XIC inputContext, bool filtered) {
  switch (event.type) {
    case KeyPress:
      TranslateKeyPress(event.xkey, source, inputContext, filtered);
      break;
    case KeyRelease:
      TranslateKeyRelease(event.xkey, source);
      break;
    case ButtonPress: {
      const XButtonEvent& button = event.xbutton;
      if (button.button == Button4 || button.button == Button5) {
        Emit(kEventMouseWheel, source, button.button == Button4 ? 1 : -1, button.x, button.y);
      } else if (int number = ButtonNumber(button.button)) {
        Emit(kEventMouseDown, source, number, button.x, button.y);
      }
      break;
    }
    case ButtonRelease: {
      const XButtonEvent& button = event.xbutton;
      if (int number = ButtonNumber(button.button)) Emit(kEventMouseUp, source, number, button.x, button.y);
      break;
    }
    case MotionNotify: {
      const XMotionEvent& motion = event.xmotion;
      Window window = InsideClientArea(motion.window, motion.x, motion.y) ? motion.window : None;
      SetHoverWindow(window, motion.x, motion.y, source, motion.x, motion.y);
      int datum = HeldButtonDatum(motion.state);
      EnterMove sent = std::exchange(enterMove, EnterMove{});
      if (sent.window == motion.window && sent.x == motion.x && sent.y == motion.y && sent.datum == datum) break;
      Emit(kEventMouseMove, source, datum, motion.x, motion.y);
      break;
    }
    // A window that opens under the pointer gets no motion until the pointer moves; the position
    // comes with the enter, as the motion message that gives the enter on other window systems.
    case EnterNotify: {
      const XCrossingEvent& crossing = event.xcrossing;
      if (crossing.mode == NotifyGrab) break;
      if (crossing.window != hoverWindow && InsideClientArea(crossing.window, crossing.x, crossing.y)) {
        SetHoverWindow(crossing.window, crossing.x, crossing.y, source, crossing.x, crossing.y);
        int datum = HeldButtonDatum(crossing.state);
        enterMove = {crossing.window, crossing.x, crossing.y, datum};
        Emit(kEventMouseMove, source, datum, crossing.x, crossing.y);
      }
      break;
    }
    case LeaveNotify: {
      const XCrossingEvent& crossing = event.xcrossing;
      if (crossing.mode != NotifyNormal || crossing.detail == NotifyInferior) break;
      if (crossing.window == hoverWindow) SetHoverWindow(None, 0, 0, nullptr, crossing.x, crossing.y);
      break;
    }
    case FocusIn:
      TranslateFocusIn(event.xfocus, source, inputContext);
      break;
    case FocusOut:
      TranslateFocusOut(event.xfocus, source, inputContext);
      break;
    // Another client destroyed the window (the program detaches its own first): to the program that
    // is a close request.
    case DestroyNotify:
      if (event.xdestroywindow.window == event.xdestroywindow.event) Emit(kEventAppTerminate, source, 0, 0, 0);
      break;
    case ClientMessage: {
      const XClientMessageEvent& message = event.xclient;
      if (message.message_type == WmProtocolsAtom() && message.format == 32 &&
          static_cast<Atom>(message.data.l[0]) == WmDeleteWindowAtom()) {
        Emit(kEventAppTerminate, source, 0, 0, 0);
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace kiln::x11
