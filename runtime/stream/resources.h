// The registry of named byte blocks embedded in the executable.
#pragma once

#include <cstdint>

#include "runtime/core/text.h"

namespace kiln {

struct EmbeddedResourceEntry {
  const EmbeddedResourceEntry* next;
  Text name;
  const unsigned char* data;
  int32_t length;
};

// 1 if added, 0 if the name is already registered (the first registration wins).
int AddEmbeddedResource(const Text& name, const void* data, int32_t length);
// Exact, case-sensitive lookup; nullptr when not registered.
const EmbeddedResourceEntry* FindEmbeddedResource(const Text& name);
const unsigned char* EmbeddedResourcePointer(const Text& name);
int32_t EmbeddedResourceSize(const Text& name);
// The newest registration first.
const EmbeddedResourceEntry* EmbeddedResourceHead();

}  // namespace kiln
