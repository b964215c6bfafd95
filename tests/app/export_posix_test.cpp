// The export where other processes, users, permission bits, resource limits or file systems take
// part: children killed part-way, read-only files and folders, small and read-only disks, links.
#include "app/export.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "app/manifest.h"
#include "app/staged_update.h"
#include "app/status_texts.h"
#include "runtime/filesystem/file_commit.h"
#include "tests/app/export_test_support.h"
#include "tests/app/game_folder_fixture.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::WriteFileBytes;

TEST_F(ExportTest, ReplacedFileKeepsItsPermissions) {
  ASSERT_EQ(chmod((Root() / "Vellmora.exe").c_str(), 0751), 0);
  ASSERT_EQ(ExportPayload(), 0);
  EXPECT_EQ(fs::status(Root() / "Vellmora.exe").permissions() & fs::perms::all, static_cast<fs::perms>(0751));
}

// Each case spoils the folder in one way; the export must then write nothing at all.
TEST_F(ExportTest, PreflightFailuresLeaveTheFolderUntouched) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> spoil;
    const char* file;
    FailureCause cause;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"missing home play-set folder", [](const fs::path& r) { fs::remove_all(r / "Zunto_Data/XMLData/Spielzuege"); },
       "./Zunto_Data/XMLData/Spielzuege/AussenTaeuschenL.xml", FailureCause::kFolderMissing,
       "Der Ordner Zunto_Data/XMLData/Spielzuege fehlt.\n"},
      {"missing guest play-set folder",
       [](const fs::path& r) { fs::remove_all(r / "Zunto_Data/XMLData/SpielzuegeGast"); },
       "./Zunto_Data/XMLData/SpielzuegeGast/AussenTaeuschenL.xml", FailureCause::kFolderMissing,
       "Der Ordner Zunto_Data/XMLData/SpielzuegeGast fehlt.\n"},
      {"folder where the game executable belongs",
       [](const fs::path& r) { fs::remove_all(r / "Zunto.exe"), fs::create_directory(r / "Zunto.exe"); }, "./Zunto.exe",
       FailureCause::kFolderInTheWay, "Wo Zunto.exe hingehört, steht ein Ordner.\n"},
      {"folder where the last file belongs",
       [](const fs::path& r) { fs::remove_all(r / "Anleitung.pdf"), fs::create_directory(r / "Anleitung.pdf"); },
       "./Anleitung.pdf", FailureCause::kFolderInTheWay, "Wo Anleitung.pdf hingehört, steht ein Ordner.\n"},
      {"folder where a play-set file belongs",
       [](const fs::path& r) {
         fs::remove_all(r / "Zunto_Data/XMLData/SpielzuegeGast/Schwede.xml");
         fs::create_directories(r / "Zunto_Data/XMLData/SpielzuegeGast/Schwede.xml/x");
       },
       "./Zunto_Data/XMLData/SpielzuegeGast/Schwede.xml", FailureCause::kFolderInTheWay,
       "Wo Zunto_Data/XMLData/SpielzuegeGast/Schwede.xml hingehört, steht ein Ordner.\n"},
      {"named pipe where a launcher belongs",
       [](const fs::path& r) {
         fs::remove(r / "Vellmora_OpenGL.bat"), mkfifo((r / "Vellmora_OpenGL.bat").c_str(), 0644);
       },
       "./Vellmora_OpenGL.bat", FailureCause::kNotAFile,
       "Wo Vellmora_OpenGL.bat hingehört, steht etwas anderes als eine Datei.\n"},
      // Symbolic links are written through; these lead nowhere a file can be written.
      {"link that leads to itself", [](const fs::path& r) { fs::create_symlink("Zunto.exe", r / "Zunto.exe"); },
       "./Zunto.exe", FailureCause::kLinkUnresolvable, "Die Verknüpfung Zunto.exe führt zu keiner Datei.\n"},
      {"link to a folder",
       [](const fs::path& r) {
         fs::remove(r / "PatchLog1.txt"), fs::create_symlink("Zunto_Data", r / "PatchLog1.txt");
       },
       "./Zunto_Data", FailureCause::kFolderInTheWay, "Wo Zunto_Data hingehört, steht ein Ordner.\n"},
      {"link into a missing folder",
       [](const fs::path& r) {
         fs::remove(r / "Anleitung.pdf"), fs::create_symlink("docs/Manual.pdf", r / "Anleitung.pdf");
       },
       "./docs/Manual.pdf", FailureCause::kFolderMissing, "Der Ordner docs fehlt.\n"},
      {"two destinations that lead to one file",
       [](const fs::path& r) {
         fs::remove(r / "PatchLog2.txt"), fs::create_symlink("PatchLog1.txt", r / "PatchLog2.txt");
       },
       "./PatchLog2.txt", FailureCause::kOther, "PatchLog2.txt konnte nicht geschrieben werden.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Root() / "Zunto_Data");
    MakeGameFolder(Root());
    InstallOldFiles(Root());
    c.spoil(Root());
    const auto before = Snapshot(Root());
    EXPECT_EQ(ExportPayload(), -1);
    EXPECT_EQ(Snapshot(Root()), before);
    EXPECT_EQ(LastPatchFailure().file.ToUtf8(), c.file);
    EXPECT_EQ(FailureReport(), FailureReport(c.cause, std::string(c.line) + kUnchanged));
    for (const char* spoilt : {"Zunto.exe", "Anleitung.pdf", "Vellmora_OpenGL.bat", "PatchLog1.txt", "PatchLog2.txt"}) {
      fs::remove_all(Root() / spoilt);
    }
  }
}

