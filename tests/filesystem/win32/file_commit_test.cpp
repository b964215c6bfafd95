// The Windows side of the crash-safe replacement: what real failures are reported as, the moves and
// second names it relies on, links, and the folder lock across processes.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/core/win32/wide_names.h"
#include "runtime/filesystem/file_commit.h"
#include "tests/support/temp_dir.h"

namespace kiln::filecommit {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A handle of "another program", such as a running game.
class Held {
 public:
  Held(const fs::path& path, DWORD share)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Held() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

class FileCommitWin32 : public ::testing::Test {
 protected:
  // The runtime's name of a path below the temporary folder: the platform's units, "/" separators.
  Text At(const fs::path& relative) const {
    return FromWideName((temp.Path() / relative).wstring().c_str()).Replace("\\", "/");
  }
  fs::path Native(const fs::path& relative) const { return temp.Path() / relative; }

  test::TempDir temp;
};

TEST_F(FileCommitWin32, RealFailuresReportTheKindAPlayerCanActOn) {
  struct Case {
    const char* what;
    std::function<bool()> fails;  // sets up the failure, makes the call
    SystemErrorKind kind;
  };
  const fs::path staged = "staged", game = L"Zunto.exe";
  const std::vector<Case> cases = {
      {"replacing a file held without sharing",
       [&] {
         Held running(Native(game), 0);
         return running.Open() && MoveOver(At(staged), At(game));
       },
       SystemErrorKind::kNoAccess},
      {"replacing a file held without delete sharing",
       [&] {
         Held running(Native(game), FILE_SHARE_READ | FILE_SHARE_WRITE);
         return running.Open() && MoveOver(At(staged), At(game));
       },
       SystemErrorKind::kNoAccess},
      {"a file held for reading only is not writable",
       [&] {
         Held reader(Native(game), FILE_SHARE_READ);
         return reader.Open() && IsWritable(At(game));
       },
       SystemErrorKind::kNoAccess},
      {"keeping aside a file held without delete sharing",
       [&] {
         Held running(Native(game), FILE_SHARE_READ | FILE_SHARE_WRITE);
         return running.Open() && KeepAside(At(game), At("aside"), At("partial"));
       },
       SystemErrorKind::kNoAccess},
      {"replacing a read-only file",
       [&] {
         SetFileAttributesW(Native(game).c_str(), FILE_ATTRIBUTE_READONLY);
         const bool moved = MoveOver(At(staged), At(game));
         SetFileAttributesW(Native(game).c_str(), FILE_ATTRIBUTE_NORMAL);
         return moved;
       },
       SystemErrorKind::kNoAccess},
      {"a read-only file is not writable",
       [&] {
         SetFileAttributesW(Native(game).c_str(), FILE_ATTRIBUTE_READONLY);
         const bool writable = IsWritable(At(game));
         SetFileAttributesW(Native(game).c_str(), FILE_ATTRIBUTE_NORMAL);
         return writable;
       },
       SystemErrorKind::kNoAccess},
      {"moving into a missing folder",
       [&] { return MoveOver(At(staged), At("missing/Zunto.exe")); },
       SystemErrorKind::kNotFound},
      {"writing a journal into a missing folder",
       [&] { return WriteSmallFile(At("missing/journal"), "x"); }, SystemErrorKind::kNotFound},
      {"a stream opened in a missing folder",
       [&] {
         if (_wfopen(Native("missing/file").c_str(), L"wb") != nullptr) return true;
         CaptureSystemError();
         return false;
       },
       SystemErrorKind::kNotFound},
      {"a stream opened over a file held without sharing",
       [&] {
         Held running(Native(game), 0);
         FILE* file = _wfopen(Native(game).c_str(), L"wb");
         if (file == nullptr) CaptureSystemError();
         if (file != nullptr) fclose(file);
         return !running.Open() || file != nullptr;
       },
       SystemErrorKind::kNoAccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(Native(staged), "new");
    WriteFileBytes(Native(game), "old");
    ClearSystemError();
    EXPECT_FALSE(c.fails());
    EXPECT_EQ(LastSystemErrorKind(), c.kind);
    EXPECT_FALSE(LastSystemError().IsEmpty());
    EXPECT_FALSE(LastSystemError().EndsWith(".") || LastSystemError().EndsWith("\n")) << LastSystemError().ToUtf8();
    // Nothing was changed on the way.
    EXPECT_EQ(ReadFileBytes(Native(staged)), "new");
    EXPECT_EQ(ReadFileBytes(Native(game)), "old");
    EXPECT_FALSE(fs::exists(Native("aside")) || fs::exists(Native("partial")));
  }
  ClearSystemError();
  EXPECT_EQ(LastSystemErrorKind(), SystemErrorKind::kNone);
  EXPECT_TRUE(LastSystemError().IsEmpty());
}

TEST_F(FileCommitWin32, KeepAsidePrepareAndMoveOverAFile) {
  WriteFileBytes(Native("Anleitung.pdf"), "old");
  WriteFileBytes(Native(".Anleitung.pdf.zpatch-tmp"), "new");
  SetFileAttributesW(Native("Anleitung.pdf").c_str(), FILE_ATTRIBUTE_HIDDEN);
  const Text target = At("Anleitung.pdf"), staged = At(".Anleitung.pdf.zpatch-tmp"), aside = At(".aside"),
             partial = At(".partial");
  ASSERT_TRUE(KeepAside(target, aside, partial));
  EXPECT_EQ(ReadFileBytes(Native(".aside")), "old");
  EXPECT_FALSE(fs::exists(Native(".partial")));
  ClearSystemError();
  EXPECT_FALSE(KeepAside(target, aside, partial)) << "the second name exists already";

  // The player's hidden attribute goes to the new file; read-only never does.
  ASSERT_TRUE(PrepareStagedFile(staged, target, At("")));
  const DWORD attributes = GetFileAttributesW(Native(".Anleitung.pdf.zpatch-tmp").c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
  ASSERT_TRUE(PrepareStagedFile(staged, Text(), At("")));

  ASSERT_TRUE(MoveOver(staged, target));
  EXPECT_EQ(ReadFileBytes(Native("Anleitung.pdf")), "new");
  EXPECT_FALSE(fs::exists(Native(".Anleitung.pdf.zpatch-tmp")));
  EXPECT_EQ(ReadFileBytes(Native(".aside")), "old") << "the second name keeps the original";
  Text failed;
  EXPECT_TRUE(SyncToDisk({target, aside}, {At(""), At("missing")}, failed));

  // Two names of one file: the move leaves it under the destination only.
  ASSERT_TRUE(CreateHardLinkW(Native("second").c_str(), Native("Anleitung.pdf").c_str(), nullptr));
  EXPECT_TRUE(MoveOver(At("second"), target));
  EXPECT_FALSE(fs::exists(Native("second")));
  EXPECT_EQ(ReadFileBytes(Native("Anleitung.pdf")), "new");

  std::string bytes;
  ASSERT_TRUE(WriteSmallFile(At(".journal"), std::string(10000, 'j')));
  ASSERT_TRUE(WriteSmallFile(At(".journal"), "short"));
  ASSERT_TRUE(ReadSmallFile(At(".journal"), bytes));
  EXPECT_EQ(bytes, "short");
  ASSERT_TRUE(RemoveFile(At(".journal")));
  EXPECT_TRUE(RemoveFile(At(".journal"))) << "gone already";
  ClearSystemError();
  EXPECT_FALSE(SyncToDisk({At(".journal")}, {}, failed));
  EXPECT_EQ(failed, At(".journal"));
  EXPECT_EQ(LastSystemErrorKind(), SystemErrorKind::kNotFound);
}

TEST_F(FileCommitWin32, FoldersAreListedAndExaminedThroughWideNames) {
  const fs::path folder = L"Spielz\u00FCge";
  fs::create_directory(Native(folder));
  WriteFileBytes(Native(folder / L"Rum\u00E4nenzug.xml"), "xml");
  WriteFileBytes(Native(folder / "Daene.xml"), "xml");
  std::vector<Text> names;
  ASSERT_TRUE(ListFolder(At(folder), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<Text>{Text("Daene.xml"), Text(u"Rum\u00E4nenzug.xml")}));
  for (const char* none : {"missing", "missing/deeper", "Spielz\xC3\xBCge/Daene.xml"}) {
    EXPECT_TRUE(ListFolder(At(fs::u8path(none)), names)) << none;
    EXPECT_TRUE(names.empty()) << none;
  }
  EXPECT_TRUE(IsWritable(At(folder)));
  EXPECT_TRUE(IsWritable(At(folder / "Daene.xml")));
  ASSERT_TRUE(ListFolder(At(folder), names));
  EXPECT_EQ(names.size(), 2u) << "the probe of the folder is gone";

  struct Expected {
    fs::path path;
    PathKind kind;
  };
  for (const Expected& e : std::vector<Expected>{{folder / L"Rum\u00E4nenzug.xml", PathKind::kFile},
                                                 {folder, PathKind::kFolder},
                                                 {folder / "Kreuzen.xml", PathKind::kNone},
                                                 {"missing/Kreuzen.xml", PathKind::kNone}}) {
    PathFacts facts;
    ASSERT_TRUE(ExaminePath(At(e.path), facts)) << e.path;
    EXPECT_EQ(facts.kind, e.kind) << e.path;
    EXPECT_FALSE(facts.isLink);
    EXPECT_EQ(facts.resolved, At(e.path));
  }
}

// A link leads to a name that compares equal with the plain name of its file.
TEST_F(FileCommitWin32, LinksLeadToThePlainNameOfTheirFile) {
  const fs::path folder = L"Spielz\u00FCge";
  fs::create_directory(Native(folder));
  WriteFileBytes(Native(folder / "Daene.xml"), "xml");
  // Wine 8 answers CreateSymbolicLinkW without making a link; Windows wants a privilege for it, or
  // the developer mode that the flag asks for.
  const DWORD unprivileged = 0x2;
  CreateSymbolicLinkW(Native(folder / "Link.xml").c_str(), L"Daene.xml", unprivileged);
  if ((GetFileAttributesW(Native(folder / "Link.xml").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
      !fs::exists(Native(folder / "Link.xml"))) {
    GTEST_SKIP() << "no symbolic links here";
  }
  const fs::path previous = fs::current_path();
  fs::current_path(temp.Path());
  PathFacts facts;
  const bool examined = ExaminePath(Text("./") + Text(folder.u16string()) + "/Link.xml", facts);
  CreateSymbolicLinkW(Native(folder / "Loop.xml").c_str(), L"Loop.xml", unprivileged);
  PathFacts loop;
  const bool looped = ExaminePath(At(folder / "Loop.xml"), loop);
  fs::current_path(previous);
  ASSERT_TRUE(examined);
  EXPECT_TRUE(facts.isLink);
  EXPECT_EQ(facts.kind, PathKind::kFile);
  EXPECT_EQ(facts.resolved, Text("./") + Text(folder.u16string()) + "/Daene.xml");
  EXPECT_FALSE(looped);
}

// The folder lock's child: holds the lock until told to go, then ends without releasing it.
TEST(FolderLockChild, HoldsTheLockUntilKilled) {
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KILN_LOCK_CHILD_FOLDER", folder, MAX_PATH) == 0) GTEST_SKIP() << "run by FolderLock";
  const fs::path root = folder;
  FolderLock lock;
  if (TryLockFolder(FromWideName(folder), lock) != LockAttempt::kLocked) ExitProcess(1);
  WriteFileBytes(root / "held", "");
  for (int waited = 0; waited < 2000 && !fs::exists(root / "go"); ++waited) Sleep(10);
  TerminateProcess(GetCurrentProcess(), 3);
}

TEST(FolderLock, KeepsOutEveryOtherHolderUntilReleasedOrEnded) {
  test::TempDir temp;
  const Text folder = FromWideName(temp.Path().wstring().c_str()).Replace("\\", "/");
  {
    FolderLock first, second;
    ASSERT_EQ(TryLockFolder(folder, first), LockAttempt::kLocked);
    EXPECT_EQ(TryLockFolder(folder, second), LockAttempt::kBusy);
    first.Release();
    EXPECT_EQ(TryLockFolder(folder, second), LockAttempt::kLocked);
  }
  EXPECT_TRUE(fs::is_empty(temp.Path()));

  // Another process holds it, then ends without releasing it.
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command = std::wstring(L"\"") + self + L"\" --gtest_filter=FolderLockChild.HoldsTheLockUntilKilled";
  SetEnvironmentVariableW(L"KILN_LOCK_CHILD_FOLDER", temp.Path().wstring().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION child{};
  const BOOL started =
      CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(L"KILN_LOCK_CHILD_FOLDER", nullptr);
  ASSERT_TRUE(started);
  for (int waited = 0; waited < 3000 && !fs::exists(temp.Path() / "held"); ++waited) Sleep(10);
  ASSERT_TRUE(fs::exists(temp.Path() / "held"));
  FolderLock mine;
  EXPECT_EQ(TryLockFolder(folder, mine), LockAttempt::kBusy);
  WriteFileBytes(temp.Path() / "go", "");
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(TryLockFolder(folder, mine), LockAttempt::kLocked);
  mine.Release();
  EXPECT_FALSE(fs::exists(temp.Path() / kLockFileName));

  ClearSystemError();
  EXPECT_EQ(TryLockFolder(folder + "/missing", mine), LockAttempt::kFailed);
  EXPECT_EQ(LastSystemErrorKind(), SystemErrorKind::kNotFound);
}

}  // namespace
}  // namespace kiln::filecommit
