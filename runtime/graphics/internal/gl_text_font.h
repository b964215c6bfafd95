// The GL graphics module's built-in debug text font: 96 glyphs (codes 32..127), 8 x 16 pixels,
// one byte per row with the leftmost pixel in the high bit.
#pragma once

#include <cstdint>

namespace kiln {

const unsigned char* GLTextFontBytes();
int32_t GLTextFontSize();  // 1536

}  // namespace kiln
