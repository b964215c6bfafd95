// What the fuzz targets share: the check that turns a broken promise into a finding, and the
// current input served as a stream to the URLs of one protocol (and one path, when given).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "runtime/stream/ram_stream.h"
#include "runtime/stream/stream_factory.h"

namespace kiln::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

// The bytes the input streams serve; set before each run of the target.
struct CurrentInput {
  static inline const uint8_t* data = nullptr;
  static inline size_t size = 0;
};

// Answers readable opens of "<protocol>::<path>" (any path when `path` is empty) with the current
// input, ahead of the factories registered before it.
class InputFactory : public TStreamFactory {
 public:
  InputFactory(Text protocol, Text path) : protocol_(std::move(protocol)), path_(std::move(path)) {}
  Ref<TStream> CreateStream(const Url&, const Text& protocol, const Text& path, int readable, int writeable) override {
    if (!(protocol == protocol_) || (!path_.IsEmpty() && !(path == path_)) || !readable || writeable) return nullptr;
    return TRamStream::Create(CurrentInput::data, static_cast<int64_t>(CurrentInput::size));
  }

 private:
  Text protocol_, path_;
};

}  // namespace kiln::fuzz
