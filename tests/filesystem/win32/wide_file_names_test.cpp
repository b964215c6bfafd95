// Names beyond the 8-bit range reach Windows through the wide-character calls, and come back from
// its listings and its current directory unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>

#include "runtime/core/runtime.h"
#include "runtime/core/win32/wide_names.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/stream.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

namespace fs = std::filesystem;

class WideFileNames : public ::testing::Test {
 protected:
  void SetUp() override { InitFileSystemModule(); }
  // The temporary folder as the runtime names it: the platform's units, "/" separators.
  Text Folder() const { return FromWideName(temp.Path().wstring().c_str()).Replace("\\", "/"); }
  fs::path Native(const Text& name) const { return temp.Path() / fs::path(std::u16string(name.Units())); }

  test::TempDir temp;
};

bool Lists(const std::vector<Text>& names, const Text& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

const char16_t* const kNames[] = {
    u"Dr\u00FCcke.txt",         // Latin-1: the 8-bit calls would take it through the code page
    u"\u20ACuro",               // outside Latin-1, inside most code pages
    u"\u65E5\u672C\u8A9E.xml",  // in no Western code page
    u"\u03A9\u2126",            // Greek capital omega beside the ohm sign: two names, not one
    u"\U0001F600 face",         // beyond 16 bits: a surrogate pair
};

TEST_F(WideFileNames, FilesAreWrittenFoundListedRenamedAndDeleted) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    Text name(kNames[i]);
    Text path = Folder() + "/" + name;
    SCOPED_TRACE(testing::Message() << "name " << i);
    Ref<TStream> out = OpenFileForWriting(path);
    ASSERT_TRUE(out);
    out->WriteString("abc");
    CloseFileStream(out);
    // The platform holds exactly this name, not a "?" or a code-page substitute.
    EXPECT_EQ(test::ReadFileBytes(Native(name)), "abc");
    EXPECT_EQ(QueryPathKind(path), FILETYPE_FILE);
    EXPECT_EQ(FileSize(path), 3);
    EXPECT_TRUE(Lists(LoadDir(Folder(), 1), name));
    Ref<TStream> in = OpenFileForReading(path);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->ReadString(3), Text("abc"));
    CloseFileStream(in);

    Text moved = Folder() + Text("/moved ") + name;
    EXPECT_EQ(RenameFile(path, moved), 1);
    EXPECT_EQ(QueryPathKind(path), FILETYPE_NONE);
    EXPECT_TRUE(fs::exists(Native(Text("moved ") + name)));
    EXPECT_EQ(EraseFile(moved), 1);
    EXPECT_FALSE(fs::exists(Native(Text("moved ") + name)));
  }
}

TEST_F(WideFileNames, FoldersAreMadeEnteredAndRemoved) {
  Text start = WorkingDir();
  for (size_t i = 0; i < std::size(kNames); ++i) {
    Text name(kNames[i]);
    Text path = Folder() + "/" + name + "/inner";
    SCOPED_TRACE(testing::Message() << "name " << i);
    EXPECT_EQ(CreateDir(path, 1), 1);
    EXPECT_TRUE(fs::is_directory(Native(name) / "inner"));
    EXPECT_EQ(QueryPathKind(path + "/"), FILETYPE_DIR);
    ASSERT_EQ(ChangeDir(path), 1);
    EXPECT_TRUE(WorkingDir().EndsWith(Text("/") + name + "/inner"));
    EXPECT_EQ(CurrentDirectory().Replace("\\", "/"), WorkingDir());
    ASSERT_EQ(ChangeDir(start), 1);
    EXPECT_EQ(DeleteDir(Folder() + "/" + name, 1), 1);
    EXPECT_FALSE(fs::exists(Native(name)));
  }
}

}  // namespace
}  // namespace kiln
