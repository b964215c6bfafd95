// A small program run by the start-up tests as a child process. The first argument picks what it
// does; the second names a file where the exit handlers leave their marks.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "runtime/core/exceptions.h"
#include "runtime/core/file_names.h"
#include "runtime/core/runtime.h"

namespace {

std::string mode;
std::string markFile;

void Mark(const char* text) {
  if (markFile.empty()) return;
  int fd = open(markFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  ssize_t ignored = write(fd, text, std::strlen(text));
  (void)ignored;
  close(fd);
}

class NamedThing : public kiln::TObject {
 public:
  kiln::Text ToString() const override { return "a thrown thing"; }
};

void FirstHandler() { Mark("first;"); }
void SecondHandler() { Mark("second;"); }

void PrintLine(const kiln::Text& text) { std::printf("%s\n", kiln::ToPlatformName(text).c_str()); }

// The sanitizers would report these themselves; the point here is the runtime's own fault report.
__attribute__((no_sanitize("undefined"), noinline)) int DivideByZero() {
  volatile int one = 1;
  volatile int zero = 0;
  volatile int result = one / zero;
  return result;
}

__attribute__((no_sanitize("undefined", "address"), noinline)) void WriteThroughNull() {
  volatile int* volatile pointer = nullptr;
  *pointer = 1;
}

volatile int deepestFrame = -1;

__attribute__((no_sanitize("undefined", "address"), noinline)) int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (depth == deepestFrame) return 0;
  return Recurse(depth + 1) + frame[0];
}

void FaultingHandler() {
  Mark("faulting;");
  WriteThroughNull();
}

void FaultingBox(const char*, const char*) {
  Mark("box;");
  WriteThroughNull();
}

void RecordingBox(const char* caption, const char* text) {
  Mark("box:");
  Mark(caption);
  Mark("|");
  Mark(text);
  Mark(";");
}

int Entry() {
  if (mode == "globals") {
    PrintLine(kiln::ApplicationTitle());
    PrintLine(kiln::ApplicationFile());
    PrintLine(kiln::ApplicationFolder());
    PrintLine(kiln::LaunchFolder());
    char* cwd = getcwd(nullptr, 0);
    std::printf("%s\n", cwd);
    free(cwd);
    for (const kiln::Text& arg : kiln::ApplicationArgs()) PrintLine(arg);
    return 0;
  }
  kiln::AddExitHandler(FirstHandler);
  kiln::AddExitHandler(SecondHandler);
  if (mode == "runtime-exception") throw kiln::TRuntimeException("Error writing the file Zunto.exe");
  if (mode == "text") throw kiln::Text(u"Fehler: \u00FCberschrieben\u0141");
  if (mode == "null-object") kiln::RaiseNullObject();
  if (mode == "foreign") throw std::runtime_error("plain C++ failure");
  if (mode == "object") kiln::ThrowObject(kiln::MakeRef<NamedThing>());
  if (mode == "int-divide") return DivideByZero();
  if (mode == "null-write") WriteThroughNull();
  if (mode == "stack-overflow") return Recurse(0);
  if (mode == "fault-in-exit-handler") {
    kiln::AddExitHandler(FaultingHandler);
    WriteThroughNull();
  }
  if (mode == "fault-in-box") {
    kiln::SetFaultMessageBox(FaultingBox);
    WriteThroughNull();
  }
  if (mode == "box") {
    kiln::SetFaultMessageBox(RecordingBox);
    return DivideByZero();
  }
  if (mode == "end") kiln::EndProgram();
  if (mode == "return") return 0;
  return 7;
}

}  // namespace

int main(int argc, char** argv) {
  mode = argc > 1 ? argv[1] : "";
  markFile = argc > 2 ? argv[2] : "";
  return kiln::RuntimeMain(argc, argv, Entry);
}
