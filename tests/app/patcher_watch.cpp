#include "tests/app/patcher_watch.h"

#include <algorithm>
#include <cstdlib>

#include "app/manifest.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tests/app/game_folder_fixture.h"
#include "tests/support/test_display.h"
#include "tools/screenshot/x_window.h"

namespace zunto::test {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;

StartedProgram::StartedProgram(const fs::path& program, const fs::path& folder, StartOptions options)
    : exe_(folder / program.filename()), copied_(options.copy) {
  if (copied_) fs::copy_file(program, exe_, fs::copy_options::overwrite_existing);
  fs::permissions(elsewhere_.Path(), fs::perms(0777));
  kiln::test::ChildOptions child;
  child.unprivileged = options.unprivileged;
  child.limits = {{RLIMIT_FSIZE, options.fileSizeLimit}};
  if (options.display == StartOptions::Display::kNone) child.environment = {{"DISPLAY", std::nullopt}};
  if (options.display == StartOptions::Display::kUnreachable) child.environment = {{"DISPLAY", ":1999"}};
  child.workingDir = elsewhere_.Path();
  child.captureOutput = true;
  std::vector<std::string> command = options.launcher;
  command.push_back(exe_.string());
  process_ = kiln::test::ChildProcess::Start(command, child);
}

StartedProgram::~StartedProgram() {
  process_->Kill();
  if (copied_) fs::remove(exe_);
}

int StartedProgram::ExitCodeWithin(int ms) {
  if (!process_->WaitFor(ms)) return -1;
  return process_->Signal() != 0 ? -2 : process_->ExitCode();
}

Watcher::Watcher() : display_(kiln::test::EnsureDisplay() ? XOpenDisplay(nullptr) : nullptr) {}

Watcher::~Watcher() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

Window Watcher::AwaitPatcherWindow(int timeoutMs) { return xwindow::AwaitWindow(display_, kCaption, timeoutMs); }

bool Watcher::AwaitFirstFrames(Window window) { return bool(xwindow::GrabSettledWindow(display_, window, 5000)); }

bool Watcher::WindowGone(int timeoutMs) { return xwindow::AwaitNoWindow(display_, kCaption, timeoutMs); }

namespace {

// The background picture as the program's own decoder makes it, as RGB.
kiln::Ref<kiln::TPixmap> DecodedBackground() {
  kiln::InitFileSystemModule();
  kiln::InitPixmapLoaders();
  static kiln::Ref<kiln::TPixmap> background =
      kiln::PixmapFromJpeg(kiln::Text::FromUtf8(std::string(ZUNTO_PAYLOAD_ROOT) + "/data/hg_grafik.jpg"))
          ->Convert(kiln::FormatRGB888);
  return background;
}

struct Box {
  int x0, y0, x1, y1;
  bool Holds(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// Where the status screen may draw text: the version label, the three top lines, the bottom line.
constexpr Box kVersionLabel{585, 0, 640, 24};
constexpr Box kTopLine[3] = {{0, 0, 580, 24}, {0, 24, 640, 44}, {0, 44, 640, 64}};
constexpr Box kBottomLine{0, 455, 640, 480};

// Light pixels well away from the background: text drawn in white.
int TextPixels(const kiln::Ref<kiln::TPixmap>& shot, const Box& box) {
  const kiln::Ref<kiln::TPixmap> bg = DecodedBackground();
  int count = 0;
  for (int y = box.y0; y < box.y1; ++y) {
    for (int x = box.x0; x < box.x1; ++x) {
      const uint8_t* s = shot->PixelPtr(x, y);
      const uint8_t* b = bg->PixelPtr(x, y);
      const bool light = s[0] > 150 && s[1] > 150 && s[2] > 150;
      const bool changed = std::abs(s[0] - b[0]) + std::abs(s[1] - b[1]) + std::abs(s[2] - b[2]) > 90;
      count += light && changed;
    }
  }
  return count;
}

// Pixels outside every text box that differ from the background where it is not black (black is
// masked and shows whatever the back buffer held).
int BackgroundMismatches(const kiln::Ref<kiln::TPixmap>& shot) {
  const kiln::Ref<kiln::TPixmap> bg = DecodedBackground();
  int count = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      if (kVersionLabel.Holds(x, y) || kBottomLine.Holds(x, y) || y < 64) continue;
      const uint8_t* s = shot->PixelPtr(x, y);
      const uint8_t* b = bg->PixelPtr(x, y);
      if (b[0] == 0 && b[1] == 0 && b[2] == 0) continue;
      count += std::abs(s[0] - b[0]) > 6 || std::abs(s[1] - b[1]) > 6 || std::abs(s[2] - b[2]) > 6;
    }
  }
  return count;
}

}  // namespace

std::string PayloadFile(int manifestIndex) {
  const std::string source = PayloadManifest()[static_cast<size_t>(manifestIndex)].resource;
  return ReadFileBytes(fs::path(ZUNTO_PAYLOAD_ROOT) / source.substr(2));
}


void ExpectShotShows(const kiln::Ref<kiln::TPixmap>& shot, const std::vector<int>& topLines, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_TRUE(DecodedBackground()) << "cannot decode the background picture below " << ZUNTO_PAYLOAD_ROOT;
  ASSERT_TRUE(shot);
  ASSERT_EQ(shot->width, 640);
  ASSERT_EQ(shot->height, 480);
  EXPECT_EQ(BackgroundMismatches(shot), 0);
  EXPECT_GT(TextPixels(shot, kVersionLabel), 20);
  EXPECT_GT(TextPixels(shot, kBottomLine), 100);
  for (int line = 0; line < 3; ++line) {
    const bool shown = std::find(topLines.begin(), topLines.end(), line) != topLines.end();
    if (shown) EXPECT_GT(TextPixels(shot, kTopLine[line]), 100) << "top line " << line;
    else EXPECT_EQ(TextPixels(shot, kTopLine[line]), 0) << "top line " << line;
  }
}

void ExpectScreenShows(Watcher& watcher, Window window, const std::vector<int>& topLines, const char* what) {
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(watcher.display(), window, &attributes)) << what;
  ExpectShotShows(xwindow::GrabSettledWindow(watcher.display(), window, 5000), topLines, what);
}

std::vector<std::string> MissingPayloadFiles() {
  std::vector<std::string> missing;
  for (const ExpectedFile& file : ExportedFiles()) {
    const std::string source = PayloadManifest()[static_cast<size_t>(file.manifestIndex)].resource;
    if (!fs::is_regular_file(fs::path(ZUNTO_PAYLOAD_ROOT) / source.substr(2))) missing.push_back(source);
  }
  return missing;
}

}  // namespace zunto::test
