// wgl_probe [--files <folder>] [--exit <code>] [--crash] [--message-box] [--sleep <ms>]
//           [--hold <file> <ms>] [--replace <source> <destination>]:
// checks what the Windows backends rely on, under Wine or Windows.
//
// By default it opens a window with a 320 x 240 client area and a WGL context, clears it to
// rgb(32, 128, 192) with a 64 x 32 rgb(255, 64, 0) block in the client area's bottom-left corner,
// presents frames until a typed character ends it, and exits with that character's code (1 when
// the window could not be made, 2 after 30 s without a character, 3 on a close request). Before the
// window it measures the timer, and with --files it writes and lists a file with a non-ASCII name
// in that folder through the wide-character runtime calls. Everything it finds goes to standard
// output as "name: value" lines, and one line goes to standard error.
//
// The other modes end before the window: --exit returns that code from main, --crash writes
// through a null pointer with no exception filter, --message-box shows a box captioned
// "Windows exception" and exits with 64 + the button's id. --sleep waits (a running program whose
// image is a destination), --hold keeps a file open without sharing for that long, and --replace
// moves a file over another with MoveFileExW, then tries ReplaceFileW, and reports the errors.
// clang-format off
#include <windows.h>  // before every other Windows header
// clang-format on

#include <GL/gl.h>
#include <io.h>
#include <mmsystem.h>
#include <sys/stat.h>
#include <wchar.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kClientWidth = 320;
constexpr int kClientHeight = 240;
constexpr wchar_t kWideName[] = L"Pr\u00fcfung \u00c4\u20ac\u4e2d.txt";

int exitCode = 0;
bool done = false;

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string result(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
  return result;
}

void Report(const char* name, const std::string& value) {
  std::printf("%s: %s\n", name, value.c_str());
  std::fflush(stdout);
}

void Report(const char* name, long long value) { Report(name, std::to_string(value)); }

// The smallest step timeGetTime makes, in ms, over about 50 ms of polling.
DWORD TimerStep() {
  DWORD smallest = 1000;
  DWORD last = timeGetTime();
  const DWORD start = last;
  while (timeGetTime() - start < 50) {
    const DWORD now = timeGetTime();
    if (now != last) {
      if (now - last < smallest) smallest = now - last;
      last = now;
    }
  }
  return smallest;
}

void ProbeTimer() {
  Report("timer_step_ms", TimerStep());
  Report("time_begin_period_1", timeBeginPeriod(1) == TIMERR_NOERROR ? 1 : 0);
  Report("timer_step_ms_period_1", TimerStep());
  const DWORD start = timeGetTime();
  for (int i = 0; i < 20; ++i) Sleep(1);
  Report("sleep_1_x20_ms", timeGetTime() - start);
}