// Root ignores permission bits, so the read-only cases run as an unprivileged user.
TEST_F(ExportTest, ReadOnlyDestinationOrFolderLeavesTheFolderUntouched) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  struct Case {
    const char* what;
    fs::path readOnly;
    fs::perms perms;
    FailureCause cause;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"read-only game executable", "Zunto.exe", fs::perms(0444), FailureCause::kFileReadOnlyOrInUse,
       "Zunto.exe ist schreibgeschützt oder wird gerade benutzt.\n"},
      // Too long for the window with its full path: the leading folders go.
      {"read-only play-set file", "Zunto_Data/XMLData/SpielzuegeGast/Kreuzen.xml", fs::perms(0444),
       FailureCause::kFileReadOnlyOrInUse, "SpielzuegeGast/Kreuzen.xml ist schreibgeschützt oder wird gerade benutzt.\n"},
      {"read-only play-set folder", "Zunto_Data/XMLData/SpielzuegeGast", fs::perms(0555), FailureCause::kFolderReadOnly,
       "Der Ordner Zunto_Data/XMLData/SpielzuegeGast ist schreibgeschützt.\n"},
  };
  kiln::test::TempDir outputs;
  fs::permissions(outputs.Path(), fs::perms(0777));
  const fs::path report = outputs.Path() / "report";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallOldFiles(Root());
    if (!fs::is_directory(Root() / c.readOnly)) WriteFileBytes(Root() / c.readOnly, "installed");
    for (const auto& entry : fs::recursive_directory_iterator(Root())) {
      fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0777) : fs::perms(0666));
    }
    fs::permissions(Root(), fs::perms(0777));
    fs::permissions(Root() / c.readOnly, c.perms);
    const auto before = Snapshot(Root());
    const int status = RunInChild([&] {
      if (ExportPayload() != -1) return 1;
      WriteFileBytes(report, FailureReport());
      return LastPatchFailure().reason.ToUtf8().find("Permission denied") != std::string::npos ? 0 : 2;
    }, {.unprivileged = true});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(report), FailureReport(c.cause, std::string(c.line) + kUnchanged));
    EXPECT_EQ(Snapshot(Root()), before);
    fs::permissions(Root() / c.readOnly, fs::perms(0777));
  }
}

