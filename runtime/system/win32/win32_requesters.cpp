#include <windows.h>
// After windows.h, whose types they use.
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "runtime/core/win32/wide_names.h"
#include "runtime/system/win32/win32_backend.h"

namespace kiln::win32 {
namespace {

// The chosen name may be longer than the 260 characters of old paths; the NT calls take 32767.
constexpr size_t kWideFileChars = 32768;
constexpr size_t kNarrowFileChars = MAX_PATH;
// BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE
constexpr UINT kBrowseFlags = 0x41;

const Text& ZeroChar() {
  static const Text zero(std::u16string(1, u'\0'));
  return zero;
}

// The A and W variants of the requester calls, with the texts they take.
template <typename Char>
struct RequesterCalls;

template <>
struct RequesterCalls<wchar_t> {
  using FileDialog = OPENFILENAMEW;
  using Browse = BROWSEINFOW;
  static DWORD DialogSize() { return OPENFILENAME_SIZE_VERSION_400W; }
  static constexpr UINT kSetSelection = BFFM_SETSELECTIONW;
  static constexpr size_t kFileChars = kWideFileChars;
  static std::wstring Encode(const Text& text) { return ToWideName(text); }
  static Text Decode(const wchar_t* chars) { return FromWideName(chars); }
  static BOOL Open(FileDialog* dialog) { return GetOpenFileNameW(dialog); }
  static BOOL Save(FileDialog* dialog) { return GetSaveFileNameW(dialog); }
  static PIDLIST_ABSOLUTE BrowseForFolder(Browse* browse) { return SHBrowseForFolderW(browse); }
  static BOOL PathOf(PIDLIST_ABSOLUTE item, wchar_t* path) { return SHGetPathFromIDListW(item, path); }
  static bool SamePath(const wchar_t* a, const wchar_t* b) { return lstrcmpiW(a, b) == 0; }
  static DWORD FullPath(const wchar_t* path, DWORD size, wchar_t* full) {
    return GetFullPathNameW(path, size, full, nullptr);
  }
};

template <>
struct RequesterCalls<char> {
  using FileDialog = OPENFILENAMEA;
  using Browse = BROWSEINFOA;
  static DWORD DialogSize() { return OPENFILENAME_SIZE_VERSION_400A; }
  static constexpr UINT kSetSelection = BFFM_SETSELECTIONA;
  static constexpr size_t kFileChars = kNarrowFileChars;
  static std::string Encode(const Text& text) { return text.ToLatin1(); }
  static Text Decode(const char* chars) { return Text::FromLatin1(chars); }
  static BOOL Open(FileDialog* dialog) { return GetOpenFileNameA(dialog); }
  static BOOL Save(FileDialog* dialog) { return GetSaveFileNameA(dialog); }
  static PIDLIST_ABSOLUTE BrowseForFolder(Browse* browse) { return SHBrowseForFolderA(browse); }
  static BOOL PathOf(PIDLIST_ABSOLUTE item, char* path) { return SHGetPathFromIDListA(item, path); }
  static bool SamePath(const char* a, const char* b) { return lstrcmpiA(a, b) == 0; }
  static DWORD FullPath(const char* path, DWORD size, char* full) { return GetFullPathNameA(path, size, full, nullptr); }
};

template <typename Char>
const Char* OrNull(const std::basic_string<Char>& text) {
  return text.empty() ? nullptr : text.c_str();
}

template <typename Char>
Text RunFileDialog(const Text& title, const Text& extensions, bool save, const Text& path) {
  using Calls = RequesterCalls<Char>;
  RequesterPath split = SplitRequesterPath(path);
  std::basic_string<Char> filter = Calls::Encode(FileFilterText(extensions));
  std::basic_string<Char> folder = Calls::Encode(split.folder);
  std::basic_string<Char> caption = Calls::Encode(title);
  std::basic_string<Char> file = Calls::Encode(split.fileName);
  file.resize(Calls::kFileChars - 1);
  file.push_back(Char{});
  static const Char kNoExtension[1] = {};

  typename Calls::FileDialog dialog{};
  dialog.lStructSize = Calls::DialogSize();
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpstrFilter = OrNull(filter);
  dialog.nFilterIndex = static_cast<DWORD>(InitialFilterGroup(extensions, split.fileName));
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = OrNull(folder);
  // No title: the dialog's own ("Open", "Save As").
  dialog.lpstrTitle = OrNull(caption);
  dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (save) {
    dialog.Flags |= OFN_OVERWRITEPROMPT;
    dialog.lpstrDefExt = kNoExtension;
  } else {
    dialog.Flags |= OFN_FILEMUSTEXIST;
  }
  FocusKeeper focus;
  BOOL chosen = save ? Calls::Save(&dialog) : Calls::Open(&dialog);
  return chosen ? Calls::Decode(file.c_str()) : Text();
}

// The folder browser of the new style needs COM on the calling thread, for the call's length.
class ComScope {
 public:
  ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (initialised_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_;
};

class ItemList {
 public:
  explicit ItemList(PIDLIST_ABSOLUTE item) : item_(item) {}
  ~ItemList() {
    if (item_ != nullptr) CoTaskMemFree(item_);
  }
  ItemList(const ItemList&) = delete;
  ItemList& operator=(const ItemList&) = delete;

