#include <direct.h>
#include <stdlib.h>
#include <windows.h>

#include "runtime/core/internal/process_backend.h"
#include "runtime/core/runtime.h"
#include "runtime/core/win32/wide_names.h"

namespace kiln::processbackend {
namespace {

// The platform's path limit; a longer module name is read in full all the same.
constexpr DWORD kPathChars = 260;

DWORD WINAPI EndAfter(void* milliseconds) {
  Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(milliseconds)));
  TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}

}  // namespace

Text ExecutablePath(const char*) {
  std::wstring buffer(kPathChars, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(GetModuleHandleW(nullptr), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) {
      buffer.resize(length);
      return FromWideName(buffer.c_str());
    }
    if (buffer.size() >= 32768) return Text();
    buffer.resize(buffer.size() * 2);
  }
}

bool DisplayAvailable() {
  // An interactive window station has a desktop for message boxes; a service's has none.
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void WriteStandardError(const char* bytes, size_t count) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  while (count > 0) {
    DWORD written = 0;
    DWORD chunk = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
    if (!WriteFile(error, bytes, chunk, &written, nullptr) || written == 0) return;
    bytes += written;
    count -= written;
  }
}

void WriteDebugChannel(const Text& text) { OutputDebugStringW(reinterpret_cast<const wchar_t*>(text.Data())); }

void EndImmediately(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

void ArmExitWatchdog(int seconds) {
  auto milliseconds = static_cast<uintptr_t>(seconds) * 1000u;
  HANDLE thread = CreateThread(nullptr, 64 * 1024, EndAfter, reinterpret_cast<void*>(milliseconds),
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  // The thread runs on without its handle.
  if (thread != nullptr) CloseHandle(thread);
}

}  // namespace kiln::processbackend

namespace kiln {

Text CurrentDirectory() {
  wchar_t* cwd = _wgetcwd(nullptr, 0);
  if (cwd == nullptr) return Text();
  Text result = FromWideName(cwd);
  free(cwd);
  return result;
}

bool ChangeCurrentDirectory(const Text& path) { return _wchdir(ToWideName(path).c_str()) == 0; }

}  // namespace kiln
