#include "runtime/system/input.h"

#include <array>
#include <cstdint>

#include "runtime/core/run_once.h"
#include "runtime/system/events.h"
#include "runtime/system/hooks.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

constexpr int kKeyCount = 256;
constexpr int kButtonCount = 4;
constexpr int kCharQueueSize = 256;

std::array<int32_t, kKeyCount> keyHeld{};
std::array<int32_t, kKeyCount> keyPressCount{};
std::array<int32_t, kCharQueueSize> typedChars{};
// Counts of characters ever queued and taken since the last reset; slot = count AND 255.
uint32_t charWriteIndex = 0;
uint32_t charReadIndex = 0;
std::array<int32_t, kButtonCount> buttonHeld{};
std::array<int32_t, kButtonCount> buttonClickCount{};
// [0] x, [1] y, [2] accumulated wheel notches.
std::array<int32_t, 4> pointerState{};
std::array<int32_t, 4> pointerSeen{};
int32_t suspendedFlag = 0;
int32_t terminateRequested = 0;
int32_t trackingOn = 0;

Ref<TObject>& TrackedSource() {
  static Ref<TObject> trackedSource;
  return trackedSource;
}

bool ValidKey(int key) { return key >= 0 && key < kKeyCount; }
bool ValidButton(int button) { return button >= 0 && button < kButtonCount; }

void ClearKeyState() {
  charReadIndex = charWriteIndex = 0;
  keyHeld.fill(0);
  keyPressCount.fill(0);
}

void ClearMouseState() {
  buttonHeld.fill(0);
  buttonClickCount.fill(0);
  pointerState[2] = 0;
}

Ref<TObject> InputStateHook(int, const Ref<TObject>& data, const Ref<TObject>&) {
  Ref<TEvent> event = RefCast<TEvent>(data);
  if (!event) return data;
  if (TrackedSource() && !(TrackedSource() == event->source)) return data;
  // Key and button codes outside the arrays can only come from events the program built itself;
  // they are ignored.
  switch (event->id) {
    case kEventKeyDown:
      if (ValidKey(event->data) && keyHeld[event->data] == 0) {
        keyHeld[event->data] = 1;
        ++keyPressCount[event->data];
      }
      break;
    case kEventKeyUp:
      if (ValidKey(event->data)) keyHeld[event->data] = 0;
      break;
    case kEventKeyChar:
      if (charWriteIndex - charReadIndex < kCharQueueSize) {
        typedChars[charWriteIndex & (kCharQueueSize - 1)] = event->data;
        ++charWriteIndex;
      }
      break;
    case kEventMouseDown:
      if (ValidButton(event->data) && buttonHeld[event->data] == 0) {
        buttonHeld[event->data] = 1;
        ++buttonClickCount[event->data];
      }
      break;
    case kEventMouseUp:
      if (ValidButton(event->data)) buttonHeld[event->data] = 0;
      break;
    case kEventMouseMove:
      pointerState[0] = event->x;
      pointerState[1] = event->y;
      break;
    case kEventMouseWheel:
      pointerState[2] += event->data;
      break;
    // Clearing without the resets' pump: pumping here would dispatch later messages before this
    // event has been handled.
    case kEventAppSuspend:
      ClearKeyState();
      ClearMouseState();
      suspendedFlag = 1;
      break;
    case kEventAppResume:
      ClearKeyState();
      ClearMouseState();
      suspendedFlag = 0;
      break;
    case kEventAppTerminate:
      terminateRequested = 1;
      break;
    default:
      break;
  }
  return data;
}

int TakeValue(int32_t& value) {
  int result = value;
  value = 0;
  return result;
}

int Motion(int index) {
  PumpSystemEvents();
  int delta = pointerState[index] - pointerSeen[index];
  pointerSeen[index] = pointerState[index];
  return delta;
}

}  // namespace

void InitInputState() {
  RunOnce([] {
    InitEventModule();
    InitSystemModule();
    ClearKeyState();
    ClearMouseState();
  });
}

int StartInputTracking(const Ref<TObject>& source) {
  InitInputState();
  if (trackingOn) return 0;
  TrackedSource() = source;
  // The hook goes in before the resets pump: the pointer position that a window opening under the
  // pointer reports is already queued, and the resets keep it while they drop keys and clicks.
  InsertHook(EventHookId(), InputStateHook, nullptr, 0);
  trackingOn = 1;
  ResetKeyState();
  ResetMouseState();
  return 0;
}

int StopInputTracking() {
  if (!trackingOn) return 0;
  DeleteHook(EventHookId(), InputStateHook, nullptr);
  ResetKeyState();
  ResetMouseState();
  TrackedSource() = nullptr;
  trackingOn = 0;
  return 0;
}

int TakeTerminateRequest() {
  PumpSystemEvents();
  return TakeValue(terminateRequested);
}

int IsSuspended() {
  PumpSystemEvents();
  return suspendedFlag;
}

int TakeKeyPresses(int key) {
  PumpSystemEvents();
  return ValidKey(key) ? TakeValue(keyPressCount[key]) : 0;
}

int IsKeyHeld(int key) {
  PumpSystemEvents();
  return ValidKey(key) ? keyHeld[key] : 0;
}

int NextTypedChar() {
  PumpSystemEvents();
  if (charWriteIndex == charReadIndex) return 0;
  int c = typedChars[charReadIndex & (kCharQueueSize - 1)];
  ++charReadIndex;
  return c;
}

int ResetKeyState() {
  PumpSystemEvents();
  ClearKeyState();
  return 0;
}

int PointerX() {
  PumpSystemEvents();
  return pointerState[0];
}

int PointerY() {
  PumpSystemEvents();
  return pointerState[1];
}

int WheelTotal() {
  PumpSystemEvents();
  return pointerState[2];
}

int PointerXMotion() { return Motion(0); }
int PointerYMotion() { return Motion(1); }
int WheelMotion() { return Motion(2); }

int ResetMouseState() {
  PumpSystemEvents();
  ClearMouseState();
  return 0;
}

int TakeButtonClicks(int button) {
  PumpSystemEvents();
  return ValidButton(button) ? TakeValue(buttonClickCount[button]) : 0;
}

int IsButtonHeld(int button) {
  PumpSystemEvents();
  return ValidButton(button) ? buttonHeld[button] : 0;
}

int AwaitKeyPress() {
  ResetKeyState();
  for (;;) {
    AwaitSystemEvents();
    for (int key = 1; key < kKeyCount; ++key) {
      if (TakeKeyPresses(key) != 0) return key;
    }
  }
}

int AwaitTypedChar() {
  ResetKeyState();
  for (;;) {
    AwaitSystemEvents();
    if (int c = NextTypedChar()) return c;
  }
}

int AwaitButtonClick() {
  ResetMouseState();
  for (;;) {
    AwaitSystemEvents();
    for (int button = 1; button < kButtonCount; ++button) {
      if (TakeButtonClicks(button) != 0) return button;
    }
  }
}

}  // namespace kiln
