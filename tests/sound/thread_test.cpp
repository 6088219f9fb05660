// The sound thread and its ring: the end with the main loop, the one error box, waits that
// give up, and a full ring that makes the poster wait instead of losing entries.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "platform/headless/headless.h"
#include "tests/sound/sound_fixture.h"

namespace {

class SoundThreadTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    HeadlessUseRealClock(true);
  }
  void TearDown() override {
    StopThread();
    HeadlessUseRealClock(false);
    SoundTest::TearDown();
  }
  void StopThread() {
    if (SoundThreadState() != 0) return;
    g_Running = 0;
    ASSERT_TRUE(WaitFinished());
  }
  static bool WaitFinished() { return WaitSoundThreadEnd(20000); }
};

TEST_F(SoundThreadTest, TheThreadEndsWithTheMainLoopAndReleasesEverySound) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  ASSERT_EQ(StartSoundThread(), 0);
  EXPECT_EQ(SoundThreadState(), 0);
  ASSERT_TRUE(WaitSoundCommand(Post(n, SOUND_OP_LOAD, 0, "a.wav")));
  ASSERT_TRUE(WaitSoundCommand(Post(n, SOUND_OP_PLAY, 0)));
  EXPECT_NE(Rec(n)->mBuffer, nullptr);
  g_Running = 0;
  ASSERT_TRUE(WaitFinished());
  EXPECT_EQ(g_QuitFlag, 0);
  EXPECT_EQ(Rec(n)->mBuffer, nullptr);
  EXPECT_EQ(Rec(n)->mImage, nullptr);
}

TEST_F(SoundThreadTest, AnErrorShowsOneBoxSetsTheQuitFlagAndEndsTheThread) {
  NameNode* a = AddSound("a", SOUND_FORMAT_WAVE);
  NameNode* b = AddSound("b", SOUND_FORMAT_WAVE);
  Post(a, SOUND_OP_LOAD, 0, "missing.wav");
  Post(b, SOUND_OP_LOAD, 0, "missing.wav");
  HeadlessClearCalls();
  ASSERT_EQ(StartSoundThread(), 0);
  ASSERT_TRUE(WaitFinished());
  EXPECT_EQ(g_QuitFlag, 1);
  int boxes = 0;
  for (const std::string& call : HeadlessCalls())
    if (call.rfind("ChoiceBox DEBUG Message|", 0) == 0) {
      boxes++;
      EXPECT_NE(call.find("エラー番号：1020\n\nファイルが開けませんでした。"), std::string::npos) << call;
    }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(g_SoundRingRead, 0);   // the failing entry stays unread
}

TEST_F(SoundThreadTest, WaitsGiveUpWhenNoThreadCanAnswer) {
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  struct Case {
    const char* name;
    uint8_t finished, quit, running;
  } cases[] = {{"thread never started", 0xFF, 0, 1}, {"thread ended", 1, 0, 1}, {"quitting", 0, 1, 1}, {"loop ended", 0, 0, 0}};
  for (const Case& c : cases) {
    g_SoundThreadFinished = c.finished;
    g_QuitFlag = c.quit;
    g_Running = c.running;
    int slot = Post(n, SOUND_OP_NOP, 0);
    ASSERT_GE(slot, 0);
    EXPECT_FALSE(WaitSoundCommand(slot)) << c.name;
    Rec(n)->mState = SOUND_STATE_LOADED;
    EXPECT_FALSE(WaitSoundIdle(Rec(n))) << c.name;
    Rec(n)->mState = SOUND_STATE_IDLE;
  }
  g_SoundThreadFinished = 0xFF;
  g_QuitFlag = 0;
  g_Running = 1;
}

TEST_F(SoundThreadTest, AFullRingMakesThePosterWaitAndLosesNoEntry) {
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  // Fill the ring before the thread runs, then keep posting while it drains.
  for (int i = 0; i < SOUND_RING_SLOTS - 1; i++) ASSERT_GE(Post(n, SOUND_OP_SET_TARGET_VOLUME, i), 0);
  ASSERT_EQ(StartSoundThread(), 0);
  int last = -1;
  for (int i = 0; i < 2000; i++) ASSERT_GE(last = Post(n, SOUND_OP_SET_TARGET_VOLUME, SOUND_RING_SLOTS + i), 0);
  ASSERT_TRUE(WaitSoundCommand(last));
  EXPECT_EQ(Rec(n)->mTargetVolume, SOUND_RING_SLOTS + 1999);
  EXPECT_EQ(Rec(n)->mPrevTarget, SOUND_RING_SLOTS + 1998);
  EXPECT_EQ(g_SoundRingRead, g_SoundRingWrite);
}

}  // namespace
