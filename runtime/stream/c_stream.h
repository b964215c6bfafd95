// A stream over a runtime-library file handle.
#pragma once

#include <cstdio>

#include "runtime/stream/stream.h"

namespace kiln {

class TCStream : public TStream {
 public:
  static constexpr int MODE_READ = 1;
  static constexpr int MODE_WRITE = 2;

  ~TCStream() override;

  // "r+b" for read and write, "wb" (create or truncate) for write only, "rb" otherwise. Back slashes
  // become forward slashes. The empty pointer when the file cannot be opened.
  static Ref<TCStream> OpenFile(const Text& path, int readable, int writeable);
  // Takes ownership of an open handle.
  static Ref<TCStream> CreateWithCStream(std::FILE* handle, int mode);

  // A handle that cannot seek (a pipe) has Pos -1 and Size 0 for good, and is at its end once a read
  // has met the end of its data.
  bool Eof() override;
  int64_t Pos() override { return _pos; }
  int64_t Size() override { return _size; }
  int64_t Seek(int64_t pos) override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;
  // Throws the stream write exception when buffered bytes cannot be stored.
  int Flush() override;
  // Flushes and closes; a second Close does nothing. The handle is closed even when the final flush
  // fails, and that failure then throws the stream write exception.
  int Close() override;

  int Mode() const { return _mode; }
  std::FILE* Handle() const { return _cstream; }

 private:
  int64_t _pos = 0;
  int64_t _size = 0;
  std::FILE* _cstream = nullptr;
  int _mode = 0;
};

}  // namespace kiln
