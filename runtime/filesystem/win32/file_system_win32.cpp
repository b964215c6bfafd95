// The runtime library's wide-character calls, and the kernel's where the library has no call (file
// identity, links, a rename that never replaces).
#include <direct.h>
#include <errno.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cwchar>

#include "runtime/core/win32/wide_names.h"
#include "runtime/filesystem/internal/file_system_backend.h"

namespace kiln::fsbackend {
namespace {

class FindHandle {
 public:
  explicit FindHandle(intptr_t handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != -1) _findclose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  intptr_t get() const { return handle_; }

 private:
  intptr_t handle_;
};

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// _wfindfirst64 lists the first entry at once; the reader hands it out on the first Next.
class Win32DirectoryReader : public TDirectory::Reader {
 public:
  Win32DirectoryReader(intptr_t handle, const _wfinddata64_t& first) : find_(handle), entry_(first) {}

  bool Next(Text& name) override {
    if (done_) return false;
    if (!pending_) {
      if (_wfindnext64(find_.get(), &entry_) != 0) {
        done_ = true;
        return false;
      }
    }
    pending_ = false;
    name = FromWideName(entry_.name);
    return true;
  }

 private:
  FindHandle find_;
  _wfinddata64_t entry_;
  bool pending_ = true;
  bool done_ = false;
};

// The runtime library finds nothing at "dir/" but needs the slash of a root ("C:/", "/",
// "//server/share/"); a path whose only slash is the root's is left alone.
std::wstring StatName(const Text& path, bool& trimmed) {
  Text name = path;
  trimmed = false;
  while (name.Length() > 1 && name.EndsWith("/") && !IsRootPath(name)) {
    Text shorter = name.Left(name.Length() - 1);
    // "//server/share/" is the root of a share, which the runtime library wants with its slash.
    if (shorter.StartsWith("//") && shorter.Find("/", 2) >= 0 && shorter.Find("/", shorter.Find("/", 2) + 1) < 0) break;
    name = shorter;
    trimmed = true;
  }
  return ToWideName(name);
}

}  // namespace

bool StatPath(const Text& path, PathStatus& status) {
  bool trimmed = false;
  std::wstring name = StatName(path, trimmed);
  struct _stat64 st;
  if (_wstat64(name.c_str(), &st) != 0) return false;
  // As everywhere else, a name with a final slash only names a folder.
  if (trimmed && (st.st_mode & _S_IFMT) != _S_IFDIR) return false;
  status.mode = static_cast<int>(st.st_mode & 0xFFFF);
  status.size = static_cast<int64_t>(st.st_size);
  status.modifiedTime = static_cast<int64_t>(st.st_mtime);
  status.createdTime = static_cast<int64_t>(st.st_ctime);
  return true;
}

bool IsSymbolicLink(const Text& path) {
  DWORD attributes = GetFileAttributesW(ToWideName(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsSameFile(const Text& a, const Text& b) {
  auto open = [](const Text& path) {
    // No access asked for, every sharing allowed: a file held open by another program is still
    // identified; the backup flag opens folders too.
    return CreateFileW(ToWideName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  };
  FileHandle first(open(a));
  FileHandle second(open(b));
  if (!first || !second) return false;
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  if (!GetFileInformationByHandle(first.get(), &ia) || !GetFileInformationByHandle(second.get(), &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

bool MakeDirectory(const Text& path) { return _wmkdir(ToWideName(path).c_str()) == 0; }

bool RemoveEmptyDir(const Text& path) { return _wrmdir(ToWideName(path).c_str()) == 0; }

RemoveResult RemoveFile(const Text& path) {
  if (path.EndsWith("/")) {
    // The runtime library would reject the name; like on every other platform a file named with a
    // final slash is there and not removed, and anything else named so is nothing.
    Text bare = path;
    while (bare.Length() > 1 && bare.EndsWith("/")) bare = bare.Left(bare.Length() - 1);
    return NameExists(bare) ? RemoveResult::kFailed : RemoveResult::kNothingThere;
  }
  std::wstring name = ToWideName(path);
  if (_wremove(name.c_str()) == 0) return RemoveResult::kRemoved;
  if (errno == ENOENT) return RemoveResult::kNothingThere;
  return RemoveResult::kFailed;
}

bool NameExists(const Text& path) { return GetFileAttributesW(ToWideName(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Without MOVEFILE_REPLACE_EXISTING the kernel refuses an existing target within the move itself.
bool RenamePath(const Text& from, const Text& to) {
  return MoveFileExW(ToWideName(from).c_str(), ToWideName(to).c_str(), 0) != 0;
}

bool ChangeMode(const Text& path, int mode) {
  // Windows keeps one bit of it: without the owner's write permission the file is read-only.
  return _wchmod(ToWideName(path).c_str(), mode & (_S_IREAD | _S_IWRITE)) == 0;
}

std::unique_ptr<TDirectory::Reader> OpenDirectory(const Text& path) {
  Text pattern = path.EndsWith("/") ? path + "*" : path + "/*";
  // A file is no folder to list, though "file/*" may find nothing rather than fail.
  PathStatus status;
  if (!StatPath(path, status) || (status.mode & 0xF000) != 0x4000) return nullptr;
  _wfinddata64_t first{};
  intptr_t handle = _wfindfirst64(ToWideName(pattern).c_str(), &first);
  if (handle == -1) return nullptr;
  return std::make_unique<Win32DirectoryReader>(handle, first);
}

}  // namespace kiln::fsbackend
