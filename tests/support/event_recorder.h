// The events an input test provokes, as the event hook sees them.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include "runtime/core/object.h"

namespace kiln::test {

struct SeenEvent {
  int32_t id, data, mods, x, y;
  bool fromSource;  // the event carries the recorder's source
  bool operator==(const SeenEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SeenEvent& s) {
  return out << "{" << s.id << ", " << s.data << ", " << s.mods << ", " << s.x << ", " << s.y << ", "
             << s.fromSource << "}";
}

// Records every event emitted while it exists (one recorder at a time), from its place in the
// event hook (priority 1000: before the input state and the queue see the event).
class EventRecorder {
 public:
  explicit EventRecorder(Ref<TObject> source);
  ~EventRecorder();
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  // Pumps the system's events until none has arrived for `quietRounds` rounds of 5 ms (2 s at
  // most); `beforePump` runs at the start of each round.
  void Settle(int quietRounds, const std::function<void()>& beforePump = nullptr);
  // Settles, then hands over what was recorded and starts afresh.
  std::vector<SeenEvent> Take(int quietRounds, const std::function<void()>& beforePump = nullptr);
  const std::vector<SeenEvent>& Events() const { return events_; }
  void Clear() { events_.clear(); }

 private:
  static Ref<TObject> Record(int id, const Ref<TObject>& data, const Ref<TObject>& context);
  Ref<TObject> source_;
  std::vector<SeenEvent> events_;
};

}  // namespace kiln::test
