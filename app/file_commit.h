// The platform calls that a crash-safe replacement of files needs. Paths are the runtime's texts
// with "/" separators; every function reports failure by its result and leaves the reason for
// LastSystemError.
#pragma once

#include <vector>

#include "runtime/core/text.h"

namespace zunto::filecommit {

using kiln::Text;

// The system's text for the last failed call ("No space left on device"), or the empty text.
Text LastSystemError();
// What the last failed call ran into, in the terms a user can act on.
enum class SystemErrorKind {
  kNone,
  kNoAccess,  // read-only file or folder, or a file another program holds
  kNoSpace,   // the disk or the user's quota is full
  kNotFound,  // a folder on the way does not exist
  kOther,
};
SystemErrorKind LastSystemErrorKind();
void ClearSystemError();
// Keeps the reason of the runtime library's last failed call, such as a failed write through a file
// stream, for LastSystemError.
void CaptureSystemError();

// On by default. Tests that repeat an update many times may turn forcing data to the disk off.
void SetDiskSync(bool enabled);
// Forces the closed files' bytes, or the folders' entries (creations, renames, removals), to the
// disk. One call for many paths lets the platform do it in one pass per file system.
bool SyncFiles(const std::vector<Text>& paths);
bool SyncFolders(const std::vector<Text>& folders);
// Moves `from` over `to` in one step: `to` names either the old or the new file at every moment.
bool ReplaceFile(const Text& from, const Text& to);
// Makes `aside` a second name for the file `path` (a hard link), or a durable copy where the file
// system has no links. The copy is written as `partial` and takes the name `aside` only when it is
// complete, so `aside` never names less than the whole original. `aside` must not exist.
bool KeepAside(const Text& path, const Text& aside, const Text& partial);
// An empty file; fails when it exists.
bool CreateEmptyFile(const Text& path);
// True when the path is gone afterwards (also when it never existed). Never removes a folder.
bool RemoveFile(const Text& path);
bool Exists(const Text& path);
// The calling user may write the file or create entries in the folder.
bool IsWritable(const Text& path);
// Gives `to` the permission bits of `from`.
bool CopyPermissions(const Text& from, const Text& to);
// A write beyond the process's file size limit fails with an error instead of ending the process.
void ReportFileSizeLimitAsError();

}  // namespace zunto::filecommit
