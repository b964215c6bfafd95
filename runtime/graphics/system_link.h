// What the graphics module takes from the system layer: hooks, polled input, the pointer and exit
// handlers. Kept in one place so the graphics module sees one narrow surface.
#pragma once

namespace kiln::graphics_link {

// Runs the initialisers of the system modules the graphics module builds on.
void InitSystemModules();
int NewFlipHookId();
// Runs the hook list `hookId` with the empty object as data.
void RunHooks(int hookId);
// Input tracking of every event source, while the application window is open.
void StartTracking();
void StopTracking();
void MovePointer(int x, int y);
void RunAtExit(void (*handler)());

}  // namespace kiln::graphics_link
