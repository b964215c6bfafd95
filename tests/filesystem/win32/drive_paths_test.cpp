// Drive roots, drive-relative names and final slashes as Windows' runtime library sees them.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/core/win32/wide_names.h"
#include "runtime/filesystem/filesystem.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

TEST(DrivePaths, KindsOfRootsFoldersAndFilesWithAndWithoutFinalSlash) {
  InitFileSystemModule();
  test::TempDir temp;
  Text folder = FromWideName(temp.Path().wstring().c_str()).Replace("\\", "/");
  ASSERT_EQ(MakeEmptyFile(folder + "/file"), 1);
  Text drive = folder.Left(2);  // "C:"
  ASSERT_EQ(drive[1], u':');
  const struct {
    Text path;
    int kind;
  } cases[] = {
      {drive, FILETYPE_DIR},  // a bare drive is its root
      {drive + "/", FILETYPE_DIR},
      {drive + "\\", FILETYPE_DIR},
      {folder, FILETYPE_DIR},
      {folder + "/", FILETYPE_DIR},
      {folder + "//", FILETYPE_DIR},
      {folder + "\\", FILETYPE_DIR},
      {folder + "/file", FILETYPE_FILE},
      {folder + "/file/", FILETYPE_NONE},  // a final slash names a folder only
      {folder + "/FILE", FILETYPE_FILE},   // names are not case-sensitive here
      {folder + "/missing", FILETYPE_NONE},
      {folder + "/missing/", FILETYPE_NONE},
      {folder + "/fi<e", FILETYPE_NONE},
      {"//no-such-server-kiln/share", FILETYPE_NONE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QueryPathKind(c.path), c.kind) << c.path.ToLatin1();
  }
  EXPECT_EQ(EraseFile(folder + "/file/"), 0);
  EXPECT_EQ(QueryPathKind(folder + "/file"), FILETYPE_FILE);
  // The listing of a root has no "." or ".." on Windows, and that of a folder both.
  std::vector<Text> names = LoadDir(folder);
  EXPECT_NE(std::find(names.begin(), names.end(), Text("..")), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), Text("file")), names.end());
  EXPECT_FALSE(LoadDir(drive + "/").empty());
  EXPECT_TRUE(LoadDir(folder + "/file").empty());
}

TEST(DrivePaths, RenameNeverReplacesAndFileStreamsSeekBeyondFourGigabytes) {
  InitFileSystemModule();
  test::TempDir temp;
  Text folder = FromWideName(temp.Path().wstring().c_str()).Replace("\\", "/");
  ASSERT_EQ(MakeEmptyFile(folder + "/a"), 1);
  ASSERT_EQ(MakeEmptyFile(folder + "/b"), 1);
  EXPECT_EQ(RenameFile(folder + "/a", folder + "/b"), 0);
  EXPECT_EQ(QueryPathKind(folder + "/a"), FILETYPE_FILE);
  Ref<TStream> s = OpenFileStream(folder + "/a", 1, 1);
  ASSERT_TRUE(s);
  // 64-bit offsets: a 32-bit long would wrap here.
  const int64_t far = (int64_t{1} << 32) + 5;
  EXPECT_EQ(s->Seek(far), far);
  EXPECT_EQ(s->Pos(), far);
  CloseFileStream(s);
}

}  // namespace
}  // namespace kiln
