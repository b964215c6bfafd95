#include "runtime/stream/c_stream.h"

#include "runtime/stream/internal/c_file.h"

namespace kiln {

TCStream::~TCStream() {
  try {
    Close();
  } catch (const TStreamWriteException&) {
    // Nobody is left to hear about a failed final flush of a stream that was never closed.
  }
}

Ref<TCStream> TCStream::OpenFile(const Text& path, int readable, int writeable) {
  const char* mode = "rb";
  int bits = MODE_READ;
  if (readable && writeable) {
    mode = "r+b";
    bits = MODE_READ | MODE_WRITE;
  } else if (writeable) {
    mode = "wb";
    bits = MODE_WRITE;
  }
  std::FILE* handle = OpenCFile(path.Replace("\\", "/"), mode);
  if (handle == nullptr) return nullptr;
  return CreateWithCStream(handle, bits);
}

Ref<TCStream> TCStream::CreateWithCStream(std::FILE* handle, int mode) {
  auto stream = MakeRef<TCStream>();
  stream->_cstream = handle;
  stream->_mode = mode;
  stream->_pos = TellCFile(handle);
  // Not seekable: Pos stays -1, so that whoever needs a seekable stream knows to copy it.
  if (stream->_pos < 0) {
    stream->_pos = -1;
    return stream;
  }
  if (SeekCFile(handle, 0, SEEK_END)) stream->_size = TellCFile(handle);
  SeekCFile(handle, stream->_pos, SEEK_SET);
  return stream;
}

bool TCStream::Eof() {
  if (_pos >= 0) return TStream::Eof();
  return _cstream == nullptr || std::feof(_cstream) != 0;
}

int64_t TCStream::Seek(int64_t pos) {
  if (_cstream == nullptr || _pos < 0) return -1;
  SeekCFile(_cstream, pos, SEEK_SET);
  _pos = TellCFile(_cstream);
  return _pos;
}

int TCStream::Read(void* buf, int count) {
  if (_cstream == nullptr || count <= 0) return 0;
  size_t n = std::fread(buf, 1, static_cast<size_t>(count), _cstream);
  if (_pos >= 0) _pos += static_cast<int64_t>(n);
  return static_cast<int>(n);
}

int TCStream::Write(const void* buf, int count) {
  if (_cstream == nullptr || count <= 0) return 0;
  size_t n = std::fwrite(buf, 1, static_cast<size_t>(count), _cstream);
  if (_pos >= 0) {
    _pos += static_cast<int64_t>(n);
    if (_pos > _size) _size = _pos;
  }
  return static_cast<int>(n);
}

// Buffered bytes that cannot be stored are lost data: that is a write failure, not a success.
int TCStream::Flush() {
  if (_cstream != nullptr && std::fflush(_cstream) != 0) RaiseStreamWrite();
  return 0;
}

int TCStream::Close() {
  if (_cstream == nullptr) return 0;
  bool failed = std::fflush(_cstream) != 0;
  failed = (std::fclose(_cstream) != 0) || failed;
  _cstream = nullptr;
  _pos = 0;
  _size = 0;
  if (failed && (_mode & MODE_WRITE) != 0) RaiseStreamWrite();
  return 0;
}

}  // namespace kiln
