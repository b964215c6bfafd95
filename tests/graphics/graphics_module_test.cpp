// The module functions over a driver that records its calls.
#include "runtime/graphics/graphics.h"

#include <gtest/gtest.h>

#include "runtime/graphics/frame_pacing.h"
#include "runtime/system/events.h"
#include "runtime/system/hooks.h"
#include "runtime/system/input.h"
#include "tests/graphics/fake_clock.h"
#include "tests/graphics/fake_graphics_driver.h"
#include "tests/support/test_display.h"

namespace kiln {
namespace {

using test::FakeClock;
using test::FakeGraphicsDriver;

class GraphicsModule : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureDisplay();
    InitGraphicsModule();
    driver = MakeRef<FakeGraphicsDriver>();
    InstallGraphicsDriver(driver, 2);
    test::ResetFakeClock(0);
    SetWindowPacingClock(test::FakePacingClock());
  }
  void TearDown() override {
    CloseGraphicsWindow();
    SetWindowPacingClock(SystemPacingClock());
    InstallGraphicsDriver(nullptr, 0);
  }
  Ref<FakeGraphicsDriver> driver;
};

TEST(GraphicsMode, ToStringJoinsTheFields) {
  TGraphicsMode mode;
  EXPECT_EQ(mode.ToString(), Text("0,0,0 0Hz"));
  mode.width = 640;
  mode.height = 480;
  mode.depth = 32;
  mode.hertz = 60;
  EXPECT_EQ(mode.ToString(), Text("640,480,32 60Hz"));
}

TEST_F(GraphicsModule, GraphicsSeqAdvancesAndIsNeverZero) {
  int before = GraphicsSeq();
  EXPECT_NE(before, 0);
  InstallGraphicsDriver(driver, 2);
  EXPECT_EQ(GraphicsSeq(), before + 1 == 0 ? 1 : before + 1);
  EXPECT_NE(BumpGraphicsSeq(), 0);
}

TEST_F(GraphicsModule, HasGraphicsModeTreatsZeroAsAnything) {
  driver->modes = {{640, 480, 16, 60}, {640, 480, 32, 75}, {1024, 768, 32, 60}};
  struct Case {
    int w, h, d, hz, expected;
  };
  for (Case c : {Case{0, 0, 0, 0, 1}, Case{640, 480, 0, 0, 1}, Case{640, 480, 32, 60, 0},
                 Case{640, 480, 32, 75, 1}, Case{0, 0, 16, 0, 1}, Case{0, 0, 24, 0, 0},
                 Case{1024, 0, 0, 60, 1}, Case{800, 600, 0, 0, 0}, Case{0, 768, 16, 0, 0}}) {
    EXPECT_EQ(HasGraphicsMode(c.w, c.h, c.d, c.hz), c.expected)
        << c.w << "x" << c.h << "x" << c.d << " " << c.hz;
  }
  int w = 0, h = 0, d = 0, hz = 0;
  ASSERT_TRUE(GraphicsModeAt(2, w, h, d, hz));
  EXPECT_EQ(w * 10000 + h, 1024 * 10000 + 768);
  EXPECT_FALSE(GraphicsModeAt(3, w, h, d, hz));
  EXPECT_FALSE(GraphicsModeAt(-1, w, h, d, hz));
  EXPECT_EQ(GraphicsModeCount(), 3);
}

TEST_F(GraphicsModule, ModeListIsAskedOnceAndRefreshedForANewDriver) {
  driver->modes = {{640, 480, 32, 60}};
  ListGraphicsModes();
  ListGraphicsModes();
  HasGraphicsMode(0, 0, 0, 0);
  EXPECT_EQ(driver->modeQueries, 1);
  // A copy: changing the returned list does not change the module's list.
  std::vector<Ref<TGraphicsMode>> copy = ListGraphicsModes();
  copy.clear();
  EXPECT_EQ(GraphicsModeCount(), 1);

  auto other = MakeRef<FakeGraphicsDriver>();
  other->modes = {{800, 600, 32, 60}, {1024, 768, 32, 60}};
  InstallGraphicsDriver(other, 0);
  EXPECT_EQ(GraphicsModeCount(), 2);
  EXPECT_EQ(other->modeQueries, 1);
}

