// Working-directory cases that need POSIX: its current-directory calls, and a working directory
// that is removed while in use (Windows refuses to remove it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "runtime/filesystem/filesystem.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

TEST(PathRules, RelativePathsStartFromTheWorkingDirectory) {
  test::TempDir temp;
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(ChangeDir(Text::FromUtf8(temp.Path().string())), 1);
  Text cwd = WorkingDir();
  EXPECT_EQ(cwd.ToUtf8(), temp.Path().string());
  EXPECT_EQ(AbsolutePath("x/./y/../z"), cwd + "/x/z");
  EXPECT_EQ(AbsolutePath(""), cwd);
  EXPECT_EQ(AbsolutePath(".."), DirOfPath(cwd));
  ASSERT_EQ(chdir(old), 0);
  free(old);
}

TEST(PathRules, RelativePathsStayRelativeWhenTheWorkingDirectoryIsGone) {
  test::TempDir temp;
  std::filesystem::path gone = temp.Path() / "gone";
  std::filesystem::create_directory(gone);
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  std::filesystem::remove(gone);
  ASSERT_EQ(WorkingDir(), Text());
  // A relative path must not turn into one below the file system's root.
  EXPECT_EQ(AbsolutePath("x/./y").ToUtf8(), "x/y");
  const std::string name = "kiln-" + temp.Path().filename().string();
  EXPECT_EQ(CreateDir(Text::FromUtf8(name + "/sub"), 1), 0);
  bool createdAtRoot = std::filesystem::exists("/" + name);
  std::filesystem::remove_all("/" + name);
  EXPECT_FALSE(createdAtRoot);
  EXPECT_EQ(AbsolutePath("/a/../b").ToUtf8(), "/b");
  ASSERT_EQ(chdir(old), 0);
  free(old);
}

}  // namespace
}  // namespace kiln
