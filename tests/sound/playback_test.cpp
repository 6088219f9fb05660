// Streaming playback through the ring and the sound thread's passes, heard on the null output:
// unchanged PCM, loops, leading silence, ramps, fades, pause and group volumes.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "tests/sound/sound_fixture.h"

namespace {

using PlaybackTest = SoundTest;

struct FormatCase {
  const char* name;
  int channels;
  int bits;
};

// What the output should carry for the source frames: mono on both sides, 8-bit widened.
std::vector<int16_t> Expected(const FormatCase& c, const std::string& data, size_t frames) {
  std::vector<int16_t> out;
  size_t align = (size_t)(c.channels * c.bits / 8);
  for (size_t i = 0; i < frames; i++) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data()) + (i % (data.size() / align)) * align;
    int16_t s[2];
    for (int ch = 0; ch < c.channels; ch++) {
      const uint8_t* q = p + ch * (c.bits / 8);
      s[ch] = c.bits == 8 ? (int16_t)((q[0] - 128) << 8) : (int16_t)(q[0] | (q[1] << 8));
    }
    out.push_back(s[0]);
    out.push_back(c.channels == 2 ? s[1] : s[0]);
  }
  return out;
}

TEST_F(PlaybackTest, PcmWaveAtFullVolumeComesOutSampleIdenticalAcrossRefillsAndLoops) {
  const FormatCase cases[] = {{"mono16", 1, 16}, {"stereo16", 2, 16}, {"mono8", 1, 8}};
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    int frames = TEST_RATE * 3 / 2;
    std::string data;
    if (c.bits == 16) data = Pcm16(Noise16(frames * c.channels, 7));
    else
      for (int16_t s : Noise16(frames, 9)) data += (char)(uint8_t)s;
    NameNode* n = AddSound(c.name, SOUND_FORMAT_WAVE);
    LoadAndPlay(n, std::string(c.name) + ".wav", WaveFile(1, c.channels, TEST_RATE, c.bits, data));
    // Past the end the endless sound starts again at its beginning.
    std::vector<int16_t> heard = Stream(frames + TEST_RATE / 2);
    std::vector<int16_t> want = Expected(c, data, (size_t)frames + TEST_RATE / 2);
    ASSERT_EQ(heard.size(), want.size());
    size_t firstDiff = 0;
    while (firstDiff < heard.size() && heard[firstDiff] == want[firstDiff]) firstDiff++;
    EXPECT_EQ(firstDiff, heard.size()) << "first difference at frame " << firstDiff / 2;
    Post(n, SOUND_OP_UNLOAD, 0);
    Pass();
  }
}

TEST_F(PlaybackTest, OggComesOutEqualToTheReferenceDecoder) {
  if (!HaveOggTools()) GTEST_SKIP() << "oggenc/oggdec not installed";
  const FormatCase cases[] = {{"mono", 1, 16}, {"stereo", 2, 16}};
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    int frames = TEST_RATE * 2;
    std::string ogg, pcm;
    ASSERT_TRUE(MakeOgg(folder_, WaveFile(1, c.channels, TEST_RATE, 16, Pcm16(Noise16(frames * c.channels, 3))),
                        c.name, &ogg, &pcm));
    NameNode* n = AddSound(c.name, SOUND_FORMAT_OGG);
    LoadAndPlay(n, std::string(c.name) + ".ogg", ogg);
    EXPECT_EQ(Rec(n)->mDataKind, SOUND_DATA_OGG);
    EXPECT_EQ(Rec(n)->mLengthMs, 2000);
    // Everything up to the last whole millisecond, which is where the loop end lies.
    size_t compare = (size_t)TEST_RATE * 1990 / 1000;
    std::vector<int16_t> heard = Stream((int)compare);
    std::vector<int16_t> want = Expected(c, pcm, compare);
    size_t firstDiff = 0;
    while (firstDiff < heard.size() && heard[firstDiff] == want[firstDiff]) firstDiff++;
    EXPECT_EQ(firstDiff, heard.size()) << "first difference at frame " << firstDiff / 2;
    Post(n, SOUND_OP_UNLOAD, 0);
    Pass();
  }
}

