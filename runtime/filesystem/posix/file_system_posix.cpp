#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "runtime/filesystem/internal/file_system_backend.h"
#include "runtime/core/file_names.h"

namespace kiln::fsbackend {
namespace {

class PosixDirectoryReader : public TDirectory::Reader {
 public:
  explicit PosixDirectoryReader(DIR* dir) : dir_(dir) {}
  ~PosixDirectoryReader() override { closedir(dir_); }
  PosixDirectoryReader(const PosixDirectoryReader&) = delete;
  PosixDirectoryReader& operator=(const PosixDirectoryReader&) = delete;

  bool Next(Text& name) override {
    struct dirent* entry = readdir(dir_);
    if (entry == nullptr) return false;
    name = FromPlatformName(entry->d_name);
    return true;
  }

 private:
  DIR* dir_;
};

}  // namespace

bool StatPath(const Text& path, PathStatus& status) {
  struct stat st;
  if (stat(ToPlatformName(path).c_str(), &st) != 0) return false;
  status.mode = static_cast<int>(st.st_mode & 0xFFFF);
  status.size = static_cast<int64_t>(st.st_size);
  status.modifiedTime = static_cast<int64_t>(st.st_mtime);
  // POSIX keeps no creation time; the last status change is the nearest it has.
  status.createdTime = static_cast<int64_t>(st.st_ctime);
  return true;
}

bool IsSymbolicLink(const Text& path) {
  struct stat st;
  return lstat(ToPlatformName(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsSameFile(const Text& a, const Text& b) {
  struct stat sa, sb;
  if (stat(ToPlatformName(a).c_str(), &sa) != 0 || stat(ToPlatformName(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool MakeDirectory(const Text& path) { return mkdir(ToPlatformName(path).c_str(), 0777) == 0; }

bool RemoveEmptyDir(const Text& path) { return rmdir(ToPlatformName(path).c_str()) == 0; }

RemoveResult RemoveFile(const Text& path) {
  std::string name = ToPlatformName(path);
  if (unlink(name.c_str()) == 0) return RemoveResult::kRemoved;
  if (errno == ENOENT) return RemoveResult::kNothingThere;
  if (errno != ENOTDIR) return RemoveResult::kFailed;
  // Either a folder on the way is a file (nothing there) or the name ends in "/" after a file.
  std::string bare = name;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  struct stat st;
  return bare != name && lstat(bare.c_str(), &st) == 0 ? RemoveResult::kFailed : RemoveResult::kNothingThere;
}

bool NameExists(const Text& path) {
  struct stat st;
  return lstat(ToPlatformName(path).c_str(), &st) == 0;
}

bool RenamePath(const Text& from, const Text& to) {
  std::string source = ToPlatformName(from);
  std::string target = ToPlatformName(to);
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace rename: a hard link fails on an existing target just as
  // atomically. Folders cannot be linked; for them only a check before the rename remains.
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    if (link(source.c_str(), target.c_str()) != 0) return false;
    if (unlink(source.c_str()) == 0) return true;
    unlink(target.c_str());
    return false;
  }
  if (lstat(target.c_str(), &st) == 0) return false;
  return std::rename(source.c_str(), target.c_str()) == 0;
}

bool ChangeMode(const Text& path, int mode) {
  return chmod(ToPlatformName(path).c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

std::unique_ptr<TDirectory::Reader> OpenDirectory(const Text& path) {
  DIR* dir = opendir(ToPlatformName(path).c_str());
  if (dir == nullptr) return nullptr;
  return std::make_unique<PosixDirectoryReader>(dir);
}

}  // namespace kiln::fsbackend
