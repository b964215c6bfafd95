#include "runtime/system/system.h"

#include <ctime>

#include "runtime/core/clock.h"
#include "runtime/core/exceptions.h"
#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/system/events.h"
#include "runtime/system/internal/system_backend.h"

namespace kiln {
namespace {

Ref<TSystemDriver>& Driver() {
  static Ref<TSystemDriver> systemDriver;
  return systemDriver;
}

// Shared by both pump functions, so neither runs inside the other.
bool pumpBusy = false;

class PumpGuard {
 public:
  PumpGuard() { pumpBusy = true; }
  ~PumpGuard() { pumpBusy = false; }
  PumpGuard(const PumpGuard&) = delete;
  PumpGuard& operator=(const PumpGuard&) = delete;
};

TSystemDriver& CheckedDriver() {
  InitSystemModule();
  if (!Driver()) RaiseNullObject();
  return *Driver();
}

Text LocalTimeText(const char* pattern) {
  std::tm local{};
  if (!LocalTimeNow(local)) return Text();
  char buffer[256];
  size_t length = std::strftime(buffer, sizeof buffer, pattern, &local);
  return Text::FromLatin1(std::string_view(buffer, length));
}

}  // namespace

int TSystemDriver::Poll() { RaiseAbstractCall(); }
int TSystemDriver::Wait() { RaiseAbstractCall(); }
int TSystemDriver::MoveMouse(int, int) { RaiseAbstractCall(); }
int TSystemDriver::SetMouseVisible(int) { RaiseAbstractCall(); }
int TSystemDriver::Notify(const Text&, int) { RaiseAbstractCall(); }
int TSystemDriver::Confirm(const Text&, int) { RaiseAbstractCall(); }
int TSystemDriver::Proceed(const Text&, int) { RaiseAbstractCall(); }
Text TSystemDriver::RequestFile(const Text&, const Text&, int, const Text&) { RaiseAbstractCall(); }
Text TSystemDriver::RequestDir(const Text&, const Text&) { RaiseAbstractCall(); }
int TSystemDriver::OpenURL(const Text&) { RaiseAbstractCall(); }

const Ref<TSystemDriver>& SystemDriver() {
  InitSystemModule();
  return Driver();
}

void PumpSystemEvents() {
  if (pumpBusy) return;
  TSystemDriver& driver = CheckedDriver();
  PumpGuard guard;
  driver.Poll();
}

void AwaitSystemEvents() {
  if (pumpBusy) return;
  TSystemDriver& driver = CheckedDriver();
  PumpGuard guard;
  driver.Wait();
}

void SetPointerPosition(int x, int y) { CheckedDriver().MoveMouse(x, y); }
void ShowPointer() { CheckedDriver().SetMouseVisible(1); }
void HidePointer() { CheckedDriver().SetMouseVisible(0); }
int NotifyUser(const Text& text, int serious) { return CheckedDriver().Notify(text, serious); }
int AskConfirm(const Text& text, int serious) { return CheckedDriver().Confirm(text, serious); }
int AskProceed(const Text& text, int serious) { return CheckedDriver().Proceed(text, serious); }

Text AskFileName(const Text& title, const Text& extensions, int save, const Text& path) {
  return CheckedDriver().RequestFile(title, extensions, save, path);
}

Text AskFolder(const Text& title, const Text& path) { return CheckedDriver().RequestDir(title, path); }

Text NormalizeAddress(const Text& url) {
  Text lower = url.Left(6).ToLower();
  if (lower.StartsWith("http:") || lower.StartsWith("file:") || lower.StartsWith("https:")) return url;
  Text rest = url;
  Text anchor;
  int hash = url.Find("#");
  if (hash >= 0) {
    rest = url.Left(hash);
    anchor = url.From(hash);
  }
  Text path = AbsolutePath(rest);
  if (QueryPathKind(path) != FILETYPE_NONE) return Text("file:") + path + anchor;
  // "http:" alone followed by a host is no address a browser opens reliably.
  return Text("http://") + rest + anchor;
}

int OpenAddress(const Text& url) { return CheckedDriver().OpenURL(NormalizeAddress(url)); }

Text TodayText() { return LocalTimeText("%d %b %Y"); }
Text ClockText() { return LocalTimeText("%H:%M:%S"); }

void InitSystemModule() {
  RunOnce([] {
    InitCoreModule();
    InitEventModule();
    InitFileSystemModule();
    Driver() = CreatePlatformSystemDriver();
    SetFaultMessageBox(PlatformFaultMessageBox());
  });
}

}  // namespace kiln