// The decoder stays open across refills: jumps back at the loop end, a pause (which lets it go)
// and the resume must still give the reference decoder's samples, refill after refill.
TEST_F(PlaybackTest, OggLoopsAndResumesComeOutEqualToTheReferenceDecoder) {
  if (!HaveOggTools()) GTEST_SKIP() << "oggenc/oggdec not installed";
  std::string ogg, pcm;
  ASSERT_TRUE(MakeOgg(folder_, WaveFile(1, 1, TEST_RATE, 16, Pcm16(Noise16(TEST_RATE, 5))), "loop", &ogg, &pcm));
  std::vector<int16_t> source = LeftOf(Expected({"mono", 1, 16}, pcm, pcm.size() / 2));
  auto span = [&](int fromMs, int toMs) {
    return std::vector<int16_t>(source.begin() + TEST_RATE * fromMs / 1000, source.begin() + TEST_RATE * toMs / 1000);
  };
  NameNode* n = AddSound("loop", SOUND_FORMAT_OGG);
  folder_.Write("loop.ogg", ogg);
  Post(n, SOUND_OP_LOAD, 0, "loop.ogg");
  ASSERT_EQ(Pass(), 0);
  Post(n, SOUND_OP_SET_LOOP_COUNT, 0);
  Post(n, SOUND_OP_SET_LOOP_START, 250);
  Post(n, SOUND_OP_SET_LOOP_END, 750);
  Post(n, SOUND_OP_PLAY, 0);
  ASSERT_EQ(Pass(), 0);
  ASSERT_EQ(Pass(1), 0);
  // 0-750 ms, then the loop 250-750 three times: 2.25 s over four or five refills.
  std::vector<int16_t> want = span(0, 750);
  for (int k = 0; k < 3; k++) {
    std::vector<int16_t> loop = span(250, 750);
    want.insert(want.end(), loop.begin(), loop.end());
  }
  std::vector<int16_t> heard = LeftOf(Stream((int)want.size(), 441));
  size_t firstDiff = 0;
  while (firstDiff < heard.size() && heard[firstDiff] == want[firstDiff]) firstDiff++;
  EXPECT_EQ(firstDiff, heard.size()) << "first difference at frame " << firstDiff;
  // Paused at 2.25 s (500 ms into the loop's third pass... at its end): on from the loop start.
  Post(n, SOUND_OP_PAUSE, 1);
  Pass();
  EXPECT_EQ(Rec(n)->mOggStream, nullptr);
  Post(n, SOUND_OP_PAUSE, 0);
  Pass();
  Pass(1);
  std::vector<int16_t> after = LeftOf(Stream(TEST_RATE * 3 / 4, 441));
  want = span(250, 750);
  std::vector<int16_t> again = span(250, 500);
  want.insert(want.end(), again.begin(), again.end());
  firstDiff = 0;
  while (firstDiff < after.size() && after[firstDiff] == want[firstDiff]) firstDiff++;
  EXPECT_EQ(firstDiff, after.size()) << "first difference after the resume at frame " << firstDiff;
  Post(n, SOUND_OP_UNLOAD, 0);
  Pass();
  EXPECT_EQ(Rec(n)->mOggStream, nullptr);
}

struct LoopCase {
  const char* name;
  int32_t passes;      // passes wanted and the decoder's loop count
  int32_t startMs, loopStartMs, loopEndMs;
  std::vector<std::pair<int, int>> spans;   // expected source ms spans, -1 start = silence
  bool endsIdle;
};

