// The process's standard input and output as a stream.
#pragma once

#include "runtime/stream/stream.h"

namespace kiln {

// Reads standard input, writes standard output; Flush flushes standard output.
class TCStandardIO : public TStream {
 public:
  bool Eof() override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;
  int Flush() override;
};

Ref<TCStandardIO> StandardIOStream();

}  // namespace kiln
