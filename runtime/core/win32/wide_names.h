// Windows' wide-character file calls take UTF-16 names, which are the texts' own code units: a name
// read from the platform goes back unchanged, unpaired surrogates included.
#pragma once

#include <string>

#include "runtime/core/text.h"

namespace kiln {

std::wstring ToWideName(const Text& name);
Text FromWideName(const wchar_t* name);

// 1 on the NT family, whose runtime library has the wide-character calls. The build targets no
// other Windows, so the backends always use them; the flag is kept for what reads it.
int WideCharApi();

}  // namespace kiln