TEST_F(PlaybackTest, LoopPointsStartsAndPassCountsShapeTheStream) {
  const int lengthMs = 1000;
  const LoopCase cases[] = {
      {"two passes then silence and stop", 2, 0, 300, 600, {{0, 600}, {300, 600}, {-1, 400}}, true},
      {"endless from the loop start", 0, 100, 500, 800, {{100, 800}, {500, 800}, {500, 800}, {500, 600}}, false},
      {"loop start past the loop end restarts at 0", 0, 0, 900, 400, {{0, 400}, {0, 400}, {0, 400}}, false},
      {"leading silence before the stream", 1, -500, 0, 1000, {{-1, 500}, {0, 1000}, {-1, 300}}, true},
  };
  std::vector<int16_t> source = Ramp16(TEST_RATE * lengthMs / 1000, 1);
  folder_.Write("ramp.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(source)));
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(c.name);
    NameNode* n = AddSound(c.name, SOUND_FORMAT_WAVE);
    SoundRecord* r = Rec(n);
    Post(n, SOUND_OP_LOAD, 0, "ramp.wav");
    ASSERT_EQ(Pass(), 0);
    r->mLoopsWanted = c.passes;
    Post(n, SOUND_OP_SET_LOOP_COUNT, c.passes);
    Post(n, SOUND_OP_SET_START, c.startMs);
    Post(n, SOUND_OP_SET_LOOP_START, c.loopStartMs);
    Post(n, SOUND_OP_SET_LOOP_END, c.loopEndMs);
    Post(n, SOUND_OP_PLAY, 0);
    ASSERT_EQ(Pass(), 0);
    ASSERT_EQ(Pass(1), 0);
    std::vector<int16_t> want;
    for (auto [from, to] : c.spans) {
      if (from < 0) want.insert(want.end(), (size_t)TEST_RATE * to / 1000, 0);
      else want.insert(want.end(), source.begin() + TEST_RATE * from / 1000, source.begin() + TEST_RATE * to / 1000);
    }
    std::vector<int16_t> heard = LeftOf(Stream((int)want.size(), 441));
    size_t firstDiff = 0;
    while (firstDiff < heard.size() && heard[firstDiff] == want[firstDiff]) firstDiff++;
    EXPECT_EQ(firstDiff, heard.size()) << "first difference at frame " << firstDiff;
    if (c.endsIdle) {
      EXPECT_EQ(r->mState, SOUND_STATE_IDLE);
      EXPECT_EQ(r->mBuffer, nullptr);
      EXPECT_EQ(r->mImage, nullptr);
    } else {
      EXPECT_NE(r->mState, SOUND_STATE_IDLE);
    }
    Post(n, SOUND_OP_UNLOAD, 0);
    Pass();
  }
}

TEST_F(PlaybackTest, SettingsBeyondTheLengthAreKeptInRange) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  SoundRecord* r = Rec(n);
  // Idle sounds store nothing.
  Post(n, SOUND_OP_SET_LOOP_END, 10);
  Pass();
  EXPECT_EQ(r->mLoopEndMs, 0);
  Post(n, SOUND_OP_LOAD, 0, "a.wav");
  Pass();
  ASSERT_EQ(r->mLengthMs, 1000);
  struct Case {
    uint8_t op;
    int32_t value;
    int32_t SoundRecord::*field;
    int32_t stored;
  } cases[] = {
      {SOUND_OP_SET_LOOP_END, 5000, &SoundRecord::mLoopEndMs, 1000},
      {SOUND_OP_SET_LOOP_END, 700, &SoundRecord::mLoopEndMs, 700},
      {SOUND_OP_SET_START, 1000, &SoundRecord::mStartMs, 0},
      {SOUND_OP_SET_START, -300, &SoundRecord::mStartMs, -300},
      {SOUND_OP_SET_LOOP_START, 1200, &SoundRecord::mLoopStartMs, 0},
      {SOUND_OP_SET_LOOP_START, 999, &SoundRecord::mLoopStartMs, 999},
  };
  for (const Case& c : cases) {
    Post(n, c.op, c.value);
    Pass();
    EXPECT_EQ(r->*c.field, c.stored) << (int)c.op << " " << c.value;
  }
}

TEST_F(PlaybackTest, RampsFollowTheClockAndStandStillWhilePaused) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE * 5, 1))));
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  SoundRecord* r = Rec(n);
  Post(n, SOUND_OP_LOAD, 0, "a.wav");
  Post(n, SOUND_OP_PLAY, 1000);
  Pass();
  Pass(500);
  EXPECT_NEAR(r->mVolume, 128, 1);
  EXPECT_EQ(r->mState, SOUND_STATE_RAMPING);
  EXPECT_EQ(PlatSoundBufferGetVolume(r->mBuffer), VolumeToHundredthsDb(r->mVolume));
  int32_t atPause = r->mVolume;
  Post(n, SOUND_OP_PAUSE, 1);
  Pass();
  EXPECT_EQ(r->mBuffer, nullptr);
  Pass(1000);
  Pass(1000);
  EXPECT_EQ(r->mVolume, atPause);
  Post(n, SOUND_OP_PAUSE, 0);
  Pass();
  ASSERT_NE(r->mBuffer, nullptr);
  EXPECT_EQ(r->mVolume, atPause);
  Pass(250);
  EXPECT_NEAR(r->mVolume, 192, 1);
  Pass(260);
  EXPECT_EQ(r->mVolume, 256);
  EXPECT_EQ(r->mState, SOUND_STATE_PLAYING);
}

