// File system cases that need POSIX: permission bits and other users, fifos, symbolic links,
// names that Windows cannot hold, UTF-8 names and its current-directory calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "runtime/core/file_names.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/c_stream.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

Text T(const std::string& utf8) { return Text::FromUtf8(utf8); }

class FileSystemPosix : public ::testing::Test {
 protected:
  void SetUp() override { InitFileSystemModule(); }
  Text At(const std::string& name) const { return T((temp.Path() / name).string()); }
  TempDir temp;
};

void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  fs::create_directories(root / "empty");
  WriteFileBytes(root / "top.txt", "top");
  WriteFileBytes(root / "sub" / "mid.bin", std::string("m\0d", 3));
  WriteFileBytes(root / "sub" / "deeper" / "low.txt", "low");
}

TEST_F(FileSystemPosix, FifosAreNeitherFilesNorDirectories) {
  ASSERT_EQ(mkfifo((temp.Path() / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(QueryPathKind(At("fifo")), FILETYPE_NONE);
}

TEST_F(FileSystemPosix, StatReportsModeSizeAndTimes) {
  WriteFileBytes(temp.Path() / "f", "12345");
  ASSERT_EQ(chmod((temp.Path() / "f").c_str(), 0640), 0);
  struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (temp.Path() / "f").c_str(), times, 0), 0);
  int mode = 0;
  int64_t size = 0, modified = 0, created = 0;
  ASSERT_EQ(StatPath(At("f"), mode, size, modified, created), 0);
  EXPECT_EQ(mode & 0xF000, 0x8000);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(modified, 1234567890);
  EXPECT_GT(created, 0);
  EXPECT_EQ(FileSize(At("f")), 5);
  EXPECT_EQ(FileModifiedTime(At("f")), 1234567890);
  EXPECT_EQ(FileMode(At("f")), 0640);
  EXPECT_EQ(SetFileMode(At("f"), 0604), 1);
  EXPECT_EQ(FileMode(At("f")), 0604);
  EXPECT_EQ(FileMode(At("missing")), -1);
  EXPECT_EQ(FileModifiedTime(At("missing")), 0);
  EXPECT_EQ(SetFileMode(At("missing"), 0600), 0);
}

// Feeds bytes into a named pipe from another thread once a reader has opened it.
class PipeWriter {
 public:
  PipeWriter(const fs::path& fifo, std::string bytes)
      : thread_([fifo, bytes] {
          int fd = open(fifo.c_str(), O_WRONLY);
          if (fd < 0) return;
          ssize_t ignored = write(fd, bytes.data(), bytes.size());
          (void)ignored;
          close(fd);
        }) {}
  ~PipeWriter() { thread_.join(); }

 private:
  std::thread thread_;
};

TEST_F(FileSystemPosix, NamedPipesAreReadWholeAndCopiedWhole) {
  // A reader that gives up early must fail the test, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  ASSERT_EQ(mkfifo((temp.Path() / "fifo").c_str(), 0600), 0);
  {
    PipeWriter writer(temp.Path() / "fifo", "through a pipe");
    Ref<TStream> in = OpenFileForReading(At("fifo"));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->Pos(), 0);
    EXPECT_EQ(in->Size(), 14);
    EXPECT_EQ(in->ReadString(14), Text("through a pipe"));
    EXPECT_TRUE(in->Eof());
  }
  struct Case {
    std::string bytes;
  } cases[] = {{"copied through a pipe"}, {std::string(10000, 'p')}, {""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    PipeWriter writer(temp.Path() / "fifo", c.bytes);
    EXPECT_EQ(CopyFileBytes(At("fifo"), At("copy")), 1);
    std::string copied = ReadFileBytes(temp.Path() / "copy");
    EXPECT_EQ(copied.size(), c.bytes.size());
    EXPECT_TRUE(copied == c.bytes);
  }
}

// The path rule rewrites "\\" and a drive colon, and a trailing slash asks for a folder: none of
// these deletes the file that is there, so none may report success.
TEST_F(FileSystemPosix, EraseFileReportsFilesItDidNotDelete) {
  const Text launch = WorkingDir();
  ASSERT_EQ(ChangeDir(At("")), 1);
  fs::create_directory(temp.Path() / "t");
  struct Case {
    std::string file;  // created as named
    std::string path;  // handed to EraseFile
    int result;
  };
  const Case cases[] = {
      {"file", "file/", 0},        {"file", "file\\", 0}, {"a:b", "a:b", 0}, {"t/back\\slash", "t/back\\slash", 0},
      {"file", "file/inside", 1},  // nothing is there
      {"file", "missing/file", 1},
  };
  for (const Case& c : cases) {
    WriteFileBytes(temp.Path() / c.file, "x");
    EXPECT_EQ(EraseFile(T(c.path)), c.result) << c.path;
    EXPECT_TRUE(fs::exists(temp.Path() / c.file)) << c.path;
  }
  // A tree with an entry that cannot go is reported at that entry.
  EXPECT_EQ(DeleteDir("t", 1), 0);
  EXPECT_TRUE(fs::exists(temp.Path() / "t" / "back\\slash"));
  ChangeDir(launch);
}

TEST_F(FileSystemPosix, CopyFileBytesCopiesAndRefusesToCopyOntoItself) {
  std::string big(10000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFileBytes(temp.Path() / "src", big);
  EXPECT_EQ(CopyFileBytes(At("src"), At("dst")), 1);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "dst"), big);

  EXPECT_EQ(CopyFileBytes(At("src"), At("./src")), 0);
  fs::create_symlink(temp.Path() / "src", temp.Path() / "link");
  EXPECT_EQ(CopyFileBytes(At("src"), At("link")), 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "src"), big);

  // A folder as the source must leave the destination as it was.
  fs::create_directory(temp.Path() / "dir");
  EXPECT_EQ(CopyFileBytes(At("dir"), At("dst")), 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "dst"), big);

  EXPECT_EQ(CopyFileBytes(At("missing"), At("dst2")), 0);
  EXPECT_FALSE(fs::exists(temp.Path() / "dst2"));
  EXPECT_EQ(CopyFileBytes(At("src"), At("nodir/dst")), 0);

  WriteFileBytes(temp.Path() / "empty", "");
  EXPECT_EQ(CopyFileBytes(At("empty"), At("empty2")), 1);
  EXPECT_EQ(FileSize(At("empty2")), 0);
}

