#include "tests/core/child_process.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace kiln::test {

ChildResult RunChild(const std::vector<std::string>& args, const std::string& workingDir,
                     const std::string& display) {
  TempDir outputs;
  std::string outPath = outputs / "out";
  std::string errPath = outputs / "err";
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(workingDir.c_str()) != 0) _exit(120);
    if (display.empty()) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", display.c_str(), 1);
    }
    execv(argv[0], argv.data());
    _exit(121);
  }
  ChildResult result;
  int status = 0;
  for (int waited = 0;; waited += 10) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (waited >= 30000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10000);
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = ReadFileBytes(outPath);
  result.err = ReadFileBytes(errPath);
  return result;
}

}  // namespace kiln::test
