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
#include "tests/support/child_process.h"
#include "tests/support/x_server.h"
#include "tools/screenshot/x_window.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::TempDir;
using kiln::test::WriteFileBytes;

constexpr const char* kCaption = "Zunto Patcher v1.3";

struct StartOptions {
  enum class Display { kShared, kNone, kUnreachable } display = Display::kShared;
  bool unprivileged = false;
  rlim_t fileSizeLimit = RLIM_INFINITY;
  // False: the program is in the folder already, and stays there.
  bool copy = true;
};

// A program copied into `folder` and started from another working directory, with its standard
// output and error kept in files. Killed when it is still running at the end of the test.
class StartedProgram {
 public:
  StartedProgram(const fs::path& program, const fs::path& folder, StartOptions options = {})
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
    process_ = kiln::test::ChildProcess::Start({exe_.string()}, child);
  }
  ~StartedProgram() {
    process_->Kill();
    if (copied_) fs::remove(exe_);
  }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  // The exit code once the program has ended within `ms`; -1 when it still runs; -2 for a signal.
  int ExitCodeWithin(int ms) {
    if (!process_->WaitFor(ms)) return -1;
    return process_->Signal() != 0 ? -2 : process_->ExitCode();
  }
  std::string Out() const { return process_->Out(); }
  std::string Err() const { return process_->Err(); }

 private:
  TempDir elsewhere_;
  fs::path exe_;
  bool copied_;
  std::unique_ptr<kiln::test::ChildProcess> process_;
};

// The test's own connection to the X server, as another client sees the patcher's window.
class Watcher {
 public:
  Watcher() : display_(kiln::test::EnsureXServer() ? XOpenDisplay(nullptr) : nullptr) {}
  ~Watcher() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  Display* display() const { return display_; }
  Window AwaitPatcherWindow() { return xwindow::AwaitWindow(display_, kCaption, 15000); }
  // Input reaches the screen only once it runs: the window is mapped before input tracking starts.
  bool AwaitFirstFrames(Window window) { return bool(xwindow::GrabSettledWindow(display_, window, 5000)); }
  // The window of a patcher that has ended may linger for a moment, under an id the next one reuses.
  bool WindowGone() { return xwindow::AwaitNoWindow(display_, kCaption, 3000); }

 private:
  Display* display_;
};

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

std::string PayloadFile(int manifestIndex) {
  const std::string source = PayloadManifest()[static_cast<size_t>(manifestIndex)].resource;
  return ReadFileBytes(fs::path(ZUNTO_PAYLOAD_ROOT) / source.substr(2));
}

class PatcherProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameFolder(game_.Path());
    fs::permissions(game_.Path(), fs::perms(0777));
  }
  void ExpectScreenShows(Watcher& watcher, Window window, const std::vector<int>& topLines, const char* what) {
    SCOPED_TRACE(what);
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(watcher.display(), window, &attributes));
    ASSERT_EQ(attributes.width, 640);
    ASSERT_EQ(attributes.height, 480);
    const kiln::Ref<kiln::TPixmap> shot = xwindow::GrabSettledWindow(watcher.display(), window, 5000);
    ASSERT_TRUE(shot);
    EXPECT_EQ(BackgroundMismatches(shot), 0);
    EXPECT_GT(TextPixels(shot, kVersionLabel), 20);
    EXPECT_GT(TextPixels(shot, kBottomLine), 100);
    for (int line = 0; line < 3; ++line) {
      const bool shown = std::find(topLines.begin(), topLines.end(), line) != topLines.end();
      if (shown) EXPECT_GT(TextPixels(shot, kTopLine[line]), 100) << "top line " << line;
      else EXPECT_EQ(TextPixels(shot, kTopLine[line]), 0) << "top line " << line;
    }
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