  PIDLIST_ABSOLUTE Get() const { return item_; }

 private:
  PIDLIST_ABSOLUTE item_;
};

// The folder the browser is to open at. The browser may put its own default selection over the one
// asked for when it initialises (Wine's does on a busy machine), so the request is posted again on a
// selection change away from the folder, a few times at most, until the folder was selected once;
// after that the selection is the user's.
template <typename Char>
struct InitialFolder {
  const Char* path = nullptr;
  int retries = 20;
  bool reached = false;
};

template <typename Char>
int CALLBACK SelectInitialFolder(HWND browser, UINT message, LPARAM item, LPARAM data) {
  using Calls = RequesterCalls<Char>;
  auto* initial = reinterpret_cast<InitialFolder<Char>*>(data);
  if (initial->path == nullptr) return 0;
  const auto folder = reinterpret_cast<LPARAM>(initial->path);
  if (message == BFFM_INITIALIZED) {
    SendMessageW(browser, Calls::kSetSelection, TRUE, folder);
  } else if (message == BFFM_SELCHANGED && !initial->reached) {
    Char selected[MAX_PATH] = {};
    if (item != 0 && Calls::PathOf(reinterpret_cast<PIDLIST_ABSOLUTE>(item), selected) &&
        Calls::SamePath(selected, initial->path)) {
      initial->reached = true;
    } else if (initial->retries-- > 0) {
      PostMessageW(browser, Calls::kSetSelection, TRUE, folder);
    }
  }
  return 0;
}

template <typename Char>
std::basic_string<Char> FullPathOf(const Text& path) {
  using Calls = RequesterCalls<Char>;
  std::basic_string<Char> relative = Calls::Encode(path.Replace("/", "\\"));
  if (relative.empty()) return relative;
  std::basic_string<Char> full(MAX_PATH, Char{});
  DWORD length = Calls::FullPath(relative.c_str(), static_cast<DWORD>(full.size()), full.data());
  if (length >= full.size()) {
    full.assign(length, Char{});
    length = Calls::FullPath(relative.c_str(), static_cast<DWORD>(full.size()), full.data());
  }
  if (length == 0 || length >= full.size()) return std::basic_string<Char>();
  full.resize(length);
  return full;
}

template <typename Char>
Text RunFolderBrowser(const Text& title, const Text& path) {
  using Calls = RequesterCalls<Char>;
  std::basic_string<Char> initial = FullPathOf<Char>(path);
  std::basic_string<Char> caption = Calls::Encode(title);
  Char displayName[MAX_PATH] = {};

  typename Calls::Browse browse{};
  browse.hwndOwner = GetActiveWindow();
  browse.pszDisplayName = displayName;
  browse.lpszTitle = OrNull(caption);
  browse.ulFlags = kBrowseFlags;
  InitialFolder<Char> start;
  start.path = OrNull(initial);
  browse.lpfn = SelectInitialFolder<Char>;
  browse.lParam = reinterpret_cast<LPARAM>(&start);
  ComScope com;
  FocusKeeper focus;
  ItemList chosen(Calls::BrowseForFolder(&browse));
  if (chosen.Get() == nullptr) return Text();
  Char folder[MAX_PATH] = {};
  // Virtual folders (the desktop's "Computer") have no path.
  if (!Calls::PathOf(chosen.Get(), folder)) return Text();
  return Calls::Decode(folder);
}

}  // namespace

Text FileFilterText(const Text& extensions) {
  if (extensions.IsEmpty()) return Text();
  const Text& zero = ZeroChar();
  Text filter = extensions.Contains(":") ? extensions.Replace(":", zero + "*.")
                                         : Text("Files") + zero + "*." + extensions;
  filter = filter.Replace(";", zero);
  return filter.Replace(",", ";*.") + zero;
}

int InitialFilterGroup(const Text& extensions, const Text& fileName) {
  int dot = fileName.Find(".");
  if (dot < 0 || dot + 1 == fileName.Length()) return 0;
  Text key = Text(",") + fileName.From(dot + 1).ToLower() + ",";
  // Every extension between commas, the last group's last one too.
  Text list = Text(",") + extensions.ToLower().Replace(":", ":,").Replace(";", ",;") + ",";
  int at = list.Find(key);
  if (at < 0) return 0;
  int group = 1;
  for (int i = 0; i < at; ++i) {
    if (list[i] == u';') ++group;
  }
  return group;
}

RequesterPath SplitRequesterPath(const Text& path) {
  Text native = path.Replace("/", "\\");
  int last = native.FindLast("\\");
  if (last < 0) return {Text(), native};
  bool root = last == 0 || native[last - 1] == u':';
  return {native.Left(root ? last + 1 : last), native.From(last + 1)};
}

Text TWin32SystemDriver::RequestFile(const Text& title, const Text& extensions, int save, const Text& path) {
  if (WideSystemCalls()) return RunFileDialog<wchar_t>(title, extensions, save != 0, path);
  return RunFileDialog<char>(title, extensions, save != 0, path);
}

Text TWin32SystemDriver::RequestDir(const Text& title, const Text& path) {
  if (WideSystemCalls()) return RunFolderBrowser<wchar_t>(title, path);
  return RunFolderBrowser<char>(title, path);
}

}  // namespace kiln::win32