// A small file system mounted for the test; mounted only where the process may mount.
class SmallDisk {
 public:
  SmallDisk(const fs::path& at, const char* size) : at_(at) {
    fs::create_directory(at_);
    mounted_ = mount("tmpfs", at_.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted() const { return mounted_; }
  bool MakeReadOnly() { return mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

TEST_F(ExportTest, WriteFaultsOfTheDiskChangeNothing) {
  struct Case {
    const char* what;
    rlim_t fileSizeLimit;  // RLIM_INFINITY: the game folder lies on a disk too small for the patch
    const char* reason;
    FailureCause cause;
    const char* line;
  };
  const std::vector<Case> cases = {
      // Below the game executable's block, above every file staged before it.
      {"file size limit", 8192, "File too large", FailureCause::kOther, "Zunto.exe konnte nicht geschrieben werden.\n"},
      {"full disk", RLIM_INFINITY, "No space left on device", FailureCause::kDiskFull,
       "Auf dem Laufwerk ist nicht genug Platz.\n"},
  };
  kiln::test::TempDir outputs;
  const fs::path report = outputs.Path() / "report";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<SmallDisk> disk;
    fs::path game = Root();
    if (c.fileSizeLimit == RLIM_INFINITY) {
      game = Root() / "small";
      disk = std::make_unique<SmallDisk>(game, "48k");
      if (!disk->Mounted()) {
        std::printf("skipped: this process may not mount a small file system\n");
        continue;
      }
      MakeGameFolder(game);
    }
    fs::current_path(game);
    InstallOldFiles(game);
    const auto before = Snapshot(game);
    const int status = RunInChild(
        [&] {
          if (ExportPayload() != -1) return 1;
          WriteFileBytes(report, FailureReport());
          const std::string reason = LastPatchFailure().reason.ToUtf8();
          return reason.find("Error writing to stream") == 0 && reason.find(c.reason) != std::string::npos ? 0 : 2;
        },
        {.limits = {{RLIMIT_FSIZE, c.fileSizeLimit}}});
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(report), FailureReport(c.cause, std::string(c.line) + kUnchanged));
    EXPECT_EQ(Snapshot(game), before);
    fs::current_path(Root());
  }
}

int killAt = 0;

bool KillAtStep(int step) {
  if (step == killAt) raise(SIGKILL);
  return true;
}

// Runs an export in a child that `setProbe` makes kill itself at step `at` (a staging step, a move
// or a clean-up, by the probe it sets); the child's wait status.
int RunExportKilledAt(int at, void (*setProbe)(bool (*)(int))) {
  killAt = at;
  return RunInChild([setProbe] {
    setProbe(KillAtStep);
    ExportPayload();
    return 0;
  });
}

TEST_F(ExportTest, RunKilledWhileStagingIsCompletedByTheNextRun) {
  InstallOldFiles(Root());
  for (int step : {0, 1, 30, 58}) {
    SCOPED_TRACE(step);
    const int status = RunExportKilledAt(step, SetStagingProbeForTesting);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(HasLeftovers(Snapshot(Root())), step > 0);
    ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
    ExpectFullyPatched();
    EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
  }
}

TEST_F(ExportTest, RunKilledWhileCommittingIsUndoneByTheNextRun) {
  InstallOldFiles(Root());
  const auto original = Snapshot(Root());
  for (int index : {0, 1, 29, 58}) {
    SCOPED_TRACE(index);
    const int status = RunExportKilledAt(index, StagedUpdate::SetCommitProbeForTesting);
    ASSERT_TRUE(WIFSIGNALED(status));
    // The next run fails before writing: what it leaves is the folder as it was before the killed run.
    SetStagingProbeForTesting([](int) { return false; });
    EXPECT_EQ(ExportPayload(), -1);
    SetStagingProbeForTesting(nullptr);
    EXPECT_EQ(Snapshot(Root()), original);
  }
  ASSERT_EQ(ExportPayload(), 0);
  ExpectFullyPatched();
  EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
}

// A copy aside takes the aside name only when it is whole: after a failure half-way a rollback would
// put a partial original over the real one. Root may link any file, so the copy is forced as an
// unprivileged user, who may not link a file of root's that they cannot write.
TEST(FileCommit, CopyAsideIsWholeOrAbsent) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  if (ReadFileBytes("/proc/sys/fs/protected_hardlinks").rfind("1", 0) != 0) {
    GTEST_SKIP() << "links to other users' files are not restricted here";
  }
  const std::string original(20000, 'o');
  struct Case {
    rlim_t fileSizeLimit;
    std::map<std::string, std::string> after;
  };
  const std::vector<Case> cases = {
      {RLIM_INFINITY, {{"Zunto.exe", original}, {".Zunto.exe.zpatch-bak", original}}},
      {8192, {{"Zunto.exe", original}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileSizeLimit);
    kiln::test::TempDir dir;
    fs::permissions(dir.Path(), fs::perms(0777));
    const fs::path path = dir.Path() / "Zunto.exe";
    WriteFileBytes(path, original);
    fs::permissions(path, fs::perms(0644));
    const int status = RunInChild(
        [&] {
          kiln::filecommit::ReportFileSizeLimitAsError();
          const kiln::Text file = kiln::Text::FromUtf8(path.string());
          const bool kept =
              kiln::filecommit::KeepAside(file, StagedUpdate::AsideName(file), StagedUpdate::PartialAsideName(file));
          return kept == (c.fileSizeLimit == RLIM_INFINITY) ? 0 : 1;
        },
        {.unprivileged = true, .limits = {{RLIMIT_FSIZE, c.fileSizeLimit}}});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(Snapshot(dir.Path()) == c.after);
  }
}

// The folder still holds an earlier run's half-done commit that cannot be undone: the report must
// not claim that the folder is as it was.
TEST_F(ExportTest, UnrestorableEarlierRunIsNotReportedAsUnchanged) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  WriteFileBytes(Root() / "PatchLog1.txt", "new contents");
  WriteFileBytes(Root() / ".PatchLog1.txt.zpatch-bak", "old contents");
  fs::permissions(Root(), fs::perms(0555));
  kiln::test::TempDir outputs;
  fs::permissions(outputs.Path(), fs::perms(0777));
  const fs::path report = outputs.Path() / "report";
  const int status = RunInChild([&] {
    if (ExportPayload() != -1) return 1;
    WriteFileBytes(report, FailureReport());
    return LastPatchFailure().folderUnchanged ? 2 : 0;
  }, {.unprivileged = true});
  fs::permissions(Root(), fs::perms(0755));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(report), FailureReport(FailureCause::kEarlierRunNotUndone,
                                                 "Ein abgebrochener Patch-Lauf ließ sich nicht rückgängig machen.\n"
                                                 "PatchLog1.txt konnte nicht wiederhergestellt werden.\n"));
}

