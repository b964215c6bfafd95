// The process frame: running the application entry, and the ends of the program.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "runtime/core/exceptions.h"
#include "runtime/core/fault_report.h"
#include "runtime/core/internal/process_backend.h"
#include "runtime/core/runtime.h"

namespace kiln {
namespace {

Text TextOfThrown(std::exception_ptr thrown) {
  try {
    return ThrownObjectText(thrown);
  } catch (...) {
    return Text("Unknown exception");
  }
}

// A thrown object that escapes where nothing can catch it (an exit handler, another thread).
[[noreturn]] void OnTerminate() {
  if (std::exception_ptr thrown = std::current_exception()) WriteErrorText(TextOfThrown(thrown));
  std::_Exit(255);
}

}  // namespace

void WriteErrorText(const Text& text) {
  processbackend::WriteDebugChannel(text);
  std::string bytes = text.ToLatin1();
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void EndProgram() { std::exit(0); }

void ReportUncaughtException(std::exception_ptr thrown) {
  WriteErrorText(TextOfThrown(thrown));
  std::exit(-1);
}

int RuntimeMain(int argc, char** argv, int (*entry)()) {
  InstallFaultReport();
  std::set_terminate(OnTerminate);
  StartRuntime(argc, argv);
  try {
    InitCoreModule();
    return entry != nullptr ? entry() : 0;
  } catch (...) {
    ReportUncaughtException(std::current_exception());
  }
}

}  // namespace kiln