// Integer slopes that come out 0: a ramp that starts below its target stays at its start
// volume, still ramping, until the next play or fade-out.
TEST_F(PlaybackTest, AZeroSlopeRampStaysBelowItsTarget) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE * 5, 1))));
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  SoundRecord* r = Rec(n);
  Post(n, SOUND_OP_LOAD, 0, "a.wav");
  Post(n, SOUND_OP_SET_VOLUME, 200);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  Pass(1);
  ASSERT_EQ(r->mState, SOUND_STATE_PLAYING);
  // One step up over two seconds: 1 x 1024 / 2000 is 0.
  Post(n, SOUND_OP_SET_TARGET_VOLUME, 201);
  Post(n, SOUND_OP_PLAY, 2000);
  Pass();
  Pass(3000);
  EXPECT_EQ(r->mVolume, 200);
  EXPECT_EQ(r->mState, SOUND_STATE_RAMPING);
  EXPECT_EQ(PlatSoundBufferGetVolume(r->mBuffer), VolumeToHundredthsDb(200));

  // The same target asked for again while fading in to it: the distance is 0.
  Post(n, SOUND_OP_SET_VOLUME, 0);
  Post(n, SOUND_OP_SET_TARGET_VOLUME, 256);
  Post(n, SOUND_OP_PLAY, 1000);
  Pass();
  Pass(500);
  int32_t halfway = r->mVolume;
  EXPECT_GT(halfway, 0);
  EXPECT_LT(halfway, 256);
  Post(n, SOUND_OP_SET_TARGET_VOLUME, 256);
  Post(n, SOUND_OP_PLAY, 1000);
  Pass();
  Pass(2000);
  EXPECT_EQ(r->mVolume, halfway);
  EXPECT_EQ(r->mState, SOUND_STATE_RAMPING);
}

TEST_F(PlaybackTest, PauseAndResumeContinueFromThePausedPosition) {
  std::vector<int16_t> source = Ramp16(TEST_RATE * 3, 1);
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  LoadAndPlay(n, "a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(source)));
  std::vector<int16_t> before = LeftOf(Stream(TEST_RATE / 2 + 441));   // 510 ms
  Post(n, SOUND_OP_PAUSE, 1);
  Pass();
  EXPECT_EQ(Rec(n)->mPlayedBytes, (int64_t)before.size() * 2);
  std::vector<int16_t> silent = LeftOf(Pull(1000));
  EXPECT_EQ(silent, std::vector<int16_t>(1000, 0));
  Post(n, SOUND_OP_PAUSE, 0);
  Pass();
  Pass(1);   // the ramp back to the target
  std::vector<int16_t> after = LeftOf(Stream(TEST_RATE / 2));
  std::vector<int16_t> want(source.begin() + TEST_RATE * 510 / 1000, source.begin() + TEST_RATE * 510 / 1000 + TEST_RATE / 2);
  EXPECT_EQ(after, want);
}

TEST_F(PlaybackTest, FadesEndReleaseAndRestart) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE * 2, 1))));
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  SoundRecord* r = Rec(n);
  Post(n, SOUND_OP_LOAD, 0, "a.wav");
  Post(n, SOUND_OP_SET_VOLUME, 200);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  Pass(1);
  ASSERT_EQ(r->mState, SOUND_STATE_PLAYING);
  ASSERT_EQ(r->mVolume, 200);

  // A fade-out of 0 ms ends at the first pass at least 1 ms later.
  Post(n, SOUND_OP_FADE_OUT, 0);
  Pass();
  EXPECT_EQ(r->mState, SOUND_STATE_FADING_OUT);
  Pass(1);
  EXPECT_EQ(r->mState, SOUND_STATE_IDLE);
  EXPECT_EQ(r->mBuffer, nullptr);
  EXPECT_EQ(r->mImage, nullptr);

  // A play that meets a fade-out is answered "not finished" once, then starts from the
  // beginning and fades in to the volume the sound had.
  Post(n, SOUND_OP_SET_VOLUME, 200);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  Pass(1);
  Post(n, SOUND_OP_FADE_OUT, 1000);
  Pass();
  Pass(500);
  EXPECT_NEAR(r->mVolume, 100, 1);
  int slot = Post(n, SOUND_OP_PLAY, 100);
  Pass();
  EXPECT_EQ(g_SoundRingDone[slot], 0);
  EXPECT_EQ(r->mState, SOUND_STATE_IDLE);
  Pass();
  EXPECT_EQ(g_SoundRingDone[slot], 1);
  EXPECT_EQ(r->mState, SOUND_STATE_RAMPING);
  EXPECT_EQ(r->mPlayedBytes, 0);
  Pass(100);
  EXPECT_EQ(r->mVolume, 200);
  EXPECT_EQ(r->mState, SOUND_STATE_PLAYING);
}

