// The system module: the system driver that links the program to the window system, message
// pumping, the pointer, message boxes, requesters, addresses and the date and time texts.
#pragma once

#include "runtime/core/object.h"

namespace kiln {

// The window system's side of the runtime. Every operation of this base raises
// TNullMethodException; a backend implements all of them.
class TSystemDriver : public TObject {
 public:
  // Dispatches every pending window-system message; never blocks.
  virtual int Poll();
  // Blocks until input arrives (or a main-thread call is posted), then as Poll.
  virtual int Wait();
  // Client coordinates of the active program window, screen coordinates when there is none.
  virtual int MoveMouse(int x, int y);
  // Hides the pointer over program windows (0) or shows it (1).
  virtual int SetMouseVisible(int visible);
  virtual int Notify(const Text& text, int serious);
  // 1 OK, 0 cancel.
  virtual int Confirm(const Text& text, int serious);
  // 1 yes, 0 no, -1 cancel.
  virtual int Proceed(const Text& text, int serious);
  // The chosen path, or the empty text when cancelled or no requester is available.
  virtual Text RequestFile(const Text& title, const Text& extensions, int save, const Text& path);
  virtual Text RequestDir(const Text& title, const Text& path);
  // 1 when the address was handed to the desktop, else 0.
  virtual int OpenURL(const Text& url);
};

// The driver made by InitSystemModule.
const Ref<TSystemDriver>& SystemDriver();

// Poll / Wait of the driver, unless a pump or wait is already running (then nothing).
void PumpSystemEvents();
void AwaitSystemEvents();

void SetPointerPosition(int x, int y);
void ShowPointer();
void HidePointer();
int NotifyUser(const Text& text, int serious);
int AskConfirm(const Text& text, int serious);
int AskProceed(const Text& text, int serious);
Text AskFileName(const Text& title, const Text& extensions, int save, const Text& path);
Text AskFolder(const Text& title, const Text& path);
// Opens a web address, or an existing file or folder given by path (an "#anchor" is kept).
int OpenAddress(const Text& url);
// What OpenAddress hands to the driver: "http:", "https:" and "file:" addresses unchanged; else an
// existing path becomes "file:" + its absolute path, anything else "http://" + the text.
Text NormalizeAddress(const Text& url);
// Local date as "%d %b %Y" and time as "%H:%M:%S".
Text TodayText();
Text ClockText();

// Runs function(arg, extra) on the main thread during its next pump or wait. Safe from any thread;
// `arg` is not retained, so the caller keeps it alive until the call has run.
using MainThreadFunction = void (*)(TObject* arg, int extra);
void PostMainThreadCall(MainThreadFunction function, TObject* arg, int extra);
// Runs the calls posted so far; the driver's Poll calls it.
void RunMainThreadCalls();

// Run-once initialiser: events, then the driver.
void InitSystemModule();

}  // namespace kiln
