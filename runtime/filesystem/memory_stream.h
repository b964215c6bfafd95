// A seekable read-only stream over bytes it owns; holds the contents of streams that cannot seek.
#pragma once

#include <vector>

#include "runtime/stream/stream.h"

namespace kiln {

class TMemoryStream : public TStream {
 public:
  explicit TMemoryStream(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

  int64_t Pos() override { return _pos; }
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  // Clamped to 0..Size().
  int64_t Seek(int64_t pos) override;
  int Read(void* buf, int count) override;
  // Nothing is stored: the bytes are a copy, and writes to it would be lost.
  int Write(const void* buf, int count) override;

 private:
  std::vector<unsigned char> bytes_;
  int64_t _pos = 0;
};

// Reads `source` with Read until it delivers nothing more. Throws what the source throws.
Ref<TMemoryStream> ReadWholeStream(TStream& source);

}  // namespace kiln
