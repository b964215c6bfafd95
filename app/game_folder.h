// The application's globals and the game folder check.
#pragma once

#include <cstdint>

#include "runtime/core/text.h"

namespace zunto {

using kiln::Text;

// "1.3"
const Text& PatcherVersion();
// "Vellmora.exe": the file whose presence marks the game folder.
const Text& GameExeName();

// 1 once the export has written every file; the status screen reads it.
int32_t PatchDone();
void SetPatchDone(int32_t done);

// 1 when GameExeName names a regular file in the current directory, else 0.
int IsGameFolder();

}  // namespace zunto
