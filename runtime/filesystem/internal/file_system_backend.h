// The platform calls under the file system functions. Paths arrive normalised; names travel to and
// from the platform in its own encoding.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/filesystem/filesystem.h"

namespace kiln::fsbackend {

struct PathStatus {
  int mode = 0;  // file type and permission bits, 0x8000 = file, 0x4000 = directory
  int64_t size = 0;
  int64_t modifiedTime = 0;
  int64_t createdTime = 0;
};

// Follows symbolic links.
bool StatPath(const Text& path, PathStatus& status);
bool IsSymbolicLink(const Text& path);
// Both paths name the same file (links included).
bool IsSameFile(const Text& a, const Text& b);
bool MakeDirectory(const Text& path);
bool RemoveEmptyDir(const Text& path);
enum class RemoveResult { kRemoved, kNothingThere, kFailed };
// Removes a file or a link, never a directory. "Nothing there" only when the path names nothing:
// a file named with a trailing slash is there and not removed.
RemoveResult RemoveFile(const Text& path);
// Something, a dangling link included, is at exactly this name.
bool NameExists(const Text& path);
// Fails when `to` exists, also when it appears while the rename runs.
bool RenamePath(const Text& from, const Text& to);
bool ChangeMode(const Text& path, int mode);
std::unique_ptr<TDirectory::Reader> OpenDirectory(const Text& path);

}  // namespace kiln::fsbackend