// An earlier run completed its update but was killed before it dropped an original it kept aside,
// and that original cannot be removed now: the new file must stay, and the marker must stay for a
// later run, instead of the stale original being put back.
TEST_F(ExportTest, CompletedEarlierRunIsNeverRolledBack) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  ASSERT_EQ(ExportPayload(), 0);
  const fs::path playSet = Root() / "Zunto_Data/XMLData/Spielzuege";
  const std::string patched = ReadFileBytes(playSet / "Daene.xml");
  WriteFileBytes(playSet / ".Daene.xml.zpatch-bak", "old play");
  WriteFileBytes(Root() / ".zpatch-committed", "");
  for (const auto& entry : fs::recursive_directory_iterator(Root())) {
    fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0777) : fs::perms(0666));
  }
  fs::permissions(Root(), fs::perms(0777));
  fs::permissions(playSet, fs::perms(0555));
  kiln::test::TempDir outputs;
  fs::permissions(outputs.Path(), fs::perms(0777));
  const fs::path report = outputs.Path() / "report";
  const int status = RunInChild([&] {
    if (ExportPayload() != -1) return 1;
    WriteFileBytes(report, FailureReport());
    return 0;
  }, {.unprivileged = true});
  fs::permissions(playSet, fs::perms(0755));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(report), FailureReport(FailureCause::kEarlierRunNotFinished,
                                                 "Ein früherer Patch-Lauf ließ sich nicht abschließen.\n"
                                                 "Reste davon bei XMLData/Spielzuege/Daene.xml ließen sich nicht löschen.\n"));
  EXPECT_EQ(ReadFileBytes(playSet / "Daene.xml"), patched);
  EXPECT_TRUE(fs::exists(Root() / ".zpatch-committed"));
  // With the folder writable again the next run finishes the clean-up.
  ASSERT_EQ(ExportPayload(), 0);
  ExpectFullyPatched();
  EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
}

