// The file requester's text rules (filter text, initial filter group, initial path) and both
// requesters under the window system, answered by a thread that presses a button.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <thread>

#include "runtime/core/win32/wide_names.h"
#include "runtime/system/system.h"
#include "runtime/system/win32/win32_backend.h"
#include "tests/support/temp_dir.h"

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

// The text of the item selected in the dialog's folder tree, or "" while there is none.
std::wstring SelectedTreeItem(HWND dialog) {
  HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
  if (tree == nullptr) return L"";
  auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (item == nullptr) return L"";
  wchar_t text[MAX_PATH] = {};
  TVITEMW query{};
  query.mask = TVIF_TEXT;
  query.hItem = item;
  query.pszText = text;
  query.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query));
  return text;
}

// Presses `button` in the first dialog of the process that shows (captioned `caption` if given),
// once its folder tree has `selected` selected when that is given: the dialog selects its initial
// folder after it shows, and on a busy machine that takes a while.
std::thread PressWhenShown(const wchar_t* caption, int button, bool& found, const wchar_t* selected = nullptr) {
  return std::thread([caption, button, selected, &found] {
    for (int i = 0; i < 3000; ++i) {
      HWND dialog = FindWindowW(L"#32770", caption);
      if (dialog != nullptr && IsWindowVisible(dialog) && (selected == nullptr || SelectedTreeItem(dialog) == selected)) {
        // Let the dialog finish filling in its controls.
        Sleep(300);
        found = true;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        return;
      }
      Sleep(10);
    }
    // Never leave the requester waiting: the test then fails on `found` instead of hanging.
    if (HWND dialog = FindWindowW(L"#32770", caption)) PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
}

Text Native(const std::filesystem::path& path) { return FromWideName(path.generic_wstring().c_str()); }

TEST(Win32Requesters, FileRequesterStartsAtTheGivenFileAndReturnsItsPath) {
  InitSystemModule();
  test::TempDir dir;
  test::WriteFileBytes(dir.Path() / "picture.png", "png");
  Text path = Native(dir.Path()) + "/picture.png";

  bool found = false;
  std::thread presser = PressWhenShown(L"Pick a picture", IDOK, found);
  Text chosen = AskFileName(Text("Pick a picture"), Text("Images:png,jpg;Text:txt"), 0, path);
  presser.join();
  ASSERT_TRUE(found);
  EXPECT_EQ(chosen.ToLower(), path.Replace("/", "\\").ToLower());

  found = false;
  presser = PressWhenShown(L"Pick a picture", IDCANCEL, found);
  chosen = AskFileName(Text("Pick a picture"), Text("Images:png"), 1, path);
  presser.join();
  ASSERT_TRUE(found);
  EXPECT_EQ(chosen, Text());
}

TEST(Win32Requesters, FolderRequesterStartsAtTheGivenFolder) {
  InitSystemModule();
  test::TempDir dir;
  std::filesystem::create_directory(dir.Path() / "chosen");
  Text folder = Native(dir.Path()) + "/chosen";

  bool found = false;
  std::thread presser = PressWhenShown(nullptr, IDOK, found, L"chosen");
  Text chosen = AskFolder(Text("Pick a folder"), folder);
  presser.join();
  ASSERT_TRUE(found);
  EXPECT_EQ(chosen.ToLower(), folder.Replace("/", "\\").ToLower());
}

}  // namespace
}  // namespace kiln
