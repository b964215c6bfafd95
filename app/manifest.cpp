#include "app/manifest.h"

#include <algorithm>

#include "app/export_paths.h"

namespace zunto {
namespace {

constexpr ManifestEntry kManifest[] = {
#define ZPATCH_ENTRY(name, bytes, step) {name, bytes, step},
#include "app/manifest.inc"
#undef ZPATCH_ENTRY
};

}  // namespace

std::span<const ManifestEntry> PayloadManifest() { return kManifest; }

int ManifestIndex(const Text& resource) {
  for (size_t i = 0; i < std::size(kManifest); ++i) {
    if (Text(kManifest[i].resource) == resource) return static_cast<int>(i);
  }
  return -1;
}

std::vector<int> ExportOrder() {
  std::vector<int> order;
  for (size_t i = 0; i < std::size(kManifest); ++i) {
    if (kManifest[i].step > 0) order.push_back(static_cast<int>(i));
  }
  std::stable_sort(order.begin(), order.end(),
                   [](int a, int b) { return kManifest[a].step < kManifest[b].step; });
  return order;
}

Text PlaySetFolderOf(const Text& resource) {
  if (!resource.StartsWith(kSourcePrefix)) return Text();
  Text rest = resource.From(Text(kSourcePrefix).Length());
  int slash = rest.Find("/");
  return slash > 0 ? rest.Left(slash) : Text();
}

Text ExportDestination(const Text& resource) {
  if (!resource.StartsWith(kSourcePrefix)) return Text();
  Text rest = resource.From(Text(kSourcePrefix).Length());
  if (rest.IsEmpty()) return Text();
  Text folder = PlaySetFolderOf(resource);
  if (folder.IsEmpty()) return rest.Contains("/") ? Text() : TargetRoot() + rest;
  Text file = rest.From(folder.Length() + 1);
  if (file.IsEmpty() || file.Contains("/")) return Text();
  return Text(kPlaySetBase) + kPlaySetSubFolder + folder + "/" + file;
}

}  // namespace zunto
