#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "runtime/filesystem/file_system_backend.h"
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

bool RemoveDirectory(const Text& path) { return rmdir(ToPlatformName(path).c_str()) == 0; }

bool RemoveFile(const Text& path) { return unlink(ToPlatformName(path).c_str()) == 0; }

bool RenamePath(const Text& from, const Text& to) {
  std::string target = ToPlatformName(to);
  struct stat st;
  if (lstat(target.c_str(), &st) == 0) return false;
  return std::rename(ToPlatformName(from).c_str(), target.c_str()) == 0;
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
