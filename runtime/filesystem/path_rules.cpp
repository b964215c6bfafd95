// The runtime's path rules. They are the same on every platform: drive names and network paths are
// recognised everywhere, so a path means the same thing wherever the program runs.
#include "runtime/filesystem/filesystem.h"

namespace kiln {

void NormalizePath(Text& path, int dropTrailingSlash) {
  path = path.Replace("\\", "/");
  if (path.StartsWith("//")) {
    if (path.Find("/", 2) < 0) path += "/";
  } else {
    int colon = path.Find(":");
    if (colon >= 0) {
      bool protocol = colon + 1 < path.Length() && path[colon + 1] == u':';
      int slash = path.Find("/");
      if (!protocol && (slash < 0 || slash > colon + 1)) path = path.Left(colon + 1) + "/" + path.From(colon + 1);
    }
  }
  if (dropTrailingSlash && path.EndsWith("/") && !IsRootPath(path)) path = path.Left(path.Length() - 1);
}

Text NormalizedPath(Text path, int dropTrailingSlash) {
  NormalizePath(path, dropTrailingSlash);
  return path;
}

Text RootOf(const Text& path) {
  if (path.StartsWith("//")) {
    int slash = path.Find("/", 2);
    return slash < 0 ? Text() : path.Left(slash + 1);
  }
  int driveSlash = path.Find(":/");
  if (driveSlash >= 0) return path.Left(driveSlash + 2);
  if (path.StartsWith("/")) return "/";
  return Text();
}

bool IsRootPath(const Text& path) { return !path.IsEmpty() && path == RootOf(path); }

Text PathWithoutDir(Text path) {
  NormalizePath(path);
  return path.From(path.FindLast("/") + 1);
}

Text PathWithoutExt(Text path) {
  NormalizePath(path);
  int dot = path.FindLast(".");
  return dot > path.FindLast("/") ? path.Left(dot) : path;
}

Text BareFileName(Text path) { return PathWithoutDir(PathWithoutExt(std::move(path))); }

Text PathWithoutTrailingSlash(Text path) {
  NormalizePath(path);
  if (path.EndsWith("/") && !IsRootPath(path)) return path.Left(path.Length() - 1);
  return path;
}

Text DirOfPath(Text path) {
  NormalizePath(path);
  if (path == Text(".") || path == Text("..") || IsRootPath(path)) return path;
  int slash = path.FindLast("/");
  if (slash < 0) return Text();
  Text withSlash = path.Left(slash + 1);
  return IsRootPath(withSlash) ? withSlash : path.Left(slash);
}

Text ExtOfPath(Text path) {
  NormalizePath(path);
  int dot = path.FindLast(".");
  return dot > path.FindLast("/") ? path.From(dot + 1) : Text();
}

}  // namespace kiln
