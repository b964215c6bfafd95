// The text rules of the file requester: its filter text, initial filter group and initial path.
#include <gtest/gtest.h>

#include <string>

#include "runtime/system/win32/win32_backend.h"

namespace kiln {
namespace {

// Zero characters written as "|" for readability.
Text Bars(const char* text) {
  std::u16string units;
  for (const char* p = text; *p != '\0'; ++p) units.push_back(*p == '|' ? u'\0' : static_cast<char16_t>(*p));
  return Text(std::move(units));
}

TEST(Win32RequesterRules, FilterText) {
  struct Case {
    const char* extensions;
    const char* expected;
  };
  const Case cases[] = {
      {"", ""},
      {"png", "Files|*.png|"},
      {"png,jpg", "Files|*.png;*.jpg|"},
      {"Images:png,jpg", "Images|*.png;*.jpg|"},
      {"Images:png,jpg;Text:txt", "Images|*.png;*.jpg|Text|*.txt|"},
      {"All Files:*", "All Files|*.*|"},
  };
  for (const Case& c : cases) EXPECT_EQ(win32::FileFilterText(Text(c.extensions)), Bars(c.expected)) << c.extensions;
}

TEST(Win32RequesterRules, InitialFilterGroup) {
  struct Case {
    const char* extensions;
    const char* fileName;
    int expected;
  };
  const Case cases[] = {
      {"Images:png,jpg;Text:txt", "picture.png", 1},
      {"Images:png,jpg;Text:txt", "picture.JPG", 1},
      // A match in the last group, at the very end of the list.
      {"Images:png,jpg;Text:txt", "notes.txt", 2},
      {"Images:png,jpg;Text:txt;All:*", "notes.txt", 2},
      {"png,jpg", "picture.jpg", 1},
      {"Images:png,jpg;Text:txt", "archive.zip", 0},
      // A description is no extension.
      {"Images:png;Text:txt", "a.text", 0},
      {"Images:png;Text:txt", "a.images", 0},
      {"Images:png", "noextension", 0},
      {"Images:png", "dot.", 0},
      {"", "picture.png", 0},
      // Everything after the first dot of the name.
      {"Archives:zip;Tarballs:tar.gz", "backup.tar.gz", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(win32::InitialFilterGroup(Text(c.extensions), Text(c.fileName)), c.expected)
        << c.extensions << " / " << c.fileName;
  }
}

TEST(Win32RequesterRules, InitialFolderAndFileName) {
  struct Case {
    const char* path;
    const char* folder;
    const char* fileName;
  };
  const Case cases[] = {
      {"C:/games/zunto/save.dat", "C:\\games\\zunto", "save.dat"},
      {"C:\\games\\zunto\\", "C:\\games\\zunto", ""},
      {"save.dat", "", "save.dat"},
      {"", "", ""},
      {"C:/save.dat", "C:\\", "save.dat"},
      {"/save.dat", "\\", "save.dat"},
      {"../my.folder/save", "..\\my.folder", "save"},
  };
  for (const Case& c : cases) {
    win32::RequesterPath split = win32::SplitRequesterPath(Text(c.path));
    EXPECT_EQ(split.folder, Text(c.folder)) << c.path;
    EXPECT_EQ(split.fileName, Text(c.fileName)) << c.path;
  }
}

}  // namespace
}  // namespace kiln