TEST_F(PlaybackTest, GroupVolumeAndEnabledFlagActOnEverySoundBelow) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  NameNode* group = AddGroup("se");
  NameNode* n = CreateTreeNode(g_SoundRoot, "S0/se/a", false, 1);
  ASSERT_TRUE(n && CreateSoundRecord(n));
  Rec(n)->mFormat = SOUND_FORMAT_WAVE;
  Post(n, SOUND_OP_LOAD, 0, "a.wav");
  Post(n, SOUND_OP_SET_VOLUME, 128);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  Pass(1);
  PlatSoundBuffer* b = Rec(n)->mBuffer;
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PlatSoundBufferGetVolume(b), VolumeToHundredthsDb(128));
  Post(group, SOUND_OP_SET_VOLUME, 128);
  Pass();
  EXPECT_EQ(PlatSoundBufferGetVolume(b), VolumeToHundredthsDb(64));
  Rec(group)->mEnabled = 0;
  Post(group, SOUND_OP_SET_VOLUME, 128);
  Pass();
  EXPECT_EQ(PlatSoundBufferGetVolume(b), PLAT_VOLUME_SILENT);
  Rec(group)->mEnabled = 1;
  Post(group, SOUND_OP_SET_VOLUME, 128);
  Pass();
  EXPECT_EQ(PlatSoundBufferGetVolume(b), VolumeToHundredthsDb(64));
  // A disabled sound stays silent when its own volume is set.
  Rec(n)->mEnabled = 0;
  Post(n, SOUND_OP_SET_VOLUME, 256);
  Pass();
  EXPECT_EQ(PlatSoundBufferGetVolume(b), PLAT_VOLUME_SILENT);
}

