// Child processes for tests: a forked copy of the test running a function, or a program started in
// a child, with the resource limits, user and environment a test needs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiln::test {

class TempDir;

struct ChildOptions {
  // Root ignores permission bits: tests about them run the child as the user "nobody".
  bool unprivileged = false;
  // Resource limits (RLIMIT_FSIZE, RLIMIT_AS, ...), soft and hard alike.
  std::vector<std::pair<int, uint64_t>> limits{};
  // Environment variables to set; an empty value removes the variable.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment{};
  // Empty: the child stays in the test's working directory.
  std::filesystem::path workingDir{};
  // Standard output and error go to files (ChildProcess::Out and Err) instead of the test's own.
  bool captureOutput = false;
};

// Exit codes of a child that did not get to its work, and of a function that threw.
constexpr int kChildThrew = 99;
constexpr int kChildSetUpFailed = 120;
constexpr int kChildExecFailed = 121;

// True when this process can start unprivileged children (it is root and "nobody" exists).
bool CanRunUnprivileged();

// A running or ended child; one still running when the object goes is killed.
class ChildProcess {
 public:
  // Forks; the child sets itself up as `options` say, runs `body` and exits with its result.
  static std::unique_ptr<ChildProcess> Fork(const std::function<int()>& body, const ChildOptions& options = {});
  // Starts the program `args[0]` with the arguments `args`.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args, const ChildOptions& options = {});

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits up to `ms` milliseconds (forever when negative); true once the child has ended.
  bool WaitFor(int ms);
  // Waits for the end and returns the wait status.
  int Wait();
  // Ends the child with SIGKILL and waits for it.
  void Kill();
  pid_t Pid() const { return pid_; }
  // Once ended: the exit code (-1 after a signal) and the signal (0 after an exit).
  int ExitCode() const;
  int Signal() const;
  // What the child wrote, with captureOutput.
  std::string Out() const;
  std::string Err() const;
  // Where the captured output goes; it exists for the object's life.
  const std::filesystem::path& OutputDir() const;

 private:
  ChildProcess() = default;
  static std::unique_ptr<ChildProcess> Launch(const std::function<int()>& body, const ChildOptions& options);

  pid_t pid_ = -1;
  std::optional<int> status_;
  std::unique_ptr<TempDir> outputs_;
};

// Forks, runs `body` in the child and waits for it; the wait status.
int RunInChild(const std::function<int()>& body, const ChildOptions& options = {});

struct ChildResult {
  int exitCode = -1;  // -1 when the child did not exit normally
  int signal = 0;     // the signal that ended it, if any
  std::string out;
  std::string err;
};

// Runs the program `args[0]` to its end with its output captured; killed after `timeoutMs`.
ChildResult RunProgram(const std::vector<std::string>& args, ChildOptions options, int timeoutMs = 30000);

}  // namespace kiln::test
