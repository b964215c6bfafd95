// The export's results and its all-or-nothing rule where no other process, user or file system
// takes part; these run on every platform.
#include "app/export.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/manifest.h"
#include "app/staged_update.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/file_commit.h"
#include "runtime/filesystem/filesystem.h"
#include "tests/app/export_test_support.h"
#include "tests/app/game_folder_fixture.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::WriteFileBytes;

TEST_F(ExportTest, CleanRunWritesEveryFileAndNothingElse) {
  ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  ExpectFullyPatched();
  EXPECT_TRUE(LastPatchFailureText().IsEmpty());
  int top = 0, home = 0, guest = 0;
  for (const auto& [name, bytes] : Snapshot(Root())) {
    if (bytes == "<dir>") continue;
    if (name.find('/') == std::string::npos) ++top;
    else if (name.rfind("Zunto_Data/XMLData/Spielzuege/", 0) == 0) ++home;
    else if (name.rfind("Zunto_Data/XMLData/SpielzuegeGast/", 0) == 0) ++guest;
    else ADD_FAILURE() << "unexpected file " << name;
  }
  EXPECT_EQ(top, 11);
  EXPECT_EQ(home, 24);
  EXPECT_EQ(guest, 24);
}

TEST_F(ExportTest, ExistingFilesEndExactlyAsTheBlocks) {
  // An empty block empties its file; a longer old file is cut to the new length.
  WriteFileBytes(Root() / "Vellmora_DirectX_Debug.bat", "Zunto.exe -old -switches\r\n");
  WriteFileBytes(Root() / "PatchLog1.txt", std::string(100000, 'x'));
  ASSERT_EQ(ExportPayload(), 0);
  EXPECT_EQ(fs::file_size(Root() / "Vellmora_DirectX_Debug.bat"), 0u);
  EXPECT_EQ(ReadFileBytes(Root() / "PatchLog1.txt"), TestBlock(ManifestIndex("./data/PatchLog1.txt")));
  ExpectFullyPatched();
}

TEST_F(ExportTest, SecondRunLeavesTheSameFolder) {
  InstallOldFiles(Root());
  ASSERT_EQ(ExportPayload(), 0);
  const auto once = Snapshot(Root());
  ASSERT_EQ(ExportPayload(), 0);
  EXPECT_EQ(Snapshot(Root()), once);
}

TEST_F(ExportTest, DebugLinesNameEveryStepInExportOrder) {
  static std::vector<std::string> lines;
  lines.clear();
  kiln::SetDebugLineHook([](const kiln::Text& line) { lines.push_back(line.ToUtf8()); });
  ASSERT_EQ(ExportPayload(), 0);
  ASSERT_EQ(lines.size(), 59u);
  const std::vector<std::pair<size_t, std::string>> expected = {
      {0, "Export ./data/Vellmora.exe nach: ./Vellmora.exe"},
      {1, "Export ./data/Zunto.exe nach: ./Zunto.exe"},
      {2, "Export ./data/PatchLog1.txt nach: ./PatchLog1.txt"},
      {3, "Export ./data/GameplayRegelMenue.pdf nach: ./GameplayRegelMenue.pdf"},
      {4, "Export ./data/Vellmora_DirectX.bat nach: ./Vellmora_DirectX.bat"},
      {5, "Export ./data/Vellmora_DirectX_Debug.bat nach: ./Vellmora_DirectX_Debug.bat"},
      {6, "Export ./data/Vellmora_OpenGL.bat nach: ./Vellmora_OpenGL.bat"},
      {7, "Export ./data/Vellmora_OpenGL_Debug.bat nach: ./Vellmora_OpenGL_Debug.bat"},
      {8, "Export ./data/Spielzuege/AussenTaeuschenL.xml nach: ./Zunto_Data/XMLData/Spielzuege/AussenTaeuschenL.xml"},
      {15, "Export ./data/Spielzuege/Daene.xml nach: ./Zunto_Data/XMLData/Spielzuege/Daene.xml"},
      {31, "Export ./data/Spielzuege/TaeuschKreuzRechts.xml nach: ./Zunto_Data/XMLData/Spielzuege/TaeuschKreuzRechts.xml"},
      {32, "Export ./data/SpielzuegeGast/AussenTaeuschenL.xml nach: "
           "./Zunto_Data/XMLData/SpielzuegeGast/AussenTaeuschenL.xml"},
      {55, "Export ./data/SpielzuegeGast/TaeuschKreuzRechts.xml nach: "
           "./Zunto_Data/XMLData/SpielzuegeGast/TaeuschKreuzRechts.xml"},
      {56, "Export ./data/PatchLog2.txt nach: ./PatchLog2.txt"},
      {57, "Export ./data/PatchLog3.txt nach: ./PatchLog3.txt"},
      {58, "Export ./data/Anleitung.pdf nach: ./Anleitung.pdf"},
  };
  for (const auto& [at, line] : expected) EXPECT_EQ(lines[at], line) << "step " << at + 1;
}

