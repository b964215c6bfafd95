// The export on Windows against a file that another program holds without delete sharing, as a
// running game holds its executable: the export fails naming the file as in use, changes nothing,
// and succeeds once the file is free.
#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/export.h"
#include "app/manifest.h"
#include "app/status_texts.h"
#include "tests/app/game_folder_fixture.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::WriteFileBytes;

HANDLE held = INVALID_HANDLE_VALUE;
fs::path heldFile;

void Hold() { held = CreateFileW(heldFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr); }
void LetGo() {
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  held = INVALID_HANDLE_VALUE;
}
// The game starts while the last file is staged, after every file was checked.
bool HoldAtLastStep(int step) {
  if (step == 58) Hold();
  return true;
}

class ExportInUse : public GameFolderTest {
 protected:
  void TearDown() override {
    LetGo();
    GameFolderTest::TearDown();
  }
};

TEST_F(ExportInUse, HeldFileFailsTheExportAndChangesNothingUntilItIsFree) {
  const kiln::Text otherBase(u"./Spielst\u00E4nde \u00C4lter/");
  const fs::path otherFolder = Root() / fs::path(u"Spielst\u00E4nde \u00C4lter/XMLData/SpielzuegeGast");
  struct Case {
    const char* what;
    bool late;
    std::function<int()> run;
    fs::path file;
    kiln::Text named;
    const char* block;
  };
  const std::vector<Case> cases = {
      {"held before the export", false, ExportPayload, "Zunto.exe", "./Zunto.exe", "./data/Zunto.exe"},
      {"held once every file was checked", true, ExportPayload, "Zunto.exe", "./Zunto.exe", "./data/Zunto.exe"},
      {"held below a folder with umlauts", false, [&] { return ExportPlaySetFolder("SpielzuegeGast", otherBase); },
       otherFolder / "Schwede.xml", otherBase + "XMLData/SpielzuegeGast/Schwede.xml",
       "./data/SpielzuegeGast/Schwede.xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(otherFolder);
    heldFile = Root() / c.file;
    WriteFileBytes(heldFile, "installed");
    const auto before = Snapshot(Root());
    if (c.late)
      SetStagingProbeForTesting(HoldAtLastStep);
    else
      Hold();
    EXPECT_EQ(c.run(), -1);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastPatchFailure().file, c.named) << LastPatchFailureText().ToUtf8();
    EXPECT_EQ(LastPatchFailure().cause, FailureCause::kFileReadOnlyOrInUse);
    const std::vector<kiln::Text> lines = FailureLines(LastPatchFailure());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].EndsWith(u" ist schreibgesch\u00FCtzt oder wird gerade benutzt.")) << lines[0].ToUtf8();
    EXPECT_EQ(lines[1], kiln::Text(u"Es wurden keine Dateien ver\u00E4ndert."));
    EXPECT_EQ(Snapshot(Root()), before);

    LetGo();
    SetStagingProbeForTesting(nullptr);
    ASSERT_EQ(c.run(), 0) << LastPatchFailureText().ToUtf8();
    EXPECT_EQ(kiln::test::ReadFileBytes(heldFile), TestBlock(ManifestIndex(c.block)));
  }
  ExpectFullyPatched();
  for (const auto& [name, bytes] : Snapshot(Root())) EXPECT_EQ(name.find("zpatch"), std::string::npos) << name;
}

}  // namespace
}  // namespace zunto::test