// A file system mounted read-only can take nothing: the report says so, and blames no earlier run.
TEST_F(ExportTest, ReadOnlyDiskIsReportedAsSuch) {
  const fs::path game = Root() / "small";
  SmallDisk disk(game, "1m");
  if (!disk.Mounted()) GTEST_SKIP() << "this process may not mount a small file system";
  MakeGameFolder(game);
  InstallOldFiles(game);
  ASSERT_TRUE(disk.MakeReadOnly());
  const auto before = Snapshot(game);
  fs::current_path(game);
  EXPECT_EQ(ExportPayload(), -1);
  fs::current_path(Root());
  EXPECT_EQ(LastPatchFailureText().ToUtf8(),
            "./Vellmora.exe: No new files can be created in . (Read-only file system)");
  EXPECT_EQ(FailureReport(),
            FailureReport(FailureCause::kDiskReadOnly,
                          std::string("Der Spielordner liegt auf einem schreibgeschützten Laufwerk.\n") + kUnchanged));
  EXPECT_EQ(Snapshot(game), before);
}

// The commit moment of a killed run decides what the folder is afterwards; a next run that fails
// for a reason of its own (here a damaged block) must leave it wholly old or wholly new and say
// what became of the earlier run.
TEST_F(ExportTest, KilledRunThenDamagedPayloadLeavesTheFolderOldOrNew) {
  struct Case {
    const char* what;
    bool whileCleaningUp;  // killed after the commit was recorded
    int at;
  };
  const std::vector<Case> cases = {
      {"killed before the first move", false, 0},
      {"killed half-way through the moves", false, 29},
      {"killed before the last move", false, 58},
      {"killed before the first kept original was dropped", true, 0},
      {"killed while dropping the kept originals", true, 30},
  };
  const int damaged = ManifestIndex("./data/SpielzuegeGast/Kreuzen.xml");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Root() / "Zunto_Data");
    for (const auto& entry : fs::directory_iterator(Root())) fs::remove_all(entry.path());
    MakeGameFolder(Root());
    InstallOldFiles(Root());
    const auto original = Snapshot(Root());
    const int status = RunExportKilledAt(c.at, c.whileCleaningUp ? StagedUpdate::SetCleanUpProbeForTesting
                                                                  : StagedUpdate::SetCommitProbeForTesting);
    ASSERT_TRUE(WIFSIGNALED(status));
    FlipTestBlockBit(damaged, 5);
    EXPECT_EQ(ExportPayload(), -1);
    FlipTestBlockBit(damaged, 5);
    EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
    const std::string damagedLine = "Die Patch-Datei ist beschädigt. Bitte lade sie erneut herunter.\n";
    if (c.whileCleaningUp) {
      ExpectFullyPatched();
      EXPECT_EQ(FailureReport(),
                FailureReport(FailureCause::kPayloadDamaged,
                              damagedLine + "Nur ein abgebrochener früherer Lauf wurde zu Ende geführt.\n"));
    } else {
      EXPECT_EQ(Snapshot(Root()), original);
      EXPECT_EQ(FailureReport(),
                FailureReport(FailureCause::kPayloadDamaged,
                              damagedLine + "Nur ein abgebrochener früherer Lauf wurde rückgängig gemacht.\n"));
    }
  }
}

