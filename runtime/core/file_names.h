// File names between the runtime's text and the bytes the platform's file calls take.
//
// On POSIX names are UTF-8; characters beyond 16 bits travel as surrogate pairs, and bytes that are
// not UTF-8 as the units 0xDC80..0xDCFF, so every name read from the platform names the same file
// when it goes back. Neither direction throws.
//
// Windows' file calls take UTF-16 names, which are the texts' own units (win32/wide_names.h); there
// these bytes are still UTF-8, for the texts that leave the program as bytes (standard error).
#pragma once

#include <string>
#include <string_view>

#include "runtime/core/text.h"

namespace kiln {

std::string ToPlatformName(const Text& name);
Text FromPlatformName(std::string_view bytes);

}  // namespace kiln
