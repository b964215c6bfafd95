#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "runtime/core/startup_rules.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using test::ChildResult;
using test::ReadFileBytes;
using test::TempDir;

const std::string kProbe = KILN_STARTUP_PROBE;

// Runs `args[0]` in `workingDir` with DISPLAY set to `display` (removed when empty), killed after 30 s.
ChildResult RunChild(const std::vector<std::string>& args, const std::string& workingDir,
                     const std::string& display = "") {
  std::optional<std::string> value;
  if (!display.empty()) value = display;
  return test::RunProgram(args, {.environment = {{"DISPLAY", value}}, .workingDir = workingDir});
}

TEST(StartupRules, FolderOfExecutableKeepsRootSlashes) {
  struct Case {
    const char* file;
    const char* folder;
  } cases[] = {
      {"C:/Games/Vellmora/ZuntoPatcher.exe", "C:/Games/Vellmora"},
      {"C:/ZuntoPatcher.exe", "C:/"},
      {"/ZuntoPatcher", "/"},
      {"/opt/zunto/ZuntoPatcher", "/opt/zunto"},
      {"ZuntoPatcher", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderOfExecutable(c.file), Text(c.folder)) << c.file;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST(Startup, StartedElsewhereMovesToTheExecutablesFolder) {
  TempDir launch;
  std::string launchDir = fs::canonical(launch.Path()).string();
  // Started through a link, from another folder, with a non-ASCII argument.
  fs::create_symlink(kProbe, launch.Path() / "linked-probe");
  ChildResult r = RunChild({launchDir + "/linked-probe", "globals", "Dr\xC3\xBC" "cke"}, launchDir);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 8u) << r.out;
  std::string probe = fs::canonical(kProbe).string();
  EXPECT_EQ(lines[0], "Kilnworks Application");
  EXPECT_EQ(lines[1], probe);
  EXPECT_EQ(lines[2], fs::path(probe).parent_path().string());
  EXPECT_EQ(lines[3], launchDir);
  EXPECT_EQ(lines[4], lines[2]) << "current directory is the executable's folder";
  EXPECT_EQ(lines[5], launchDir + "/linked-probe");
  EXPECT_EQ(lines[6], "globals");
  EXPECT_EQ(lines[7], "Dr\xC3\xBC" "cke");
}

struct ThrowCase {
  const char* mode;
  std::string err;
};

TEST(Startup, UncaughtThrownObjectsReportTheirTextAndExitWithMinusOne) {
  const ThrowCase cases[] = {
      {"runtime-exception", "Error writing the file Zunto.exe"},
      // Written as the low byte of each unit.
      {"text", "Fehler: \xFC" "berschriebenA"},
      {"null-object", "Attempt to access field or method of Null object"},
      {"foreign", "plain C++ failure"},
      {"object", "a thrown thing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TempDir dir;
    std::string marks = dir / "marks";
    ChildResult r = RunChild({kProbe, c.mode, marks}, dir.Path().string());
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFileBytes(marks), "second;first;") << "exit handlers in reverse order";
  }
}

TEST(Startup, NormalEndsRunExitHandlers) {
  TempDir dir;
  std::string marks = dir / "marks";
  ChildResult r = RunChild({kProbe, "end", marks}, dir.Path().string());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFileBytes(marks), "second;first;");

  r = RunChild({kProbe, "return", marks}, dir.Path().string());
  EXPECT_EQ(r.exitCode, 0);
  r = RunChild({kProbe, "unknown-mode", marks}, dir.Path().string());
  EXPECT_EQ(r.exitCode, 7) << "the entry's result is the exit code";
}

struct FaultCase {
  const char* mode;
  const char* name;
};

TEST(FaultReport, ProcessorFaultsAreNamedAndEndWithZero) {
  const FaultCase cases[] = {
      {"int-divide", "EXCEPTION_INT_DIVIDE_BY_ZERO"},
      {"null-write", "EXCEPTION_ACCESS_VIOLATION"},
      {"stack-overflow", "EXCEPTION_STACK_OVERFLOW"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    TempDir dir;
    std::string marks = dir / "marks";
    ChildResult r = RunChild({kProbe, c.mode, marks}, dir.Path().string());
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string("Windows exception: ") + c.name + "\n");
    EXPECT_EQ(ReadFileBytes(marks), "second;first;");
  }
}

TEST(FaultReport, ShownInTheMessageBoxWhenADisplayExists) {
  TempDir dir;
  std::string marks = dir / "marks";
  ChildResult r = RunChild({kProbe, "box", marks}, dir.Path().string(), ":99");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFileBytes(marks), "box:Windows exception|EXCEPTION_INT_DIVIDE_BY_ZERO;second;first;");

  fs::remove(marks);
  r = RunChild({kProbe, "box", marks}, dir.Path().string(), "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "Windows exception: EXCEPTION_INT_DIVIDE_BY_ZERO\n");
  EXPECT_EQ(ReadFileBytes(marks), "second;first;");
}

TEST(FaultReport, ASecondFaultWhileReportingEndsTheProcess) {
  TempDir dir;
  std::string marks = dir / "marks";
  ChildResult r = RunChild({kProbe, "fault-in-box", marks}, dir.Path().string(), ":99");
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "Windows exception: EXCEPTION_ACCESS_VIOLATION\n");
  EXPECT_EQ(ReadFileBytes(marks), "box;");

  fs::remove(marks);
  r = RunChild({kProbe, "fault-in-exit-handler", marks}, dir.Path().string());
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "Windows exception: EXCEPTION_ACCESS_VIOLATION\nWindows exception: EXCEPTION_ACCESS_VIOLATION\n");
  EXPECT_EQ(ReadFileBytes(marks), "faulting;");
}

}  // namespace
}  // namespace kiln