TEST_F(ExportTest, SymbolicLinkDestinationsAreWrittenThroughAndKept) {
  kiln::test::TempDir elsewhere;
  fs::create_directory(Root() / "bin");
  WriteFileBytes(Root() / "bin/Zunto.exe", "old game");
  WriteFileBytes(Root() / "bin/PatchLog1.txt", "old notes");
  WriteFileBytes(elsewhere.Path() / "Anleitung.pdf", "old manual");
  const std::vector<std::pair<fs::path, fs::path>> links = {
      {"Zunto.exe", "bin/Zunto.exe"},                         // into a sub-folder
      {"Anleitung.pdf", elsewhere.Path() / "Anleitung.pdf"},  // out of the game folder
      {"PatchLog1.txt", "notes"},                             // a chain of two
      {"notes", "bin/PatchLog1.txt"},
      {"Zunto_Data/XMLData/Spielzuege/Daene.xml", "../Daene-real.xml"},  // to a file not made yet
  };
  for (const auto& [link, to] : links) fs::create_symlink(to, Root() / link);
  const auto before = Snapshot(Root()), beforeElsewhere = Snapshot(elsewhere.Path());

  // A run killed before its last move, which is the file out of the game folder, is undone.
  const int status = RunExportKilledAt(58, StagedUpdate::SetCommitProbeForTesting);
  ASSERT_TRUE(WIFSIGNALED(status));
  SetStagingProbeForTesting([](int) { return false; });
  EXPECT_EQ(ExportPayload(), -1);
  SetStagingProbeForTesting(nullptr);
  EXPECT_EQ(Snapshot(Root()), before);
  EXPECT_EQ(Snapshot(elsewhere.Path()), beforeElsewhere);

  ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  ExpectFullyPatched();
  for (const auto& [link, to] : links) {
    ASSERT_TRUE(fs::is_symlink(Root() / link)) << link;
    EXPECT_EQ(fs::read_symlink(Root() / link), to);
  }
  EXPECT_EQ(ReadFileBytes(elsewhere.Path() / "Anleitung.pdf"), TestBlock(ManifestIndex("./data/Anleitung.pdf")));
  EXPECT_EQ(ReadFileBytes(Root() / "Zunto_Data/XMLData/Daene-real.xml"),
            TestBlock(ManifestIndex("./data/Spielzuege/Daene.xml")));
  EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
  EXPECT_EQ(Snapshot(elsewhere.Path()).size(), 1u);
}

// Root may set any owner: a root run in the player's folder leaves every file the player's, with
// its group and mode, so that the player's own next run can replace them again.
TEST_F(ExportTest, RootRunKeepsThePlayersOwnersAndModes) {
  if (!CanRunUnprivileged() || getuid() != 0) GTEST_SKIP() << "needs root and an unprivileged user";
  const passwd* player = getpwnam("nobody");
  ASSERT_NE(player, nullptr);
  const uid_t uid = player->pw_uid;
  const gid_t gid = player->pw_gid, otherGroup = gid == 1 ? 2 : 1;
  InstallOldFiles(Root());
  WriteFileBytes(Root() / "Zunto.exe", "old game");
  fs::permissions(Root(), fs::perms(0755));
  ASSERT_EQ(lchown(Root().c_str(), uid, gid), 0);
  for (const auto& entry : fs::recursive_directory_iterator(Root()))
    ASSERT_EQ(lchown(entry.path().c_str(), uid, gid), 0);
  ASSERT_EQ(chown((Root() / "Zunto.exe").c_str(), uid, otherGroup), 0);
  ASSERT_EQ(chmod((Root() / "Zunto.exe").c_str(), 0750), 0);
  ASSERT_EQ(chmod((Root() / "PatchLog1.txt").c_str(), 0600), 0);

  ASSERT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  for (const auto& entry : fs::recursive_directory_iterator(Root())) {
    struct stat st {};
    ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
    const std::string name = fs::relative(entry.path(), Root()).string();
    EXPECT_EQ(st.st_uid, uid) << name;
    EXPECT_EQ(st.st_gid, name == "Zunto.exe" ? otherGroup : gid) << name;
  }
  EXPECT_EQ(fs::status(Root() / "Zunto.exe").permissions(), fs::perms(0750));
  EXPECT_EQ(fs::status(Root() / "PatchLog1.txt").permissions(), fs::perms(0600));
  EXPECT_FALSE(HasLeftovers(Snapshot(Root())));

  const int status = RunInChild([] { return ExportPayload() == 0 ? 0 : 1; }, {.unprivileged = true});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ExpectFullyPatched();
}

