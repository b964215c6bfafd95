#include "runtime/filesystem/filesystem.h"

#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/internal/file_system_backend.h"
#include "runtime/filesystem/memory_stream.h"
#include "runtime/stream/stream_module.h"

namespace kiln {
namespace {

constexpr int kCopyBufferSize = 4096;
// Deep enough for any real tree; stops a copy that follows a link back into its own source.
constexpr int kMaxCopyDepth = 64;

bool IsDotName(const Text& name) { return name == Text(".") || name == Text(".."); }

// An empty folder (a working directory that cannot be read) keeps the name relative: a leading "/"
// would move it to the root of the file system.
Text JoinPath(const Text& dir, const Text& name) {
  if (dir.IsEmpty()) return name;
  return dir.EndsWith("/") ? dir + name : dir + "/" + name;
}

// `inner` equals `outer` or lies below it; both absolute.
bool IsSameOrInside(const Text& inner, const Text& outer) {
  if (inner == outer) return true;
  return inner.StartsWith(outer.EndsWith("/") ? outer : outer + "/");
}

int CopyDirAt(const Text& source, const Text& destination, int depth) {
  if (depth > kMaxCopyDepth || QueryPathKind(source) != FILETYPE_DIR) return 0;
  if (QueryPathKind(destination) != FILETYPE_DIR && !CreateDir(destination)) return 0;
  for (const Text& name : LoadDir(source, 1)) {
    Text from = JoinPath(source, name);
    Text to = JoinPath(destination, name);
    int kind = QueryPathKind(from);
    if (kind == FILETYPE_DIR) {
      if (!CopyDirAt(from, to, depth + 1)) return 0;
    } else if (kind == FILETYPE_FILE) {
      if (!CopyFileBytes(from, to)) return 0;
    } else {
      return 0;
    }
  }
  return 1;
}

}  // namespace

int StatPath(const Text& path, int& mode, int64_t& size, int64_t& modifiedTime, int64_t& createdTime) {
  if (path.Contains("<") || path.Contains(">")) return -1;
  fsbackend::PathStatus status;
  if (!fsbackend::StatPath(path, status)) return -1;
  mode = status.mode & 0xFFFF;
  size = status.size;
  modifiedTime = status.modifiedTime;
  createdTime = status.createdTime;
  return 0;
}

int QueryPathKind(Text path) {
  NormalizePath(path);
  int mode = 0;
  int64_t size = 0, modified = 0, created = 0;
  if (StatPath(path, mode, size, modified, created) != 0) return FILETYPE_NONE;
  switch (mode & 0xF000) {
    case 0x8000: return FILETYPE_FILE;
    case 0x4000: return FILETYPE_DIR;
    default: return FILETYPE_NONE;
  }
}

Ref<TStream> OpenFileStream(const Url& url, int readable, int writeable) {
  Ref<TStream> stream = StreamFromUrl(url, readable, writeable);
  // Only a stream opened for reading alone is copied: the copy cannot carry writes back.
  if (!stream || stream->Pos() != -1 || !readable || writeable) return stream;
  try {
    Ref<TStream> copy = ReadWholeStream(*stream);
    stream->Close();
    return copy;
  } catch (const TStreamException&) {
    return nullptr;
  }
}

Ref<TStream> OpenFileForReading(const Url& url) { return OpenFileStream(url, 1, 0); }
Ref<TStream> OpenFileForWriting(const Url& url) { return OpenFileStream(url, 0, 1); }

int CloseFileStream(const Ref<TStream>& stream) { return CloseStreamObject(stream); }

Text WorkingDir() { return NormalizedPath(CurrentDirectory()); }

Text AbsolutePath(Text path) {
  NormalizePath(path);
  Text result = RootOf(path);
  if (path.StartsWith("/") && !path.StartsWith("//")) {
    // A path from the root of the current drive, on platforms whose working directory has one.
    Text cwdRoot = RootOf(WorkingDir());
    if (cwdRoot.EndsWith(":/")) {
      path = cwdRoot.Left(cwdRoot.Length() - 1) + path;
      result = RootOf(path);
    }
  }
  Text rest = path.From(result.Length());
  if (result.IsEmpty()) result = WorkingDir();
  int start = 0;
  while (start <= rest.Length()) {
    int end = rest.Find("/", start);
    if (end < 0) end = rest.Length();
    Text segment = rest.Slice(start, end);
    start = end + 1;
    if (segment.IsEmpty() || segment == Text(".")) continue;
    if (segment == Text("..")) {
      if (IsRootPath(result)) continue;
      Text root = RootOf(result);
      int slash = result.FindLast("/");
      result = slash < root.Length() ? root : result.Left(slash);
      continue;
    }
    result = JoinPath(result, segment);
  }
  return result;
}

int64_t FileModifiedTime(Text path) {
  NormalizePath(path);
  int mode = 0;
  int64_t size = 0, modified = 0, created = 0;
  return StatPath(path, mode, size, modified, created) == 0 ? modified : 0;
}

int64_t FileSize(Text path) {
  NormalizePath(path);
  int mode = 0;
  int64_t size = 0, modified = 0, created = 0;
  return StatPath(path, mode, size, modified, created) == 0 ? size : -1;
}

int FileMode(Text path) {
  NormalizePath(path);
  int mode = 0;
  int64_t size = 0, modified = 0, created = 0;
  return StatPath(path, mode, size, modified, created) == 0 ? (mode & 0777) : -1;
}

int SetFileMode(Text path, int mode) {
  NormalizePath(path);
  return fsbackend::ChangeMode(path, mode) ? 1 : 0;
}

int MakeEmptyFile(Text path) {
  NormalizePath(path);
  // Only a file (or link) in the way is replaced; a directory of that name stays and the call fails.
  if (QueryPathKind(path) == FILETYPE_FILE || fsbackend::IsSymbolicLink(path)) fsbackend::RemoveFile(path);
  try {
    if (Ref<TStream> stream = StreamFromUrl(path, 0, 1)) stream->Close();
  } catch (const TStreamException&) {
    return 0;
  }
  return QueryPathKind(path) == FILETYPE_FILE ? 1 : 0;
}

int CreateDir(Text path, int recurse) {
  NormalizePath(path, 1);
  if (!recurse) {
    fsbackend::MakeDirectory(path);
    return QueryPathKind(path) == FILETYPE_DIR ? 1 : 0;
  }
  Text full = AbsolutePath(path);
  Text root = RootOf(full);
  int pos = root.Length();
  while (pos < full.Length()) {
    int slash = full.Find("/", pos);
    if (slash < 0) slash = full.Length();
    Text level = full.Left(slash);
    pos = slash + 1;
    int kind = QueryPathKind(level);
    if (kind == FILETYPE_FILE) return 0;
    if (kind == FILETYPE_NONE) fsbackend::MakeDirectory(level);
  }
  return QueryPathKind(full) == FILETYPE_DIR ? 1 : 0;
}

int EraseFile(Text path) {
  const Text named = path;
  NormalizePath(path);
  switch (fsbackend::RemoveFile(path)) {
    case fsbackend::RemoveResult::kFailed:
      return 0;
    case fsbackend::RemoveResult::kNothingThere:
      // The path rule rewrites back slashes and drive colons: a file under the name as given is
      // still there.
      if (!(named == path) && fsbackend::NameExists(named)) return 0;
      break;
    case fsbackend::RemoveResult::kRemoved:
      break;
  }
  return QueryPathKind(path) == FILETYPE_NONE && !fsbackend::IsSymbolicLink(path) ? 1 : 0;
}

int RenameFile(Text from, Text to) {
  NormalizePath(from);
  NormalizePath(to);
  return fsbackend::RenamePath(from, to) ? 1 : 0;
}

int CopyFileBytes(Text source, Text destination) {
  NormalizePath(source);
  NormalizePath(destination);
  // Opening the destination would empty the source first.
  if (fsbackend::IsSameFile(source, destination)) return 0;
  Ref<TStream> in = ReadableStreamFromUrl(source);
  if (!in) return 0;
  Ref<TStream> out = WritableStreamFromUrl(destination);
  if (!out) {
    in->Close();
    return 0;
  }
  try {
    TransferStream(in, out, kCopyBufferSize);
    out->Close();
    in->Close();
  } catch (const TStreamException&) {
    return 0;
  }
  return 1;
}

int CopyDir(Text source, Text destination) {
  NormalizePath(source, 1);
  NormalizePath(destination, 1);
  if (QueryPathKind(source) != FILETYPE_DIR) return 0;
  // A destination inside the source would be copied into itself without end.
  if (IsSameOrInside(AbsolutePath(destination), AbsolutePath(source))) return 0;
  return CopyDirAt(source, destination, 0);
}

int DeleteDir(Text path, int recurse) {
  NormalizePath(path, 1);
  if (recurse && QueryPathKind(path) == FILETYPE_DIR && !fsbackend::IsSymbolicLink(path)) {
    bool entriesGone = true;
    for (const Text& name : LoadDir(path, 1)) {
      Text entry = JoinPath(path, name);
      // A link is removed, never followed: what it points to lies outside this tree.
      if (QueryPathKind(entry) == FILETYPE_DIR && !fsbackend::IsSymbolicLink(entry)) {
        entriesGone = DeleteDir(entry, 1) == 1 && entriesGone;
      } else {
        entriesGone = EraseFile(entry) == 1 && entriesGone;
      }
    }
    if (!entriesGone) return 0;
  }
  fsbackend::RemoveEmptyDir(path);
  return QueryPathKind(path) == FILETYPE_NONE ? 1 : 0;
}

int ChangeDir(Text path) {
  NormalizePath(path, 1);
  return ChangeCurrentDirectory(path) ? 1 : 0;
}

Text TDirectory::NextName() {
  Text name;
  if (!reader_ || !reader_->Next(name)) return Text();
  return name;
}

Ref<TDirectory> ReadDir(Text path) {
  NormalizePath(path, 1);
  std::unique_ptr<TDirectory::Reader> reader = fsbackend::OpenDirectory(path);
  if (!reader) return nullptr;
  return MakeRef<TDirectory>(std::move(reader));
}

Text NextFile(const Ref<TDirectory>& dir) { return dir ? dir->NextName() : Text(); }

void CloseDir(const Ref<TDirectory>& dir) {
  if (dir) dir->Close();
}

std::vector<Text> LoadDir(Text path, int skipDots) {
  std::vector<Text> names;
  Ref<TDirectory> dir = ReadDir(std::move(path));
  if (!dir) return names;
  for (Text name = dir->NextName(); !name.IsEmpty(); name = dir->NextName()) {
    if (skipDots && IsDotName(name)) continue;
    names.push_back(name);
  }
  dir->Close();
  return names;
}

void InitFileSystemModule() {
  RunOnce([] {
    InitStreamModule();
  });
}

}  // namespace kiln
