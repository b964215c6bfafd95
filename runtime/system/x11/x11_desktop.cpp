#include "runtime/system/internal/x11_desktop.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kiln::x11 {
namespace {

// How long OpenWithDesktop waits for xdg-open to answer.
constexpr int kOpenerAnswerMillis = 2000;

bool ProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs(path);
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Starts the program with `args` (args[0] is its name), its standard output into `outputFd` when
// that is not -1. Returns its process id, or -1 when it could not be started.
pid_t StartProgram(const std::vector<std::string>& args, int outputFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Runs the program with `args`, collects its standard output and returns its exit status, or -1
// when it could not be started.
int RunProgram(const std::vector<std::string>& args, std::string* output) {
  int fds[2] = {-1, -1};
  if (output != nullptr && pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = StartProgram(args, fds[1]);
  if (output != nullptr) close(fds[1]);
  if (pid < 0) {
    if (output != nullptr) close(fds[0]);
    return -1;
  }
  if (output != nullptr) {
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(fds[0], buffer, sizeof buffer)) != 0) {
      if (count < 0) {
        if (errno == EINTR) continue;
        break;
      }
      output->append(buffer, static_cast<size_t>(count));
    }
    close(fds[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return ExitStatus(status);
}

Text FirstLine(const std::string& output) {
  std::string line = output.substr(0, output.find('\n'));
  try {
    return Text::FromUtf8(line);
  } catch (const Text&) {
    return Text();
  }
}

struct FilterGroup {
  std::string description;
  std::vector<std::string> extensions;
};

// "Images:png,jpg;Text:txt" or "png,jpg" as groups.
std::vector<FilterGroup> ParseExtensions(const std::string& list) {
  std::vector<FilterGroup> groups;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string group = list.substr(start, end - start);
    start = end + 1;
    FilterGroup parsed;
    size_t colon = group.find(':');
    std::string exts = group;
    parsed.description = "Files";
    if (colon != std::string::npos) {
      parsed.description = group.substr(0, colon);
      exts = group.substr(colon + 1);
    }
    size_t at = 0;
    while (at <= exts.size()) {
      size_t comma = exts.find(',', at);
      if (comma == std::string::npos) comma = exts.size();
      std::string ext = exts.substr(at, comma - at);
      if (!ext.empty()) parsed.extensions.push_back(ext);
      at = comma + 1;
    }
    if (!parsed.extensions.empty()) groups.push_back(parsed);
  }
  return groups;
}

}  // namespace

Text RunFileRequester(const Text& title, const Text& extensions, bool save, const Text& path) {
  std::vector<FilterGroup> groups = ParseExtensions(extensions.ToUtf8());
  std::vector<std::string> args;
  if (ProgramOnPath("zenity")) {
    args = {"zenity", "--file-selection", "--title=" + title.ToUtf8()};
    if (save) {
      args.push_back("--save");
      args.push_back("--confirm-overwrite");
    }
    if (!path.IsEmpty()) args.push_back("--filename=" + path.ToUtf8());
    for (const FilterGroup& group : groups) {
      std::string filter = "--file-filter=" + group.description + " |";
      for (const std::string& ext : group.extensions) filter += " *." + ext;
      args.push_back(filter);
    }
  } else if (ProgramOnPath("kdialog")) {
    std::string filter;
    for (const FilterGroup& group : groups) {
      if (!filter.empty()) filter += "\n";
      for (const std::string& ext : group.extensions) filter += "*." + ext + " ";
      filter += "|" + group.description;
    }
    args = {"kdialog", "--title", title.ToUtf8(), save ? "--getsavefilename" : "--getopenfilename",
            path.IsEmpty() ? "." : path.ToUtf8()};
    if (!filter.empty()) args.push_back(filter);
  } else {
    return Text();
  }
  std::string output;
  if (RunProgram(args, &output) != 0) return Text();
  return FirstLine(output);
}

Text RunFolderRequester(const Text& title, const Text& path) {
  std::vector<std::string> args;
  std::string start = path.IsEmpty() ? "." : path.ToUtf8();
  if (ProgramOnPath("zenity")) {
    args = {"zenity", "--file-selection", "--directory", "--title=" + title.ToUtf8(), "--filename=" + start + "/"};
  } else if (ProgramOnPath("kdialog")) {
    args = {"kdialog", "--title", title.ToUtf8(), "--getexistingdirectory", start};
  } else {
    return Text();
  }
  std::string output;
  if (RunProgram(args, &output) != 0) return Text();
  return FirstLine(output);
}

bool OpenWithDesktop(const Text& url) {
  if (url.IsEmpty() || !ProgramOnPath("xdg-open")) return false;
  pid_t pid = StartProgram({"xdg-open", url.ToUtf8()}, -1);
  if (pid < 0) return false;
  // Without a desktop environment xdg-open runs the browser itself and returns only when it
  // closes. A refusal comes at once; an opener still running after a while has taken the address.
  for (int waited = 0; waited < kOpenerAnswerMillis; waited += 10) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitStatus(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    usleep(10 * 1000);
  }
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace kiln::x11
