// The sound commands run from scripts against the running sound thread: creation by name and
// number, file assignment, groups, deletion and queries.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "script/eval.h"
#include "script/script_set.h"
#include "script/task.h"
#include "script/vars.h"
#include "tests/sound/sound_fixture.h"
#include "tests/support/script_fixture.h"
#include "tools/lib/assembler.h"

namespace {

const char* const kMessages =
    "message 100030 \"E100030 %s %s\"\n"
    "message 101140 \"E101140\"\n"
    "message 101292 \"E101292 %s\"\n"
    "message 100010 \"E100010\"\n"
    "message 100230 \"E100230 %s\"\n"
    "message 100242 \"E100242 %s\"\n"
    "message 104010 \"E104010 %s\"\n";

// Scripts that drive sounds; the sound thread is the subclasses' choice.
class SoundScriptTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    ASSERT_TRUE(ResetScriptEngine(folder_.path()));
  }
  void TearDown() override {
    ReleaseScriptEngine();
    SoundTest::TearDown();
  }
  bool Boot(const std::string& listing) {
    if (!AssembleListing(std::string(kMessages) + listing, &set_)) {
      ADD_FAILURE() << set_.error;
      return false;
    }
    return WriteLooseSet(folder_.path(), set_) && BootScripts() == 0;
  }
  void RunPasses(int passes) {
    for (int k = 0; k < passes && !g_QuitFlag; k++) {
      g_ScriptPassCounter++;
      RunScriptTasks();
    }
  }
  int Var(const std::string& name) { return set_.variables.count(name) ? set_.variables[name] : -1; }
  int64_t Int(const std::string& name) { return ReadIntElement(Var(name), 0); }
  std::string Text(const std::string& name) {
    const char* s = ReadStringElement(Var(name), 0);
    return s ? s : "<null>";
  }
  NameNode* Find(const char* path, uint8_t mode) {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    return FindNodeByPath(g_SoundRoot, path, mode);
  }
  // Polls (real time, bounded) until the record reaches `state`.
  static bool WaitState(SoundRecord* r, uint8_t state) {
    for (int i = 0; i < 5000; i++) {
      {
        std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
        if (r->mState == state) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  std::string Shown() { return LastErrorDialogText(); }

  AssembledSet set_;
};

class SoundCommandTest : public SoundScriptTest {
 protected:
  void SetUp() override {
    SoundScriptTest::SetUp();
    HeadlessUseRealClock(true);
    ASSERT_EQ(StartSoundThread(), 0);
  }
  void TearDown() override {
    g_Running = 0;
    EXPECT_TRUE(WaitSoundThreadEnd(20000));
    HeadlessUseRealClock(false);
    SoundScriptTest::TearDown();
  }
};

TEST_F(SoundCommandTest, ANumberedNameLoadsTheFileByTheProjectOrderAndPlaysIt) {
  folder_.Write("title.wav", WaveFile(1, 2, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 2))));
  ASSERT_TRUE(Boot(R"(
global int fmt = 9
global int len = 9
global int both = 9
global int playing = 9
global int missing = 9
global str name = "x"
global str nothing = "x"
file main.txt
*SYSTEM_START
sound name="bgm" number=3 file="title" play=1 loopstart=250 loopend=600
soundquery name="bgm" number=3 format=1 out=fmt
soundquery name="bgm" number=3 length=1 out=len
soundquery name="bgm" number=3 loopend=1 loopstart=1 out=both
soundquery name="bgm" number=3 volume=1 playing=1 out=playing
soundquery name="bgm" number=3 file=1 out=name
soundquery name="bgm" number=4 volume=1 out=missing
soundquery name="bgm" number=4 file=1 out=nothing
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(Shown(), "");
  NameNode* n = Find("S0/bgm.3", NAME_LOOKUP_LEAF);
  ASSERT_NE(n, nullptr);
  SoundRecord* r = static_cast<SoundRecord*>(n->mPayload);
  EXPECT_GE(r->mState, SOUND_STATE_RAMPING);
  EXPECT_EQ(r->mFadeMs, 0);
  EXPECT_EQ(Int("fmt"), SOUND_FORMAT_WAVE);
  EXPECT_EQ(Int("len"), 1000);
  EXPECT_EQ(Int("both"), 600);   // the later of the two wins
  EXPECT_EQ(Int("playing"), 1);  // the first of arguments 3-9 decides
  EXPECT_EQ(Text("name"), "title.wav");
  EXPECT_EQ(Int("missing"), 0);
  EXPECT_EQ(Text("nothing"), "");
}

TEST_F(SoundCommandTest, AGroupVolumeActsOnEverySoundBelowAndDeletingTheGroupRemovesThem) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  ASSERT_TRUE(Boot(R"(
global int gone = 9
file main.txt
*SYSTEM_START
sound name="se/"
sound name="se/" volume=128
sound name="se/a" file="a" play=1
wait frames=1
sounddelete name="se/"
soundquery name="se/" volume=1 out=gone
wait frames=100000
)"));
  RunPasses(1);
  EXPECT_EQ(Shown(), "");
  NameNode* g = Find("S0/se", NAME_LOOKUP_GROUP);
  NameNode* a = Find("S0/se/a", NAME_LOOKUP_LEAF);
  ASSERT_TRUE(g && a);
  SoundRecord* r = static_cast<SoundRecord*>(a->mPayload);
  ASSERT_TRUE(WaitState(r, SOUND_STATE_PLAYING));
  {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    EXPECT_EQ(PlatSoundBufferGetVolume(r->mBuffer), VolumeToHundredthsDb(128));
  }
  RunPasses(2);
  EXPECT_EQ(Find("S0/se", NAME_LOOKUP_GROUP), nullptr);
  EXPECT_EQ(Int("gone"), 0);
  EXPECT_EQ(Shown(), "");
}

TEST_F(SoundCommandTest, MissingFilesAreNoErrorButAGroupWithAFileIs) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  ASSERT_TRUE(Boot(R"(
global int loaded = 9
global int after = 9
file main.txt
*SYSTEM_START
sound name="x" file="a"
soundquery name="x" loaded=1 out=loaded
sound name="x" file="nothing" play=1
soundquery name="x" playing=1 out=after
sound name="g/" file="a"
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(Int("loaded"), 1);
  EXPECT_EQ(Int("after"), 0);
  NameNode* x = Find("S0/x", NAME_LOOKUP_LEAF);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(static_cast<SoundRecord*>(x->mPayload)->mState, SOUND_STATE_IDLE);
  EXPECT_NE(Shown().find("E101292"), std::string::npos) << Shown();
  EXPECT_EQ(g_QuitFlag, 1);
}

// A sound thread that exists but never gets to run a pass: the script's sound commands must
// not wait for it. The script's thread owns the headless clock, so a sleep of its own would
// move the clock on; a watchdog ends the thread's claim to answer after a generous limit, so
// a command that does wait makes the test fail instead of hang.
class StalledSoundThreadTest : public SoundScriptTest {
 protected:
  void SetUp() override {
    SoundScriptTest::SetUp();
    SetThreadState(0);
    watchdog_ = std::thread([this] {
      std::unique_lock<std::mutex> g(watchdogLock_);
      if (!watchdogWake_.wait_for(g, std::chrono::seconds(60), [this] { return watchdogDone_; })) SetThreadState(1);
    });
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> g(watchdogLock_);
      watchdogDone_ = true;
    }
    watchdogWake_.notify_one();
    watchdog_.join();
    SetThreadState(0xFF);
    SoundScriptTest::TearDown();
  }
  static void SetThreadState(uint8_t state) {
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    g_SoundThreadFinished = state;
  }

  std::thread watchdog_;
  std::mutex watchdogLock_;
  std::condition_variable watchdogWake_;
  bool watchdogDone_ = false;
};

TEST_F(StalledSoundThreadTest, APlayReturnsAtOnceAndQueriesAfterItAnswerAsForAStartedSound) {
  std::vector<int16_t> click = Noise16(TEST_RATE, 3);
  click[0] = 20000;
  click[1] = -20000;
  folder_.Write("click.wav", WaveFile(1, 2, TEST_RATE, 16, Pcm16(click)));
  ASSERT_TRUE(Boot(R"(
global int playing = 9
global int volume = 9
global int position = 9
global int left = 9
global int right = 9
global int quiet = 9
global int fading = 9
file main.txt
*SYSTEM_START
sound name="se" file="click" play=1
wait frames=1
soundquery name="se" playing=1 out=playing
soundquery name="se" volume=1 out=volume
soundquery name="se" position=1 out=position
soundquery name="se" left=1 out=left
soundquery name="se" right=1 out=right
sound name="bgm" file="click" volume=64 play=1
soundquery name="bgm" volume=1 out=quiet
sound name="se" play=0 fade=1000
soundquery name="se" playing=1 out=fading
wait frames=100000
)"));
  const uint32_t start = PlatGetTicks();
  RunPasses(1);
  EXPECT_EQ(PlatGetTicks(), start) << "the script slept, waiting for the sound thread";
  NameNode* se = Find("S0/se", NAME_LOOKUP_LEAF);
  ASSERT_NE(se, nullptr);
  SoundRecord* r = static_cast<SoundRecord*>(se->mPayload);
  {
    // The file was loaded by the command itself; the play is still in the ring.
    std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
    EXPECT_EQ(r->mState, SOUND_STATE_LOADED);
    ASSERT_EQ((g_SoundRingWrite - g_SoundRingRead + SOUND_RING_SLOTS) % SOUND_RING_SLOTS, 1);
    EXPECT_EQ(g_SoundRingOpcode[g_SoundRingRead], SOUND_OP_PLAY);
  }
  RunPasses(2);
  EXPECT_EQ(PlatGetTicks(), start) << "the script slept, waiting for the sound thread";
  EXPECT_EQ(Shown(), "");
  EXPECT_EQ(Int("playing"), 1);
  EXPECT_EQ(Int("volume"), 256);
  EXPECT_EQ(Int("position"), 0);
  EXPECT_EQ(Int("left"), 20000);    // the first frame lies under the play cursor
  EXPECT_EQ(Int("right"), 20000);
  EXPECT_EQ(Int("quiet"), 64);      // without a fade the volume is the target at once
  EXPECT_EQ(Int("fading"), 1);      // fading out still plays
  std::lock_guard<std::recursive_mutex> lock(g_CriticalSection);
  EXPECT_EQ(r->mState, SOUND_STATE_FADING_OUT);
  EXPECT_EQ(g_SoundRingRead, g_SoundRingWrite);
}

}  // namespace
