// The built patcher as a user meets it: copied into a folder and started from another working
// directory, watched from another X client (XTest input, the window read back as pixels), or
// started without a display.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#include "app/game_folder.h"
#include "app/manifest.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tests/app/game_folder_fixture.h"
#include "tests/app/patcher_watch.h"
#include "tests/support/child_process.h"
#include "tools/screenshot/x_window.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::TempDir;
using kiln::test::WriteFileBytes;

class PatcherProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameFolder(game_.Path());
    fs::permissions(game_.Path(), fs::perms(0777));
  }
  TempDir game_;
};

TEST_F(PatcherProcess, PatchesItsOwnFolderAndShowsTheDoneScreenUntilATypedCharacter) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  WriteFileBytes(game_.Path() / "Anleitung.pdf", std::string(5000000, 'o'));
  StartedProgram patcher(ZUNTO_PATCHER_EXE, game_.Path());
  const Window window = watcher.AwaitPatcherWindow();
  ASSERT_NE(window, 0u) << patcher.Err();
  for (const ExpectedFile& file : ExportedFiles()) {
    EXPECT_TRUE(ReadFileBytes(game_.Path() / file.destination) == PayloadFile(file.manifestIndex)) << file.destination;
  }
  // And Zunto_Data with the three folders below it, and the patcher.
  EXPECT_EQ(Snapshot(game_.Path()).size(), 59u + 4u + 1u);
  ExpectScreenShows(watcher, window, {}, "done screen");
  // Keys that type no character leave the screen up.
  ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "Shift_L"));
  ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "Left"));
  EXPECT_EQ(patcher.ExitCodeWithin(300), -1);
  ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "a"));
  EXPECT_EQ(patcher.ExitCodeWithin(5000), 0);
  EXPECT_TRUE(watcher.WindowGone());
  EXPECT_EQ(patcher.Out(), "");
  EXPECT_EQ(patcher.Err(), "");
}

TEST_F(PatcherProcess, WrongFolderWritesNothingAndSaysSo) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
      {"no game executable", [](const fs::path& g) { fs::remove(g / "Vellmora.exe"); }},
      {"a folder named like the game executable",
       [](const fs::path& g) { fs::remove(g / "Vellmora.exe"), fs::create_directory(g / "Vellmora.exe"); }},
  };
  for (const auto& [what, spoil] : cases) {
    SCOPED_TRACE(what);
    spoil(game_.Path());
    const auto before = Snapshot(game_.Path());
    StartedProgram patcher(ZUNTO_PATCHER_EXE, game_.Path());
    const Window window = watcher.AwaitPatcherWindow();
    ASSERT_NE(window, 0u) << patcher.Err();
    ExpectScreenShows(watcher, window, {0}, what);
    ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "Return"));
    EXPECT_EQ(patcher.ExitCodeWithin(5000), 0);
    EXPECT_TRUE(watcher.WindowGone());
    EXPECT_EQ(patcher.Err(), "");
    fs::remove(game_.Path() / "ZuntoPatcher");
    EXPECT_EQ(Snapshot(game_.Path()), before);
  }
}

TEST_F(PatcherProcess, EscapeEachMouseButtonAndTheCloseButtonEndItWithZero) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  fs::remove(game_.Path() / "Vellmora.exe");
  const std::vector<std::pair<const char*, std::function<bool(Display*, Window)>>> cases = {
      {"Escape", [](Display* d, Window w) { return xwindow::PressKey(d, w, "Escape"); }},
      {"button 1", [](Display* d, Window w) { return xwindow::ClickButton(d, w, 1); }},
      {"button 2", [](Display* d, Window w) { return xwindow::ClickButton(d, w, 2); }},
      {"button 3", [](Display* d, Window w) { return xwindow::ClickButton(d, w, 3); }},
      {"close button", [](Display* d, Window w) { return xwindow::RequestClose(d, w); }},
  };
  for (const auto& [what, end] : cases) {
    SCOPED_TRACE(what);
    StartedProgram patcher(ZUNTO_PATCHER_EXE, game_.Path());
    const Window window = watcher.AwaitPatcherWindow();
    ASSERT_NE(window, 0u) << patcher.Err();
    ASSERT_TRUE(watcher.AwaitFirstFrames(window));
    ASSERT_TRUE(end(watcher.display(), window));
    EXPECT_EQ(patcher.ExitCodeWithin(5000), 0);
    EXPECT_TRUE(watcher.WindowGone());
  }
}

