#include <windows.h>

#include "tests/support/test_display.h"

namespace kiln::test {

// Under Wine the desktop is the X server the session was started on; a service's window station
// (or Wine without a display) has none that is visible.
bool EnsureDisplay() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station == nullptr || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0 && GetDesktopWindow() != nullptr;
}

}  // namespace kiln::test
