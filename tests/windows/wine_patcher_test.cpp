// The Windows build of the patcher as a user meets it under Wine: copied into a game folder, started
// from another working directory, its window watched from another X client, ended by a key typed
// through XTest. Run by tools/run_windows.sh with
//   KILN_WINE_PATCHER   the ZuntoPatcher.exe to run
//   KILN_WINE_RUN       the launcher (tools/windows/wine_run), with KILN_WINE_PREFIX and DISPLAY set
//   KILN_WINE_SHOTS     optional: a folder for the screenshots
// The 32-bit release runs on an emulated PC instead (tools/windows/emulated_pc.sh); the
// EmulatedRelease tests check what that run of KILN_EMULATED_RELEASE left in KILN_EMULATED_RESULTS.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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
    ASSERT_TRUE(MissingPayloadFiles().empty())
        << MissingPayloadFiles().size() << " payload files to compare with are missing below " << ZUNTO_PAYLOAD_ROOT
        << ", the first " << MissingPayloadFiles().front() << ": build the native tree's ZuntoPatcher first";
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

TEST_F(PatcherUnderWine, AReadOnlyGameFileFailsTheExportShowsWhyAndChangesNothing) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  kiln::test::WriteFileBytes(game_.Path() / "Zunto.exe", "old");
  // Wine takes a file without write permission as read-only, for root too.
  fs::permissions(game_.Path() / "Zunto.exe", fs::perms(0444));
  const auto before = Snapshot(game_.Path());
  {
    StartedProgram patcher(exe_, game_.Path(), options_);
    const Window window = watcher.AwaitPatcherWindow(kWindowTimeoutMs);
    ASSERT_NE(window, 0u) << patcher.Err();
    ExpectScreenShows(watcher, window, {0, 1, 2}, "failure screen");
    ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "Return"));
    EXPECT_EQ(patcher.ExitCodeWithin(20000), 255) << patcher.Err();
    EXPECT_NE(patcher.Err().find("Zunto.exe"), std::string::npos) << patcher.Err();
    EXPECT_TRUE(watcher.WindowGone(10000));
  }
  EXPECT_EQ(Snapshot(game_.Path()), before);
}

// What the release did on the emulated PC: each scenario left its game folder, a capture of its
// window, its exit code and its standard error in the results folder.
class EmulatedRelease : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("KILN_EMULATED_RESULTS");
    const char* release = std::getenv("KILN_EMULATED_RELEASE");
    if (dir == nullptr || release == nullptr) GTEST_SKIP() << "KILN_EMULATED_RESULTS and KILN_EMULATED_RELEASE are not set";
    results_ = dir;
    release_ = release;
    ASSERT_TRUE(fs::exists(results_ / "finished")) << "the emulated run did not finish; see " << results_ / "guest.log";
    ASSERT_TRUE(MissingPayloadFiles().empty()) << "payload files to compare with are missing below " << ZUNTO_PAYLOAD_ROOT;
  }
  std::string Read(const std::string& name) { return kiln::test::ReadFileBytes(results_ / name); }
  int ExitCode(const std::string& scenario) { return std::atoi(Read(scenario + ".rc").c_str()); }
  // The game folder the guest made for `scenario` before the run (as MakeGameFolder, plus a note).
  std::map<std::string, std::string> Before(bool withGame) {
    TempDir folder;
    MakeGameFolder(folder.Path());
    if (!withGame) fs::remove(folder.Path() / "Vellmora.exe");
    kiln::test::WriteFileBytes(folder.Path() / "Notizen.txt", "left alone");
    fs::copy_file(release_, folder.Path() / "ZuntoPatcher.exe");
    return Snapshot(folder.Path());
  }
  fs::path results_, release_;
};

TEST_F(EmulatedRelease, PatchedItsFolderShowedTheDoneScreenAndEndedWithZeroOnAKey) {
  const fs::path game = results_ / "done";
  for (const ExpectedFile& file : ExportedFiles()) {
    EXPECT_TRUE(ReadFileBytes(game / file.destination) == PayloadFile(file.manifestIndex)) << file.destination;
  }
  auto after = Snapshot(game);
  EXPECT_EQ(after.size(), 59u + 4u + 1u + 1u);
  EXPECT_EQ(after["Notizen.txt"], "left alone");
  ExpectShotShows(xwindow::ReadXwdCapture((results_ / "done.xwd").string()), {}, "done screen");
  EXPECT_EQ(Read("done.after-shift-running"), "yes\n") << "Shift alone must not end the screen";
  EXPECT_EQ(ExitCode("done"), 0) << Read("done.stderr");
}

TEST_F(EmulatedRelease, InAFolderWithoutTheGameShowedTheWrongFolderScreenAndWroteNothing) {
  EXPECT_EQ(Snapshot(results_ / "wrong"), Before(false));
  ExpectShotShows(xwindow::ReadXwdCapture((results_ / "wrong.xwd").string()), {0}, "wrong-folder screen");
  EXPECT_EQ(ExitCode("wrong"), 0) << Read("wrong.stderr");
}

TEST_F(EmulatedRelease, AReadOnlyGameFileFailedTheExportAndChangedNothing) {
  auto expected = Before(true);
  expected["Zunto.exe"] = "old";
  EXPECT_EQ(Snapshot(results_ / "readonly"), expected);
  ExpectShotShows(xwindow::ReadXwdCapture((results_ / "readonly.xwd").string()), {0, 1, 2}, "failure screen");
  EXPECT_EQ(ExitCode("readonly"), 255);
  EXPECT_NE(Read("readonly.stderr").find("Zunto.exe"), std::string::npos) << Read("readonly.stderr");
}

}  // namespace
}  // namespace zunto::test
