// The crash-safe replacement's platform calls on the kernel's wide-character functions. A file that
// another program holds (a running game) makes a call fail with a sharing violation or access
// denied, both reported as kNoAccess; nothing here waits for such a file.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "runtime/core/win32/wide_names.h"
#include "runtime/filesystem/file_commit.h"

namespace kiln::filecommit {
namespace {

// The reason of the last failure: a kernel error code, or else an errno of the runtime library.
thread_local DWORD lastWindowsError = 0;
thread_local int lastRuntimeError = 0;
bool diskSync = true;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
constexpr DWORD kErrorDiskQuotaExceeded = 1295;

bool FailWith(DWORD code) {
  lastWindowsError = code;
  lastRuntimeError = 0;
  return false;
}
bool Fail() { return FailWith(GetLastError()); }

std::wstring Native(const Text& path) { return ToWideName(path.IsEmpty() ? Text(".") : path); }

Text Joined(const Text& folder, const Text& name) {
  return folder.IsEmpty() || folder.EndsWith("/") ? folder + name : folder + "/" + name;
}

bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY;
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Take() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  bool Close() { return CloseHandle(Take()) != 0; }

 private:
  HANDLE handle_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE Open(const Text& path, DWORD access, DWORD share, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(Native(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Folders open only with the backup flag; the kernel follows links on the way and at the end.
HANDLE OpenAny(const Text& path, DWORD access) {
  return Open(path, access, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
}

bool WriteAll(HANDLE file, const char* bytes, size_t count) {
  while (count > 0) {
    const DWORD chunk = count > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    bytes += written;
    count -= written;
  }
  return true;
}

// The runtime's form of a kernel path: "\\?\C:\a" gives "C:/a", "\\?\UNC\host\share\a" gives
// "//host/share/a"; a volume without a drive letter has no such form and gives the empty text.
Text FromKernelPath(const std::wstring& path) {
  std::wstring rest = path;
  if (rest.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    rest = L"\\\\" + rest.substr(8);
  } else if (rest.rfind(L"\\\\?\\", 0) == 0) {
    rest = rest.substr(4);
    if (rest.size() < 2 || rest[1] != L':') return Text();
  }
  return FromWideName(rest.c_str()).Replace("\\", "/");
}

bool FinalPath(HANDLE handle, Text& path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return Fail();
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(n + 1);
  }
  path = FromKernelPath(buffer);
  return path.IsEmpty() ? FailWith(ERROR_PATH_NOT_FOUND) : true;
}

// Where a link leads, named from the current folder ("./...") when it lies below it, so that it
// compares equal with the plain names of the same files; absolute otherwise.
bool ResolveLink(const Text& link, PathFacts& facts) {
  // A link that leads nowhere, or in a loop, fails to open.
  Handle target(OpenAny(link, 0));
  if (!target) return Fail();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(target.Get(), &info)) return Fail();
  if (!FinalPath(target.Get(), facts.resolved)) return false;
  facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
  Handle here(OpenAny(".", 0));
  Text current;
  if (here && FinalPath(here.Get(), current)) {
    const Text prefix = current.EndsWith("/") ? current : current + "/";
    if (facts.resolved.StartsWith(prefix)) facts.resolved = Text("./") + facts.resolved.From(prefix.Length());
  }
  return true;
}

// Other holders of the file that keep it from being deleted (or replaced) show as a failure to
// open it for deletion.
bool MayDelete(const Text& path) {
  Handle file(Open(path, DELETE, kShareAll, OPEN_EXISTING));
  return file ? true : Fail();
}

bool SameFile(const Text& a, const Text& b) {
  Handle first(OpenAny(a, 0)), second(OpenAny(b, 0));
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  return first && second && GetFileInformationByHandle(first.Get(), &ia) &&
         GetFileInformationByHandle(second.Get(), &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool FlushFile(const Text& path) {
  Handle file(Open(path, GENERIC_WRITE, kShareAll, OPEN_EXISTING));
  if (!file || !FlushFileBuffers(file.Get())) return Fail();
  return true;
}

// Entries reach the disk with the folder where the file system lets a folder be flushed; where not
// (no write access to the folder handle, FAT, network shares), the moves' write-through is what
// there is. Nothing on a write-protected disk can have changed.
bool FlushFolder(const Text& folder) {
  Handle handle(OpenAny(folder, GENERIC_WRITE));
  if (!handle) {
    const DWORD code = GetLastError();
    return IsMissing(code) || code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT ? true : FailWith(code);
  }
  if (FlushFileBuffers(handle.Get())) return true;
  const DWORD code = GetLastError();
  return code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ||
                 code == ERROR_INVALID_PARAMETER
             ? true
             : FailWith(code);
}

// A copy with the original's attributes and times, whole on the disk before it is renamed.
bool CopyAside(const Text& path, const Text& aside, const Text& partial) {
  const bool copied = CopyFileW(Native(path).c_str(), Native(partial).c_str(), TRUE) != 0 || Fail();
  if (!copied || (diskSync && !FlushFile(partial)) || !MoveOver(partial, aside)) {
    const DWORD reason = lastWindowsError;
    RemoveFile(partial);
    return FailWith(reason);
  }
  return true;
}

using RtlGetLastNtStatusCall = LONG(WINAPI*)();

// The kernel reports a file that is being deleted while other handles keep it as access denied;
// only its status tells it from a file the process may not open.
bool DeletePending() {
  static const auto call = reinterpret_cast<RtlGetLastNtStatusCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
  return call != nullptr && call() == kStatusDeletePending;
}

}  // namespace

struct FolderLock::Holding {
  // The system deletes the lock file with the last handle, also when the process is killed.
  ~Holding() { CloseHandle(file); }
  HANDLE file = INVALID_HANDLE_VALUE;
};

FolderLock::FolderLock() = default;
FolderLock::~FolderLock() = default;
FolderLock::FolderLock(FolderLock&&) noexcept = default;
FolderLock& FolderLock::operator=(FolderLock&&) noexcept = default;
void FolderLock::Release() { held_.reset(); }

// A folder cannot be held against others without also keeping out whoever watches it (Explorer),
// so the lock is always the lock file, open without sharing.
LockAttempt TryLockFolder(const Text& folder, FolderLock& lock) {
  lock.Release();
  Handle file(Open(Joined(folder, kLockFileName), GENERIC_READ | GENERIC_WRITE | DELETE, 0, OPEN_ALWAYS,
                   FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE));
  if (!file) {
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION || (code == ERROR_ACCESS_DENIED && DeletePending())) return LockAttempt::kBusy;
    FailWith(code);
    return LockAttempt::kFailed;
  }
  lock.held_ = std::make_unique<FolderLock::Holding>();
  lock.held_->file = file.Take();
  return LockAttempt::kLocked;
}

void SetLockThroughFileForTesting(bool) {}

void SetDiskSyncForTesting(bool enabled) { diskSync = enabled; }

Text LastSystemError() {
  if (lastWindowsError == 0) return lastRuntimeError == 0 ? Text() : Text::FromUtf8(::strerror(lastRuntimeError));
  wchar_t* message = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      lastWindowsError, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring text = n > 0 && message != nullptr ? std::wstring(message, n) : std::wstring();
  if (message != nullptr) LocalFree(message);
  // "There is not enough space on the disk.\r\n" reads as the other systems' "No space left on device".
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.')) {
    text.pop_back();
  }
  if (text.empty()) return Text("Windows error ") + Text::FromInt(lastWindowsError);
  return FromWideName(text.c_str());
}

SystemErrorKind LastSystemErrorKind() {
  if (lastWindowsError == 0) {
    switch (lastRuntimeError) {
      case 0: return SystemErrorKind::kNone;
      case EACCES:
      case EPERM:
      case EBUSY: return SystemErrorKind::kNoAccess;
      case EROFS: return SystemErrorKind::kReadOnlyDisk;
      case ENOSPC: return SystemErrorKind::kNoSpace;
      case ENOENT:
      case ENOTDIR: return SystemErrorKind::kNotFound;
      case EIO: return SystemErrorKind::kDeviceError;
      default: return SystemErrorKind::kOther;
    }
  }
  switch (lastWindowsError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_DELETE_PENDING: return SystemErrorKind::kNoAccess;
    case ERROR_WRITE_PROTECT: return SystemErrorKind::kReadOnlyDisk;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded: return SystemErrorKind::kNoSpace;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NOT_READY: return SystemErrorKind::kNotFound;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETNAME_DELETED:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
    case ERROR_DISK_OPERATION_FAILED: return SystemErrorKind::kDeviceError;
    default: return SystemErrorKind::kOther;
  }
}

void ClearSystemError() {
  lastWindowsError = 0;
  lastRuntimeError = 0;
  errno = 0;
  _doserrno = 0;
  SetLastError(0);
}

// The runtime library keeps the kernel's code of its last failed call beside the errno it made of
// it, which loses the difference between a read-only disk, a full one and a file in use.
void CaptureSystemError() {
  if (_doserrno != 0) {
    FailWith(static_cast<DWORD>(_doserrno));
  } else {
    lastWindowsError = 0;
    lastRuntimeError = errno;
  }
}

bool SyncToDisk(const std::vector<Text>& files, const std::vector<Text>& folders, Text& failed) {
  if (!diskSync) return true;
  for (const Text& file : files) {
    if (!FlushFile(file)) {
      failed = file;
      return false;
    }
  }
  for (const Text& folder : folders) {
    if (!FlushFolder(folder)) {
      failed = folder;
      return false;
    }
  }
  return true;
}

// Symbolic links and junctions are followed to the file they lead to; other reparse points
// (files kept in the cloud, deduplicated files) are the files themselves. A link whose target does
// not exist cannot be followed here, unlike on other systems: the kernel names only targets it can
// open.
bool ExaminePath(const Text& path, PathFacts& facts) {
  facts = PathFacts{};
  facts.resolved = path;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Native(path).c_str(), GetFileExInfoStandard, &data)) {
    const DWORD code = GetLastError();
    // A missing folder on the way is for the caller to report, as for a missing file.
    return IsMissing(code) ? true : FailWith(code);
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    WIN32_FIND_DATAW found{};
    FindHandle find(FindFirstFileW(Native(path).c_str(), &found));
    if (find.Get() == INVALID_HANDLE_VALUE) return Fail();
    if (IsReparseTagNameSurrogate(found.dwReserved0)) {
      facts.isLink = true;
      return ResolveLink(path, facts);
    }
  }
  facts.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder
               : (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0  ? PathKind::kOther
                                                                       : PathKind::kFile;
  return true;
}

bool ListFolder(const Text& folder, std::vector<Text>& names) {
  names.clear();
  WIN32_FIND_DATAW found{};
  FindHandle find(FindFirstFileW(Native(Joined(folder.IsEmpty() ? Text(".") : folder, "*")).c_str(), &found));
  if (find.Get() == INVALID_HANDLE_VALUE) {
    // An empty root has no "." to list; a file is no folder and holds nothing.
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(Native(folder).c_str());
    const bool file = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return IsMissing(code) || file ? true : FailWith(code);
  }
  do {
    const Text name = FromWideName(found.cFileName);
    if (name != Text(".") && name != Text("..")) names.push_back(name);
  } while (FindNextFileW(find.Get(), &found));
  const DWORD code = GetLastError();
  return code == ERROR_NO_MORE_FILES ? true : FailWith(code);
}

// The kernel refuses to replace a read-only file, but Wine run by root does not: the attribute is
// tested here so that the player's read-only file is kept on both.
bool MoveOver(const Text& from, const Text& to) {
  const DWORD existing = GetFileAttributesW(Native(to).c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
    return FailWith(ERROR_ACCESS_DENIED);
  }
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (diskSync ? MOVEFILE_WRITE_THROUGH : 0);
  const bool moved = MoveFileExW(Native(from).c_str(), Native(to).c_str(), flags) != 0;
  const DWORD code = GetLastError();
  // Two names of one file: the move may fail or do nothing; either way the file is to be left
  // under `to` alone.
  if (moved && GetFileAttributesW(Native(from).c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  if (SameFile(from, to)) return RemoveFile(from);
  return moved ? true : FailWith(code);
}

bool KeepAside(const Text& path, const Text& aside, const Text& partial) {
  // A second name of a file held open without delete sharing could not be removed again while it
  // is held, and the file itself cannot be replaced: the update stops here, before either exists.
  if (!MayDelete(path)) return false;
  if (CreateHardLinkW(Native(aside).c_str(), Native(path).c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return FailWith(code);
  if (!RemoveFile(partial)) return false;
  return CopyAside(path, aside, partial);
}

// Windows files have no owner or mode to hand on that a new file in the folder would not inherit
// (its access list comes from the folder); what the player sees are the attributes. Read-only is
// not handed on: the replaced file passed IsWritable, and a read-only new file could not be
// replaced by the next update. The new bytes are marked for backup as any written file is.
bool PrepareStagedFile(const Text& staged, const Text& replaced, const Text&) {
  if (replaced.IsEmpty()) return true;
  const DWORD from = GetFileAttributesW(Native(replaced).c_str());
  if (from == INVALID_FILE_ATTRIBUTES) return Fail();
  const DWORD kept = (from & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
                     FILE_ATTRIBUTE_ARCHIVE;
  if (!SetFileAttributesW(Native(staged).c_str(), kept)) return Fail();
  return true;
}

bool WriteSmallFile(const Text& path, const std::string& bytes) {
  // Not CREATE_ALWAYS: it refuses to truncate a hidden file unless asked to keep it hidden.
  Handle file(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_ALWAYS));
  if (!file || !WriteAll(file.Get(), bytes.data(), bytes.size()) || !SetEndOfFile(file.Get())) return Fail();
  if (!file.Close()) return Fail();
  return true;
}

bool ReadSmallFile(const Text& path, std::string& bytes) {
  bytes.clear();
  Handle file(Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING));
  if (!file) return Fail();
  char buffer[4096];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr)) return Fail();
    if (n == 0) return true;
    bytes.append(buffer, n);
  }
}

// A read-only file is refused as on other systems: the read-only attribute is the player's.
// A file that another program holds with delete sharing is only marked for deletion: its name stays
// (and no file of that name can be made) until the last handle closes. Holders such as scanners let
// go soon, so the name is awaited for a moment; a name that stays is reported as a file in use.
bool RemoveFile(const Text& path) {
  const std::wstring name = Native(path);
  if (!DeleteFileW(name.c_str())) {
    const DWORD code = GetLastError();
    return IsMissing(code) ? true : FailWith(code);
  }
  for (int waited = 0; GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES || !IsMissing(GetLastError());
       waited += 10) {
    if (waited >= 2000) return FailWith(ERROR_DELETE_PENDING);
    Sleep(10);
  }
  return true;
}

// A file: the attribute, then an open for writing and deletion, which also fails while another
// program holds the file without sharing it. A folder: its read-only attribute means nothing on
// Windows (Explorer marks customised folders so), so a new entry is tried, removed again by the
// system as it is closed.
bool IsWritable(const Text& path) {
  const DWORD attributes = GetFileAttributesW(Native(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return FailWith(ERROR_ACCESS_DENIED);
    Handle file(Open(path, FILE_WRITE_DATA | DELETE, kShareAll, OPEN_EXISTING));
    return file ? true : Fail();
  }
  const Text probe = Joined(path, ".zpatch-probe-") + Text::FromInt(GetCurrentProcessId());
  for (int attempt = 0;; ++attempt) {
    Handle file(Open(probe + "-" + Text::FromInt(attempt), GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                     FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE));
    if (file) return true;
    const DWORD code = GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100) return FailWith(code);
  }
}

// Windows has no file size limit that ends a process.
void ReportFileSizeLimitAsError() {}

}  // namespace kiln::filecommit
