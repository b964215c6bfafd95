// A seekable read-only stream over bytes it owns; holds the contents of streams that cannot seek.
#pragma once

#include <vector>

#include "runtime/stream/ram_stream.h"

namespace kiln {

// Writes store nothing: the bytes are a copy, and writes to it would be lost.
class TMemoryStream : public TRamStream {
 public:
  explicit TMemoryStream(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {
    Attach(bytes_.data(), static_cast<int64_t>(bytes_.size()), 1, 0);
  }

 private:
  std::vector<unsigned char> bytes_;
};

// Reads `source` with Read until it delivers nothing more. Throws what the source throws.
Ref<TMemoryStream> ReadWholeStream(TStream& source);

}  // namespace kiln
