// File system functions: the runtime's own path rules, path kinds, file streams, and file and
// directory operations. Every function normalises its path first; failures show in the result
// (0, -1, the empty text or the empty pointer) and nothing is thrown.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/core/object.h"
#include "runtime/core/text.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

// Path kinds reported by QueryPathKind.
constexpr int FILETYPE_NONE = 0;
constexpr int FILETYPE_FILE = 1;
constexpr int FILETYPE_DIR = 2;

// Back slashes become "/", a bare server name ("//host") and a drive name ("C:", "C:foo") get their
// root slash, and with `dropTrailingSlash` a final "/" goes unless the path is a root. Protocol
// prefixes ("incbin::") are left alone; "." and ".." are not resolved.
void NormalizePath(Text& path, int dropTrailingSlash = 0);
Text NormalizedPath(Text path, int dropTrailingSlash = 0);
// "//host/", "C:/", "/" or the empty text.
Text RootOf(const Text& path);
bool IsRootPath(const Text& path);

// FILETYPE_NONE, FILETYPE_FILE or FILETYPE_DIR.
int QueryPathKind(Text path);
// 0 with the 16-bit mode, size in bytes and times in seconds since 1970; -1 on failure. A path with
// "<" or ">" always fails.
int StatPath(const Text& path, int& mode, int64_t& size, int64_t& modifiedTime, int64_t& createdTime);

// StreamFromUrl; a stream that cannot seek is read into memory and a seekable copy returned.
Ref<TStream> OpenFileStream(const Url& url, int readable, int writeable);
Ref<TStream> OpenFileForReading(const Url& url);
Ref<TStream> OpenFileForWriting(const Url& url);
// Closes the stream; returns 0.
int CloseFileStream(const Ref<TStream>& stream);

Text PathWithoutDir(Text path);
Text PathWithoutExt(Text path);
Text BareFileName(Text path);
Text PathWithoutTrailingSlash(Text path);
Text DirOfPath(Text path);
Text ExtOfPath(Text path);
Text WorkingDir();
// Resolves "." and ".." against the path's root or the working directory.
Text AbsolutePath(Text path);

// 0 when the path cannot be examined.
int64_t FileModifiedTime(Text path);
// -1 when the path cannot be examined.
int64_t FileSize(Text path);
// The nine permission bits, or -1.
int FileMode(Text path);
// 1 on success.
int SetFileMode(Text path, int mode);

// Each returns 1 on success and 0 on failure. The file functions are not called CreateFile,
// DeleteFile and CopyFile: <windows.h> defines those names as macros.
// An empty file; a file or link already there is replaced, a folder is not.
int MakeEmptyFile(Text path);
int CreateDir(Text path, int recurse = 0);
int EraseFile(Text path);
// Never replaces an existing destination.
int RenameFile(Text from, Text to);
int CopyFileBytes(Text source, Text destination);
int CopyDir(Text source, Text destination);
int DeleteDir(Text path, int recurse = 0);
int ChangeDir(Text path);

// An open directory listing.
class TDirectory : public TObject {
 public:
  class Reader {
   public:
    virtual ~Reader() = default;
    // False at the end of the listing.
    virtual bool Next(Text& name) = 0;
  };
  explicit TDirectory(std::unique_ptr<Reader> reader) : reader_(std::move(reader)) {}
  // The next name, or the empty text at the end or after Close.
  Text NextName();
  void Close() { reader_.reset(); }

 private:
  std::unique_ptr<Reader> reader_;
};

// The empty pointer when the path is not a readable directory.
Ref<TDirectory> ReadDir(Text path);
Text NextFile(const Ref<TDirectory>& dir);
void CloseDir(const Ref<TDirectory>& dir);
// All names in the platform's order, optionally without "." and ".."; empty when unreadable.
std::vector<Text> LoadDir(Text path, int skipDots = 0);

// Run-once initialiser of the file system module.
void InitFileSystemModule();

}  // namespace kiln
