// The payload manifest as the program sees it: names, byte counts and export order of the blocks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "runtime/core/text.h"

namespace zunto {

using kiln::Text;

struct ManifestEntry {
  const char* resource;  // registered name, "./data/..."
  int32_t bytes;         // byte count in this release
  int step;              // position in the export order, 1-based; 0 for blocks never exported
};

// All blocks in registration order.
std::span<const ManifestEntry> PayloadManifest();

// Index of the block named `resource` in the manifest, or -1.
int ManifestIndex(const Text& resource);

// The exported blocks' indices, in export order.
std::vector<int> ExportOrder();

// Where a block is exported to: "./data/<file>" goes to TargetRoot + file, "./data/<folder>/<file>"
// to the play-set base + "XMLData/" + folder + "/" + file. The empty text for a name of neither form.
Text ExportDestination(const Text& resource);

// The play-set folder of a block ("Spielzuege" for "./data/Spielzuege/x.xml"), or the empty text.
Text PlaySetFolderOf(const Text& resource);

}  // namespace zunto
