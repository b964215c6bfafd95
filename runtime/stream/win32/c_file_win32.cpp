#include <stdio.h>

#include <string>

#include "runtime/core/win32/wide_names.h"
#include "runtime/stream/internal/c_file.h"

namespace kiln {

// The runtime library refuses to open a folder as a file, so no check of the kind is needed here.
std::FILE* OpenCFile(const Text& path, const char* mode) {
  std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(ToWideName(path).c_str(), wideMode.c_str());
}

bool SeekCFile(std::FILE* file, int64_t offset, int whence) { return _fseeki64(file, offset, whence) == 0; }

int64_t TellCFile(std::FILE* file) { return static_cast<int64_t>(_ftelli64(file)); }

}  // namespace kiln
