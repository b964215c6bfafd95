#include "runtime/system/hooks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/core/exceptions.h"

namespace kiln {
namespace {

std::vector<std::string> calls;

// Appends the hook's context text to the call log and to the data text.
Ref<TObject> RecordingHook(int, const Ref<TObject>& data, const Ref<TObject>& context) {
  std::string name = context ? context->ToString().ToLatin1() : "";
  calls.push_back(name);
  Text so_far = data ? data->ToString() : Text();
  return MakeRef<TTextObject>(so_far + Text(name.c_str()));
}

Ref<TObject> Named(const char* name) { return MakeRef<TTextObject>(Text(name)); }

TEST(Hooks, PriorityOrderWithInsertionOrderForEqualPriorities) {
  struct Case {
    std::vector<std::pair<const char*, int>> inserts;
    std::string order;
  };
  const Case cases[] = {
      {{{"a", 0}, {"b", 5}, {"c", 0}}, "bac"},
      {{{"a", -1}, {"b", -1}, {"c", 10}, {"d", 3}}, "cdab"},
      {{{"a", 2}, {"b", 1}, {"c", 0}}, "abc"},
      {{{"a", 0}, {"b", 1}, {"c", 2}}, "cba"},
  };
  for (const Case& c : cases) {
    int id = NewHookId();
    for (const auto& [name, priority] : c.inserts) InsertHook(id, RecordingHook, Named(name), priority);
    calls.clear();
    Ref<TObject> result = CallHooks(id, Named(""));
    EXPECT_EQ(result->ToString().ToLatin1(), c.order);
    EXPECT_EQ(calls.size(), c.inserts.size());
  }
}

TEST(Hooks, CallHooksOnEmptyListReturnsTheData) {
  int id = NewHookId();
  Ref<TObject> data = Named("x");
  EXPECT_TRUE(CallHooks(id, data) == data);
  EXPECT_FALSE(CallHooks(id, nullptr));
}

TEST(Hooks, DeleteHookRemovesOnlyTheFirstEntryMatchingFunctionAndContext) {
  int id = NewHookId();
  Ref<TObject> a = Named("a");
  Ref<TObject> b = Named("b");
  InsertHook(id, RecordingHook, a, 0);
  InsertHook(id, RecordingHook, b, 0);
  InsertHook(id, RecordingHook, a, 0);
  DeleteHook(id, RecordingHook, a);
  EXPECT_EQ(CallHooks(id, Named(""))->ToString().ToLatin1(), "ba");
  // Same text, different object: no match.
  DeleteHook(id, RecordingHook, Named("b"));
  EXPECT_EQ(CallHooks(id, Named(""))->ToString().ToLatin1(), "ba");
  DeleteHook(id, RecordingHook, b);
  DeleteHook(id, RecordingHook, a);
  DeleteHook(id, RecordingHook, a);
  EXPECT_EQ(CallHooks(id, Named(""))->ToString().ToLatin1(), "");
}

int selfDeletingId = -1;
Ref<TObject> SelfDeletingHook(int hookId, const Ref<TObject>& data, const Ref<TObject>& context) {
  DeleteHook(hookId, SelfDeletingHook, context);
  return RecordingHook(hookId, data, context);
}

TEST(Hooks, HookThatDeletesItselfDuringTheCallLetsTheRestRun) {
  selfDeletingId = NewHookId();
  InsertHook(selfDeletingId, RecordingHook, Named("a"), 5);
  InsertHook(selfDeletingId, SelfDeletingHook, Named("b"), 4);
  InsertHook(selfDeletingId, RecordingHook, Named("c"), 3);
  EXPECT_EQ(CallHooks(selfDeletingId, Named(""))->ToString().ToLatin1(), "abc");
  EXPECT_EQ(CallHooks(selfDeletingId, Named(""))->ToString().ToLatin1(), "ac");
}

TEST(Hooks, UnsetFunctionRaisesNullFunctionException) {
  int id = NewHookId();
  InsertHook(id, nullptr, nullptr, 0);
  EXPECT_THROW(CallHooks(id, nullptr), TNullFunctionException);
}

TEST(Hooks, IdsOutsideTheListsRaiseArrayBounds) {
  EXPECT_THROW(InsertHook(256, RecordingHook, nullptr, 0), TArrayBoundsException);
  EXPECT_THROW(CallHooks(-1, nullptr), TArrayBoundsException);
  EXPECT_THROW(DeleteHook(1000, RecordingHook, nullptr), TArrayBoundsException);
}

TEST(HooksDeathTest, The257thHookIdRaisesTooManyHookIds) {
  // Runs in a child process so the ids it uses up stay available to the other tests.
  EXPECT_EXIT(
      {
        int last = -1;
        try {
          for (;;) last = NewHookId();
        } catch (const Text& text) {
          std::exit(text == Text("Too many hook ids") && last == 255 ? 0 : 1);
        }
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kiln
