#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/file_names.h"
#include "runtime/filesystem/file_commit.h"

namespace kiln::filecommit {
namespace {

thread_local int lastError = 0;
bool diskSync = true;
bool lockThroughFile = false;

bool Fail() {
  lastError = errno;
  return false;
}

std::string Native(const Text& path) { return ToPlatformName(path.IsEmpty() ? Text(".") : path); }

Text FolderOf(const Text& path) {
  const int slash = path.FindLast("/");
  return slash < 0 ? Text(".") : (slash == 0 ? Text("/") : path.Left(slash));
}

Text Joined(const Text& folder, const Text& name) {
  return folder.IsEmpty() || folder.EndsWith("/") ? folder + name : folder + "/" + name;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Take() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  bool Close() { return ::close(Take()) == 0; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

class FolderListing {
 public:
  explicit FolderListing(DIR* dir) : dir_(dir) {}
  ~FolderListing() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;
  DIR* Get() const { return dir_; }

 private:
  DIR* dir_;
};

bool WriteAll(int fd, const char* bytes, size_t count) {
  for (size_t done = 0; done < count;) {
    const ssize_t w = ::write(fd, bytes + done, count - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(w);
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
    const ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail();
    if (n == 0) break;
    if (!WriteAll(out.Get(), buffer, static_cast<size_t>(n))) return Fail();
  }
  if (::fsync(out.Get()) != 0 || !out.Close()) return Fail();
  return true;
}

// Owner first: changing the owner clears the set-id bits that the mode then restores. An owner the
// process may not give (an unprivileged run replacing another user's file) stays the process's own,
// and then the set-id bits are not handed to it.
bool TakeOwnerAndMode(int fd, const struct stat& from) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return Fail();
  mode_t mode = from.st_mode & 07777;
  if (st.st_uid != from.st_uid || st.st_gid != from.st_gid) {
    if (::fchown(fd, from.st_uid, from.st_gid) != 0) {
      if (errno != EPERM) return Fail();
      if (::fchown(fd, static_cast<uid_t>(-1), from.st_gid) != 0 || from.st_uid != st.st_uid) mode &= ~mode_t{06000};
    }
  }
  if ((st.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) return Fail();
  return true;
}

#if defined(__linux__)
// One flush per file system: a file-by-file fsync costs a journal commit each, which for many small
// files takes far longer than writing them.
bool SyncFileSystems(const std::vector<Text>& folders, Text& failed) {
  std::vector<dev_t> done;
  for (const Text& folder : folders) {
    Descriptor fd(::open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder that does not exist holds nothing to flush.
    if (fd.Get() < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
      failed = folder;
      return Fail();
    }
    if (std::find(done.begin(), done.end(), st.st_dev) != done.end()) continue;
    if (::syncfs(fd.Get()) != 0) {
      failed = folder;
      return Fail();
    }
    done.push_back(st.st_dev);
  }
  return true;
}

// After a failed flush of a whole file system: the first file whose own flush fails, so that the
// report can name it.
void FindUnflushedFile(const std::vector<Text>& files, Text& failed) {
  const int reason = lastError;
  for (const Text& file : files) {
    Descriptor fd(::open(Native(file).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) {
      failed = file;
      lastError = errno;
      return;
    }
  }
  lastError = reason;
}
#endif

// The target of one link, relative targets taken from the link's folder.
bool ReadLink(const Text& link, Text& target) {
  std::string bytes(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(Native(link).c_str(), bytes.data(), bytes.size());
    if (n < 0) return Fail();
    if (static_cast<size_t>(n) < bytes.size()) {
      bytes.resize(static_cast<size_t>(n));
      break;
    }
    bytes.resize(bytes.size() * 2);
  }
  const Text to = FromPlatformName(bytes);
  target = to.StartsWith("/") ? to : Joined(FolderOf(link), to);
  return true;
}

}  // namespace

struct FolderLock::Holding {
  ~Holding() {
    // Removed while still locked: a process that opened it meanwhile finds on locking that the name
    // no longer leads to the file it locked, and starts again.
    if (!lockFile.IsEmpty()) ::unlink(Native(lockFile).c_str());
    ::close(fd);
  }
  int fd = -1;
  Text lockFile;
};

FolderLock::FolderLock() = default;
FolderLock::~FolderLock() = default;
FolderLock::FolderLock(FolderLock&&) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&&) noexcept = default;
void FolderLock::Release() { held_.reset(); }

LockAttempt TryLockFolder(const Text& folder, FolderLock& lock) {
  lock.Release();
  if (!lockThroughFile) {
    // The folder itself: nothing is left behind, and a folder the process may not write can be
    // locked too.
    Descriptor fd(::open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0) {
      if (::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
        lock.held_ = std::make_unique<FolderLock::Holding>();
        lock.held_->fd = fd.Take();
        return LockAttempt::kLocked;
      }
      if (errno == EWOULDBLOCK || errno == EINTR) return LockAttempt::kBusy;
    }
    // Some network file systems lock only files opened for writing.
  }
  const Text path = Joined(folder, kLockFileName);
  Descriptor fd(::open(Native(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  // One that another user's killed run left can still be locked, and removed on release.
  if (fd.Get() < 0 && errno == EACCES) fd.Reset(::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.Get() < 0) {
    Fail();
    return LockAttempt::kFailed;
  }
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK || errno == EINTR) return LockAttempt::kBusy;
    Fail();
    return LockAttempt::kFailed;
  }
  // The holder before may have removed the file between the open and the lock.
  struct stat held, named;
  if (::fstat(fd.Get(), &held) != 0 || ::lstat(Native(path).c_str(), &named) != 0 || named.st_ino != held.st_ino ||
      named.st_dev != held.st_dev) {
    return LockAttempt::kBusy;
  }
  lock.held_ = std::make_unique<FolderLock::Holding>();
  lock.held_->fd = fd.Take();
  lock.held_->lockFile = path;
  return LockAttempt::kLocked;
}

void SetLockThroughFileForTesting(bool enabled) { lockThroughFile = enabled; }

void SetDiskSyncForTesting(bool enabled) { diskSync = enabled; }

Text LastSystemError() { return lastError == 0 ? Text() : Text::FromUtf8(::strerror(lastError)); }
SystemErrorKind LastSystemErrorKind() {
  switch (lastError) {
    case 0:
      return SystemErrorKind::kNone;
    case EACCES:
    case EPERM:
    case ETXTBSY:
    case EBUSY:
      return SystemErrorKind::kNoAccess;
    case EROFS:
      return SystemErrorKind::kReadOnlyDisk;
    case ENOSPC:
    case EDQUOT:
      return SystemErrorKind::kNoSpace;
    case ENOENT:
    case ENOTDIR:
      return SystemErrorKind::kNotFound;
    case EIO:
      return SystemErrorKind::kDeviceError;
    default:
      return SystemErrorKind::kOther;
  }
}

void ClearSystemError() {
  lastError = 0;
  errno = 0;
}
void CaptureSystemError() { lastError = errno; }

bool SyncToDisk(const std::vector<Text>& files, const std::vector<Text>& folders, Text& failed) {
  if (!diskSync) return true;
#if defined(__linux__)
  // A file lies on the file system of its folder, so flushing the folders' file systems covers both.
  std::vector<Text> all = folders;
  for (const Text& file : files) {
    const Text folder = FolderOf(file);
    if (std::find(all.begin(), all.end(), folder) == all.end()) all.push_back(folder);
  }
  if (SyncFileSystems(all, failed)) return true;
  FindUnflushedFile(files, failed);
  return false;
#else
  for (const Text& file : files) {
    Descriptor fd(::open(Native(file).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) {
      failed = file;
      return Fail();
    }
  }
  for (const Text& folder : folders) {
    Descriptor fd(::open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
    if (fd.Get() < 0 || ::fsync(fd.Get()) != 0) {
      failed = folder;
      return Fail();
    }
  }
  return true;
#endif
}

bool ExaminePath(const Text& path, PathFacts& facts) {
  facts = PathFacts{};
  facts.resolved = path;
  // As many links as the kernel follows in one path.
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(Native(facts.resolved).c_str(), &st) != 0) {
      // A missing folder on the way is for the caller to report, as for a missing file.
      if (errno == ENOENT || errno == ENOTDIR) return true;
      return Fail();
    }
    if (!S_ISLNK(st.st_mode)) {
      facts.kind = S_ISREG(st.st_mode) ? PathKind::kFile : S_ISDIR(st.st_mode) ? PathKind::kFolder : PathKind::kOther;
      return true;
    }
    if (hops == 40) {
      errno = ELOOP;
      return Fail();
    }
    facts.isLink = true;
    if (!ReadLink(facts.resolved, facts.resolved)) return false;
  }
}

bool ListFolder(const Text& folder, std::vector<Text>& names) {
  names.clear();
  FolderListing dir(::opendir(Native(folder).c_str()));
  if (dir.Get() == nullptr) return errno == ENOENT || errno == ENOTDIR ? true : Fail();
  errno = 0;
  while (const dirent* entry = ::readdir(dir.Get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(FromPlatformName(name));
  }
  return errno == 0 ? true : Fail();
}

bool MoveOver(const Text& from, const Text& to) {
  if (::rename(Native(from).c_str(), Native(to).c_str()) != 0) return Fail();
  return true;
}

bool KeepAside(const Text& path, const Text& aside, const Text& partial) {
  if (::link(Native(path).c_str(), Native(aside).c_str()) == 0) return true;
  if (errno == EEXIST) return Fail();
  if (!RemoveFile(partial)) return false;
  struct stat original;
  if (::stat(Native(path).c_str(), &original) != 0) return Fail();
  if (CopyBytes(path, partial)) {
    Descriptor fd(::open(Native(partial).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() >= 0 && TakeOwnerAndMode(fd.Get(), original) && MoveOver(partial, aside)) return true;
    if (fd.Get() < 0) Fail();
  }
  const int reason = lastError;
  RemoveFile(partial);
  lastError = reason;
  return false;
}

bool PrepareStagedFile(const Text& staged, const Text& replaced, const Text& folder) {
  Descriptor fd(::open(Native(staged).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return Fail();
  struct stat from;
  if (!replaced.IsEmpty()) {
    if (::stat(Native(replaced).c_str(), &from) != 0) return Fail();
    if (!TakeOwnerAndMode(fd.Get(), from)) return false;
  } else if (::geteuid() == 0) {
    if (::stat(Native(folder).c_str(), &from) != 0) return Fail();
    if (::fchown(fd.Get(), from.st_uid, from.st_gid) != 0) return Fail();
  }
#if defined(__linux__)
  // Only a hint: the flush before the commit waits for whatever is still unwritten.
  if (diskSync) ::sync_file_range(fd.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  return true;
}

bool WriteSmallFile(const Text& path, const std::string& bytes) {
  Descriptor fd(::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.Get() < 0 || !WriteAll(fd.Get(), bytes.data(), bytes.size())) return Fail();
  if (!fd.Close()) return Fail();
  return true;
}

bool ReadSmallFile(const Text& path, std::string& bytes) {
  bytes.clear();
  Descriptor fd(::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return Fail();
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail();
    if (n == 0) return true;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

bool RemoveFile(const Text& path) {
  if (::unlink(Native(path).c_str()) == 0 || errno == ENOENT) return true;
  return Fail();
}

bool IsWritable(const Text& path) {
  if (::access(Native(path).c_str(), W_OK) == 0) return true;
  return Fail();
}

void ReportFileSizeLimitAsError() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace kiln::filecommit
