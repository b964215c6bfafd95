#include "runtime/graphics/frame_pacing.h"

#include <gtest/gtest.h>

#include "tests/graphics/fake_clock.h"

namespace kiln {
namespace {

using test::FakeClock;
using test::FakePacingClock;
using test::ResetFakeClock;

struct RateCase {
  int hertz;
  int period;
  int remainder;
};

TEST(FramePacer, PeriodAndRemainderSpreadOneSecond) {
  for (RateCase c : {RateCase{60, 16, 40}, RateCase{50, 20, 0}, RateCase{75, 13, 25},
                     RateCase{144, 6, 136}, RateCase{1, 1000, 0}, RateCase{30, 33, 10}}) {
    SCOPED_TRACE(c.hertz);
    ResetFakeClock(1000);
    FramePacer pacer;
    pacer.Arm(c.hertz, FakePacingClock());
    EXPECT_EQ(pacer.Period(), c.period);
    EXPECT_EQ(pacer.Remainder(), c.remainder);
    // A frame that takes no time sleeps exactly to each deadline; `hertz` frames take 1000 ms.
    for (int i = 0; i < c.hertz; ++i) pacer.WaitForNextFrame();
    EXPECT_EQ(FakeClock().now, 2000u);
  }
}

TEST(FramePacer, SixtyHertzDeadlinesRunSixteenSeventeenSeventeen) {
  ResetFakeClock(5000);
  FramePacer pacer;
  pacer.Arm(60, FakePacingClock());
  std::vector<uint32_t> deadlines;
  for (int i = 0; i < 600; ++i) {
    pacer.WaitForNextFrame();
    deadlines.push_back(FakeClock().now);
    ASSERT_EQ(pacer.NextTime(), FakeClock().now);
  }
  int sixteen = 0;
  int seventeen = 0;
  uint32_t previous = 5000;
  for (size_t i = 0; i < deadlines.size(); ++i) {
    uint32_t step = deadlines[i] - previous;
    uint32_t expected = i % 3 == 0 ? 16u : 17u;
    ASSERT_EQ(step, expected) << "frame " << i;
    (step == 16 ? sixteen : seventeen)++;
    previous = deadlines[i];
    if (i % 60 == 59) {
      EXPECT_EQ(deadlines[i], 5000u + 1000u * static_cast<uint32_t>(i / 60 + 1));
    }
  }
  EXPECT_EQ(sixteen, 200);
  EXPECT_EQ(seventeen, 400);
  EXPECT_EQ(deadlines.back(), 15000u);
}

TEST(FramePacer, WorkTimeIsTakenFromTheSleep) {
  ResetFakeClock(0);
  FramePacer pacer;
  pacer.Arm(60, FakePacingClock());
  FakeClock().now += 10;  // the frame drew for 10 ms
  EXPECT_EQ(pacer.WaitForNextFrame(), 6);
  EXPECT_EQ(FakeClock().now, 16u);
}

TEST(FramePacer, LateFrameRestartsTheScheduleFromNow) {
  ResetFakeClock(0);
  FramePacer pacer;
  pacer.Arm(60, FakePacingClock());
  pacer.WaitForNextFrame();  // deadline 16
  FakeClock().now += 50;     // a long frame: now 66, the next deadline (33) is missed
  size_t sleepsBefore = FakeClock().sleeps.size();
  EXPECT_EQ(pacer.WaitForNextFrame(), 0);
  EXPECT_EQ(FakeClock().sleeps.size(), sleepsBefore);
  EXPECT_EQ(pacer.NextTime(), 66u);
  // The schedule continues from 66; the accumulator reaches 60 here, adding the extra millisecond.
  EXPECT_EQ(pacer.WaitForNextFrame(), 17);
  EXPECT_EQ(FakeClock().now, 83u);
}

TEST(FramePacer, DeadlinesSurviveTheClockWrapping) {
  ResetFakeClock(0xFFFFFFF0u);
  FramePacer pacer;
  pacer.Arm(60, FakePacingClock());
  for (int i = 0; i < 60; ++i) {
    FakeClock().now += 5;
    ASSERT_GT(pacer.WaitForNextFrame(), 0) << "frame " << i;
  }
  EXPECT_EQ(FakeClock().now, 0xFFFFFFF0u + 1000u);
}

TEST(FramePacer, NoRateOrNegativeRateNeverSleeps) {
  for (int hertz : {0, -60}) {
    ResetFakeClock(100);
    FramePacer pacer;
    pacer.Arm(hertz, FakePacingClock());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(pacer.WaitForNextFrame(), 0);
    EXPECT_TRUE(FakeClock().sleeps.empty());
    EXPECT_EQ(FakeClock().now, 100u);
  }
}

}  // namespace
}  // namespace kiln
