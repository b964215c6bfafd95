// The export on Windows against files that another program holds, as a running game holds its
// executable: the export fails naming the file, changes nothing, and succeeds once it is free. And
// an export that the system ends half-way through its commit is undone by the next one.
#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/export.h"
#include "app/staged_update.h"
#include "app/manifest.h"
#include "app/status_texts.h"
#include "tests/app/game_folder_fixture.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::WriteFileBytes;

// A handle of another program, kept without delete sharing.
class Held {
 public:
  Held() = default;
  explicit Held(const fs::path& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) { Open(path, share); }
  ~Held() { Close(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  bool Open(const fs::path& path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    Close();
    handle_ = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// `program` run with one test of this suite and `environment` added; its output is discarded.
class Child {
 public:
  Child(const fs::path& program, const wchar_t* test,
        const std::vector<std::pair<const wchar_t*, std::wstring>>& environment) {
    std::wstring command = L"\"" + program.wstring() + L"\" --gtest_filter=" + test;
    for (const auto& [name, value] : environment) SetEnvironmentVariableW(name, value.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    started_ = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_) != 0;
    for (const auto& [name, value] : environment) SetEnvironmentVariableW(name, nullptr);
  }
  ~Child() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool Started() const { return started_; }
  // The exit code, or -1 when it did not end within 30 s.
  int64_t Wait() {
    DWORD code = 0;
    if (!started_ || WaitForSingleObject(process_.hProcess, 30000) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

fs::path ThisProgram() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return self;
}

std::string PlayerLines() {
  std::string lines;
  for (const kiln::Text& line : FailureLines(LastPatchFailure())) lines += line.ToUtf8() + "\n";
  return lines;
}

bool HasLeftovers(const fs::path& root) {
  for (const auto& [name, bytes] : Snapshot(root)) {
    if (name.find("zpatch") != std::string::npos) return true;
  }
  return false;
}

// The game starts while the last file is being staged, after every file was checked.
Held lateHolder;
fs::path lateHeldFile;
bool HoldLateFile(int step) {
  if (step == 58 && !lateHolder.Open(lateHeldFile)) ADD_FAILURE() << "cannot hold " << lateHeldFile;
  return true;
}

class ExportInUse : public GameFolderTest {
 protected:
  void TearDown() override {
    lateHolder.Close();
    GameFolderTest::TearDown();
  }
};

TEST_F(ExportInUse, HeldFileFailsTheExportAndChangesNothingUntilItIsClosed) {
  struct Case {
    const char* what;
    bool late;
  };
  for (const Case& c : {Case{"held before the export", false}, Case{"held once every file was checked", true}}) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(Root() / "Zunto.exe", "installed game");
    WriteFileBytes(Root() / "PatchLog1.txt", "old notes");
    WriteFileBytes(Root() / "Zunto_Data/XMLData/Spielzuege/Daene.xml", "old play set");
    const auto before = Snapshot(Root());
    Held game;
    if (c.late) {
      lateHeldFile = Root() / "Zunto.exe";
      SetStagingProbeForTesting(HoldLateFile);
    } else {
      ASSERT_TRUE(game.Open(Root() / "Zunto.exe"));
    }
    EXPECT_EQ(ExportPayload(), -1);
    EXPECT_EQ(LastPatchFailure().file.ToUtf8(), "./Zunto.exe") << LastPatchFailureText().ToUtf8();
    EXPECT_EQ(LastPatchFailure().cause, FailureCause::kFileReadOnlyOrInUse);
    EXPECT_TRUE(LastPatchFailure().folderUnchanged);
    EXPECT_EQ(PlayerLines(),
              "Zunto.exe ist schreibgeschützt oder wird gerade benutzt.\nEs wurden keine Dateien verändert.\n");
    EXPECT_EQ(Snapshot(Root()), before);

    game.Close();
    lateHolder.Close();
    SetStagingProbeForTesting(nullptr);
    ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
    ExpectFullyPatched();
    EXPECT_FALSE(HasLeftovers(Root()));
  }
}

TEST_F(ExportInUse, PlaySetBelowANonAsciiFolderGoesThroughWideNames) {
  const kiln::Text base(u"./Spielz\u00FCge \u00C4lter/");
  const fs::path folder = Root() / fs::path(u"Spielz\u00FCge \u00C4lter/XMLData/SpielzuegeGast");
  fs::create_directories(folder);
  WriteFileBytes(folder / "Schwede.xml", "old play set");
  const auto before = Snapshot(Root());
  {
    Held reader(folder / "Schwede.xml", FILE_SHARE_READ);
    EXPECT_EQ(ExportPlaySetFolder("SpielzuegeGast", base), -1);
    EXPECT_EQ(LastPatchFailure().file, base + "XMLData/SpielzuegeGast/Schwede.xml");
    EXPECT_EQ(LastPatchFailure().cause, FailureCause::kFileReadOnlyOrInUse);
    EXPECT_EQ(Snapshot(Root()), before);
  }
  ASSERT_EQ(ExportPlaySetFolder("SpielzuegeGast", base), 0) << LastPatchFailureText().ToUtf8();
  int written = 0;
  for (const ManifestEntry& entry : PayloadManifest()) {
    if (PlaySetFolderOf(entry.resource) != kiln::Text("SpielzuegeGast")) continue;
    const std::string name = std::string(entry.resource).substr(std::string("./data/SpielzuegeGast/").size());
    EXPECT_EQ(ReadFileBytes(folder / name), TestBlock(ManifestIndex(entry.resource))) << name;
    ++written;
  }
  EXPECT_EQ(written, 24);
  EXPECT_FALSE(HasLeftovers(Root()));
}

// The running game of the next test: a copy of this program that waits until told to end.
TEST(ExportInUseChild, RunsUntilToldToEnd) {
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KILN_RUNNING_GAME_FOLDER", folder, MAX_PATH) == 0) GTEST_SKIP() << "run by ExportInUse";
  WriteFileBytes(fs::path(folder) / "started", "");
  for (int waited = 0; waited < 3000 && !fs::exists(fs::path(folder) / "go"); ++waited) Sleep(10);
}

TEST_F(ExportInUse, RunningGameExecutableIsReportedInUse) {
  fs::copy_file(ThisProgram(), Root() / "Zunto.exe");
  {
    Child game(Root() / "Zunto.exe", L"ExportInUseChild.RunsUntilToldToEnd",
               {{L"KILN_RUNNING_GAME_FOLDER", Root().wstring()}});
    ASSERT_TRUE(game.Started());
    for (int waited = 0; waited < 3000 && !fs::exists(Root() / "started"); ++waited) Sleep(10);
    const auto before = Snapshot(Root());
    EXPECT_EQ(ExportPayload(), -1);
    EXPECT_EQ(LastPatchFailure().file.ToUtf8(), "./Zunto.exe") << LastPatchFailureText().ToUtf8();
    EXPECT_EQ(LastPatchFailure().cause, FailureCause::kFileReadOnlyOrInUse);
    EXPECT_EQ(Snapshot(Root()), before);
    WriteFileBytes(Root() / "go", "");
    EXPECT_EQ(game.Wait(), 0);
  }
  ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  ExpectFullyPatched();
}

// The export of the next test, ended by the system before it moves file `at` into place.
int killAtCommit = -1;
TEST(ExportKilledChild, EndsWhileCommitting) {
  wchar_t folder[MAX_PATH] = {}, at[16] = {};
  if (GetEnvironmentVariableW(L"KILN_KILLED_EXPORT_FOLDER", folder, MAX_PATH) == 0 ||
      GetEnvironmentVariableW(L"KILN_KILLED_EXPORT_AT", at, 16) == 0) {
    GTEST_SKIP() << "run by ExportInUse";
  }
  RegisterTestPayload();
  fs::current_path(folder);
  killAtCommit = _wtoi(at);
  StagedUpdate::SetCommitProbeForTesting([](int index) {
    if (index == killAtCommit) TerminateProcess(GetCurrentProcess(), 9);
    return true;
  });
  ExportPayload();
  ExitProcess(1);
}

// Originals kept under a second name of the same file are put back by the next run, which ends
// before it writes anything of its own.
TEST_F(ExportInUse, ExportEndedWhileCommittingIsUndoneByTheNextRun) {
  int n = 0;
  for (const ExpectedFile& file : ExportedFiles()) {
    if (n++ % 2 == 0) WriteFileBytes(Root() / file.destination, "old contents of " + file.destination);
  }
  const auto original = Snapshot(Root());
  for (int index : {0, 1, 29, 58}) {
    SCOPED_TRACE(index);
    Child killed(ThisProgram(), L"ExportKilledChild.EndsWhileCommitting",
                 {{L"KILN_KILLED_EXPORT_FOLDER", Root().wstring()}, {L"KILN_KILLED_EXPORT_AT", std::to_wstring(index)}});
    ASSERT_EQ(killed.Wait(), 9);
    EXPECT_TRUE(HasLeftovers(Root()));
    SetStagingProbeForTesting([](int) { return false; });
    EXPECT_EQ(ExportPayload(), -1);
    SetStagingProbeForTesting(nullptr);
    EXPECT_EQ(Snapshot(Root()), original);
  }
  ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  ExpectFullyPatched();
  EXPECT_FALSE(HasLeftovers(Root()));
}

}  // namespace
}  // namespace zunto::test
