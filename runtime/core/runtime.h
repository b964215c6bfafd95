// Process frame: application globals, start-up, program end, error reports and exit handlers.
#pragma once

#include <exception>
#include <vector>

#include "runtime/core/text.h"

namespace kiln {

// Caption of message boxes and graphics windows; "Kilnworks Application" until replaced.
const Text& ApplicationTitle();
void SetApplicationTitle(const Text& title);
// Full path of the running executable, with "/" separators.
const Text& ApplicationFile();
// The executable's folder; a root ("/", "C:/") keeps its slash.
const Text& ApplicationFolder();
// The current directory when the process started.
const Text& LaunchFolder();
// The command-line arguments, starting with the program name as started.
const std::vector<Text>& ApplicationArgs();

// The process's current directory as the platform names it, the empty text when it cannot be read.
// The file system module's WorkingDir and ChangeDir apply the path rule on top of these.
Text CurrentDirectory();
bool ChangeCurrentDirectory(const Text& path);

// Fills the globals above and makes the executable's folder the current directory.
void StartRuntime(int argc, char** argv);
// Process-level main: installs the fault report, starts the runtime, runs the core initialiser and
// calls `entry`, whose result it returns. A thrown object that escapes `entry` is reported by
// ReportUncaughtException.
int RuntimeMain(int argc, char** argv, int (*entry)());

// Normal end: exit(0); exit handlers run.
[[noreturn]] void EndProgram();
// Writes the thrown object's text to standard error without a line end, then exit(-1).
[[noreturn]] void ReportUncaughtException(std::exception_ptr thrown);
// The text's low bytes to standard error, flushed, no line end added.
void WriteErrorText(const Text& text);

// Runs `handler` at program end; handlers run in reverse order of registration.
void AddExitHandler(void (*handler)());

// Where the fault report shows its message box once a system layer exists and a display is
// available; standard error ("Windows exception: <name>" and a line end) otherwise. The function
// returns after the user has dismissed the box; it runs inside the fault handler, on its own stack.
using FaultMessageBox = void (*)(const char* caption, const char* text);
void SetFaultMessageBox(FaultMessageBox show);

// Debug-line channel: passes the text to the installed hook; the default hook discards it.
using DebugLineHook = void (*)(const Text& line);
void EmitDebugLine(const Text& line);
void SetDebugLineHook(DebugLineHook hook);  // nullptr restores the default

// Run-once initialiser of the runtime core.
void InitCoreModule();

}  // namespace kiln
