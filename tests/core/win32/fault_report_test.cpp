// The ends of a Windows program, watched from outside: the start-up probe runs as a child process
// with its standard output and error in files.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

namespace fs = std::filesystem;

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle == nullptr ? INVALID_HANDLE_VALUE : handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

struct Result {
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

// A debug viewer as DebugView is one: it owns the shared buffer that OutputDebugString writes to
// when no debugger is attached, and keeps every string written while it lives.
class DebugViewer {
 public:
  DebugViewer()
      : bufferReady_(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY")),
        dataReady_(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
        mapping_(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER")),
        buffer_(static_cast<const char*>(MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 4096))),
        reader_([this] {
          while (SetEvent(bufferReady_.get()) && WaitForSingleObject(dataReady_.get(), INFINITE) == WAIT_OBJECT_0) {
            if (stop_) return;
            // The writer's process id, then its zero-terminated string.
            seen_ += std::string(buffer_ + 4, strnlen(buffer_ + 4, 4092));
          }
        }) {}
  ~DebugViewer() {
    stop_ = true;
    SetEvent(dataReady_.get());
    reader_.join();
    UnmapViewOfFile(buffer_);
  }
  // Once the writer has ended, its strings are all here.
  std::string Seen() const { return seen_; }

 private:
  Handle bufferReady_, dataReady_, mapping_;
  const char* buffer_;
  std::atomic<bool> stop_{false};
  std::string seen_;
  std::thread reader_;
};

Handle InheritableFile(const fs::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return Handle(CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Runs the probe with `mode` in `dir`, its exit handlers marking `dir`/marks; ended after 30 s.
Result RunProbe(const std::string& mode, const test::TempDir& dir) {
  static const fs::path probe = fs::absolute(KILN_STARTUP_PROBE);
  Result result;
  {
    Handle out = InheritableFile(dir.Path() / "out");
    Handle err = InheritableFile(dir.Path() / "err");
    if (!out || !err) {
      ADD_FAILURE() << "no output files";
      return result;
    }
    std::wstring command =
        L"\"" + probe.wstring() + L"\" " + fs::path(mode).wstring() + L" \"" + (dir.Path() / "marks").wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(probe.wstring().c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        dir.Path().wstring().c_str(), &startup, &started)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
      return result;
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
      TerminateProcess(process.get(), 124);
      WaitForSingleObject(process.get(), 5000);
      ADD_FAILURE() << mode << " did not end";
    }
    GetExitCodeProcess(process.get(), &result.exitCode);
  }
  result.out = test::ReadFileBytes(dir.Path() / "out");
  result.err = test::ReadFileBytes(dir.Path() / "err");
  return result;
}

TEST(WindowsEnds, UncaughtThrownObjectsReportTheirTextAndExitWithMinusOne) {
  const struct {
    const char* mode;
    std::string err;
  } cases[] = {
      {"runtime-exception", "Error writing the file Zunto.exe"},
      {"null-object", "Attempt to access field or method of Null object"},
      {"foreign", "plain C++ failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    test::TempDir dir;
    Result r = RunProbe(c.mode, dir);
    EXPECT_EQ(r.exitCode, 0xFFFFFFFFu);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(test::ReadFileBytes(dir.Path() / "marks"), "second;first;");
  }
  // Started from Explorer the program has no standard error: a debug viewer shows the report.
  test::TempDir dir;
  DebugViewer viewer;
  EXPECT_EQ(RunProbe("runtime-exception", dir).exitCode, 0xFFFFFFFFu);
  EXPECT_EQ(viewer.Seen(), "Error writing the file Zunto.exe");
}

TEST(WindowsEnds, FaultsReachTheFilterAreNamedAndEndWithZero) {
  const struct {
    const char* mode;
    const char* name;
  } cases[] = {
      {"int-divide", "EXCEPTION_INT_DIVIDE_BY_ZERO"},
      {"null-write", "EXCEPTION_ACCESS_VIOLATION"},
      {"stack-overflow", "EXCEPTION_STACK_OVERFLOW"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    test::TempDir dir;
    Result r = RunProbe(c.mode, dir);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.err, std::string("Windows exception: ") + c.name + "\n");
    EXPECT_EQ(test::ReadFileBytes(dir.Path() / "marks"), "second;first;");
  }
}

TEST(WindowsEnds, TheReportGoesToTheInstalledBoxAndASecondFaultEndsAtOnce) {
  test::TempDir dir;
  Result r = RunProbe("box", dir);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "marks"),
            "box:Windows exception|EXCEPTION_INT_DIVIDE_BY_ZERO;second;first;");
  test::TempDir again;
  r = RunProbe("fault-in-box", again);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.err, "Windows exception: EXCEPTION_ACCESS_VIOLATION\n");
  EXPECT_EQ(test::ReadFileBytes(again.Path() / "marks"), "box;");
}

TEST(WindowsEnds, NormalEndRunsExitHandlers) {
  test::TempDir dir;
  Result r = RunProbe("end", dir);
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::ReadFileBytes(dir.Path() / "marks"), "second;first;");
}

}  // namespace
}  // namespace kiln
