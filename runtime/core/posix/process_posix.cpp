#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "runtime/core/file_names.h"
#include "runtime/core/internal/process_backend.h"
#include "runtime/core/runtime.h"

namespace kiln::processbackend {
namespace {

Text RealPath(const char* path) {
  if (path == nullptr) return Text();
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) return Text();
  Text result = FromPlatformName(resolved);
  free(resolved);
  return result;
}

}  // namespace

Text ExecutablePath(const char* argv0) {
  Text path = RealPath("/proc/self/exe");
  return path.IsEmpty() ? RealPath(argv0) : path;
}

}  // namespace kiln::processbackend

namespace kiln {

Text CurrentDirectory() {
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return Text();
  Text result = FromPlatformName(cwd);
  free(cwd);
  return result;
}

bool ChangeCurrentDirectory(const Text& path) { return chdir(ToPlatformName(path).c_str()) == 0; }

}  // namespace kiln