TEST_F(PlaybackTest, HugeVolumesDownADeepGroupChainPlayAtFullVolume) {
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  std::string path = "S0";
  std::vector<NameNode*> groups;
  for (int i = 0; i < 8; i++) {
    path += "/g";
    NameNode* g = CreateTreeNode(g_SoundRoot, path.c_str(), true, 1);
    ASSERT_TRUE(g && CreateSoundRecord(g));
    groups.push_back(g);
  }
  NameNode* n = CreateTreeNode(g_SoundRoot, (path + "/a").c_str(), false, 1);
  ASSERT_TRUE(n && CreateSoundRecord(n));
  Rec(n)->mFormat = SOUND_FORMAT_WAVE;
  LoadAndPlay(n, "a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE, 1))));
  for (NameNode* g : groups) Post(g, SOUND_OP_SET_VOLUME, 0x7FFFFFFF);
  Post(n, SOUND_OP_SET_VOLUME, 0x7FFFFFFF);
  Pass();
  EXPECT_EQ(PlatSoundBufferGetVolume(Rec(n)->mBuffer), 0);
  Post(n, SOUND_OP_SET_VOLUME, -50);
  Pass();
  EXPECT_EQ(Rec(n)->mVolume, 0);
  EXPECT_EQ(PlatSoundBufferGetVolume(Rec(n)->mBuffer), PLAT_VOLUME_SILENT);
}

TEST_F(PlaybackTest, BackgroundPauseHoldsEverySoundAndResumesIt) {
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  LoadAndPlay(n, "a.wav", WaveFile(1, 1, TEST_RATE, 16, Pcm16(Ramp16(TEST_RATE * 2, 1))));
  Stream(4410);
  g_InactivePause = 1;
  Pass(10);
  EXPECT_EQ(g_SoundsPausedInBackground, 1);
  EXPECT_EQ(Rec(n)->mBuffer, nullptr);
  EXPECT_EQ(Rec(n)->mState, SOUND_STATE_PLAYING);
  g_InactivePause = 0;
  Pass(10);
  EXPECT_EQ(g_SoundsPausedInBackground, 0);
  EXPECT_NE(Rec(n)->mBuffer, nullptr);
  EXPECT_EQ(Rec(n)->mPlayedBytes, 4410 * 2);
}

TEST_F(PlaybackTest, PanAndPitchReachTheBuffer) {
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  LoadAndPlay(n, "a.wav", WaveFile(1, 2, 22050, 16, Pcm16(Ramp16(22050, 2))));
  PlatSoundBuffer* b = Rec(n)->mBuffer;
  Post(n, SOUND_OP_SET_PAN, 128);
  Post(n, SOUND_OP_SET_PITCH, 512);
  Pass();
  EXPECT_EQ(PlatSoundBufferGetPan(b), -1204);
  EXPECT_EQ(PlatSoundBufferGetFrequency(b), 33075u);
}

}  // namespace

namespace {

TEST_F(PlaybackTest, OutputLevelsReadTheFrameUnderThePlayCursor) {
  struct Case {
    const char* name;
    int channels, bits;
    std::string data;
    int pull;
    int32_t left, right;
  } cases[] = {
      {"16-bit stereo", 2, 16, Pcm16({100, -200, -300, 400, -32768, 32767}), 1, 300, 400},
      {"16-bit mono", 1, 16, Pcm16({5, -6, -32768}), 2, -32768, -32768},
      {"8-bit mono", 1, 8, std::string("\x80\x00\xff", 3), 1, 128, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Long enough to be heard: the loop end is counted in whole milliseconds.
    std::string data = c.data + std::string(4410 * c.channels * c.bits / 8, c.bits == 8 ? '\x80' : 0);
    NameNode* n = AddSound(c.name, SOUND_FORMAT_WAVE);
    LoadAndPlay(n, std::string(c.name) + ".wav", WaveFile(1, c.channels, TEST_RATE, c.bits, data));
    Pull(c.pull);
    EXPECT_EQ(GetLeftOutputLevel(Rec(n)), c.left);
    EXPECT_EQ(GetRightOutputLevel(Rec(n)), c.right);
    Post(n, SOUND_OP_UNLOAD, 0);
    Pass();
    EXPECT_EQ(GetLeftOutputLevel(Rec(n)), -1);
  }
}

}  // namespace

namespace {

TEST_F(PlaybackTest, EightBitSilenceBeforeAndAfterTheStreamIsTheMidpoint) {
  std::string data(TEST_RATE / 10, '\x90');   // 100 ms at +16 << 8
  NameNode* n = AddSound("a", SOUND_FORMAT_WAVE);
  folder_.Write("a.wav", WaveFile(1, 1, TEST_RATE, 8, data));
  Post(n, SOUND_OP_LOAD, 0, "a.wav");
  Pass();
  Rec(n)->mLoopsWanted = 1;
  Post(n, SOUND_OP_SET_LOOP_COUNT, 1);
  Post(n, SOUND_OP_SET_START, -50);
  Post(n, SOUND_OP_PLAY, 0);
  Pass();
  Pass(1);
  std::vector<int16_t> heard = LeftOf(Stream(TEST_RATE / 4, 441));
  std::vector<int16_t> want((size_t)TEST_RATE / 20, 0);
  want.insert(want.end(), (size_t)TEST_RATE / 10, 16 << 8);
  want.resize((size_t)TEST_RATE / 4, 0);
  EXPECT_EQ(heard, want);
}

}  // namespace
