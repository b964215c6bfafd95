#include "runtime/system/x11/x11_message_box.h"

#include <string>

#include <cstdio>

namespace kiln::x11 {

int ShowMessageBox(const Text& caption, const Text& text, const std::vector<Text>& buttons, int defaultButton,
                   int cancelButton, bool serious) {
  (void)buttons;
  (void)cancelButton;
  (void)serious;
  std::string line = (caption + ": " + text + "\n").ToUtf8();
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return defaultButton;
}

}  // namespace kiln::x11
