#include "runtime/system/x11/x11_message_box.h"

#include "runtime/core/runtime.h"

namespace kiln::x11 {

int ShowMessageBox(const Text& caption, const Text& text, const std::vector<Text>& buttons, int defaultButton,
                   int cancelButton, bool serious) {
  (void)buttons;
  (void)cancelButton;
  (void)serious;
  WriteErrorText(caption + ": " + text + "\n");
  return defaultButton;
}

}  // namespace kiln::x11