TEST_F(GraphicsModule, InstallingAnotherDriverReleasesTheCurrentContext) {
  Ref<TGraphics> g = OpenGraphicsContext(320, 200, 0, 0, 0);
  ASSERT_TRUE(g);
  SelectGraphicsContext(g);
  EXPECT_EQ(CurrentGraphicsWidth(), 320);
  driver->selected.clear();
  auto other = MakeRef<FakeGraphicsDriver>();
  InstallGraphicsDriver(other, 4);
  ASSERT_EQ(driver->selected.size(), 1u);
  EXPECT_FALSE(driver->selected[0]);
  EXPECT_FALSE(CurrentGraphicsContext());
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  EXPECT_EQ(InstalledDriverFlags(), 4);
  EXPECT_TRUE(InstalledGraphicsDriver() == other);
}

TEST_F(GraphicsModule, OpenAndAttachAddDefaultFlagsAndCatchFailures) {
  Ref<TGraphics> g = OpenGraphicsContext(100, 50, 0, 0, 8);
  ASSERT_TRUE(g);
  EXPECT_EQ(driver->lastCreateFlags, 8 | 2);
  driver->throwOnCreate = true;
  EXPECT_FALSE(OpenGraphicsContext(100, 50, 0, 0, 0));
  driver->failCreate = true;
  EXPECT_FALSE(AttachGraphicsContext(1234, 0));
  driver->failCreate = false;
  Ref<TGraphics> attached = AttachGraphicsContext(1234, 16);
  ASSERT_TRUE(attached);
  int w, h, d, hz, f;
  attached->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(f, 16 | 2);
}

TEST_F(GraphicsModule, SelectingCopiesSettingsAndAdoptsTheContextsDriver) {
  auto other = MakeRef<FakeGraphicsDriver>();
  Ref<TGraphics> g = other->CreateGraphics(800, 600, 32, 75, 6);
  driver->selected.clear();
  SelectGraphicsContext(g);
  EXPECT_TRUE(InstalledGraphicsDriver() == other);
  ASSERT_EQ(driver->selected.size(), 1u);
  EXPECT_FALSE(driver->selected[0]);
  ASSERT_EQ(other->selected.size(), 1u);
  EXPECT_TRUE(other->selected[0] == g);
  EXPECT_EQ(CurrentGraphicsWidth(), 800);
  EXPECT_EQ(CurrentGraphicsHeight(), 600);
  EXPECT_EQ(CurrentGraphicsDepth(), 32);
  EXPECT_EQ(CurrentGraphicsHertz(), 75);
  EXPECT_EQ(CurrentGraphicsFlags(), 6);
  EXPECT_EQ(InstalledDriverFlags(), 2);  // unchanged by the driver switch

  CloseGraphicsContext(g);
  EXPECT_FALSE(CurrentGraphicsContext());
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  EXPECT_EQ(static_cast<test::FakeGraphics*>(g.Get())->closes, 1);
}

TEST_F(GraphicsModule, FailedWindowOpenLeavesNoWindow) {
  Ref<TGraphics> first = OpenGraphicsWindow(640, 480, 0, 60, 0);
  ASSERT_TRUE(first);
  driver->throwOnCreate = true;
  EXPECT_FALSE(OpenGraphicsWindow(640, 480, 0, 60, 0));
  EXPECT_FALSE(WindowGraphics());
  EXPECT_EQ(static_cast<test::FakeGraphics*>(first.Get())->closes, 1);
}

// The window's lifetime is the input tracking's: keys count while it is open, not after.
TEST_F(GraphicsModule, InputIsTrackedWhileTheWindowIsOpen) {
  auto press = [] {
    SendSystemEvent(kEventKeyDown, nullptr, 65, 0, 0, 0, nullptr);
    SendSystemEvent(kEventKeyUp, nullptr, 65, 0, 0, 0, nullptr);
    return TakeKeyPresses(65);
  };
  ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 60, 0));
  EXPECT_EQ(press(), 1);
  CloseGraphicsWindow();
  EXPECT_EQ(press(), 0);
}

