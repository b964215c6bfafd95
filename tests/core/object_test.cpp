#include "runtime/core/object.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace kiln {
namespace {

// Counts its destructions so a test can see an object released exactly once.
class TCounted : public TObject {
 public:
  explicit TCounted(int* deaths) : deaths_(deaths) {}
  ~TCounted() override { ++*deaths_; }
  Ref<TCounted> next;

 private:
  int* deaths_;
};

class TDerived : public TCounted {
 public:
  using TCounted::TCounted;
};

TEST(Ref, LastReferenceReleasesExactlyOnce) {
  int deaths = 0;
  {
    Ref<TCounted> a = MakeRef<TCounted>(&deaths);
    EXPECT_EQ(a->RefCount(), 1);
    Ref<TCounted> b = a;
    Ref<TCounted> c = Ref<TCounted>::Share(a.Get());
    EXPECT_EQ(a->RefCount(), 3);
    b.Reset();
    c = nullptr;
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(deaths, 0);
    Ref<TCounted> moved = std::move(a);
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): a moved-from reference is empty
    EXPECT_EQ(moved->RefCount(), 1);
  }
  EXPECT_EQ(deaths, 1);
}

TEST(Ref, AssignmentCountsTheNewObjectUpBeforeTheOldDown) {
  int deaths = 0;
  Ref<TCounted> a = MakeRef<TCounted>(&deaths);
  Ref<TCounted>& alias = a;
  a = alias;  // self-assignment must not free the object on the way
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(a->RefCount(), 1);
  // An object holding the only reference to its successor, replaced by that successor.
  a->next = MakeRef<TCounted>(&deaths);
  a = a->next;
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(a->RefCount(), 1);
  a = std::move(a);
  EXPECT_EQ(deaths, 1);
  a.Reset();  // NOLINT(bugprone-use-after-move): self-move keeps the object
  EXPECT_EQ(deaths, 2);
}

TEST(Ref, ChainsAndContainersReleaseEverything) {
  int deaths = 0;
  {
    std::vector<Ref<TCounted>> list;
    for (int i = 0; i < 100; ++i) list.push_back(MakeRef<TCounted>(&deaths));
    Ref<TCounted> head;
    for (const auto& item : list) {
      item->next = head;
      head = item;
    }
    list.clear();
    EXPECT_EQ(deaths, 0);
  }
  EXPECT_EQ(deaths, 100);
}

TEST(Ref, CastsAndIdentity) {
  int deaths = 0;
  Ref<TCounted> base = MakeRef<TDerived>(&deaths);
  Ref<TDerived> derived = RefCast<TDerived>(base);
  ASSERT_TRUE(derived);
  EXPECT_TRUE(derived == base);
  EXPECT_EQ(base->RefCount(), 2);
  EXPECT_FALSE(RefCast<TTextObject>(base));
  Ref<TObject> upcast = derived;
  EXPECT_EQ(base->RefCount(), 3);
  Ref<TCounted> empty;
  EXPECT_FALSE(RefCast<TDerived>(empty));
  EXPECT_TRUE(empty == nullptr);
  Ref<TObject> detached(std::move(derived));
  EXPECT_EQ(base->RefCount(), 3);
}

TEST(Object, TextsAndOrder) {
  auto a = MakeRef<TTextObject>(Text("apple"));
  auto b = MakeRef<TTextObject>(Text("banana"));
  EXPECT_EQ(a->ToString(), Text("apple"));
  EXPECT_LT(a->Compare(*b), 0);
  EXPECT_GT(b->Compare(*a), 0);
  EXPECT_EQ(a->Compare(*MakeRef<TTextObject>(Text("apple"))), 0);

  int deaths = 0;
  auto plain = MakeRef<TCounted>(&deaths);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p", static_cast<const void*>(plain.Get()));
  EXPECT_EQ(plain->ToString(), Text(expected));
  EXPECT_EQ(plain->Compare(*plain), 0);
}

}  // namespace
}  // namespace kiln
