// Path constants of the export.
#pragma once

#include "runtime/core/text.h"

namespace zunto {

using kiln::Text;

inline constexpr const char* kSourcePrefix = "./data/";
inline constexpr const char* kProtocolPrefix = "incbin::";
inline constexpr const char* kPlaySetBase = "./Zunto_Data/";
inline constexpr const char* kPlaySetSubFolder = "XMLData/";

// The folder every top-level file is exported to: "./".
const Text& TargetRoot();

}  // namespace zunto
