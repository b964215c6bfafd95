#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/c_stream.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

Text T(const std::string& utf8) { return Text::FromUtf8(utf8); }

class FileSystem : public ::testing::Test {
 protected:
  void SetUp() override { InitFileSystemModule(); }
  Text At(const std::string& name) const { return T((temp.Path() / name).string()); }
  TempDir temp;
};

TEST_F(FileSystem, PathKindsOfFilesDirectoriesAndMissingPaths) {
  WriteFileBytes(temp.Path() / "file", "x");
  fs::create_directory(temp.Path() / "dir");
  EXPECT_EQ(QueryPathKind(At("file")), FILETYPE_FILE);
  EXPECT_EQ(QueryPathKind(At("dir")), FILETYPE_DIR);
  EXPECT_EQ(QueryPathKind(At("dir") + "/"), FILETYPE_DIR);
  EXPECT_EQ(QueryPathKind(At("dir").Replace("/", "\\")), FILETYPE_DIR);
  EXPECT_EQ(QueryPathKind(At("missing")), FILETYPE_NONE);
  EXPECT_EQ(QueryPathKind("/"), FILETYPE_DIR);
  EXPECT_EQ(QueryPathKind(""), FILETYPE_NONE);
}

TEST_F(FileSystem, AngleBracketsNeverNameAnything) {
  WriteFileBytes(temp.Path() / "a<b>", "x");
  EXPECT_EQ(QueryPathKind(At("a<b>")), FILETYPE_NONE);
  int mode = 0;
  int64_t size = 0, modified = 0, created = 0;
  EXPECT_EQ(StatPath(At("a<b>"), mode, size, modified, created), -1);
  EXPECT_EQ(FileSize(At("a<b>")), -1);
}

TEST_F(FileSystem, FileStreamsOpenCreateAndTruncate) {
  Ref<TStream> out = OpenFileForWriting(At("new.bin"));
  ASSERT_TRUE(out);
  out->WriteInt(0x01020304);
  EXPECT_EQ(CloseFileStream(out), 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "new.bin"), std::string("\x04\x03\x02\x01", 4));

  Ref<TStream> in = OpenFileForReading(At("new.bin"));
  ASSERT_TRUE(in);
  EXPECT_EQ(in->Size(), 4);
  EXPECT_EQ(in->ReadInt(), 0x01020304);
  EXPECT_TRUE(in->Eof());
  CloseFileStream(in);

  Ref<TStream> both = OpenFileStream(At("new.bin"), 1, 1);
  ASSERT_TRUE(both);
  both->Seek(2);
  both->WriteByte('z');
  CloseFileStream(both);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "new.bin"), std::string("\x04\x03z\x01", 4));

  out = OpenFileForWriting(At("new.bin"));
  ASSERT_TRUE(out);
  CloseFileStream(out);
  EXPECT_EQ(FileSize(At("new.bin")), 0);
}

TEST_F(FileSystem, OpenFailuresGiveNoStream) {
  EXPECT_FALSE(OpenFileForWriting(At("no/such/dir/file")));
  EXPECT_FALSE(OpenFileForReading(At("missing")));
  EXPECT_FALSE(OpenFileForReading("nosuchprotocol::x"));
  EXPECT_FALSE(OpenFileForReading("incbin::not registered"));
}

// Hands out its bytes three at a time and cannot seek, like a pipe.
class TPipeLikeStream : public TStream {
 public:
  explicit TPipeLikeStream(std::string bytes, bool failAtEnd = false) : bytes_(std::move(bytes)), failAtEnd_(failAtEnd) {}
  int Read(void* buf, int count) override {
    int n = std::min<int>({count, 3, static_cast<int>(bytes_.size() - at_)});
    if (n == 0 && failAtEnd_) throw TStreamReadException();
    std::memcpy(buf, bytes_.data() + at_, static_cast<size_t>(n));
    at_ += static_cast<size_t>(n);
    return n;
  }
  int Close() override {
    ++closes;
    return 0;
  }
  int closes = 0;

 private:
  std::string bytes_;
  size_t at_ = 0;
  bool failAtEnd_;
};

TEST_F(FileSystem, StreamThatCannotSeekIsReadIntoASeekableCopy) {
  auto pipe = MakeRef<TPipeLikeStream>("line one\r\nline two");
  Ref<TStream> copy = OpenFileForReading(pipe);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->Pos(), 0);
  EXPECT_EQ(copy->Size(), 18);
  EXPECT_EQ(copy->ReadLine(), Text("line one"));
  EXPECT_EQ(copy->Seek(5), 5);
  EXPECT_EQ(copy->ReadLine(), Text("one"));
  EXPECT_EQ(copy->ReadLine(), Text("line two"));
  EXPECT_TRUE(copy->Eof());
  // The copy is read-only: a write must not pretend to have stored anything.
  EXPECT_THROW(copy->WriteByte(1), TStreamWriteException);
  // Opened as a URL object, the caller's stream stays open.
  EXPECT_EQ(pipe->closes, 0);

  EXPECT_FALSE(OpenFileForReading(MakeRef<TPipeLikeStream>("abc", true)));
}

TEST_F(FileSystem, StreamThatCannotSeekIsPassedOnWhenWritten) {
  auto pipe = MakeRef<TPipeLikeStream>("abc");
  Ref<TStream> s = OpenFileStream(pipe, 1, 1);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Pos(), -1);
  EXPECT_EQ(s->ReadByte(), 'a');
}

