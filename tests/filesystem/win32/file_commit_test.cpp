// The Windows side of the crash-safe replacement: what real failures are reported as, the moves and
// second names it relies on, and the folder lock across processes.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
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
struct Held {
  Held(const fs::path& path, DWORD share)
      : handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~Held() { CloseHandle(handle); }
  HANDLE handle;
};

// The runtime's name of a native path: the platform's units, "/" separators.
Text Named(const fs::path& path) { return FromWideName(path.wstring().c_str()).Replace("\\", "/"); }

TEST(FileCommitWin32, RealFailuresReportTheKindAPlayerCanActOn) {
  test::TempDir temp;
  const fs::path staged = temp.Path() / "staged", game = temp.Path() / L"Z\u00FCnto.exe";
  const Text from = Named(staged), to = Named(game);
  auto readOnly = [&](bool on) { SetFileAttributesW(game.c_str(), on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL); };
  struct Case {
    const char* what;
    std::function<bool()> fails;
    SystemErrorKind kind;
  };
  const std::vector<Case> cases = {
      {"replacing a file held without sharing",
       [&] {
         Held running(game, 0);
         return MoveOver(from, to);
       },
       SystemErrorKind::kNoAccess},
      // Its second name could not be removed again while it is held.
      {"keeping aside a file held without delete sharing",
       [&] {
         Held running(game, FILE_SHARE_READ | FILE_SHARE_WRITE);
         return KeepAside(to, Named(temp.Path() / "aside"), Named(temp.Path() / "partial"));
       },
       SystemErrorKind::kNoAccess},
      {"replacing a read-only file",
       [&] {
         readOnly(true);
         const bool done = IsWritable(to) || MoveOver(from, to);
         readOnly(false);
         return done;
       },
       SystemErrorKind::kNoAccess},
      {"moving into a missing folder", [&] { return MoveOver(from, Named(temp.Path() / "missing/x")); },
       SystemErrorKind::kNotFound},
      {"a stream opened over a held file",
       [&] {
         Held running(game, 0);
         FILE* file = _wfopen(game.c_str(), L"wb");
         if (file == nullptr) CaptureSystemError();
         if (file != nullptr) fclose(file);
         return file != nullptr;
       },
       SystemErrorKind::kNoAccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(staged, "new");
    WriteFileBytes(game, "old");
    ClearSystemError();
    EXPECT_FALSE(c.fails());
    EXPECT_EQ(LastSystemErrorKind(), c.kind);
    EXPECT_FALSE(LastSystemError().IsEmpty() || LastSystemError().EndsWith(".")) << LastSystemError().ToUtf8();
    EXPECT_EQ(ReadFileBytes(staged) + ReadFileBytes(game), "newold");
    EXPECT_FALSE(fs::exists(temp.Path() / "aside") || fs::exists(temp.Path() / "partial"));
  }
}

TEST(FileCommitWin32, SecondNamesAndMovesOverThem) {
  test::TempDir temp;
  const fs::path game = temp.Path() / L"Spielz\u00FCge.xml";
  WriteFileBytes(game, "old");
  WriteFileBytes(temp.Path() / "staged", "new");
  const Text target = Named(game), aside = Named(temp.Path() / "aside");
  ASSERT_TRUE(KeepAside(target, aside, Named(temp.Path() / "partial")));
  EXPECT_FALSE(KeepAside(target, aside, Named(temp.Path() / "partial"))) << "the second name exists already";
  ASSERT_TRUE(MoveOver(Named(temp.Path() / "staged"), target));
  EXPECT_EQ(ReadFileBytes(game) + ReadFileBytes(temp.Path() / "aside"), "newold");
  EXPECT_FALSE(fs::exists(temp.Path() / "staged"));

  // Two names of one file, as a run ended between keeping and moving leaves them: one name is left.
  ASSERT_TRUE(CreateHardLinkW((temp.Path() / "second").c_str(), game.c_str(), nullptr));
  EXPECT_TRUE(MoveOver(Named(temp.Path() / "second"), target));
  EXPECT_FALSE(fs::exists(temp.Path() / "second"));
  EXPECT_EQ(ReadFileBytes(game), "new");
  std::vector<Text> names;
  ASSERT_TRUE(ListFolder(Named(temp.Path()), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<Text>{Text(u"Spielz\u00FCge.xml"), Text("aside")}));
  EXPECT_TRUE(ListFolder(Named(temp.Path() / "missing"), names) && names.empty());
}

// A removed file that another program holds with delete sharing keeps its name until the holder
// lets go: the removal waits for a holder that lets go soon and reports one that does not.
TEST(FileCommitWin32, RemovingAFileHeldWithDeleteSharingReportsWhetherItsNameWent) {
  test::TempDir temp;
  const fs::path file = temp.Path() / "scanned.xml";
  auto nameThere = [&] {
    return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND;
  };
  for (const int heldMs : {200, 3000}) {
    SCOPED_TRACE(heldMs);
    WriteFileBytes(file, "old");
    auto scanner = std::make_unique<Held>(file, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    std::thread lettingGo([&] {
      Sleep(static_cast<DWORD>(heldMs));
      scanner.reset();
    });
    ClearSystemError();
    const bool removed = RemoveFile(Named(file));
    EXPECT_EQ(removed, !nameThere());
    EXPECT_EQ(removed, heldMs < 2000);
    if (!removed) {
      EXPECT_EQ(LastSystemErrorKind(), SystemErrorKind::kNoAccess);
    }
    lettingGo.join();
    EXPECT_FALSE(nameThere()) << "the name goes with the last handle";
  }
}

// The child of the next test: holds the lock until told to go, then ends without releasing it.
TEST(FolderLockChild, HoldsTheLockUntilEnded) {
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"KILN_LOCK_CHILD_FOLDER", folder, MAX_PATH) == 0) GTEST_SKIP() << "run by FolderLock";
  FolderLock lock;
  if (TryLockFolder(FromWideName(folder), lock) != LockAttempt::kLocked) ExitProcess(1);
  WriteFileBytes(fs::path(folder) / "held", "");
  for (int waited = 0; waited < 2000 && !fs::exists(fs::path(folder) / "go"); ++waited) Sleep(10);
  TerminateProcess(GetCurrentProcess(), 3);
}