void ProbeFiles(const wchar_t* folder) {
  std::wstring path = std::wstring(folder) + L"\\" + kWideName;
  FILE* file = _wfopen(path.c_str(), L"wb");
  Report("wfopen_non_ascii", file != nullptr ? 1 : 0);
  if (file == nullptr) return;
  std::fputs("probe", file);
  std::fclose(file);
  struct _stat64 info {};
  Report("wstat_size", _wstat64(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1);
  std::wstring pattern = std::wstring(folder) + L"\\*";
  _wfinddata64_t entry{};
  const intptr_t find = _wfindfirst64(pattern.c_str(), &entry);
  bool listed = false;
  if (find != -1) {
    do {
      if (std::wcscmp(entry.name, kWideName) == 0) listed = true;
    } while (_wfindnext64(find, &entry) == 0);
    _findclose(find);
  }
  Report("wfindfirst_lists_name", listed ? 1 : 0);
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  Report("module_file", Utf8(module));
  wchar_t* cwd = _wgetcwd(nullptr, 0);
  Report("wgetcwd", cwd != nullptr ? Utf8(cwd) : std::string("(none)"));
  std::free(cwd);
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  Report("version_platform_id", version.dwPlatformId);
  Report("version", std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion));
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN: Report("keydown_vk", static_cast<long long>(wParam)); return 0;
    case WM_CHAR:
      Report("char", static_cast<long long>(wParam));
      exitCode = static_cast<int>(wParam & 0xff);
      done = true;
      return 0;
    case WM_CLOSE:
      Report("close_request", 1);
      exitCode = 3;
      done = true;
      return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

void ReportPixelFormat(HDC dc, int format) {
  PIXELFORMATDESCRIPTOR pfd{};
  DescribePixelFormat(dc, format, sizeof pfd, &pfd);
  Report("pixel_format", format);
  Report("pixel_format_count", DescribePixelFormat(dc, 1, sizeof pfd, nullptr));
  Report("pfd_bits", std::to_string(pfd.cColorBits) + " colour, " + std::to_string(pfd.cAlphaBits) + " alpha, " +
                         std::to_string(pfd.cDepthBits) + " depth, " + std::to_string(pfd.cStencilBits) + " stencil");
  Report("pfd_double_buffer", (pfd.dwFlags & PFD_DOUBLEBUFFER) != 0 ? 1 : 0);
  Report("pfd_generic", (pfd.dwFlags & PFD_GENERIC_FORMAT) != 0 ? 1 : 0);
}

int RunWindow() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = ProbeWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"Kiln WGL probe";
  if (RegisterClassW(&windowClass) == 0) return 1;
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT rect{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&rect, style, FALSE, 0);
  const HWND window =
      CreateWindowExW(0, windowClass.lpszClassName, L"Kiln WGL probe", style, CW_USEDEFAULT, CW_USEDEFAULT,
                      rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  const HDC dc = GetDC(window);
  PIXELFORMATDESCRIPTOR wanted{};
  wanted.nSize = sizeof wanted;
  wanted.nVersion = 1;
  wanted.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  wanted.iPixelType = PFD_TYPE_RGBA;
  wanted.cColorBits = 24;
  wanted.cDepthBits = 24;
  const int format = ChoosePixelFormat(dc, &wanted);
  if (format == 0 || !SetPixelFormat(dc, format, &wanted)) return 1;
  ReportPixelFormat(dc, format);
  const HGLRC context = wglCreateContext(dc);
  if (context == nullptr || !wglMakeCurrent(dc, context)) return 1;
  Report("gl_vendor", reinterpret_cast<const char*>(glGetString(GL_VENDOR)));
  Report("gl_renderer", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
  Report("gl_version", reinterpret_cast<const char*>(glGetString(GL_VERSION)));
  using SwapInterval = BOOL(WINAPI*)(int);
  using GetSwapInterval = int(WINAPI*)();
  const auto swapInterval =
      reinterpret_cast<SwapInterval>(reinterpret_cast<void*>(wglGetProcAddress("wglSwapIntervalEXT")));
  const auto getSwapInterval =
      reinterpret_cast<GetSwapInterval>(reinterpret_cast<void*>(wglGetProcAddress("wglGetSwapIntervalEXT")));
  Report("wgl_swap_interval_ext", swapInterval != nullptr ? 1 : 0);
  if (swapInterval != nullptr) Report("wgl_swap_interval_1", swapInterval(1) ? 1 : 0);
  if (getSwapInterval != nullptr) Report("wgl_get_swap_interval", getSwapInterval());

  ShowWindow(window, SW_SHOW);
  RECT client{};
  GetClientRect(window, &client);
  Report("client_size", std::to_string(client.right) + "x" + std::to_string(client.bottom));
  RECT outer{};
  GetWindowRect(window, &outer);
  Report("window_size", std::to_string(outer.right - outer.left) + "x" + std::to_string(outer.bottom - outer.top));

  const DWORD start = timeGetTime();
  DWORD frames = 0;
  bool reportedFrames = false;
  while (!done) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    glViewport(0, 0, kClientWidth, kClientHeight);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(32 / 255.0f, 128 / 255.0f, 192 / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 64, 32);
    glClearColor(1.0f, 64 / 255.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    SwapBuffers(dc);
    ++frames;
    const DWORD elapsed = timeGetTime() - start;
    if (!reportedFrames && elapsed >= 1000) {
      // With the swap interval at 1 on a display with no refresh, this shows whether swaps wait.
      Report("frames_first_second", frames);
      reportedFrames = true;
    }
    if (elapsed > 30000) {
      exitCode = 2;
      break;
    }
    Sleep(1);
  }
  wglMakeCurrent(nullptr, nullptr);
  wglDeleteContext(context);
  ReleaseDC(window, dc);
  DestroyWindow(window);
  return exitCode;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  Report("started", 1);
  std::fprintf(stderr, "standard error reaches the caller\n");
  std::fflush(stderr);
  for (int i = 1; i < count; ++i) {
    const std::wstring option = arguments[i];
    if (option == L"--exit" && i + 1 < count) return _wtoi(arguments[i + 1]);
    if (option == L"--crash") {
      volatile int* nowhere = nullptr;
      *nowhere = 1;
      return 0;
    }
    if (option == L"--sleep" && i + 1 < count) {
      Sleep(static_cast<DWORD>(_wtoi(arguments[i + 1])));
      return 0;
    }
    if (option == L"--hold" && i + 2 < count) {
      const HANDLE file = CreateFileW(arguments[i + 1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
      Report("hold_open", file != INVALID_HANDLE_VALUE ? 1 : 0);
      Sleep(static_cast<DWORD>(_wtoi(arguments[i + 2])));
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
      return 0;
    }
    if (option == L"--replace" && i + 2 < count) {
      const BOOL moved =
          MoveFileExW(arguments[i + 1], arguments[i + 2], MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      Report("move_error", moved ? 0 : static_cast<long long>(GetLastError()));
      if (!moved) {
        const BOOL replaced = ReplaceFileW(arguments[i + 2], arguments[i + 1], nullptr, 0, nullptr, nullptr);
        Report("replace_error", replaced ? 0 : static_cast<long long>(GetLastError()));
      }
      return 0;
    }
    if (option == L"--message-box") {
      const int button = MessageBoxA(nullptr, "probe text", "Windows exception", MB_OK | MB_ICONERROR);
      Report("message_box", button);
      return 64 + button;
    }
  }
  ProbeTimer();
  for (int i = 1; i + 1 < count; ++i) {
    if (std::wstring(arguments[i]) == L"--files") ProbeFiles(arguments[i + 1]);
  }
  const int code = RunWindow();
  timeEndPeriod(1);
  Report("exit_code", code);
  return code;
}
