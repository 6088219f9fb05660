// Frame pacing on the headless clock: period carry, sleeping when early, resynchronising when
// very late, frame skipping from three periods late, and the inactive pause's timers.
#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/headless/headless.h"
#include "tests/support/engine_fixture.h"

namespace {

class FramePacing : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    g_FrameRate = 60;
    g_FrameSkip = 1;
    g_FramePeriodAccumulator = 0;
    g_LastImageLoadTime = 0;
    g_SecondStartTime = 0;
    g_SecondLoops = 0;
  }
};

TEST_F(FramePacing, SixtyFramesPerSecondCarryTheFraction) {
  const uint32_t expected[] = {16, 17, 16, 17, 17, 16, 17, 17, 16};
  uint32_t before = PlatGetTicks();
  for (uint32_t len : expected) {
    EXPECT_EQ(WaitFrame(), 0);
    EXPECT_EQ(PlatGetTicks() - before, len);
    before = PlatGetTicks();
  }
}

TEST_F(FramePacing, OneHundredEightyFramesTake2999Milliseconds) {
  for (int i = 0; i < 180; i++) EXPECT_EQ(WaitFrame(), 0);
  EXPECT_EQ(PlatGetTicks(), 2999u);
  EXPECT_EQ(g_LastImageLoadTime, 2999u);
}

TEST_F(FramePacing, EarlyFrameSleepsTheRestAndMovesTheReferenceOnePeriod) {
  HeadlessSetTicks(11);   // due 16: 5 ms early
  EXPECT_EQ(WaitFrame(), 0);
  EXPECT_EQ(PlatGetTicks(), 16u);
  EXPECT_EQ(g_LastImageLoadTime, 16u);
}

TEST_F(FramePacing, LatenessDecidesSkipAndResynchronisation) {
  struct Case {
    uint32_t late;
    int skip;
    uint32_t reference;   // after the frame, relative to now
  } cases[] = {
      {0, 0, 0},     {47, 0, 47}, {48, 1, 48}, {249, 1, 249},
      {250, 0, 0},   // resynchronised: the reference becomes the current time
      {300, 0, 0},
  };
  for (const Case& c : cases) {
    g_FramePeriodAccumulator = 0;   // due 16
    g_LastImageLoadTime = 1000;
    HeadlessSetTicks(1000 + 16 + c.late);
    uint32_t now = PlatGetTicks();
    EXPECT_EQ(WaitFrame(), c.skip) << "late " << c.late;
    EXPECT_EQ(g_LastImageLoadTime, now + c.reference) << "late " << c.late;
  }
}

TEST_F(FramePacing, SkippingOffNeverSkips) {
  g_FrameSkip = 0;
  HeadlessSetTicks(16 + 100);
  EXPECT_EQ(WaitFrame(), 0);
}

TEST_F(FramePacing, ClockWrapDoesNotLookLikeAHugeDelay) {
  g_LastImageLoadTime = 0xFFFFFFF0u;
  HeadlessSetTicks(0xFFFFFFF5u);   // 5 ms after the reference, across no wrap yet
  EXPECT_EQ(WaitFrame(), 0);
  EXPECT_EQ(g_LastImageLoadTime, 0xFFFFFFF0u + 16);
  EXPECT_EQ(PlatGetTicks(), 0u);   // slept across the wrap
}

TEST_F(FramePacing, FrameRateOutsideItsRangeIsRefusedAndNeverDividesByZero) {
  EXPECT_FALSE(SetFrameRate(0));
  EXPECT_FALSE(SetFrameRate(-5));
  EXPECT_FALSE(SetFrameRate(1001));
  EXPECT_EQ(g_FrameRate, 60);
  EXPECT_TRUE(SetFrameRate(30));
  EXPECT_EQ(g_FrameRate, 30);
  g_FrameRate = 0;   // as a stray write would leave it
  WaitFrame();
  g_FrameRate = 60;
}

TEST_F(FramePacing, PerSecondCountersPublishAtTheSecondBoundary) {
  g_SecondDrawn = 0;
  // 60 frames last 999 ms; the 61st ends in the next second and publishes the first one's
  // 60 loops and 60 drawn frames.
  for (int i = 0; i < 60; i++) {
    WaitFrame();
    CountDrawnFrame();
  }
  EXPECT_EQ(g_FramesPerSecond[0], 0u);
  WaitFrame();
  EXPECT_EQ(g_FramesPerSecond[0], 60u);
  EXPECT_EQ(g_FramesPerSecond[1], 60u);
}

TEST_F(FramePacing, InactivePauseKeepsRunningTimersStill) {
  g_KeepRunningInactive = 0;
  g_ScriptTimers[0] = 100;
  g_ScriptTimers[1] = 100;
  g_ScriptTimerRunning[0] = 1;
  g_ScriptTimerRunning[1] = 0;
  HeadlessSetTicks(500);
  BeginInactivePause();
  HeadlessSetTicks(800);
  EndInactivePause();
  EXPECT_EQ(g_ScriptTimers[0], 400u);   // moved by the 300 ms paused
  EXPECT_EQ(g_ScriptTimers[1], 100u);   // stopped: untouched
  EXPECT_EQ(g_InactivePause, 0);
  g_KeepRunningInactive = 1;
  g_ScriptTimerRunning[0] = 0;
}

}  // namespace
