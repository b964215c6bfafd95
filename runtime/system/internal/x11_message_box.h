// A small modal message box window, and its fallback to standard error without a display.
#pragma once

#include <vector>

#include "runtime/core/text.h"

namespace kiln::x11 {

// Button row geometry: buttons of kButtonWidth x kButtonHeight, kButtonGap apart, centred, their
// bottom edge kButtonBottomMargin above the window's bottom.
constexpr int kButtonWidth = 84;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 10;
constexpr int kButtonBottomMargin = 14;

// Shows `text` captioned `caption` with one button per label; Enter, Space or a click picks a
// button, Tab and the arrow keys move between them, Escape or closing the box picks
// `cancelButton`. Returns the index of the chosen button. Without a display (or a font to draw
// with) the caption and text go to standard error and `defaultButton` is the answer.
int ShowMessageBox(const Text& caption, const Text& text, const std::vector<Text>& buttons, int defaultButton,
                   int cancelButton, bool serious);

// A one-button box for the process's fault report, on a connection of its own (the shared one
// may be in any state when a fault strikes); standard error when no display can be opened.
void ShowFaultMessageBox(const char* caption, const char* text);

}  // namespace kiln::x11
