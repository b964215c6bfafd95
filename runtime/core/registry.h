// The runtime's registries (stream factories, pixmap loaders, font loaders, embedded resources): a
// singly linked list with push-front, so that a walk from the head meets the newest entry first.
// `Link` is the entry's field that holds the next entry, a Ref or a plain pointer; the head has the
// same type. A registry lives as long as the process and never unlinks an entry.
#pragma once

#include <type_traits>
#include <utility>

namespace kiln {

template <class Entry, auto Link>
class Registry {
 public:
  using Handle = std::remove_cvref_t<decltype(std::declval<Entry&>().*Link)>;

  const Handle& Head() const { return head_; }

  // Links `entry` in front of the list.
  template <class P>
  void PushFront(P entry) {
    (*entry).*Link = head_;
    head_ = std::move(entry);
  }

  bool Contains(const Entry* entry) const {
    for (const Entry* e = Raw(head_); e != nullptr; e = Raw(e->*Link)) {
      if (e == entry) return true;
    }
    return false;
  }

  // The first answer of `ask(entry)` that tests true, from the head on; the empty answer when none
  // does. The entry being asked stays referenced while it answers.
  template <class Ask>
  auto FirstAnswer(Ask ask) const {
    using Answer = decltype(ask(*head_));
    for (Handle e = head_; e; e = (*e).*Link) {
      if (Answer answer = ask(*e)) return answer;
    }
    return Answer();
  }

 private:
  static const Entry* Raw(const Handle& handle) {
    if constexpr (std::is_pointer_v<Handle>) {
      return handle;
    } else {
      return handle.Get();
    }
  }

  Handle head_{};
};

}  // namespace kiln
