#include "runtime/filesystem/memory_stream.h"

#include <cstring>

namespace kiln {

int64_t TMemoryStream::Seek(int64_t pos) {
  _pos = pos < 0 ? 0 : pos > Size() ? Size() : pos;
  return _pos;
}

int TMemoryStream::Read(void* buf, int count) {
  int64_t n = count;
  if (n > Size() - _pos) n = Size() - _pos;
  if (n <= 0) return 0;
  std::memcpy(buf, bytes_.data() + _pos, static_cast<size_t>(n));
  _pos += n;
  return static_cast<int>(n);
}

int TMemoryStream::Write(const void*, int) { return 0; }

Ref<TMemoryStream> ReadWholeStream(TStream& source) {
  std::vector<unsigned char> bytes;
  constexpr int kChunk = 65536;
  for (;;) {
    size_t used = bytes.size();
    bytes.resize(used + kChunk);
    int got = source.Read(bytes.data() + used, kChunk);
    bytes.resize(used + static_cast<size_t>(got > 0 ? got : 0));
    if (got <= 0) break;
  }
  return MakeRef<TMemoryStream>(std::move(bytes));
}

}  // namespace kiln