TEST_F(ExportTest, ModificationTimesFollowExportOrder) {
  InstallOldFiles(Root());
  ASSERT_EQ(ExportPayload(), 0);
  fs::file_time_type previous = fs::file_time_type::min();
  std::string previousName;
  for (const ExpectedFile& file : ExportedFiles()) {
    const fs::file_time_type written = fs::last_write_time(Root() / file.destination);
    EXPECT_TRUE(written >= previous) << file.destination << " is older than " << previousName;
    previous = written;
    previousName = file.destination;
  }
}

TEST_F(ExportTest, SmallerExportsReplaceTheirOwnFilesOnly) {
  ASSERT_EQ(ExportPlaySetFolder("SpielzuegeGast", "./Zunto_Data/"), 0);
  EXPECT_EQ(Snapshot(Root() / "Zunto_Data/XMLData/SpielzuegeGast").size(), 24u);
  EXPECT_TRUE(fs::is_empty(Root() / "Zunto_Data/XMLData/Spielzuege"));
  EXPECT_EQ(ReadFileBytes(Root() / "Zunto_Data/XMLData/SpielzuegeGast/Daene.xml"),
            TestBlock(ManifestIndex("./data/SpielzuegeGast/Daene.xml")));

  ASSERT_EQ(ExportResourceFile("./data/PatchLog3.txt", "./Notes.txt"), 0);
  EXPECT_EQ(ReadFileBytes(Root() / "Notes.txt"), TestBlock(ManifestIndex("./data/PatchLog3.txt")));
  const auto before = Snapshot(Root());
  EXPECT_EQ(ExportResourceFile("./data/NotInThePatch.txt", "./x.txt"), -1);
  EXPECT_EQ(ExportResourceFile("./data/PatchLog3.txt", "./NoSuchFolder/x.txt"), -1);
  EXPECT_EQ(Snapshot(Root()), before);
}

// Passes the first bytes through, then stores nothing, like a disk that fills up mid-file.
class FillingStream : public kiln::TStreamWrapper {
 public:
  int Write(const void* buf, int count) override {
    if (written_ >= 100) return 0;
    int n = Inner().Write(buf, std::min(count, 100 - written_));
    written_ += n;
    return n;
  }
  int Close() override {
    Inner().Close();
    throw kiln::TStreamWriteException();
  }

 private:
  int written_ = 0;
};

int openedFiles = 0;
int failingFile = 0;

kiln::Ref<kiln::TStream> OpenFailingAt(const kiln::Text& path) {
  kiln::Ref<kiln::TStream> file = kiln::OpenFileForWriting(path);
  if (openedFiles++ != failingFile || !file) return file;
  auto failing = kiln::MakeRef<FillingStream>();
  failing->SetStream(file);
  return failing;
}

