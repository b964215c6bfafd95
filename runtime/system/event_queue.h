// The event queue: the last 256 unread events, kept by the lowest-priority event hook.
#pragma once

#include <cstdint>

#include "runtime/system/events.h"

namespace kiln {

constexpr int kEventQueueSize = 256;

// Appends the event; with `coalesce`, the oldest queued event of the same id and source takes the
// new event's data, mods, position and extra instead. A full queue drops new events.
void PostQueuedEvent(const Ref<TEvent>& event, bool coalesce);
// The oldest queued event without removing it; pumps first when the queue is empty.
Ref<TEvent> PeekQueuedEvent();
// Removes the oldest event into the current event and returns its id; pumps once when the queue
// is empty and returns 0 (the current event becomes the empty event) if it still is.
int32_t TakeQueuedEvent();
// Waits until an event is queued, then as TakeQueuedEvent.
int32_t AwaitQueuedEvent();
int QueuedEventCount();

// The event last taken.
const Ref<TEvent>& CurrentEvent();
int32_t CurrentEventId();
int32_t CurrentEventData();
int32_t CurrentEventMods();
int32_t CurrentEventX();
int32_t CurrentEventY();
Ref<TObject> CurrentEventExtra();
// The extra when it is a text, else the empty text.
Text CurrentEventText();
Ref<TObject> CurrentEventSource();

// Run-once initialiser: events and the system module, then the queue and its hook.
void InitEventQueue();

}  // namespace kiln
