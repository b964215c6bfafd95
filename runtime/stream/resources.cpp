#include "runtime/stream/resources.h"

namespace kiln {
namespace {

// Entries are never freed: the registry lives as long as the process.
const EmbeddedResourceEntry* embeddedResourceHead = nullptr;

}  // namespace

int AddEmbeddedResource(const Text& name, const void* data, int32_t length) {
  if (FindEmbeddedResource(name) != nullptr) return 0;
  embeddedResourceHead = new EmbeddedResourceEntry{embeddedResourceHead, name,
                                                   static_cast<const unsigned char*>(data), length};
  return 1;
}

const EmbeddedResourceEntry* FindEmbeddedResource(const Text& name) {
  for (const EmbeddedResourceEntry* e = embeddedResourceHead; e != nullptr; e = e->next) {
    if (e->name == name) return e;
  }
  return nullptr;
}

const unsigned char* EmbeddedResourcePointer(const Text& name) {
  const EmbeddedResourceEntry* e = FindEmbeddedResource(name);
  return e != nullptr ? e->data : nullptr;
}

int32_t EmbeddedResourceSize(const Text& name) {
  const EmbeddedResourceEntry* e = FindEmbeddedResource(name);
  return e != nullptr ? e->length : 0;
}

const EmbeddedResourceEntry* EmbeddedResourceHead() { return embeddedResourceHead; }

}  // namespace kiln