TEST(FolderLock, KeepsOutEveryOtherHolderUntilReleasedOrEnded) {
  test::TempDir temp;
  const Text folder = Named(temp.Path());
  FolderLock first, second;
  ASSERT_EQ(TryLockFolder(folder, first), LockAttempt::kLocked);
  EXPECT_EQ(TryLockFolder(folder, second), LockAttempt::kBusy);
  first.Release();
  EXPECT_EQ(TryLockFolder(folder, second), LockAttempt::kLocked);
  // A scanner that looks at the lock file keeps it a moment after its release: Windows holds it as
  // being deleted (busy), Wine lets it be opened again.
  HANDLE scanner = CreateFileW((temp.Path() / kLockFileName).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(scanner, INVALID_HANDLE_VALUE);
  second.Release();
  EXPECT_NE(TryLockFolder(folder, first), LockAttempt::kFailed);
  first.Release();
  CloseHandle(scanner);
  EXPECT_TRUE(fs::is_empty(temp.Path()));

  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command = std::wstring(L"\"") + self + L"\" --gtest_filter=FolderLockChild.*";
  SetEnvironmentVariableW(L"KILN_LOCK_CHILD_FOLDER", temp.Path().c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  SetEnvironmentVariableW(L"KILN_LOCK_CHILD_FOLDER", nullptr);
  for (int waited = 0; waited < 3000 && !fs::exists(temp.Path() / "held"); ++waited) Sleep(10);
  EXPECT_EQ(TryLockFolder(folder, first), LockAttempt::kBusy);
  WriteFileBytes(temp.Path() / "go", "");
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(code, 3u) << "the child ended holding the lock";
  EXPECT_EQ(TryLockFolder(folder, first), LockAttempt::kLocked);
  first.Release();
  EXPECT_FALSE(fs::exists(temp.Path() / kLockFileName));
}

}  // namespace
}  // namespace kiln::filecommit
