#include "tests/support/child_process.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/temp_dir.h"

namespace kiln::test {
namespace {

// The user tests switch to; 65534 where the system has no "nobody" entry.
std::pair<uid_t, gid_t> Nobody() {
  const passwd* nobody = getpwnam("nobody");
  return nobody != nullptr ? std::pair<uid_t, gid_t>(nobody->pw_uid, nobody->pw_gid)
                           : std::pair<uid_t, gid_t>(65534, 65534);
}

// In the child, before its work: false when anything of `options` could not be applied.
bool SetUpChild(const ChildOptions& options, const std::filesystem::path& outputDir, std::pair<uid_t, gid_t> user) {
  if (options.captureOutput) {
    int out = open((outputDir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open((outputDir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) return false;
  }
  if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) return false;
  for (const auto& [resource, value] : options.limits) {
    rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    if (setrlimit(resource, &limit) != 0) return false;
  }
  for (const auto& [name, value] : options.environment) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  if (options.unprivileged && (setgid(user.second) != 0 || setuid(user.first) != 0)) return false;
  return true;
}

}  // namespace

bool CanRunUnprivileged() { return getuid() == 0 && getpwnam("nobody") != nullptr; }

std::unique_ptr<ChildProcess> ChildProcess::Launch(const std::function<int()>& body, const ChildOptions& options) {
  std::unique_ptr<ChildProcess> child(new ChildProcess());
  child->outputs_ = std::make_unique<TempDir>();
  if (options.unprivileged) chmod(child->OutputDir().c_str(), 0777);
  const std::pair<uid_t, gid_t> user = Nobody();
  std::fflush(nullptr);
  child->pid_ = fork();
  if (child->pid_ == 0) {
    if (!SetUpChild(options, child->OutputDir(), user)) _exit(kChildSetUpFailed);
    int code = kChildThrew;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  return child;
}

std::unique_ptr<ChildProcess> ChildProcess::Fork(const std::function<int()>& body, const ChildOptions& options) {
  return Launch(body, options);
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& args, const ChildOptions& options) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return Launch(
      [&argv] {
        execv(argv[0], argv.data());
        return kChildExecFailed;
      },
      options);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) Kill();
}

bool ChildProcess::WaitFor(int ms) {
  for (int waited = 0; !status_; waited += 10) {
    int status = 0;
    if (waitpid(pid_, &status, ms < 0 ? 0 : WNOHANG) == pid_) {
      status_ = status;
      break;
    }
    if (ms >= 0 && waited >= ms) return false;
    usleep(10000);
  }
  return true;
}

int ChildProcess::Wait() {
  WaitFor(-1);
  return *status_;
}

void ChildProcess::Kill() {
  if (status_) return;
  kill(pid_, SIGKILL);
  Wait();
}

int ChildProcess::ExitCode() const { return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1; }
int ChildProcess::Signal() const { return status_ && WIFSIGNALED(*status_) ? WTERMSIG(*status_) : 0; }
std::string ChildProcess::Out() const { return ReadFileBytes(OutputDir() / "out"); }
std::string ChildProcess::Err() const { return ReadFileBytes(OutputDir() / "err"); }
const std::filesystem::path& ChildProcess::OutputDir() const { return outputs_->Path(); }

int RunInChild(const std::function<int()>& body, const ChildOptions& options) {
  return ChildProcess::Fork(body, options)->Wait();
}

ChildResult RunProgram(const std::vector<std::string>& args, ChildOptions options, int timeoutMs) {
  options.captureOutput = true;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(args, options);
  if (!child->WaitFor(timeoutMs)) child->Kill();
  ChildResult result;
  result.exitCode = child->ExitCode();
  result.signal = child->Signal();
  result.out = child->Out();
  result.err = child->Err();
  return result;
}

}  // namespace kiln::test
