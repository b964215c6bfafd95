#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/file_commit.h"

namespace zunto::filecommit {
namespace {

thread_local int lastError = 0;
bool diskSync = true;

bool Fail() {
  lastError = errno;
  return false;
}

std::string Native(const Text& path) { return path.ToUtf8(); }

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// One flush per file system where the kernel offers it: a file-by-file fsync costs a journal commit
// each, which for many small files takes far longer than writing them.
bool SyncAll(const std::vector<Text>& paths, int flags) {
  if (!diskSync) return true;
  std::vector<dev_t> done;
  for (const Text& path : paths) {
    Descriptor fd(::open(Native(path.IsEmpty() ? Text(".") : path).c_str(), flags | O_CLOEXEC));
    if (fd.Get() < 0) return Fail();
#if defined(__linux__)
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) return Fail();
    if (std::find(done.begin(), done.end(), st.st_dev) != done.end()) continue;
    if (::syncfs(fd.Get()) != 0) return Fail();
    done.push_back(st.st_dev);
#else
    if (::fsync(fd.Get()) != 0) return Fail();
#endif
  }
  return true;
}

bool CopyBytes(const Text& from, const Text& to) {
  Descriptor in(::open(Native(from).c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return Fail();
  Descriptor out(::open(Native(to).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.Get() < 0) return Fail();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail();
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out.Get(), buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return Fail();
      done += w;
    }
  }
  if (::fsync(out.Get()) != 0 || !out.Close()) return Fail();
  return true;
}

}  // namespace

void SetDiskSync(bool enabled) { diskSync = enabled; }

Text LastSystemError() { return lastError == 0 ? Text() : Text::FromUtf8(::strerror(lastError)); }
SystemErrorKind LastSystemErrorKind() {
  switch (lastError) {
    case 0:
      return SystemErrorKind::kNone;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return SystemErrorKind::kNoAccess;
    case ENOSPC:
    case EDQUOT:
      return SystemErrorKind::kNoSpace;
    case ENOENT:
    case ENOTDIR:
      return SystemErrorKind::kNotFound;
    default:
      return SystemErrorKind::kOther;
  }
}

void ClearSystemError() {
  lastError = 0;
  errno = 0;
}
void CaptureSystemError() { lastError = errno; }

bool SyncFiles(const std::vector<Text>& paths) { return SyncAll(paths, O_RDONLY); }

bool SyncFolders(const std::vector<Text>& folders) { return SyncAll(folders, O_RDONLY | O_DIRECTORY); }

bool ReplaceFile(const Text& from, const Text& to) {
  if (::rename(Native(from).c_str(), Native(to).c_str()) != 0) return Fail();
  return true;
}

bool KeepAside(const Text& path, const Text& aside, const Text& partial) {
  if (::link(Native(path).c_str(), Native(aside).c_str()) == 0) return true;
  if (errno == EEXIST) return Fail();
  if (!RemoveFile(partial)) return false;
  if (CopyBytes(path, partial) && CopyPermissions(path, partial) && ReplaceFile(partial, aside)) return true;
  const int reason = lastError;
  RemoveFile(partial);
  lastError = reason;
  return false;
}

bool CreateEmptyFile(const Text& path) {
  Descriptor fd(::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.Get() < 0) return Fail();
  if (!fd.Close()) return Fail();
  return true;
}

bool RemoveFile(const Text& path) {
  if (::unlink(Native(path).c_str()) == 0 || errno == ENOENT) return true;
  return Fail();
}

bool Exists(const Text& path) {
  struct stat st;
  return ::lstat(Native(path).c_str(), &st) == 0;
}

bool IsWritable(const Text& path) {
  if (::access(Native(path).c_str(), W_OK) == 0) return true;
  return Fail();
}

bool CopyPermissions(const Text& from, const Text& to) {
  struct stat st;
  if (::stat(Native(from).c_str(), &st) != 0) return Fail();
  if (::chmod(Native(to).c_str(), st.st_mode & 07777) != 0) return Fail();
  return true;
}

void ReportFileSizeLimitAsError() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace zunto::filecommit