TEST_F(GraphicsModule, SecondWindowClosesTheFirst) {
  Ref<TGraphics> first = OpenGraphicsWindow(640, 480, 0, 60, 0);
  int seq = GraphicsSeq();
  Ref<TGraphics> second = OpenGraphicsWindow(320, 240, 0, 0, 0);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(static_cast<test::FakeGraphics*>(first.Get())->closes, 1);
  EXPECT_TRUE(WindowGraphics() == second);
  EXPECT_TRUE(CurrentGraphicsContext() == second);
  EXPECT_EQ(CurrentGraphicsWidth(), 320);
  EXPECT_GE(GraphicsSeq() - seq, 2);  // once for the close, once for the open
}

// Which Flip each kind of present leads to.
TEST_F(GraphicsModule, PresentChoosesTheSwapIntervalByWindowKind) {
  struct Case {
    int depth, hertz, sync, expectedFlip;
  };
  for (Case c : {Case{0, 60, 0, 0}, Case{0, 60, 1, 1}, Case{0, 60, -1, 0}, Case{0, 0, -1, 0},
                 Case{32, 60, -1, 1}, Case{32, 0, -1, 0}}) {
    SCOPED_TRACE(testing::Message() << c.depth << " " << c.hertz << " " << c.sync);
    ASSERT_TRUE(OpenGraphicsWindow(640, 480, c.depth, c.hertz, 0));
    driver->flips.clear();
    test::ResetFakeClock(0);
    PresentFrame(c.sync);
    ASSERT_EQ(driver->flips.size(), 1u);
    EXPECT_EQ(driver->flips[0], c.expectedFlip);
    // Only the paced window sleeps.
    EXPECT_EQ(FakeClock().sleeps.size(), (c.depth == 0 && c.hertz != 0 && c.sync == -1) ? 1u : 0u);
  }
}

TEST_F(GraphicsModule, PresentOfAnotherContextIsSynchronisedAndUnpaced) {
  ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 60, 0));
  Ref<TGraphics> other = OpenGraphicsContext(100, 100, 0, 0, 0);
  SelectGraphicsContext(other);
  driver->flips.clear();
  PresentFrame(-1);
  EXPECT_EQ(driver->flips, std::vector<int>{1});
  EXPECT_TRUE(FakeClock().sleeps.empty());
}

TEST_F(GraphicsModule, WindowAtSixtyHertzPresentsSixHundredFramesInTenSeconds) {
  test::ResetFakeClock(7);
  ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 60, 0));
  driver->flips.clear();
  for (uint32_t n = 1; n <= 600; ++n) {
    PresentFrame(-1);
    ASSERT_EQ(FakeClock().now, 7u + 16u * n + 40u * n / 60u) << "frame " << n;
  }
  EXPECT_EQ(FakeClock().now, 7u + 10000u);
  EXPECT_EQ(driver->flips, std::vector<int>(600, 0));
}

struct FlipHookLog {
  FakeGraphicsDriver* driver = nullptr;
  std::vector<size_t> flipsSeen;
  bool dataWasEmpty = true;
};

FlipHookLog& HookLog() {
  static FlipHookLog log;
  return log;
}

Ref<TObject> RecordFlipHook(int, const Ref<TObject>& data, const Ref<TObject>&) {
  HookLog().flipsSeen.push_back(HookLog().driver->flips.size());
  if (data) HookLog().dataWasEmpty = false;
  return data;
}

TEST_F(GraphicsModule, FlipHookRunsBeforeEveryPresent) {
  ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 0, 0));
  driver->flips.clear();
  HookLog() = FlipHookLog{driver.Get(), {}, true};
  InsertHook(FlipHookId(), &RecordFlipHook, nullptr, 0);
  PresentFrame(-1);
  PresentFrame(1);
  PresentFrame(0);
  DeleteHook(FlipHookId(), &RecordFlipHook, nullptr);
  EXPECT_EQ(HookLog().flipsSeen, (std::vector<size_t>{0, 1, 2}));
  EXPECT_TRUE(HookLog().dataWasEmpty);
  EXPECT_EQ(driver->flips.size(), 3u);
}

}  // namespace
}  // namespace kiln
