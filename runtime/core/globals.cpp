#include <cstdlib>

#include "runtime/core/file_names.h"
#include "runtime/core/internal/process_backend.h"
#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/core/startup_rules.h"

namespace kiln {
namespace {

Text applicationTitle = "Kilnworks Application";
Text applicationFile;
Text applicationFolder;
Text launchFolder;
std::vector<Text> applicationArgs;
DebugLineHook debugLineHook = nullptr;

}  // namespace

const Text& ApplicationTitle() { return applicationTitle; }
void SetApplicationTitle(const Text& title) { applicationTitle = title; }
const Text& ApplicationFile() { return applicationFile; }
const Text& ApplicationFolder() { return applicationFolder; }
const Text& LaunchFolder() { return launchFolder; }
const std::vector<Text>& ApplicationArgs() { return applicationArgs; }

Text FolderOfExecutable(const Text& file) {
  int slash = file.FindLast("/");
  if (slash < 0) return Text();
  if (slash == 0 || file[slash - 1] == u':') return file.Left(slash + 1);
  return file.Left(slash);
}

void StartRuntime(int argc, char** argv) {
  launchFolder = CurrentDirectory().Replace("\\", "/");
  applicationFile = processbackend::ExecutablePath(argc > 0 ? argv[0] : nullptr).Replace("\\", "/");
  applicationFolder = FolderOfExecutable(applicationFile);
  // Every relative path of the program is relative to its own folder. A failed change leaves the
  // program in the folder it was started in.
  if (!applicationFolder.IsEmpty()) ChangeCurrentDirectory(applicationFolder);
  applicationTitle = "Kilnworks Application";
  applicationArgs.clear();
  for (int i = 0; i < argc; ++i) applicationArgs.push_back(FromPlatformName(argv[i] != nullptr ? argv[i] : ""));
}

void AddExitHandler(void (*handler)()) { std::atexit(handler); }

void EmitDebugLine(const Text& line) {
  if (debugLineHook != nullptr) debugLineHook(line);
}

void SetDebugLineHook(DebugLineHook hook) { debugLineHook = hook; }

void InitCoreModule() {
  // The core's types and globals are ready before main; the guard keeps the shape of the others.
  RunOnce([] {});
}

}  // namespace kiln
