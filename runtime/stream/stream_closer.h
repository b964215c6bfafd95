// Closes a stream on every way out of a scope; a failing Close is not allowed to mask the result.
#pragma once

#include "runtime/stream/stream.h"

namespace kiln {

class StreamCloser {
 public:
  explicit StreamCloser(Ref<TStream> stream) : stream_(std::move(stream)) {}
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;
  ~StreamCloser() {
    if (!stream_) return;
    try {
      stream_->Close();
    } catch (...) {
    }
  }

 private:
  Ref<TStream> stream_;
};

}  // namespace kiln
