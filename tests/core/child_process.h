// Runs a program as a child process and collects what it leaves behind.
#pragma once

#include <string>
#include <vector>

namespace kiln::test {

struct ChildResult {
  int exitCode = -1;    // the exit status, or -1 when the child did not exit normally
  int signal = 0;       // the signal that ended it, if any
  std::string out;
  std::string err;
};

// Starts `args[0]` in `workingDir`; DISPLAY is set to `display` (removed when empty). A child that
// runs longer than 30 seconds is killed.
ChildResult RunChild(const std::vector<std::string>& args, const std::string& workingDir,
                     const std::string& display = "");

}  // namespace kiln::test