TEST_F(PatcherProcess, FailedExportShowsWhyChangesNothingAndEndsWithMinusOne) {
  Watcher watcher;
  ASSERT_NE(watcher.display(), nullptr);
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> spoil;
    bool unprivileged;
    const char* report;
  };
  const std::vector<Case> cases = {
      {"missing play-set folder", [](const fs::path& g) { fs::remove(g / "Zunto_Data/XMLData/SpielzuegeGast"); }, false,
       "./Zunto_Data/XMLData/SpielzuegeGast/AussenTaeuschenL.xml: The folder ./Zunto_Data/XMLData/SpielzuegeGast does "
       "not exist; no file was changed\n"},
      // Root ignores permission bits: the patcher runs as an unprivileged user.
      {"read-only game executable",
       [](const fs::path& g) {
         for (const auto& entry : fs::recursive_directory_iterator(g)) {
           fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0777) : fs::perms(0666));
         }
         WriteFileBytes(g / "Zunto.exe", "installed");
         fs::permissions(g / "Zunto.exe", fs::perms(0444));
       },
       true, "./Zunto.exe: The file cannot be written (Permission denied); no file was changed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.unprivileged && !CanRunUnprivileged()) {
      std::printf("skipped %s: needs root to switch to an unprivileged user\n", c.what);
      continue;
    }
    fs::remove_all(game_.Path() / "Zunto_Data");
    MakeGameFolder(game_.Path());
    c.spoil(game_.Path());
    const auto before = Snapshot(game_.Path());
    StartOptions options;
    options.unprivileged = c.unprivileged;
    StartedProgram patcher(ZUNTO_PATCHER_EXE, game_.Path(), options);
    const Window window = watcher.AwaitPatcherWindow();
    ASSERT_NE(window, 0u) << patcher.Err();
    ExpectScreenShows(watcher, window, {0, 1, 2}, c.what);
    ASSERT_TRUE(xwindow::PressKey(watcher.display(), window, "space"));
    EXPECT_EQ(patcher.ExitCodeWithin(5000), 255);
    EXPECT_TRUE(watcher.WindowGone());
    EXPECT_EQ(patcher.Err(), c.report);
    fs::remove(game_.Path() / "ZuntoPatcher");
    EXPECT_EQ(Snapshot(game_.Path()), before);
  }
}

// Without a window nothing could end a status screen: the lines go to standard error instead.
TEST_F(PatcherProcess, WithoutADisplayItReportsOnStandardErrorAndEnds) {
  using D = StartOptions::Display;
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> spoil;
    StartOptions options;
    int exitCode;
    std::string err;
    size_t files;  // files and folders below the game folder afterwards, without the patcher
  };
  const std::string failed = "Fehler! Der Patch wurde nicht installiert.\n";
  const std::string unchanged = "Es wurden keine Dateien verändert.\n";
  const std::vector<Case> cases = {
      {"patched, no display", [](const fs::path&) {}, {D::kNone}, 0, "Fertig! Drücke eine Taste zum Beenden.\n", 63},
      {"patched, display unreachable", [](const fs::path&) {}, {D::kUnreachable}, 0,
       "Fertig! Drücke eine Taste zum Beenden.\n", 63},
      {"wrong folder", [](const fs::path& g) { fs::remove(g / "Vellmora.exe"); }, {D::kNone}, 0,
       "Falsches Verzeichnis! Kopiere diesen Patch in deinen Vellmora Ordner.\n", 4},
      {"missing play-set folder", [](const fs::path& g) { fs::remove(g / "Zunto_Data/XMLData/SpielzuegeGast"); },
       {D::kNone}, 255,
       "./Zunto_Data/XMLData/SpielzuegeGast/AussenTaeuschenL.xml: The folder ./Zunto_Data/XMLData/SpielzuegeGast does "
       "not exist; no file was changed\n" + failed + "Der Ordner Zunto_Data/XMLData/SpielzuegeGast fehlt.\n" + unchanged,
       4},
      {"file size limit", [](const fs::path&) {}, {D::kNone, false, 1000000}, 255,
       "./Zunto.exe: Error writing to stream (File too large); no file was changed\n" + failed +
           "Zunto.exe konnte nicht geschrieben werden.\n" + unchanged,
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir game;
    MakeGameFolder(game.Path());
    c.spoil(game.Path());
    const auto start = std::chrono::steady_clock::now();
    StartedProgram patcher(ZUNTO_PATCHER_EXE, game.Path(), c.options);
    EXPECT_EQ(patcher.ExitCodeWithin(5000), c.exitCode);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(patcher.Out(), "");
    EXPECT_EQ(patcher.Err(), c.err);
    fs::remove(game.Path() / "ZuntoPatcher");
    EXPECT_EQ(Snapshot(game.Path()).size(), c.files);
  }
}

