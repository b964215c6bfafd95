// Platform file opening for the file stream: paths reach the platform in its own encoding.
#pragma once

#include <cstdio>

#include "runtime/core/text.h"

namespace kiln {

// fopen with the path as the platform expects it (UTF-8 on POSIX, UTF-16 on Windows).
std::FILE* OpenCFile(const Text& path, const char* mode);
bool SeekCFile(std::FILE* file, int64_t offset, int whence);
int64_t TellCFile(std::FILE* file);

}  // namespace kiln
