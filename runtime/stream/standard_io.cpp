#include "runtime/stream/standard_io.h"

#include <cstdio>

namespace kiln {

bool TCStandardIO::Eof() { return std::feof(stdin) != 0; }

int TCStandardIO::Read(void* buf, int count) {
  if (count <= 0) return 0;
  return static_cast<int>(std::fread(buf, 1, static_cast<size_t>(count), stdin));
}

int TCStandardIO::Write(const void* buf, int count) {
  if (count <= 0) return 0;
  return static_cast<int>(std::fwrite(buf, 1, static_cast<size_t>(count), stdout));
}

int TCStandardIO::Flush() {
  std::fflush(stdout);
  return 0;
}

Ref<TCStandardIO> StandardIOStream() {
  static Ref<TCStandardIO> stream = MakeRef<TCStandardIO>();
  return stream;
}

}  // namespace kiln
