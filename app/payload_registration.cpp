#include <span>

#include "app/export.h"
#include "app/manifest.h"
#include "app/payload_blocks.h"
#include "runtime/stream/resources.h"

namespace zunto {

void RegisterPayloadResources() {
  const std::span<const ManifestEntry> manifest = PayloadManifest();
  for (size_t i = 0; i < manifest.size(); ++i) {
    const EmbeddedBlock& block = kPayloadBlocks[i];
    kiln::AddEmbeddedResource(manifest[i].resource, block.begin, static_cast<int32_t>(block.end - block.begin));
  }
  SetPayloadChecksums(std::span<const uint32_t>(kPayloadBlockChecksums, manifest.size()));
}

}  // namespace zunto
