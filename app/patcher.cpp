#include "app/patcher.h"

#include <cstdlib>

#include "app/export.h"
#include "app/game_folder.h"
#include "app/payload_blocks.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/stream_module.h"

namespace zunto {
namespace {

void InitRuntimeModules() {
  kiln::InitCoreModule();
  PatcherStartStub();
  kiln::InitStreamModule();
  kiln::InitFileSystemModule();
}

// The end of a patch run. A failed export has already been reported on standard error; the process
// ends with -1 then, as after any write failure, and with 0 otherwise.
[[noreturn]] void FinishPatchRun() {
  if (!LastPatchFailureText().IsEmpty()) std::exit(-1);
  kiln::EndProgram();
}

}  // namespace

int PatcherStartStub() {
  static int started = 0;
  if (started) return 0;
  started = 1;
  kiln::InitCoreModule();
  RunPatcher();
  return 0;
}

int RunPatcher() {
  static int running = 0;
  if (running) return 0;
  running = 1;
  RegisterPayloadResources();
  InitRuntimeModules();
  if (IsGameFolder()) {
    if (ExportPayload() == 0) SetPatchDone(1);
  }
  FinishPatchRun();
}

}  // namespace zunto
