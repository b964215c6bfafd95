// The export on Windows against files that another program holds, as a running game holds its
// executable: the export fails naming the file, changes nothing, and succeeds once it is free.
#include <windows.h>

#include <filesystem>
#include <string>

#include "app/export.h"
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
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  fs::copy_file(self, Root() / "Zunto.exe");
  const std::wstring game = (Root() / "Zunto.exe").wstring();
  std::wstring command = L"\"" + game + L"\" --gtest_filter=ExportInUseChild.RunsUntilToldToEnd";
  SetEnvironmentVariableW(L"KILN_RUNNING_GAME_FOLDER", Root().wstring().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessW(game.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(L"KILN_RUNNING_GAME_FOLDER", nullptr);
  ASSERT_TRUE(started);
  for (int waited = 0; waited < 3000 && !fs::exists(Root() / "started"); ++waited) Sleep(10);
  const auto before = Snapshot(Root());
  EXPECT_EQ(ExportPayload(), -1);
  EXPECT_EQ(LastPatchFailure().file.ToUtf8(), "./Zunto.exe") << LastPatchFailureText().ToUtf8();
  EXPECT_EQ(LastPatchFailure().cause, FailureCause::kFileReadOnlyOrInUse);
  EXPECT_EQ(Snapshot(Root()), before);

  WriteFileBytes(Root() / "go", "");
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  ExpectFullyPatched();
}

}  // namespace
}  // namespace zunto::test
