// The patch program's entry points.
#pragma once

namespace zunto {

// Runs the core initialiser and RunPatcher once; returns 0.
int PatcherStartStub();
// Registers the payload, initialises the runtime modules, checks the folder and exports the payload.
// Returns 0 only when it has run before; otherwise it ends the process.
int RunPatcher();

}  // namespace zunto
