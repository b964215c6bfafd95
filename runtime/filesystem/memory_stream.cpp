#include "runtime/filesystem/memory_stream.h"

namespace kiln {

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