TEST_F(FileSystemPosix, DeleteDirRemovesTreesButNotWhatLinksPointTo) {
  MakeTree(temp.Path() / "tree");
  MakeTree(temp.Path() / "outside");
  fs::create_directory_symlink(temp.Path() / "outside", temp.Path() / "tree" / "sub" / "link");
  EXPECT_EQ(DeleteDir(At("tree")), 0);
  EXPECT_TRUE(fs::exists(temp.Path() / "tree" / "top.txt"));
  EXPECT_EQ(DeleteDir(At("tree/empty")), 1);
  EXPECT_EQ(DeleteDir(At("tree/"), 1), 1);
  EXPECT_FALSE(fs::exists(temp.Path() / "tree"));
  EXPECT_EQ(ReadFileBytes(temp.Path() / "outside" / "sub" / "deeper" / "low.txt"), "low");
  EXPECT_EQ(DeleteDir(At("outside/top.txt"), 1), 0);
}

TEST_F(FileSystemPosix, NamesBeyondSixteenBitsAndInvalidUtf8RoundTrip) {
  const std::string emoji = "smile-\xF0\x9F\x98\x80.txt";
  const std::string latin1 = "caf\xE9.txt";  // not UTF-8
  const std::string umlaut =
      "Dr\xC3\xBC"
      "cke.txt";
  for (const std::string& name : {emoji, latin1, umlaut}) WriteFileBytes(temp.Path() / name, name);
  std::vector<Text> names = LoadDir(At(""), 1);
  ASSERT_EQ(names.size(), 3u);
  for (const Text& name : names) {
    Text path = At("") + name;
    EXPECT_EQ(QueryPathKind(path), FILETYPE_FILE);
    EXPECT_EQ(FileSize(path), static_cast<int64_t>(ToPlatformName(name).size()));
    Ref<TStream> in = OpenFileForReading(path);
    ASSERT_TRUE(in) << ToPlatformName(name);
    EXPECT_EQ(in->ReadString(static_cast<int>(in->Size())).ToLatin1(), ToPlatformName(name));
    CloseFileStream(in);
    EXPECT_EQ(EraseFile(path), 1);
  }
  EXPECT_TRUE(fs::is_empty(temp.Path()));
}

TEST_F(FileSystemPosix, ChangeDirMovesTheWorkingDirectory) {
  fs::create_directory(temp.Path() / "d");
  char* old = getcwd(nullptr, 0);
  EXPECT_EQ(ChangeDir(At("d/")), 1);
  EXPECT_EQ(WorkingDir(), At("d"));
  EXPECT_EQ(QueryPathKind("."), FILETYPE_DIR);
  EXPECT_EQ(ChangeDir(At("missing")), 0);
  EXPECT_EQ(WorkingDir(), At("d"));
  ASSERT_EQ(chdir(old), 0);
  free(old);
}

// Root ignores permission bits, so these run in a child that has become an ordinary user. The
// child's exit code: 0 when its expectations held.
int RunAsNobody(void (*body)(const fs::path&), const fs::path& dir) {
  int status = test::RunInChild(
      [&] {
        body(dir);
        return ::testing::Test::HasFailure() ? 1 : 0;
      },
      {.unprivileged = true});
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(FileSystemPosix, ReadOnlyFilesAndFoldersRefuseWrites) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch users";
  ASSERT_EQ(chmod(temp.Path().c_str(), 0755), 0);
  WriteFileBytes(temp.Path() / "ro", "keep");
  ASSERT_EQ(chmod((temp.Path() / "ro").c_str(), 0444), 0);
  ASSERT_EQ(chown((temp.Path() / "ro").c_str(), 65534, 65534), 0);
  int result = RunAsNobody(
      [](const fs::path& dir) {
        Text ro = T((dir / "ro").string());
        EXPECT_FALSE(OpenFileForWriting(ro));
        EXPECT_TRUE(OpenFileForReading(ro));
        EXPECT_EQ(MakeEmptyFile(T((dir / "new").string())), 0);
        EXPECT_EQ(CreateDir(T((dir / "newdir").string())), 0);
        EXPECT_EQ(CopyFileBytes(ro, T((dir / "copy").string())), 0);
        EXPECT_EQ(EraseFile(ro), 0);
      },
      temp.Path());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "ro"), "keep");
}
}  // namespace
}  // namespace kiln
