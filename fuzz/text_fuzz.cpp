// Fuzzes the runtime's text conversions and path rules with arbitrary bytes: UTF-8 decoding (strict,
// with U+FFFD for what starts no well-formed sequence), platform file names, which must give back
// the very bytes they came from, and the path functions, whose normal form must be stable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "runtime/core/file_names.h"
#include "runtime/core/text.h"
#include "runtime/filesystem/filesystem.h"

namespace {

using kiln::fuzz::Check;

void CheckUtf8(std::string_view bytes) {
  // The decoder's steps and the whole-text conversion agree, and every step moves on.
  std::u16string stepped;
  for (size_t at = 0; at < bytes.size();) {
    unsigned code = 0;
    const int length = kiln::DecodeUtf8Char(bytes, at, code);
    Check(length >= 0 && length <= 4 && at + static_cast<size_t>(length) <= bytes.size());
    if (length == 0) {
      kiln::AppendUtf16(stepped, 0xFFFD);
      ++at;
    } else {
      Check(code <= 0x10FFFF && !(code >= 0xD800 && code < 0xE000));
      kiln::AppendUtf16(stepped, code);
      at += static_cast<size_t>(length);
    }
  }
  Check(kiln::Utf8ToUtf16(bytes) == stepped);

  try {
    const kiln::Text text = kiln::Text::FromUtf8(bytes);
    // Within 16 bits: encoding and decoding again gives the same text.
    Check(kiln::Text::FromUtf8(text.ToUtf8()) == text);
  } catch (const kiln::Text&) {
    // A character above U+FFFF, which the text type refuses.
  }
}

void CheckPaths(const kiln::Text& path) {
  const kiln::Text normal = kiln::NormalizedPath(path);
  Check(kiln::NormalizedPath(normal) == normal);
  const kiln::Text root = kiln::RootOf(normal);
  Check(normal.StartsWith(root) || root.IsEmpty());
  if (!root.IsEmpty()) Check(kiln::IsRootPath(root));
  // Dropping the trailing slash takes one "/" off the end at most (double slashes stay), never a root.
  const kiln::Text dropped = kiln::NormalizedPath(path, 1);
  Check(dropped == normal || (dropped + "/" == normal && !kiln::IsRootPath(normal)));
  const kiln::Text dir = kiln::DirOfPath(path), name = kiln::PathWithoutDir(path);
  Check(dir.Length() <= path.Length() + 1 && name.Length() <= path.Length() + 1);
  kiln::ExtOfPath(path);
  kiln::PathWithoutExt(path);
  kiln::BareFileName(path);
  kiln::PathWithoutTrailingSlash(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckUtf8(bytes);
  // A name read from the platform goes back as the same bytes.
  const kiln::Text name = kiln::FromPlatformName(bytes);
  Check(kiln::ToPlatformName(name) == bytes);
  CheckPaths(name);
  CheckPaths(kiln::Text::FromLatin1(bytes));
  return 0;
}
