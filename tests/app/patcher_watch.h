// The built patcher as a user meets it, for the process tests: copied into a folder and started from
// another working directory (directly, or through a launcher such as Wine), its window watched from
// another X client and its status screen read back as pixels.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <X11/Xlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace zunto::test {

inline constexpr const char* kCaption = "Zunto Patcher v1.3";

struct StartOptions {
  enum class Display { kShared, kNone, kUnreachable } display = Display::kShared;
  bool unprivileged = false;
  rlim_t fileSizeLimit = RLIM_INFINITY;
  // False: the program is in the folder already, and stays there.
  bool copy = true;
  // Runs the program through this command (its path is appended), e.g. a Wine launcher.
  std::vector<std::string> launcher{};
};

// A program copied into `folder` and started from another working directory, with its standard
// output and error kept in files. Killed when it is still running at the end of the test.
class StartedProgram {
 public:
  StartedProgram(const std::filesystem::path& program, const std::filesystem::path& folder, StartOptions options = {});
  ~StartedProgram();
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  // The exit code once the program has ended within `ms`; -1 when it still runs; -2 for a signal.
  int ExitCodeWithin(int ms);
  std::string Out() const { return process_->Out(); }
  std::string Err() const { return process_->Err(); }

 private:
  kiln::test::TempDir elsewhere_;
  std::filesystem::path exe_;
  bool copied_;
  std::unique_ptr<kiln::test::ChildProcess> process_;
};

// The test's own connection to the X server, as another client sees the patcher's window.
class Watcher {
 public:
  Watcher();
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  Display* display() const { return display_; }
  Window AwaitPatcherWindow(int timeoutMs = 15000);
  // Input reaches the screen only once it runs: the window is mapped before input tracking starts.
  bool AwaitFirstFrames(Window window);
  // The window of a patcher that has ended may linger for a moment, under an id the next one reuses.
  bool WindowGone(int timeoutMs = 3000);

 private:
  Display* display_;
};

// The bytes of the payload file of manifest entry `manifestIndex`.
std::string PayloadFile(int manifestIndex);

// Payload files the checks compare with that are not in the payload folder (built with the patcher).
std::vector<std::string> MissingPayloadFiles();

// Checks that `shot` is 640 x 480 and shows the status screen: the background picture wherever no
// text may be, the version label, the bottom line, and text in exactly the `topLines` (0..2).
void ExpectShotShows(const kiln::Ref<kiln::TPixmap>& shot, const std::vector<int>& topLines, const char* what);
// The same for `window` as it is on the screen once its frames have settled.
void ExpectScreenShows(Watcher& watcher, Window window, const std::vector<int>& topLines, const char* what);

}  // namespace zunto::test
