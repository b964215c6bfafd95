#include "runtime/system/event_queue.h"

#include <array>

#include "runtime/core/run_once.h"
#include "runtime/system/hooks.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

constexpr int kQueueHookPriority = -10000;

std::array<Ref<TEvent>, kEventQueueSize>& Ring() {
  static std::array<Ref<TEvent>, kEventQueueSize> ring;
  return ring;
}

// Ever-increasing counts; the slot is count AND 255.
uint32_t writeCount = 0;
uint32_t readCount = 0;

Ref<TEvent>& EmptyEvent() {
  static Ref<TEvent> emptyEvent = MakeRef<TEvent>();
  return emptyEvent;
}

Ref<TEvent>& Current() {
  static Ref<TEvent> currentEvent = EmptyEvent();
  return currentEvent;
}

Ref<TEvent>& Slot(uint32_t count) { return Ring()[count & (kEventQueueSize - 1)]; }

bool Coalesces(int32_t id) {
  return id == kEventTimerTick || id == kEventGadgetAction || id == kEventWindowMove || id == kEventWindowSize;
}

Ref<TObject> QueueEventHook(int, const Ref<TObject>& data, const Ref<TObject>&) {
  Ref<TEvent> event = RefCast<TEvent>(data);
  if (!event) return nullptr;
  PostQueuedEvent(event, Coalesces(event->id));
  return event;
}

}  // namespace

void PostQueuedEvent(const Ref<TEvent>& event, bool coalesce) {
  if (!event) return;
  if (coalesce) {
    for (uint32_t count = readCount; count != writeCount; ++count) {
      Ref<TEvent>& queued = Slot(count);
      if (queued->id == event->id && queued->source == event->source) {
        queued->data = event->data;
        queued->mods = event->mods;
        queued->x = event->x;
        queued->y = event->y;
        queued->extra = event->extra;
        return;
      }
    }
  }
  if (writeCount - readCount >= kEventQueueSize) return;
  Slot(writeCount) = event;
  ++writeCount;
}

Ref<TEvent> PeekQueuedEvent() {
  InitEventQueue();
  if (writeCount == readCount) PumpSystemEvents();
  if (writeCount == readCount) return nullptr;
  return Slot(readCount);
}

int32_t TakeQueuedEvent() {
  InitEventQueue();
  if (writeCount == readCount) PumpSystemEvents();
  if (writeCount == readCount) {
    Current() = EmptyEvent();
    return 0;
  }
  Ref<TEvent>& slot = Slot(readCount);
  Current() = std::move(slot);
  slot = nullptr;
  ++readCount;
  return Current()->id;
}

int32_t AwaitQueuedEvent() {
  InitEventQueue();
  while (writeCount == readCount) AwaitSystemEvents();
  return TakeQueuedEvent();
}

int QueuedEventCount() { return static_cast<int>(writeCount - readCount); }

const Ref<TEvent>& CurrentEvent() { return Current(); }
int32_t CurrentEventId() { return Current()->id; }
int32_t CurrentEventData() { return Current()->data; }
int32_t CurrentEventMods() { return Current()->mods; }
int32_t CurrentEventX() { return Current()->x; }
int32_t CurrentEventY() { return Current()->y; }
Ref<TObject> CurrentEventExtra() { return Current()->extra; }
Ref<TObject> CurrentEventSource() { return Current()->source; }

Text CurrentEventText() {
  if (auto text = RefCast<TTextObject>(Current()->extra)) return text->Value();
  return Text();
}

void InitEventQueue() {
  RunOnce([] {
    InitEventModule();
    InitSystemModule();
    EmptyEvent();
    Current();
    InsertHook(EventHookId(), QueueEventHook, nullptr, kQueueHookPriority);
  });
}

}  // namespace kiln
