// Events: the TEvent record, the id registry with printable names, and emission through the
// event hook.
#pragma once

#include <cstdint>

#include "runtime/core/object.h"

namespace kiln {

// Event ids emitted or named by the runtime.
enum EventId : int32_t {
  kEventAppSuspend = 257,
  kEventAppResume = 258,
  kEventAppTerminate = 259,
  kEventKeyDown = 513,
  kEventKeyUp = 514,
  kEventKeyChar = 515,
  kEventKeyRepeat = 516,
  kEventMouseDown = 1025,
  kEventMouseUp = 1026,
  kEventMouseMove = 1027,
  kEventMouseWheel = 1028,
  kEventMouseEnter = 1029,
  kEventMouseLeave = 1030,
  kEventTimerTick = 2049,
  kEventGadgetAction = 8193,
  kEventWindowMove = 16385,
  kEventWindowSize = 16386,
};

class TEvent : public TObject {
 public:
  int32_t id = 0;
  Ref<TObject> source;
  int32_t data = 0;
  int32_t mods = 0;
  int32_t x = 0;
  int32_t y = 0;
  Ref<TObject> extra;

  static Ref<TEvent> Create(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x,
                            int32_t y, const Ref<TObject>& extra);
  // The next user event id; the first is 0x80000001.
  static int32_t AllocUserId();
  static void RegisterId(int32_t id, const Text& name);
  // The first registered name of `id`, or the empty text.
  static Text DescriptionForId(int32_t id);

  // Runs the event hook with this event; returns 0.
  int Emit();
  Text ToString() const override;
};

// The hook id every event is delivered through.
int EventHookId();

Ref<TEvent> MakeEvent(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x, int32_t y,
                      const Ref<TObject>& extra);
void SendEvent(const Ref<TEvent>& event);
void SendSystemEvent(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x, int32_t y,
                     const Ref<TObject>& extra);
// A new user event id, registered under `name` unless the name is empty.
int32_t NewUserEventId(const Text& name);

// Run-once initialiser: registers the runtime's event names and allocates the event hook id.
void InitEventModule();

}  // namespace kiln
