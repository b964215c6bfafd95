#include "runtime/system/event_queue.h"

#include <gtest/gtest.h>

namespace kiln {
namespace {

class EventQueue : public testing::Test {
 protected:
  void SetUp() override {
    InitEventQueue();
    while (TakeQueuedEvent() != 0) {
    }
  }
  void TearDown() override {
    while (TakeQueuedEvent() != 0) {
    }
  }
};

TEST_F(EventQueue, EventsComeOutInEmissionOrderIntoTheCurrentEvent) {
  Ref<TObject> source = MakeRef<TTextObject>(Text("s"));
  SendSystemEvent(513, source, 65, 1, 0, 0, nullptr);
  SendSystemEvent(1025, nullptr, 2, 0, 30, 40, MakeRef<TTextObject>(Text("hi")));
  EXPECT_EQ(QueuedEventCount(), 2);
  ASSERT_TRUE(PeekQueuedEvent());
  EXPECT_EQ(PeekQueuedEvent()->id, 513);
  EXPECT_EQ(TakeQueuedEvent(), 513);
  EXPECT_EQ(CurrentEventData(), 65);
  EXPECT_EQ(CurrentEventMods(), 1);
  EXPECT_TRUE(CurrentEventSource() == source);
  EXPECT_EQ(TakeQueuedEvent(), 1025);
  EXPECT_EQ(CurrentEventX(), 30);
  EXPECT_EQ(CurrentEventY(), 40);
  EXPECT_EQ(CurrentEventText(), Text("hi"));
  EXPECT_EQ(TakeQueuedEvent(), 0);
  EXPECT_EQ(CurrentEventId(), 0);
  EXPECT_FALSE(CurrentEventExtra());
  EXPECT_FALSE(PeekQueuedEvent());
}

TEST_F(EventQueue, CoalescingIdsUpdateTheOldestQueuedEventOfTheSameSource) {
  Ref<TObject> a = MakeRef<TTextObject>(Text("a"));
  Ref<TObject> b = MakeRef<TTextObject>(Text("b"));
  const int32_t coalescing[] = {2049, 8193, 16385, 16386};
  for (int32_t id : coalescing) {
    SendSystemEvent(id, a, 1, 0, 1, 1, nullptr);
    SendSystemEvent(id, b, 2, 0, 2, 2, nullptr);
    SendSystemEvent(id, a, 3, 7, 5, 6, nullptr);
    EXPECT_EQ(QueuedEventCount(), 2) << id;
    EXPECT_EQ(TakeQueuedEvent(), id);
    EXPECT_TRUE(CurrentEventSource() == a);
    EXPECT_EQ(CurrentEventData(), 3);
    EXPECT_EQ(CurrentEventMods(), 7);
    EXPECT_EQ(CurrentEventX(), 5);
    EXPECT_EQ(TakeQueuedEvent(), id);
    EXPECT_EQ(CurrentEventData(), 2);
    EXPECT_EQ(TakeQueuedEvent(), 0);
  }
  // Other ids never coalesce.
  SendSystemEvent(1027, a, 0, 0, 1, 1, nullptr);
  SendSystemEvent(1027, a, 0, 0, 2, 2, nullptr);
  EXPECT_EQ(QueuedEventCount(), 2);
}

TEST_F(EventQueue, AFullQueueDropsNewEvents) {
  for (int i = 0; i < 300; ++i) SendSystemEvent(515, nullptr, i, 0, 0, 0, nullptr);
  EXPECT_EQ(QueuedEventCount(), 256);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(TakeQueuedEvent(), 515);
    ASSERT_EQ(CurrentEventData(), i);
  }
  EXPECT_EQ(TakeQueuedEvent(), 0);
  // Room again after taking: the ring keeps working past its wrap.
  SendSystemEvent(514, nullptr, 9, 0, 0, 0, nullptr);
  EXPECT_EQ(TakeQueuedEvent(), 514);
  EXPECT_EQ(CurrentEventData(), 9);
}

TEST_F(EventQueue, DirectPostsCoalesceOnlyWhenAsked) {
  Ref<TEvent> first = MakeEvent(1027, nullptr, 0, 0, 1, 1, nullptr);
  PostQueuedEvent(first, false);
  PostQueuedEvent(MakeEvent(1027, nullptr, 0, 0, 9, 9, nullptr), true);
  EXPECT_EQ(QueuedEventCount(), 1);
  EXPECT_EQ(first->x, 9);
  PostQueuedEvent(nullptr, false);
  EXPECT_EQ(QueuedEventCount(), 1);
}

}  // namespace
}  // namespace kiln
