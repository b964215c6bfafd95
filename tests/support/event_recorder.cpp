#include "tests/support/event_recorder.h"

#include "runtime/core/clock.h"
#include "runtime/system/events.h"
#include "runtime/system/hooks.h"
#include "runtime/system/system.h"

namespace kiln::test {
namespace {

EventRecorder* active = nullptr;

}  // namespace

EventRecorder::EventRecorder(Ref<TObject> source) : source_(std::move(source)) {
  active = this;
  InsertHook(EventHookId(), &EventRecorder::Record, nullptr, 1000);
}

EventRecorder::~EventRecorder() {
  DeleteHook(EventHookId(), &EventRecorder::Record, nullptr);
  if (active == this) active = nullptr;
}

Ref<TObject> EventRecorder::Record(int, const Ref<TObject>& data, const Ref<TObject>&) {
  if (auto event = RefCast<TEvent>(data); event && active != nullptr) {
    active->events_.push_back(
        {event->id, event->data, event->mods, event->x, event->y, event->source == active->source_});
  }
  return data;
}

void EventRecorder::Settle(int quietRounds, const std::function<void()>& beforePump) {
  size_t count = static_cast<size_t>(-1);
  int quiet = 0;
  for (int i = 0; i < 400 && quiet < quietRounds; ++i) {
    if (beforePump) beforePump();
    PumpSystemEvents();
    quiet = events_.size() == count ? quiet + 1 : 0;
    count = events_.size();
    SleepMillis(5);
  }
}

std::vector<SeenEvent> EventRecorder::Take(int quietRounds, const std::function<void()>& beforePump) {
  Settle(quietRounds, beforePump);
  std::vector<SeenEvent> result = std::move(events_);
  events_.clear();
  return result;
}

}  // namespace kiln::test
