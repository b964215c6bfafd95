#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "runtime/core/file_names.h"
#include "runtime/stream/internal/c_file.h"

namespace kiln {

// fopen opens a folder for reading here; the file stream only ever means files.
std::FILE* OpenCFile(const Text& path, const char* mode) {
  std::FILE* file = fopen(ToPlatformName(path).c_str(), mode);
  if (file == nullptr) return nullptr;
  struct stat st;
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

bool SeekCFile(std::FILE* file, int64_t offset, int whence) {
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

int64_t TellCFile(std::FILE* file) { return static_cast<int64_t>(ftello(file)); }

}  // namespace kiln
