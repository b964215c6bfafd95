// Float-to-int conversion as the drawing layer uses it: truncation toward zero, with values that
// an int cannot hold clamped and NaN taken as 0, so that no coordinate is undefined behaviour.
#pragma once

#include <cmath>
#include <limits>

namespace kiln {

inline int TruncateToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (value <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

}  // namespace kiln
