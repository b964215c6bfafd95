#include <windows.h>

#include "runtime/core/win32/wide_names.h"

namespace kiln {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows names are UTF-16");

std::wstring ToWideName(const Text& name) {
  const std::u16string& units = name.Units();
  return std::wstring(units.begin(), units.end());
}

Text FromWideName(const wchar_t* name) {
  if (name == nullptr) return Text();
  std::u16string units;
  for (const wchar_t* p = name; *p != L'\0'; ++p) units.push_back(static_cast<char16_t>(*p));
  return Text(std::move(units));
}

int WideCharApi() {
  static const int wide = [] {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL known = GetVersionExA(&info);
#pragma GCC diagnostic pop
    return known && info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
  }();
  return wide;
}

}  // namespace kiln
