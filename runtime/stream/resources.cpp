#include "runtime/stream/resources.h"

#include "runtime/core/registry.h"

namespace kiln {
namespace {

// Entries are never freed: the registry lives as long as the process.
Registry<EmbeddedResourceEntry, &EmbeddedResourceEntry::next> embeddedResourceHead;

}  // namespace

int AddEmbeddedResource(const Text& name, const void* data, int32_t length) {
  if (FindEmbeddedResource(name) != nullptr) return 0;
  embeddedResourceHead.PushFront(
      new EmbeddedResourceEntry{nullptr, name, static_cast<const unsigned char*>(data), length});
  return 1;
}

const EmbeddedResourceEntry* FindEmbeddedResource(const Text& name) {
  return embeddedResourceHead.FirstAnswer(
      [&](const EmbeddedResourceEntry& e) { return e.name == name ? &e : nullptr; });
}

const unsigned char* EmbeddedResourcePointer(const Text& name) {
  const EmbeddedResourceEntry* e = FindEmbeddedResource(name);
  return e != nullptr ? e->data : nullptr;
}

int32_t EmbeddedResourceSize(const Text& name) {
  const EmbeddedResourceEntry* e = FindEmbeddedResource(name);
  return e != nullptr ? e->length : 0;
}

const EmbeddedResourceEntry* EmbeddedResourceHead() { return embeddedResourceHead.Head(); }

}  // namespace kiln
