#include "runtime/system/internal/x11_keycodes.h"

#include <X11/keysym.h>
#include <X11/XF86keysym.h>

#include <cstddef>
#include <vector>

namespace kiln::x11 {
namespace {

struct KeyMapping {
  KeySym keysym;
  int virtualKey;
};

// Keys whose code is not derived from a range (letters, digits, function keys) below.
constexpr KeyMapping kKeyTable[] = {
    {XK_BackSpace, 0x08},    {XK_Tab, 0x09},          {XK_ISO_Left_Tab, 0x09},
    {XK_Clear, 0x0C},        {XK_Return, 0x0D},       {XK_KP_Enter, 0x0D},
    {XK_Pause, 0x13},        {XK_Caps_Lock, 0x14},    {XK_Escape, 0x1B},
    {XK_space, 0x20},        {XK_Prior, 0x21},        {XK_Next, 0x22},
    {XK_End, 0x23},          {XK_Home, 0x24},         {XK_Left, 0x25},
    {XK_Up, 0x26},           {XK_Right, 0x27},        {XK_Down, 0x28},
    {XK_Select, 0x29},       {XK_Print, 0x2C},        {XK_Execute, 0x2B},
    {XK_Insert, 0x2D},       {XK_Delete, 0x2E},       {XK_Help, 0x2F},
    {XK_Super_L, 0x5B},      {XK_Super_R, 0x5C},      {XK_Menu, 0x5D},
    {XK_KP_0, 0x60},         {XK_KP_1, 0x61},         {XK_KP_2, 0x62},
    {XK_KP_3, 0x63},         {XK_KP_4, 0x64},         {XK_KP_5, 0x65},
    {XK_KP_6, 0x66},         {XK_KP_7, 0x67},         {XK_KP_8, 0x68},
    {XK_KP_9, 0x69},         {XK_KP_Multiply, 0x6A},  {XK_KP_Add, 0x6B},
    {XK_KP_Separator, 0x6C}, {XK_KP_Subtract, 0x6D},  {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F},
    // The keypad without Num Lock reports its navigation keysyms.
    {XK_KP_Insert, 0x2D},    {XK_KP_End, 0x23},       {XK_KP_Down, 0x28},
    {XK_KP_Next, 0x22},      {XK_KP_Left, 0x25},      {XK_KP_Begin, 0x0C},
    {XK_KP_Right, 0x27},     {XK_KP_Home, 0x24},      {XK_KP_Up, 0x26},
    {XK_KP_Prior, 0x21},     {XK_KP_Delete, 0x2E},
    {XK_Num_Lock, 0x90},     {XK_Scroll_Lock, 0x91},
    {XK_Shift_L, 0xA0},      {XK_Shift_R, 0xA1},      {XK_Control_L, 0xA2},
    {XK_Control_R, 0xA3},    {XK_Alt_L, 0xA4},        {XK_Meta_L, 0xA4},
    {XK_Alt_R, 0xA5},        {XK_Meta_R, 0xA5},       {XK_ISO_Level3_Shift, 0xA5},
    {XK_Mode_switch, 0xA5},
    {XF86XK_Back, 0xA6},     {XF86XK_Forward, 0xA7},  {XF86XK_Refresh, 0xA8},
    {XF86XK_Stop, 0xA9},     {XF86XK_Search, 0xAA},   {XF86XK_Favorites, 0xAB},
    {XF86XK_HomePage, 0xAC}, {XF86XK_AudioMute, 0xAD}, {XF86XK_AudioLowerVolume, 0xAE},
    {XF86XK_AudioRaiseVolume, 0xAF}, {XF86XK_AudioNext, 0xB0}, {XF86XK_AudioPrev, 0xB1},
    {XF86XK_AudioStop, 0xB2}, {XF86XK_AudioPlay, 0xB3}, {XF86XK_Mail, 0xB4},
    // Punctuation keys of the US layout (the OEM codes); "<" unshifted is the extra key of
    // 102-key keyboards.
    {XK_semicolon, 0xBA},    {XK_colon, 0xBA},        {XK_equal, 0xBB},
    {XK_plus, 0xBB},         {XK_comma, 0xBC},        {XK_less, 0xE2},
    {XK_minus, 0xBD},        {XK_underscore, 0xBD},   {XK_period, 0xBE},
    {XK_greater, 0xBE},      {XK_slash, 0xBF},        {XK_question, 0xBF},
    {XK_grave, 0xC0},        {XK_asciitilde, 0xC0},   {XK_dead_grave, 0xC0},
    {XK_bracketleft, 0xDB},  {XK_braceleft, 0xDB},    {XK_backslash, 0xDC},
    {XK_bar, 0xDC},          {XK_bracketright, 0xDD}, {XK_braceright, 0xDD},
    {XK_apostrophe, 0xDE},   {XK_quotedbl, 0xDE},     {XK_dead_acute, 0xDD},
    {XK_dead_circumflex, 0xDC}, {XK_ssharp, 0xDB},    {XK_udiaeresis, 0xBA},
    {XK_odiaeresis, 0xC0},   {XK_adiaeresis, 0xDE},   {XK_numbersign, 0xBF},
    {XK_section, 0xDC},
};

// US-layout codes of the main block by scan code 0x00..0x58; the keypad (0x47..0x53) is left out,
// its keysyms always name it.
constexpr unsigned char kScanCodeKeys[0x59] = {
    0,    0x1B, '1',  '2',  '3',  '4',  '5',  '6',  '7',  '8',  '9',  '0',  0xBD, 0xBB, 0x08, 0x09,
    'Q',  'W',  'E',  'R',  'T',  'Y',  'U',  'I',  'O',  'P',  0xDB, 0xDD, 0x0D, 0xA2, 'A',  'S',
    'D',  'F',  'G',  'H',  'J',  'K',  'L',  0xBA, 0xDE, 0xC0, 0xA0, 0xDC, 'Z',  'X',  'C',  'V',
    'B',  'N',  'M',  0xBC, 0xBE, 0xBF, 0xA1, 0x6A, 0xA4, 0x20, 0x14, 0x70, 0x71, 0x72, 0x73, 0x74,
    0x75, 0x76, 0x77, 0x78, 0x79, 0x90, 0x91, 0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0xE2, 0x7A, 0x7B,
};

}  // namespace

int VirtualKeyForScanCode(int scanCode) {
  if (scanCode < 0 || scanCode >= static_cast<int>(sizeof kScanCodeKeys)) return 0;
  return kScanCodeKeys[scanCode];
}

int VirtualKeyForKeysym(KeySym keysym) {
  if (keysym >= XK_a && keysym <= XK_z) return static_cast<int>(keysym - XK_a) + 0x41;
  if (keysym >= XK_A && keysym <= XK_Z) return static_cast<int>(keysym - XK_A) + 0x41;
  if (keysym >= XK_0 && keysym <= XK_9) return static_cast<int>(keysym - XK_0) + 0x30;
  if (keysym >= XK_F1 && keysym <= XK_F24) return static_cast<int>(keysym - XK_F1) + 0x70;
  for (const KeyMapping& mapping : kKeyTable) {
    if (mapping.keysym == keysym) return mapping.virtualKey;
  }
  return 0;
}

namespace {

// Codes whose key differs between layouts; only these are kept apart.
bool IsLayoutCode(int vk) {
  return (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || (vk >= 0xBA && vk <= 0xC0) ||
         (vk >= 0xDB && vk <= 0xDF) || (vk >= 0xE1 && vk <= 0xE4);
}

// Codes that no US key has, for keys whose own and whose place's code are both taken.
constexpr unsigned char kSpareCodes[] = {0xDF, 0xE1, 0xE3, 0xE4, 0xC1, 0xC2, 0x92, 0x93, 0x94, 0x95,
                                         0x96, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1};

bool IsKeypadSymbol(KeySym keysym) { return keysym >= XK_KP_Space && keysym <= XK_KP_Equal; }

// How firmly a key holds the code its symbols give it; lower is firmer.
enum Claim { kNoClaim, kLetterOrDigit, kAtItsPlace, kElsewhere };

}  // namespace

std::array<unsigned char, 256> LayoutKeyCodes(const std::array<KeySymbols, 256>& layout) {
  std::array<unsigned char, 256> codes{};
  std::array<Claim, 256> claims{};
  std::array<int, 256> owner;
  owner.fill(-1);
  auto firmer = [&](int a, int b) { return claims[a] < claims[b] || (claims[a] == claims[b] && a < b); };
  for (int keycode = 8; keycode < 256; ++keycode) {
    const KeySymbols& key = layout[keycode];
    if (IsKeypadSymbol(key.unshifted)) continue;
    int place = VirtualKeyForScanCode(keycode - 8);
    int vk = VirtualKeyForKeysym(key.unshifted);
    Claim claim = kNoClaim;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) {
      claim = kLetterOrDigit;
    } else if (key.shifted >= XK_0 && key.shifted <= XK_9) {
      vk = static_cast<int>(key.shifted - XK_0) + '0';
      claim = kLetterOrDigit;
    } else if (vk != 0) {
      claim = vk == place ? kAtItsPlace : kElsewhere;
    } else if (place != 0) {
      vk = place;
      claim = kAtItsPlace;
    }
    codes[keycode] = static_cast<unsigned char>(vk);
    claims[keycode] = claim;
    if (claim == kNoClaim || !IsLayoutCode(vk)) continue;
    if (owner[vk] < 0 || firmer(keycode, owner[vk])) owner[vk] = keycode;
  }
  // A key that lost its code takes the code of its own place, from a key that holds it only by its
  // symbol if need be (that key then moves to its own place in turn), else a spare code.
  std::vector<int> moving;
  for (int keycode = 8; keycode < 256; ++keycode) {
    int vk = codes[keycode];
    if (claims[keycode] != kNoClaim && IsLayoutCode(vk) && owner[vk] != keycode) moving.push_back(keycode);
  }
  for (std::size_t i = 0; i < moving.size(); ++i) {
    int keycode = moving[i];
    int place = VirtualKeyForScanCode(keycode - 8);
    int moved = 0;
    if (IsLayoutCode(place) && (owner[place] < 0 || claims[owner[place]] == kElsewhere)) {
      if (owner[place] >= 0) moving.push_back(owner[place]);
      moved = place;
      claims[keycode] = kAtItsPlace;
    } else {
      for (unsigned char spare : kSpareCodes) {
        if (owner[spare] < 0) {
          moved = spare;
          break;
        }
      }
    }
    codes[keycode] = static_cast<unsigned char>(moved);
    if (moved != 0) owner[moved] = keycode;
  }
  return codes;
}

int ModifierBitForKey(int virtualKey) {
  switch (virtualKey) {
    case 0xA0:
    case 0xA1:
      return 1;
    case 0xA2:
    case 0xA3:
      return 2;
    case 0xA4:
    case 0xA5:
      return 4;
    case 0x5B:
    case 0x5C:
      return 8;
    default:
      return 0;
  }
}

}  // namespace kiln::x11
