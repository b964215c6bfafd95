// Backend-internal parts of the display connection: the input method, the window manager atoms,
// and the program's own non-translated windows (message boxes).
#pragma once

#include <X11/Xlib.h>

#include <vector>

namespace kiln::x11 {

// The input method of the display, or nullptr when none could be opened.
XIM SystemInputMethod();
Atom WmProtocolsAtom();
Atom WmDeleteWindowAtom();

// Windows of this process that are not program windows (message boxes): focus moving to one of
// them is not a change of application.
void AddOwnWindow(Window window);
void RemoveOwnWindow(Window window);
// True for program windows, own windows and their descendants.
bool BelongsToProgram(Window window);

// Every program window, as a copy: the caller may attach or detach windows while it walks them.
std::vector<Window> ProgramWindowList();

// Gives a newly attached window the pointer shape of the current visibility setting.
void ApplyPointerVisibility(Window window);

// Client size of a program window as last reported by the server; false when unknown.
bool ProgramWindowSize(Window window, int* width, int* height);

}  // namespace kiln::x11
