#include <stdio.h>

#include "runtime/core/file_names.h"
#include "runtime/stream/c_file.h"

namespace kiln {

std::FILE* OpenCFile(const Text& path, const char* mode) { return fopen(ToPlatformName(path).c_str(), mode); }

bool SeekCFile(std::FILE* file, int64_t offset, int whence) {
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

int64_t TellCFile(std::FILE* file) { return static_cast<int64_t>(ftello(file)); }

}  // namespace kiln
