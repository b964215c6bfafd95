#include "runtime/system/events.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/system/hooks.h"

namespace kiln {
namespace {

TEST(EventIds, DescriptionsOfRegisteredAndUnknownIds) {
  InitEventModule();
  const std::pair<int32_t, const char*> cases[] = {
      {257, "AppSuspend"},   {259, "AppTerminate"}, {515, "KeyChar"},         {516, "KeyRepeat"},
      {1030, "MouseLeave"},  {2049, "TimerTick"},   {8201, "GadgetShape"},    {16389, "WindowAccept"},
      {131073, "ProcessExit"}, {12345, ""},         {0, ""},                  {25, ""},
  };
  for (const auto& [id, name] : cases) EXPECT_EQ(TEvent::DescriptionForId(id), Text(name)) << id;
}

TEST(EventIds, FirstRegistrationWinsAndIdsDoNotMatchInsideOtherIds) {
  InitEventModule();
  TEvent::RegisterId(515, "Typed");
  EXPECT_EQ(TEvent::DescriptionForId(515), Text("KeyChar"));
  // "}15{" must not be found inside "}515{".
  EXPECT_EQ(TEvent::DescriptionForId(15), Text(""));
  TEvent::RegisterId(777001, "");
  EXPECT_EQ(TEvent::DescriptionForId(777001), Text(""));
}

TEST(EventIds, UserIdsHaveTheTopBitAndTheirNames) {
  InitEventModule();
  int32_t named = NewUserEventId("Custom");
  int32_t unnamed = NewUserEventId(Text());
  EXPECT_LT(named, 0);
  EXPECT_EQ(unnamed, named + 1);
  EXPECT_EQ(TEvent::DescriptionForId(named), Text("Custom"));
  Ref<TEvent> event = TEvent::Create(unnamed, nullptr, 0, 0, 0, 0, nullptr);
  Text expected = Text("UserEvent") + Text::FromInt(static_cast<uint32_t>(unnamed) - 0x80000000u) +
                  ": data=0, mods=0, x=0, y=0, extra=\"\"";
  EXPECT_EQ(event->ToString(), expected);
}

TEST(EventText, ToStringFormats) {
  InitEventModule();
  struct Case {
    Ref<TEvent> event;
    const char* text;
  };
  const Case cases[] = {
      {TEvent::Create(513, nullptr, 65, 0, 0, 0, nullptr), "KeyDown: data=65, mods=0, x=0, y=0, extra=\"\""},
      {TEvent::Create(12345, nullptr, -3, 5, -7, 8, nullptr),
       "Unknown Event, id=12345: data=-3, mods=5, x=-7, y=8, extra=\"\""},
      {TEvent::Create(1025, nullptr, 1, 2, 10, 20, MakeRef<TTextObject>(Text("note"))),
       "MouseDown: data=1, mods=2, x=10, y=20, extra=\"note\""},
      // An extra that is not a text prints as nothing.
      {TEvent::Create(259, nullptr, 0, 0, 0, 0, MakeRef<TEvent>()), "AppTerminate: data=0, mods=0, x=0, y=0, extra=\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.event->ToString(), Text(c.text));
}

std::vector<Ref<TEvent>> seen;
Ref<TObject> SeeEvent(int, const Ref<TObject>& data, const Ref<TObject>&) {
  if (auto event = RefCast<TEvent>(data)) seen.push_back(event);
  return data;
}

TEST(EventEmission, SendSystemEventRunsTheEventHookWithAllFields) {
  InitEventModule();
  Ref<TObject> source = MakeRef<TTextObject>(Text("src"));
  Ref<TObject> extra = MakeRef<TTextObject>(Text("extra"));
  InsertHook(EventHookId(), SeeEvent, nullptr, 1000);
  seen.clear();
  SendSystemEvent(1028, source, -1, 4, 3, 9, extra);
  DeleteHook(EventHookId(), SeeEvent, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0]->id, 1028);
  EXPECT_TRUE(seen[0]->source == source);
  EXPECT_EQ(seen[0]->data, -1);
  EXPECT_EQ(seen[0]->mods, 4);
  EXPECT_EQ(seen[0]->x, 3);
  EXPECT_EQ(seen[0]->y, 9);
  EXPECT_TRUE(seen[0]->extra == extra);
  seen.clear();
}

}  // namespace
}  // namespace kiln
