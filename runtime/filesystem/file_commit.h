// The platform calls that a crash-safe replacement of files needs, written once per platform by the
// file system backend (posix/file_commit_posix.cpp). Paths are the runtime's texts with "/"
// separators; every function reports failure by its result and leaves the reason for
// LastSystemError.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/core/text.h"

namespace kiln::filecommit {

// The system's text for the last failed call ("No space left on device"), or the empty text.
Text LastSystemError();
// What the last failed call ran into, in the terms a user can act on.
enum class SystemErrorKind {
  kNone,
  kNoAccess,      // read-only file or folder, or a file another program holds
  kReadOnlyDisk,  // the whole file system is mounted read-only
  kNoSpace,       // the disk or the user's quota is full
  kNotFound,      // a folder on the way does not exist
  kDeviceError,   // the disk reported an input/output error
  kOther,
};
SystemErrorKind LastSystemErrorKind();
void ClearSystemError();
// Keeps the reason of the runtime library's last failed call, such as a failed write through a file
// stream, for LastSystemError.
void CaptureSystemError();

// On by default. Tests that repeat an update many times may turn forcing data to the disk off.
void SetDiskSyncForTesting(bool enabled);
// Forces the bytes of the closed `files` and the entries (creations, renames, removals) of `folders`
// to the disk. The platform may flush each file system once instead, which is far cheaper than a
// flush per file. On failure `failed` names the file or folder that could not be flushed.
bool SyncToDisk(const std::vector<Text>& files, const std::vector<Text>& folders, Text& failed);

// What writing to a path would meet, seen through symbolic links.
enum class PathKind { kNone, kFile, kFolder, kOther };
struct PathFacts {
  PathKind kind = PathKind::kNone;
  bool isLink = false;
  // The path itself, or for a symbolic link the end of its chain of links ("dir/a" -> "b" gives
  // "dir/b"), which need not exist.
  Text resolved;
};
// False when the path cannot be examined or its links lead nowhere (a loop, an unreadable link).
bool ExaminePath(const Text& path, PathFacts& facts);
// The names in a folder without "." and ".."; a folder that does not exist holds none.
bool ListFolder(const Text& folder, std::vector<Text>& names);

// Moves `from` over `to` in one step: `to` names either the old or the new file at every moment.
// (Not "ReplaceFile": <windows.h> defines that name as a macro.)
bool MoveOver(const Text& from, const Text& to);
// Makes `aside` a second name for the file `path` (a hard link), or a durable copy where the file
// system has no links. The copy is written as `partial` and takes the name `aside` only when it is
// complete, so `aside` never names less than the whole original. `aside` must not exist.
bool KeepAside(const Text& path, const Text& aside, const Text& partial);
// Gives the closed file `staged` the owner, group and mode of `replaced`, as far as the process may
// set them; when `replaced` is empty and the process runs as root, the owner and group of `folder`,
// which a new file made by the player would have had. Then starts writing the file to the disk, so
// that the flush before the commit finds little left to do.
bool PrepareStagedFile(const Text& staged, const Text& replaced, const Text& folder);
// Creates or truncates `path` with `bytes`; `path` is whole only once the bytes are flushed.
bool WriteSmallFile(const Text& path, const std::string& bytes);
bool ReadSmallFile(const Text& path, std::string& bytes);
// True when the path is gone afterwards (also when it never existed). Never removes a folder.
bool RemoveFile(const Text& path);
// The calling user may write the file or create entries in the folder.
bool IsWritable(const Text& path);
// A write beyond the process's file size limit fails with an error instead of ending the process.
void ReportFileSizeLimitAsError();

// Keeps other processes out of a folder while it is held: each holder of a FolderLock on the same
// folder waits for the one before. The system releases it when the process ends, however it ends,
// so a killed holder never blocks the next. Where the folder itself cannot be locked a lock file in
// it is used; the holder removes it on release.
enum class LockAttempt { kLocked, kBusy, kFailed };
class FolderLock {
 public:
  FolderLock();
  ~FolderLock();
  FolderLock(FolderLock&&) noexcept;
  FolderLock& operator=(FolderLock&&) noexcept;
  bool Held() const { return held_ != nullptr; }
  // Releases the lock; nothing when none is held.
  void Release();

 private:
  struct Holding;
  friend LockAttempt TryLockFolder(const Text& folder, FolderLock& lock);
  std::unique_ptr<Holding> held_;
};
// One attempt, without waiting: kBusy while another holder has it.
LockAttempt TryLockFolder(const Text& folder, FolderLock& lock);
// Test seam: lock through the lock file even where the folder itself could be locked.
void SetLockThroughFileForTesting(bool enabled);
// The name of that lock file.
inline constexpr const char* kLockFileName = ".zpatch-lock";

}  // namespace kiln::filecommit
