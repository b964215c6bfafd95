#include "runtime/stream/ram_stream.h"

#include <cstring>

#include "runtime/stream/resources.h"

namespace kiln {

Ref<TRamStream> TRamStream::Create(void* block, int64_t size, int readable, int writeable) {
  auto stream = MakeRef<TRamStream>();
  stream->Attach(block, size, readable, writeable);
  return stream;
}

void TRamStream::Attach(void* block, int64_t size, int readable, int writeable) {
  _pos = 0;
  _buf = static_cast<unsigned char*>(block);
  _size = size < 0 ? 0 : size;
  _read = readable;
  _write = writeable;
}

Ref<TRamStream> TRamStream::Create(const void* block, int64_t size) {
  // The block is only ever read through a stream whose write flag is 0.
  return Create(const_cast<void*>(block), size, 1, 0);
}

int64_t TRamStream::Seek(int64_t pos) {
  _pos = pos < 0 ? 0 : pos > _size ? _size : pos;
  return _pos;
}

int TRamStream::Read(void* buf, int count) {
  if (count <= 0 || !_read) return 0;
  int64_t n = count;
  if (_pos + n > _size) n = _size - _pos;
  if (n <= 0) return 0;
  std::memcpy(buf, _buf + _pos, static_cast<size_t>(n));
  _pos += n;
  return static_cast<int>(n);
}

int TRamStream::Write(const void* buf, int count) {
  if (count <= 0 || !_write) return 0;
  int64_t n = count;
  if (_pos + n > _size) n = _size - _pos;
  if (n <= 0) return 0;
  std::memcpy(_buf + _pos, buf, static_cast<size_t>(n));
  _pos += n;
  return static_cast<int>(n);
}

Ref<TRamStream> StreamOverMemory(void* block, int64_t size, int readable, int writeable) {
  return TRamStream::Create(block, size, readable, writeable);
}

Ref<TStream> TRamStreamFactory::CreateStream(const Url&, const Text& protocol, const Text& path, int readable,
                                             int writeable) {
  if (protocol != Text("incbin") || writeable) return nullptr;
  // Looked up by entry rather than by pointer, so that an empty block opens as an empty stream.
  const EmbeddedResourceEntry* entry = FindEmbeddedResource(path);
  if (entry == nullptr) return nullptr;
  return TRamStream::Create(const_cast<unsigned char*>(entry->data), entry->data ? entry->length : 0, readable, 0);
}

}  // namespace kiln
