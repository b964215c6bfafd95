#include "runtime/system/input.h"

#include <gtest/gtest.h>

#include <thread>

#include "runtime/core/clock.h"
#include "runtime/system/event_queue.h"
#include "runtime/system/events.h"
#include "runtime/system/system.h"

namespace kiln {
namespace {

void Send(int32_t id, int32_t data, int32_t x = 0, int32_t y = 0, const Ref<TObject>& source = nullptr) {
  SendSystemEvent(id, source, data, 0, x, y, nullptr);
}

class InputState : public testing::Test {
 protected:
  void SetUp() override {
    InitInputState();
    StartInputTracking(nullptr);
    TakeTerminateRequest();
  }
  void TearDown() override {
    StopInputTracking();
    TakeTerminateRequest();
    Send(kEventAppResume, 0);
  }
};

TEST_F(InputState, KeyPressesCountTransitionsNotRepeats) {
  for (int i = 0; i < 3; ++i) {
    Send(kEventKeyDown, 65);
    Send(kEventKeyUp, 65);
  }
  EXPECT_EQ(TakeKeyPresses(65), 3);
  EXPECT_EQ(TakeKeyPresses(65), 0);
  // Held with auto-repeat: one press, a character per repeat.
  Send(kEventKeyDown, 66);
  Send(kEventKeyChar, 'b');
  for (int i = 0; i < 4; ++i) {
    Send(kEventKeyRepeat, 66);
    Send(kEventKeyChar, 'b');
  }
  EXPECT_EQ(IsKeyHeld(66), 1);
  EXPECT_EQ(TakeKeyPresses(66), 1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(NextTypedChar(), 'b');
  EXPECT_EQ(NextTypedChar(), 0);
  Send(kEventKeyUp, 66);
  EXPECT_EQ(IsKeyHeld(66), 0);
  // A second KeyDown without the KeyUp between is no new press.
  Send(kEventKeyDown, 67);
  Send(kEventKeyDown, 67);
  EXPECT_EQ(TakeKeyPresses(67), 1);
  Send(kEventKeyUp, 67);
}

// Later hooks, the event queue among them, see every event the input state has recorded.
TEST_F(InputState, EventsGoOnToTheEventQueue) {
  InitEventQueue();
  while (TakeQueuedEvent() != 0) {
  }
  Send(kEventKeyDown, 68);
  Send(kEventKeyUp, 68);
  EXPECT_EQ(TakeKeyPresses(68), 1);
  EXPECT_EQ(TakeQueuedEvent(), kEventKeyDown);
  EXPECT_EQ(CurrentEventData(), 68);
  EXPECT_EQ(TakeQueuedEvent(), kEventKeyUp);
  EXPECT_EQ(TakeQueuedEvent(), 0);
}

void PressKeyAndButton(TObject*, int code) {
  Send(kEventKeyDown, code);
  Send(kEventKeyUp, code);
  Send(kEventMouseDown, 2);
  Send(kEventMouseUp, 2);
}

// The waits discard what came before them: the press that arrives during the wait is the one
// returned, not the lower one already counted.
TEST_F(InputState, AwaitsReturnOnlyWhatArrivesWhileWaiting) {
  struct Case {
    const char* what;
    int (*await)();
    int expected;
  };
  const Case cases[] = {{"key", AwaitKeyPress, 80}, {"button", AwaitButtonClick, 2}};
  for (const Case& c : cases) {
    Send(kEventKeyDown, 70);
    Send(kEventKeyUp, 70);
    Send(kEventMouseDown, 1);
    Send(kEventMouseUp, 1);
    std::thread poster([] {
      SleepMillis(50);
      PostMainThreadCall(PressKeyAndButton, nullptr, 80);
    });
    EXPECT_EQ(c.await(), c.expected) << c.what;
    poster.join();
    ResetKeyState();
    ResetMouseState();
  }
}

TEST_F(InputState, ThreeHundredCharactersGiveTheFirst256) {
  for (int i = 1; i <= 300; ++i) Send(kEventKeyChar, i);
  for (int i = 1; i <= 256; ++i) ASSERT_EQ(NextTypedChar(), i);
  EXPECT_EQ(NextTypedChar(), 0);
  Send(kEventKeyChar, 'z');
  EXPECT_EQ(NextTypedChar(), 'z');
}

TEST_F(InputState, ButtonsWheelAndPointer) {
  Send(kEventMouseDown, 1, 5, 5);
  Send(kEventMouseDown, 1, 5, 5);
  Send(kEventMouseUp, 1);
  Send(kEventMouseDown, 3);
  EXPECT_EQ(IsButtonHeld(1), 0);
  EXPECT_EQ(IsButtonHeld(3), 1);
  EXPECT_EQ(TakeButtonClicks(1), 1);
  EXPECT_EQ(TakeButtonClicks(1), 0);
  EXPECT_EQ(TakeButtonClicks(2), 0);
  EXPECT_EQ(TakeButtonClicks(3), 1);
  Send(kEventMouseMove, 0, 40, 50);
  EXPECT_EQ(PointerX(), 40);
  EXPECT_EQ(PointerY(), 50);
  PointerXMotion();
  PointerYMotion();
  Send(kEventMouseMove, 0, 43, 45);
  EXPECT_EQ(PointerXMotion(), 3);
  EXPECT_EQ(PointerYMotion(), -5);
  EXPECT_EQ(PointerXMotion(), 0);
  WheelMotion();
  Send(kEventMouseWheel, 1);
  Send(kEventMouseWheel, 1);
  Send(kEventMouseWheel, -3);
  EXPECT_EQ(WheelTotal(), -1);
  EXPECT_EQ(WheelMotion(), -1);
  EXPECT_EQ(WheelMotion(), 0);
  // The mouse reset clears buttons and the wheel but keeps the pointer.
  ResetMouseState();
  EXPECT_EQ(IsButtonHeld(3), 0);
  EXPECT_EQ(WheelTotal(), 0);
  EXPECT_EQ(PointerX(), 43);
}

TEST_F(InputState, CodesOutsideTheArraysAreIgnored) {
  const int32_t keys[] = {-1, 256, 100000, INT32_MIN};
  for (int32_t key : keys) {
    Send(kEventKeyDown, key);
    Send(kEventKeyUp, key);
    EXPECT_EQ(TakeKeyPresses(key), 0);
    EXPECT_EQ(IsKeyHeld(key), 0);
  }
  const int32_t buttons[] = {-1, 4, 1000};
  for (int32_t button : buttons) {
    Send(kEventMouseDown, button);
    Send(kEventMouseUp, button);
    EXPECT_EQ(TakeButtonClicks(button), 0);
    EXPECT_EQ(IsButtonHeld(button), 0);
  }
}

TEST_F(InputState, SuspendAndResumeClearKeysCharactersAndButtons) {
  for (int32_t id : {kEventAppSuspend, kEventAppResume}) {
    Send(kEventKeyDown, 70);
    Send(kEventKeyChar, 'f');
    Send(kEventMouseDown, 2);
    Send(kEventMouseWheel, 2);
    Send(id, 0);
    EXPECT_EQ(IsSuspended(), id == kEventAppSuspend ? 1 : 0);
    EXPECT_EQ(IsKeyHeld(70), 0);
    EXPECT_EQ(TakeKeyPresses(70), 0);
    EXPECT_EQ(NextTypedChar(), 0);
    EXPECT_EQ(TakeButtonClicks(2), 0);
    EXPECT_EQ(WheelTotal(), 0);
  }
}

TEST_F(InputState, TerminateIsClearedOnlyByTakingIt) {
  Send(kEventAppTerminate, 0);
  ResetKeyState();
  ResetMouseState();
  Send(kEventAppSuspend, 0);
  StopInputTracking();
  StartInputTracking(nullptr);
  EXPECT_EQ(TakeTerminateRequest(), 1);
  EXPECT_EQ(TakeTerminateRequest(), 0);
}

TEST_F(InputState, StopEndsRecordingAndClearsState) {
  Send(kEventKeyDown, 80);
  StopInputTracking();
  EXPECT_EQ(TakeKeyPresses(80), 0);
  Send(kEventKeyChar, 'p');
  Send(kEventAppTerminate, 0);
  EXPECT_EQ(NextTypedChar(), 0);
  EXPECT_EQ(TakeTerminateRequest(), 0);
  StopInputTracking();
}

TEST_F(InputState, SourceFilterKeepsTheFirstStart) {
  StopInputTracking();
  Ref<TObject> mine = MakeRef<TTextObject>(Text("mine"));
  Ref<TObject> other = MakeRef<TTextObject>(Text("other"));
  StartInputTracking(mine);
  StartInputTracking(other);
  Send(kEventKeyChar, 'o', 0, 0, other);
  Send(kEventKeyChar, 'n', 0, 0, nullptr);
  Send(kEventKeyChar, 'm', 0, 0, mine);
  EXPECT_EQ(NextTypedChar(), 'm');
  EXPECT_EQ(NextTypedChar(), 0);
}

TEST_F(InputState, ResetKeyStateEmptiesTheCharacterQueue) {
  Send(kEventKeyChar, 'q');
  Send(kEventKeyDown, 81);
  ResetKeyState();
  EXPECT_EQ(NextTypedChar(), 0);
  EXPECT_EQ(IsKeyHeld(81), 0);
  // A character code 0 is queued but reads as no character.
  Send(kEventKeyChar, 0);
  Send(kEventKeyChar, 'r');
  EXPECT_EQ(NextTypedChar(), 0);
  EXPECT_EQ(NextTypedChar(), 'r');
}

}  // namespace
}  // namespace kiln
