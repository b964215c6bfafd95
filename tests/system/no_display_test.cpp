// Without any X server the system driver still works: pumping does nothing and message boxes go
// to standard error. The checks run in a child copy of this test binary started without DISPLAY.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "runtime/core/runtime.h"
#include "runtime/system/event_queue.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"
#include "tests/support/child_process.h"

namespace kiln {
namespace {

constexpr const char* kChildFlag = "KILN_TEST_NO_DISPLAY_CHILD";

TEST(NoDisplay, PumpingAndMessageBoxesWorkWithoutAServer) {
  if (std::getenv(kChildFlag) != nullptr) {
    SetApplicationTitle("Headless");
    InitEventQueue();
    InitInputState();
    StartInputTracking(nullptr);
    PumpSystemEvents();
    AwaitSystemEvents();
    EXPECT_EQ(TakeQueuedEvent(), 0);
    EXPECT_EQ(NextTypedChar(), 0);
    EXPECT_EQ(NotifyUser("first", 0), 0);
    // Questions nobody can see are answered with cancel, never with yes.
    EXPECT_EQ(AskConfirm("second", 1), 0);
    EXPECT_EQ(AskProceed("third", 0), -1);
    SetPointerPosition(10, 10);
    HidePointer();
    ShowPointer();
    EXPECT_EQ(AskFileName("t", "png", 0, ""), Text());
    return;
  }
  test::ChildResult child =
      test::RunProgram({"/proc/" + std::to_string(getpid()) + "/exe", "--gtest_filter=NoDisplay.*"},
                       {.environment = {{"DISPLAY", std::nullopt}, {kChildFlag, "1"}}});
  const std::string output = child.out + child.err;
  ASSERT_EQ(child.signal, 0) << output;
  EXPECT_EQ(child.exitCode, 0) << output;
  EXPECT_NE(child.err.find("Headless: first\nHeadless: second\nHeadless: third\n"), std::string::npos) << output;
}

}  // namespace
}  // namespace kiln
