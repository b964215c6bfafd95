// The Windows build of the patcher as a user meets it under Wine: copied into a game folder, started
// from another working directory, its window watched from another X client, ended by a key typed
// through XTest. Run by tools/run_windows.sh with
//   KILN_WINE_PATCHER   the ZuntoPatcher.exe to run
//   KILN_WINE_RUN       the launcher (tools/windows/wine_run), with KILN_WINE_PREFIX and DISPLAY set
//   KILN_WINE_SHOTS     optional: a folder for the screenshots
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/manifest.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tests/app/game_folder_fixture.h"
#include "tests/app/patcher_watch.h"
#include "tools/screenshot/x_window.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::TempDir;

// A cold Wine start (a new wineserver, the program's DLLs) takes a few seconds on two cores.
constexpr int kWindowTimeoutMs = 90000;

class PatcherUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* exe = std::getenv("KILN_WINE_PATCHER");
    const char* launcher = std::getenv("KILN_WINE_RUN");
    if (exe == nullptr || launcher == nullptr) GTEST_SKIP() << "KILN_WINE_PATCHER and KILN_WINE_RUN are not set";
    exe_ = exe;
    options_.launcher = {launcher};
    MakeGameFolder(game_.Path());
  }
  void SaveShot(Watcher& watcher, Window window, const std::string& name) {
    const char* dir = std::getenv("KILN_WINE_SHOTS");
    if (dir == nullptr) return;
    const kiln::Ref<kiln::TPixmap> shot = xwindow::GrabSettledWindow(watcher.display(), window, 5000);
    if (shot) kiln::SavePixmapAsPng(shot, kiln::Text::FromUtf8((fs::path(dir) / name).string()), 6);
  }
  fs::path exe_;
  StartOptions options_;
  TempDir game_;
};

TEST_F(PatcherUnderWine, PatchesItsFolderShowsTheDoneScreenAndEndsWithZeroOnAKey) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  StartedProgram patcher(exe_, game_.Path(), options_);
  const Window window = watcher.AwaitPatcherWindow(kWindowTimeoutMs);
  ASSERT_NE(window, 0u) << patcher.Err();
  // The window opens after the export.
  for (const ExpectedFile& file : ExportedFiles()) {
    EXPECT_TRUE(ReadFileBytes(game_.Path() / file.destination) == PayloadFile(file.manifestIndex)) << file.destination;
  }
  // And Zunto_Data with the three folders below it, and the patcher: nothing else is left.
  EXPECT_EQ(Snapshot(game_.Path()).size(), 59u + 4u + 1u);
  ExpectScreenShows(watcher, window, {}, "done screen");
  SaveShot(watcher, window, "wine-screen.png");
  // Shift alone types nothing and leaves the screen up; a letter ends it.
  ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "Shift_L"));
  EXPECT_EQ(patcher.ExitCodeWithin(500), -1);
  ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "a"));
  EXPECT_EQ(patcher.ExitCodeWithin(20000), 0) << patcher.Err();
  EXPECT_TRUE(watcher.WindowGone(10000));
}

TEST_F(PatcherUnderWine, InAFolderWithoutTheGameShowsTheWrongFolderScreenAndWritesNothing) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  fs::remove(game_.Path() / "Vellmora.exe");
  const auto before = Snapshot(game_.Path());
  {
    StartedProgram patcher(exe_, game_.Path(), options_);
    const Window window = watcher.AwaitPatcherWindow(kWindowTimeoutMs);
    ASSERT_NE(window, 0u) << patcher.Err();
    ExpectScreenShows(watcher, window, {0}, "wrong-folder screen");
    SaveShot(watcher, window, "wine-wrong-folder.png");
    ASSERT_TRUE(xwindow::ClickButton(watcher.display(), window, 1));
    EXPECT_EQ(patcher.ExitCodeWithin(20000), 0) << patcher.Err();
    EXPECT_TRUE(watcher.WindowGone(10000));
  }
  EXPECT_EQ(Snapshot(game_.Path()), before);
}

}  // namespace
}  // namespace zunto::test