TEST_F(ExportTest, WriteFailureAtAnyFileChangesNothing) {
  InstallOldFiles(Root());
  const auto before = Snapshot(Root());
  const std::vector<ExpectedFile> files = ExportedFiles();
  kiln::filecommit::SetDiskSyncForTesting(false);  // 59 runs; what is on the disk is what counts here, not when
  SetStagingOpenerForTesting(OpenFailingAt);
  for (failingFile = 0; failingFile < 59; ++failingFile) {
    SCOPED_TRACE(files[static_cast<size_t>(failingFile)].destination);
    openedFiles = 0;
    EXPECT_EQ(ExportPayload(), -1);
    EXPECT_EQ(LastPatchFailure().file.ToUtf8(), files[static_cast<size_t>(failingFile)].destination);
    EXPECT_EQ(LastPatchFailure().reason.ToUtf8().rfind("Error writing to stream", 0), 0u);
    EXPECT_EQ(Snapshot(Root()), before);
  }
}

int failingCommit = 0;

TEST_F(ExportTest, CommitFailureAtAnyFileRestoresEveryOriginal) {
  InstallOldFiles(Root());
  const auto before = Snapshot(Root());
  kiln::filecommit::SetDiskSyncForTesting(false);
  StagedUpdate::SetCommitProbeForTesting([](int index) { return index != failingCommit; });
  for (failingCommit = 0; failingCommit < 59; ++failingCommit) {
    SCOPED_TRACE(failingCommit);
    EXPECT_EQ(ExportPayload(), -1);
    EXPECT_EQ(Snapshot(Root()), before);
  }
  StagedUpdate::SetCommitProbeForTesting(nullptr);
  ASSERT_EQ(ExportPayload(), 0);
  ExpectFullyPatched();
}

TEST_F(ExportTest, DamagedBlockWritesNothing) {
  InstallOldFiles(Root());
  const auto before = Snapshot(Root());
  // The last block exported: verification must come before the first write.
  const int last = ManifestIndex("./data/Anleitung.pdf");
  FlipTestBlockBit(last, 77);
  EXPECT_EQ(ExportPayload(), -1);
  FlipTestBlockBit(last, 77);
  EXPECT_EQ(LastPatchFailure().file.ToUtf8(), "./data/Anleitung.pdf");
  EXPECT_NE(LastPatchFailure().reason.ToUtf8().find("damaged"), std::string::npos);
  EXPECT_EQ(FailureReport(), FailureReport(FailureCause::kPayloadDamaged,
                                           std::string("Die Patch-Datei ist beschädigt. Bitte lade sie erneut herunter.\n") +
                                               kUnchanged));
  EXPECT_EQ(Snapshot(Root()), before);
}

// Where the file system has no hard links the original is copied aside; a run killed during that
// copy leaves a partial copy that must never be taken for the original.
TEST_F(ExportTest, PartialCopyAsideOfAKilledRunIsDiscarded) {
  InstallOldFiles(Root());
  const auto original = Snapshot(Root());
  WriteFileBytes(Root() / ".PatchLog1.txt.zpatch-part", "old con");
  SetStagingProbeForTesting([](int) { return false; });
  EXPECT_EQ(ExportPayload(), -1);
  SetStagingProbeForTesting(nullptr);
  EXPECT_EQ(Snapshot(Root()), original);
}

TEST_F(ExportTest, RunKilledAfterCommittingIsFinishedByTheNextRun) {
  ASSERT_EQ(ExportPayload(), 0);
  // What a run killed while dropping its kept originals leaves behind.
  WriteFileBytes(Root() / ".Zunto.exe.zpatch-bak", "old game executable");
  WriteFileBytes(Root() / "Zunto_Data/XMLData/Spielzuege/.Daene.xml.zpatch-new", "");
  WriteFileBytes(Root() / ".zpatch-committed", "");
  ASSERT_EQ(ExportPayload(), 0);
  ExpectFullyPatched();
  EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
}

