#include <gtest/gtest.h>

#include <string>

#include "runtime/filesystem/filesystem.h"

namespace kiln {
namespace {

struct NormalizeCase {
  const char* in;
  int drop;
  const char* out;
};

TEST(PathRules, NormalizePath) {
  const NormalizeCase cases[] = {
      {"C:", 0, "C:/"},
      {"C:foo", 0, "C:/foo"},
      {"C:/foo", 0, "C:/foo"},
      {"c:\\games\\zunto\\", 0, "c:/games/zunto/"},
      {"c:\\games\\zunto\\", 1, "c:/games/zunto"},
      {"incbin::x", 0, "incbin::x"},
      {"incbin::a:b", 0, "incbin::a:b"},
      {"dir/a:b", 0, "dir/a:b"},
      {"//server", 0, "//server/"},
      {"//server", 1, "//server/"},
      {"//server/share/", 1, "//server/share"},
      {"/", 1, "/"},
      {"C:/", 1, "C:/"},
      {"a//b/./../c", 0, "a//b/./../c"},
      {"dir/", 1, "dir"},
      {"", 1, ""},
      {"x:", 1, "x:/"},
  };
  for (const auto& c : cases) {
    Text path = c.in;
    NormalizePath(path, c.drop);
    EXPECT_EQ(path.ToUtf8(), c.out) << c.in << " drop " << c.drop;
  }
}

TEST(PathRules, RootsOfDrivesNetworkPathsAndPosixPaths) {
  EXPECT_EQ(RootOf("C:/x/y"), Text("C:/"));
  EXPECT_EQ(RootOf("//srv/share/x"), Text("//srv/"));
  EXPECT_EQ(RootOf("/usr/bin"), Text("/"));
  EXPECT_EQ(RootOf("rel/path"), Text());
  EXPECT_TRUE(IsRootPath("/"));
  EXPECT_TRUE(IsRootPath("C:/"));
  EXPECT_TRUE(IsRootPath("//srv/"));
  EXPECT_FALSE(IsRootPath(""));
  EXPECT_FALSE(IsRootPath("/a"));
}

struct PartsCase {
  const char* path;
  const char* dir;
  const char* name;
  const char* ext;
  const char* withoutExt;
  const char* bare;
};

TEST(PathRules, SplitsIntoFolderNameAndExtension) {
  const PartsCase cases[] = {
      {"Zunto_Data/XMLData/a.xml", "Zunto_Data/XMLData", "a.xml", "xml", "Zunto_Data/XMLData/a", "a"},
      {"a.b/c", "a.b", "c", "", "a.b/c", "c"},
      {"/Vellmora.exe", "/", "Vellmora.exe", "exe", "/Vellmora", "Vellmora"},
      {"C:/x.tar.gz", "C:/", "x.tar.gz", "gz", "C:/x.tar", "x.tar"},
      {"C:x", "C:/", "x", "", "C:/x", "x"},
      {"name", "", "name", "", "name", ""},
      {".", ".", ".", "", "", ""},
      {"..", "..", "..", "", ".", ""},
      {"/", "/", "", "", "/", ""},
      {"dir\\file.txt", "dir", "file.txt", "txt", "dir/file", "file"},
      {"dir/sub/", "dir/sub", "", "", "dir/sub/", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(DirOfPath(c.path).ToUtf8(), c.dir);
    EXPECT_EQ(PathWithoutDir(c.path).ToUtf8(), c.name);
    EXPECT_EQ(ExtOfPath(c.path).ToUtf8(), c.ext);
    EXPECT_EQ(PathWithoutExt(c.path).ToUtf8(), c.withoutExt);
  }
  EXPECT_EQ(BareFileName("dir/sub/file.tar.gz"), Text("file.tar"));
  EXPECT_EQ(BareFileName("C:file"), Text("file"));
}

TEST(PathRules, TrailingSlashGoesExceptOnRoots) {
  EXPECT_EQ(PathWithoutTrailingSlash("a/b/"), Text("a/b"));
  EXPECT_EQ(PathWithoutTrailingSlash("/"), Text("/"));
  EXPECT_EQ(PathWithoutTrailingSlash("C:"), Text("C:/"));
  EXPECT_EQ(PathWithoutTrailingSlash("//host"), Text("//host/"));
  EXPECT_EQ(PathWithoutTrailingSlash("a"), Text("a"));
}

TEST(PathRules, AbsolutePathWalksSegmentsFromItsRoot) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"/a/b/../c/./d//e", "/a/c/d/e"},
      {"/..", "/"},
      {"/a/..", "/"},
      {"/a/../..", "/"},
      {"C:/x/../../y", "C:/y"},
      {"C:x\\y", "C:/x/y"},
      {"C:/x/..", "C:/"},
      {"//srv/share/../other", "//srv/other"},
      {"//srv/..", "//srv/"},
      {"/a/b/", "/a/b"},
  };
  // A path from the root of the current drive gets that drive (none where paths have no drives).
  Text cwd = WorkingDir();
  std::string drive = cwd.Find(":") >= 0 ? cwd.Left(cwd.Find(":") + 1).ToUtf8() : "";
  for (const auto& c : cases) {
    bool fromDriveRoot = c.in[0] == '/' && c.in[1] != '/';
    EXPECT_EQ(AbsolutePath(c.in).ToUtf8(), (fromDriveRoot ? drive : "") + c.out) << c.in;
  }
}

}  // namespace
}  // namespace kiln
