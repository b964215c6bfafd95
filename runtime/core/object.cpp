#include "runtime/core/object.h"

#include <cstdio>

namespace kiln {

Text TObject::ToString() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
  return Text(buf);
}

int TObject::Compare(const TObject& other) const {
  const auto* a = static_cast<const void*>(this);
  const auto* b = static_cast<const void*>(&other);
  return a < b ? -1 : a > b ? 1 : 0;
}

int TTextObject::Compare(const TObject& other) const {
  if (const auto* text = dynamic_cast<const TTextObject*>(&other)) return value_.Compare(text->value_);
  return TObject::Compare(other);
}

}  // namespace kiln