// A player who double-clicks twice starts two patchers in one folder. The second waits for the
// first one's export, then writes the same files again; neither may undo or mix the other's work.
// Without a display each run ends as soon as its export does, so twenty pairs take a few seconds.
TEST_F(PatcherProcess, TwoPatchersStartedTogetherBothPatchTheFolder) {
  const std::string done = "Fertig! Drücke eine Taste zum Beenden.\n";
  fs::copy_file(ZUNTO_PATCHER_EXE, game_.Path() / "ZuntoPatcher");
  const std::vector<ExpectedFile> files = ExportedFiles();
  std::vector<std::string> payload;
  for (const ExpectedFile& file : files) payload.push_back(PayloadFile(file.manifestIndex));
  StartOptions options;
  options.display = StartOptions::Display::kNone;
  options.copy = false;
  for (int pair = 0; pair < 20; ++pair) {
    SCOPED_TRACE("pair " + std::to_string(pair));
    // Old files to keep aside and new ones to create, so that a mixed folder shows.
    for (size_t i = 0; i < files.size(); ++i) {
      const fs::path path = game_.Path() / files[i].destination;
      if (i % 2 == 0)
        WriteFileBytes(path, "old contents");
      else
        fs::remove(path);
    }
    WriteFileBytes(game_.Path() / "Vellmora.exe", "installed game executable");
    StartedProgram first(ZUNTO_PATCHER_EXE, game_.Path(), options);
    std::this_thread::sleep_for(std::chrono::milliseconds(pair * 150 / 19));
    StartedProgram second(ZUNTO_PATCHER_EXE, game_.Path(), options);
    EXPECT_EQ(first.ExitCodeWithin(20000), 0);
    EXPECT_EQ(second.ExitCodeWithin(20000), 0);
    EXPECT_EQ(first.Err(), done);
    EXPECT_EQ(second.Err(), done);
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_TRUE(ReadFileBytes(game_.Path() / files[i].destination) == payload[i]) << files[i].destination;
    }
    // And Zunto_Data with the three folders below it, and the patcher: no staging file, kept
    // original, journal or lock file is left.
    const auto entries = fs::recursive_directory_iterator(game_.Path());
    EXPECT_EQ(std::distance(fs::begin(entries), fs::end(entries)), 59 + 4 + 1);
  }
}

// The start-up as the program runs it, seen from a copy of the program that prints its state when
// the export begins.
TEST_F(PatcherProcess, StartUpRegistersFirstThenInitialisesEachModuleOnceWithTheGL2DDriverLast) {
  StartOptions options;
  options.display = StartOptions::Display::kNone;
  StartedProgram probe(ZUNTO_START_ORDER_PROBE, game_.Path(), options);
  ASSERT_EQ(probe.ExitCodeWithin(10000), 0) << probe.Err();
  std::map<std::string, std::vector<std::string>> state;
  std::istringstream lines(probe.Out());
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) state[line.substr(0, colon)].push_back(line.substr(colon + 2));
  }
  using Values = std::vector<std::string>;
  // The payload is registered before any module adds its own resources.
  EXPECT_EQ(state["manifest registered first"], Values{"yes"});
  ASSERT_EQ(state["registered by the modules"].size(), 1u);
  EXPECT_NE(state["registered by the modules"][0].find("kilnfont.bin"), std::string::npos);
  // Windows open with the GL 2D driver; the lazy globals exist before the export, the caption is
  // replaced only after it.
  EXPECT_EQ(state["graphics driver"], Values{"GL 2D"});
  EXPECT_EQ(state["lazy init mask"], Values{"7"});
  EXPECT_EQ(state["window title"], Values{"Zunto Patcher v1.3"});
  EXPECT_EQ(state["application title"], Values{"Kilnworks Application"});
  EXPECT_EQ(state["background"], Values{"640x480"});
  ASSERT_EQ(state["font height"].size(), 1u);
  EXPECT_NE(state["font height"][0], "none");
  // Loaders registered BMP, JPEG, PNG, TGA, each once, are tried the other way round; running the
  // initialisers again changes no registry.
  ASSERT_EQ(state["pixmap loaders"].size(), 2u);
  const std::string loaders = state["pixmap loaders"][0];
  const size_t tga = loaders.find("TGA"), png = loaders.find("PNG"), jpg = loaders.find("JPG"), bmp = loaders.find("BMP");
  EXPECT_TRUE(tga < png && png < jpg && jpg < bmp && bmp != std::string::npos) << loaders;
  EXPECT_EQ(std::count(loaders.begin(), loaders.end(), ' '), 4) << loaders;
  for (const char* registry : {"pixmap loaders", "stream factories", "resources"}) {
    ASSERT_EQ(state[registry].size(), 2u) << registry;
    EXPECT_EQ(state[registry][0], state[registry][1]) << registry;
  }
  EXPECT_EQ(probe.Err(), "Fertig! Drücke eine Taste zum Beenden.\n");
}

TEST(GameFolder, OnlyARegularFileMarksTheGameFolder) {
  kiln::InitFileSystemModule();
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.Path());
  EXPECT_EQ(IsGameFolder(), 0);
  fs::create_directory("Vellmora.exe");
  EXPECT_EQ(IsGameFolder(), 0);
  fs::remove("Vellmora.exe");
  kiln::test::WriteFileBytes("vellmora.exe", "wrong case");
  EXPECT_EQ(IsGameFolder(), 0);
  kiln::test::WriteFileBytes("Vellmora.exe", "");
  EXPECT_EQ(IsGameFolder(), 1);
  fs::current_path(previous);
}

}  // namespace
}  // namespace zunto::test
