// The pure rules of start-up, apart from the platform calls that feed them.
#pragma once

#include "runtime/core/text.h"

namespace kiln {

// The folder of an executable path: the text before the last "/", keeping that "/" when the path is
// at a root ("/prog" gives "/", "C:/prog.exe" gives "C:/"); the empty text without any "/".
Text FolderOfExecutable(const Text& applicationFile);

}  // namespace kiln