TEST_F(FileSystem, CreateAndDeleteFiles) {
  WriteFileBytes(temp.Path() / "f", "old contents");
  EXPECT_EQ(MakeEmptyFile(At("f")), 1);
  EXPECT_EQ(FileSize(At("f")), 0);
  EXPECT_EQ(MakeEmptyFile(At("g")), 1);
  EXPECT_EQ(QueryPathKind(At("g")), FILETYPE_FILE);
  EXPECT_EQ(MakeEmptyFile(At("missing/g")), 0);

  fs::create_directory(temp.Path() / "d");
  WriteFileBytes(temp.Path() / "d" / "keep", "k");
  EXPECT_EQ(MakeEmptyFile(At("d")), 0);
  EXPECT_EQ(EraseFile(At("d")), 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "d" / "keep"), "k");

  EXPECT_EQ(EraseFile(At("f")), 1);
  EXPECT_FALSE(fs::exists(temp.Path() / "f"));
  EXPECT_EQ(EraseFile(At("f")), 1);  // nothing there afterwards either way
}

TEST_F(FileSystem, CreateDirectoriesOneLevelOrRecursively) {
  EXPECT_EQ(CreateDir(At("a/b/c")), 0);
  EXPECT_EQ(CreateDir(At("a/b/c/"), 1), 1);
  EXPECT_TRUE(fs::is_directory(temp.Path() / "a" / "b" / "c"));
  EXPECT_EQ(CreateDir(At("a/b/c"), 1), 1);  // already there
  EXPECT_EQ(CreateDir(At("a/x")), 1);
  WriteFileBytes(temp.Path() / "a" / "file", "f");
  EXPECT_EQ(CreateDir(At("a/file/sub"), 1), 0);
  EXPECT_EQ(CreateDir(At("a/file")), 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "a" / "file"), "f");
}

TEST_F(FileSystem, RenameMovesButNeverReplaces) {
  WriteFileBytes(temp.Path() / "a", "A");
  WriteFileBytes(temp.Path() / "b", "B");
  EXPECT_EQ(RenameFile(At("a"), At("b")), 0);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "b"), "B");
  EXPECT_EQ(RenameFile(At("a"), At("c")), 1);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "c"), "A");
  EXPECT_FALSE(fs::exists(temp.Path() / "a"));
  EXPECT_EQ(RenameFile(At("missing"), At("d")), 0);
}

TEST_F(FileSystem, CopyFileBytesToAFullDeviceFailsWithoutThrowing) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  WriteFileBytes(temp.Path() / "src", std::string(100000, 'x'));
  EXPECT_EQ(CopyFileBytes(At("src"), "/dev/full"), 0);
}

void MakeTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  fs::create_directories(root / "empty");
  WriteFileBytes(root / "top.txt", "top");
  WriteFileBytes(root / "sub" / "mid.bin", std::string("m\0d", 3));
  WriteFileBytes(root / "sub" / "deeper" / "low.txt", "low");
}

TEST_F(FileSystem, CopyDirCopiesTheWholeTree) {
  MakeTree(temp.Path() / "tree");
  EXPECT_EQ(CopyDir(At("tree"), At("copy/")), 1);
  EXPECT_EQ(ReadFileBytes(temp.Path() / "copy" / "top.txt"), "top");
  EXPECT_EQ(ReadFileBytes(temp.Path() / "copy" / "sub" / "mid.bin"), std::string("m\0d", 3));
  EXPECT_EQ(ReadFileBytes(temp.Path() / "copy" / "sub" / "deeper" / "low.txt"), "low");
  EXPECT_TRUE(fs::is_directory(temp.Path() / "copy" / "empty"));

  EXPECT_EQ(CopyDir(At("tree/top.txt"), At("x")), 0);
  EXPECT_EQ(CopyDir(At("missing"), At("x")), 0);
  EXPECT_FALSE(fs::exists(temp.Path() / "x"));
}

TEST_F(FileSystem, CopyDirIntoItselfIsRefused) {
  MakeTree(temp.Path() / "tree");
  EXPECT_EQ(CopyDir(At("tree"), At("tree/sub/inner")), 0);
  EXPECT_EQ(CopyDir(At("tree"), At("tree")), 0);
  EXPECT_FALSE(fs::exists(temp.Path() / "tree" / "sub" / "inner"));
  // A similar name beside it is not inside it.
  EXPECT_EQ(CopyDir(At("tree"), At("tree2")), 1);
}

TEST_F(FileSystem, ListingsNameEveryEntry) {
  MakeTree(temp.Path() / "tree");
  std::vector<Text> names = LoadDir(At("tree/"), 1);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<Text>{"empty", "sub", "top.txt"}));
  std::vector<Text> all = LoadDir(At("tree"));
  EXPECT_EQ(all.size(), 5u);
  EXPECT_NE(std::find(all.begin(), all.end(), Text("..")), all.end());

  Ref<TDirectory> dir = ReadDir(At("tree/sub"));
  ASSERT_TRUE(dir);
  int count = 0;
  for (Text name = NextFile(dir); !name.IsEmpty(); name = NextFile(dir)) ++count;
  EXPECT_EQ(count, 4);
  EXPECT_EQ(NextFile(dir), Text());
  CloseDir(dir);
  EXPECT_EQ(NextFile(dir), Text());

  EXPECT_FALSE(ReadDir(At("missing")));
  EXPECT_FALSE(ReadDir(At("tree/top.txt")));
  EXPECT_TRUE(LoadDir(At("missing")).empty());
}
}  // namespace
}  // namespace kiln