// What earlier runs may have left, in this format and the earlier one with a mark beside each new
// file. The next run, failing before it writes, must leave the folder as it was before them.
TEST_F(ExportTest, LeftoversOfEarlierRunsAreUndoneOrKept) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> left;  // file -> bytes, written over the original folder
    bool undone;                              // the earlier run had changed the folder
    FailureCause cause;
    const char* removed = nullptr;  // a folder the player removed since
  };
  const std::vector<Case> cases = {
      {"earlier format, killed while moving",
       {{"PatchLog1.txt", "new notes"},
        {".PatchLog1.txt.zpatch-bak", "old contents of ./PatchLog1.txt"},
        {"Zunto.exe", "new game"},
        {".Zunto.exe.zpatch-new", ""},
        {".Anleitung.pdf.zpatch-tmp", "new manual"},
        {"Zunto_Data/XMLData/Spielzuege/.Daene.xml.zpatch-part", "old co"}},
       true,
       FailureCause::kOther},
      {"journal of a run killed while moving",
       {{"PatchLog1.txt", "new notes"},
        {".PatchLog1.txt.zpatch-bak", "old contents of ./PatchLog1.txt"},
        {"Zunto.exe", "new game"},
        {".zpatch-journal", "zpatch-journal 1\nkept ./PatchLog1.txt\nnew ./Zunto.exe\nend\n"}},
       true,
       FailureCause::kOther},
      // The mark and the moves reach the disk together; after a power cut the mark may be there
      // while a move is not.
      {"mark of a run whose last move did not reach the disk",
       {{"PatchLog1.txt", "new notes"},
        {".PatchLog1.txt.zpatch-bak", "old contents of ./PatchLog1.txt"},
        {"Zunto.exe", "new game"},
        {".Anleitung.pdf.zpatch-tmp", "new manual"},
        {".zpatch-committed", "zpatch-journal 1\nkept ./PatchLog1.txt\nnew ./Zunto.exe\nkept ./Anleitung.pdf\nend\n"}},
       true, FailureCause::kOther},
      // Written before anything was moved: the files it calls new are the player's own.
      {"journal cut short",
       {{"Zunto.exe", "the player's own file"},
        {".Anleitung.pdf.zpatch-tmp", "new manual"},
        {".zpatch-journal", "zpatch-journal 1\nnew ./Zunto.exe\nnew ./Anlei"}},
       false,
       FailureCause::kOther},
      {"journal of a form this patcher does not know",
       {{"Zunto.exe", "new game"}, {".zpatch-journal", "zpatch-journal 7\nreplaced ./Zunto.exe\nend\n"}},
       false,
       FailureCause::kEarlierRunNotUndone},
      {"journal of a run killed while moving, a play-set folder gone since",
       {{"Zunto.exe", "new game"}, {".zpatch-journal", "zpatch-journal 1\nnew ./Zunto.exe\nend\n"}},
       true,
       FailureCause::kFolderMissing,
       "Zunto_Data/XMLData/SpielzuegeGast"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Root() / "Zunto_Data");
    for (const auto& entry : fs::directory_iterator(Root())) fs::remove_all(entry.path());
    MakeGameFolder(Root());
    InstallOldFiles(Root());
    if (c.removed != nullptr) fs::remove_all(Root() / c.removed);
    auto expected = Snapshot(Root());
    for (const auto& [file, bytes] : c.left) WriteFileBytes(Root() / file, bytes);
    if (!c.undone) expected = Snapshot(Root());
    SetStagingProbeForTesting([](int) { return false; });
    EXPECT_EQ(ExportPayload(), -1);
    SetStagingProbeForTesting(nullptr);
    EXPECT_EQ(LastPatchFailure().cause, c.cause) << LastPatchFailureText().ToUtf8();
    EXPECT_EQ(LastPatchFailure().earlierRun, c.undone ? EarlierRun::kUndone : EarlierRun::kNone);
    if (c.cause == FailureCause::kEarlierRunNotUndone) {
      // Nothing is touched when the journal cannot be read.
      EXPECT_FALSE(LastPatchFailure().folderUnchanged);
      EXPECT_EQ(Snapshot(Root()), expected);
      continue;
    }
    auto left = Snapshot(Root());
    EXPECT_FALSE(HasLeftovers(left));
    if (!c.undone) {
      for (const auto& [file, bytes] : c.left) {
        if (file.find("zpatch") != std::string::npos) expected.erase(file);
      }
    }
    EXPECT_EQ(left, expected);
  }
}

}  // namespace
}  // namespace zunto::test
