#include "tests/support/test_display.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kiln::test {
namespace {

pid_t xvfbPid = 0;
pid_t ownerPid = 0;

// Only the process that started the server stops it: a forked test child that exits must not.
void StopXvfb() {
  if (xvfbPid > 0 && getpid() == ownerPid) {
    kill(xvfbPid, SIGTERM);
    waitpid(xvfbPid, nullptr, 0);
    xvfbPid = 0;
  }
}

bool CanConnect(const char* name) {
  Display* d = XOpenDisplay(name);
  if (d == nullptr) return false;
  XCloseDisplay(d);
  return true;
}

}  // namespace

bool EnsureDisplay() {
  static int state = 0;  // 0 unknown, 1 reachable, -1 failed
  if (state != 0) return state > 0;
  const char* current = std::getenv("DISPLAY");
  if (current != nullptr && *current != 0 && CanConnect(current)) {
    state = 1;
    return true;
  }
  // Pick a display number whose lock file is absent; Xvfb itself refuses numbers in use.
  for (int attempt = 0; attempt < 20; ++attempt) {
    int number = 100 + (static_cast<int>(getpid()) % 800) + attempt * 7;
    std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
    if (access(lock.c_str(), F_OK) == 0) continue;
    std::string name = ":" + std::to_string(number);
    pid_t pid = fork();
    if (pid == 0) {
      int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             "+extension", "GLX", "+extension", "XTEST", "+extension", "RANDR", "-noreset",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) break;
    for (int wait = 0; wait < 100; ++wait) {
      usleep(50 * 1000);
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        break;
      }
      if (CanConnect(name.c_str())) {
        xvfbPid = pid;
        ownerPid = getpid();
        setenv("DISPLAY", name.c_str(), 1);
        std::atexit(StopXvfb);
        state = 1;
        return true;
      }
    }
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  std::fprintf(stderr, "no X server reachable and Xvfb could not be started\n");
  state = -1;
  return false;
}

}  // namespace kiln::test
