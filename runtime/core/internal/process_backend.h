// The platform calls under start-up and the fault report.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/core/text.h"

namespace kiln::processbackend {

// Full path of the running executable with links resolved; `argv0` is the fallback.
Text ExecutablePath(const char* argv0);

// Sends processor faults to ReportSystemException with their fault code, on a stack of their own so
// that a stack overflow can still be reported.
void InstallFaultHandlers();
// Whether a message box could be shown at all.
bool DisplayAvailable();
// Safe inside a fault handler.
void WriteStandardError(const char* bytes, size_t count);
// Hands an error text to the platform's debug channel as well, where there is one: a Windows
// program started from Explorer has no standard error, and a debug viewer still shows the text.
void WriteDebugChannel(const Text& text);
// Ends the process without exit handlers.
[[noreturn]] void EndImmediately(int code);
// Guards the normal end after a fault report: should exit handlers hang, the process is ended.
void ArmExitWatchdog(int seconds);

}  // namespace kiln::processbackend