// A second patcher waits for the first: here the test holds the folder, longer than the export
// waits. Nothing may be touched meanwhile, not even what a killed run left.
TEST_F(ExportTest, HeldFolderMakesTheExportWaitAndThenChangeNothing) {
  InstallOldFiles(Root());
  WriteFileBytes(Root() / ".PatchLog1.txt.zpatch-bak", "kept by a killed run");
  WriteFileBytes(Root() / ".Zunto.exe.zpatch-tmp", "staged by a killed run");
  const auto before = Snapshot(Root());
  kiln::filecommit::FolderLock held;
  ASSERT_EQ(kiln::filecommit::TryLockFolder("./", held), kiln::filecommit::LockAttempt::kLocked);
  SetLockWaitForTesting(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExportPayload(), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(LastPatchFailureText().ToUtf8(),
            "./: Another patcher is running in this folder and did not finish within 300 ms");
  EXPECT_EQ(FailureReport(),
            FailureReport(FailureCause::kAnotherPatcherRunning,
                          std::string("Ein anderer Patcher läuft gerade im Spielordner.\n") + kUnchanged));
  EXPECT_EQ(Snapshot(Root()), before);

  // Once the other holder is done, the waiting export goes ahead.
  held.Release();
  std::unique_ptr<kiln::test::ChildProcess> holder = kiln::test::ChildProcess::Fork([] {
    kiln::filecommit::FolderLock mine;
    if (kiln::filecommit::TryLockFolder("./", mine) != kiln::filecommit::LockAttempt::kLocked) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    return 0;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  SetLockWaitForTesting(std::chrono::seconds(60));
  EXPECT_EQ(ExportPayload(), 0) << LastPatchFailureText().ToUtf8();
  EXPECT_EQ(holder->Wait(), 0);
  ExpectFullyPatched();
  EXPECT_FALSE(HasLeftovers(Snapshot(Root())));
}

// The folder itself, and the lock file used where the folder cannot be locked: one holder at a
// time, none blocked by a killed holder, nothing left behind.
TEST(FolderLock, KeepsOutEveryOtherHolderAndLeavesNothingBehind) {
  using kiln::filecommit::LockAttempt;
  for (const bool throughFile : {false, true}) {
    SCOPED_TRACE(throughFile ? "lock file" : "the folder itself");
    kiln::filecommit::SetLockThroughFileForTesting(throughFile);
    kiln::test::TempDir dir;
    const kiln::Text folder = kiln::Text::FromUtf8(dir.Path().string());
    {
      kiln::filecommit::FolderLock first, second;
      ASSERT_EQ(kiln::filecommit::TryLockFolder(folder, first), LockAttempt::kLocked);
      EXPECT_EQ(kiln::filecommit::TryLockFolder(folder, second), LockAttempt::kBusy);
      first.Release();
      EXPECT_EQ(kiln::filecommit::TryLockFolder(folder, second), LockAttempt::kLocked);
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));

    const int killed = RunInChild([&] {
      kiln::filecommit::FolderLock lock;
      if (kiln::filecommit::TryLockFolder(folder, lock) == LockAttempt::kLocked) raise(SIGKILL);
      return 1;
    });
    EXPECT_TRUE(WIFSIGNALED(killed));
    {
      kiln::filecommit::FolderLock lock;
      EXPECT_EQ(kiln::filecommit::TryLockFolder(folder, lock), LockAttempt::kLocked);
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
    if (throughFile && CanRunUnprivileged()) {
      // Left by a killed root run: the player's run still gets the lock, and removes the file.
      WriteFileBytes(dir.Path() / kiln::filecommit::kLockFileName, "");
      fs::permissions(dir.Path(), fs::perms(0777));
      const int status = RunInChild([&] {
        kiln::filecommit::FolderLock lock;
        return kiln::filecommit::TryLockFolder(folder, lock) == LockAttempt::kLocked ? 0 : 1;
      }, {.unprivileged = true});
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_TRUE(fs::is_empty(dir.Path()));
    }

    // Holders racing for it: inside the lock, nobody else is. A lock file removed by one holder
    // while another has just opened it must not let two in.
    const std::string inside = (dir.Path() / "inside").string();
    std::vector<std::unique_ptr<kiln::test::ChildProcess>> holders;
    for (int h = 0; h < 6; ++h) {
      holders.push_back(kiln::test::ChildProcess::Fork([&] {
        for (int round = 0; round < 300; ++round) {
          kiln::filecommit::FolderLock lock;
          while (kiln::filecommit::TryLockFolder(folder, lock) != LockAttempt::kLocked) std::this_thread::yield();
          const int fd = open(inside.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
          if (fd < 0) return 1;
          close(fd);
          unlink(inside.c_str());
        }
        return 0;
      }));
    }
    for (const auto& holder : holders) {
      const int status = holder->Wait();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
  }
  kiln::filecommit::SetLockThroughFileForTesting(false);
}

}  // namespace
}  // namespace zunto::test
