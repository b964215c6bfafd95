#include "app/game_folder.h"

#include "runtime/filesystem/filesystem.h"

namespace zunto {
namespace {

int32_t patchDone = 0;

}  // namespace

const Text& PatcherVersion() {
  static const Text version = "1.3";
  return version;
}

const Text& GameExeName() {
  static const Text name = "Vellmora.exe";
  return name;
}

int32_t PatchDone() { return patchDone; }
void SetPatchDone(int32_t done) { patchDone = done; }

int IsGameFolder() { return kiln::QueryPathKind(GameExeName()) == kiln::FILETYPE_FILE ? 1 : 0; }

}  // namespace zunto
