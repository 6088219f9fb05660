// The platform mixer behind the sound buffers: pass-through at the output rate, gains of volume
// and pan, clamped sums, resampling, looping and one-shot play, wrapping copies.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "tests/sound/sound_fixture.h"

namespace {

class MixerTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    ASSERT_EQ(PlatAudioOpen(48000), 48000);
    ASSERT_STREQ(PlatAudioOutputName(), "null");
  }
  void TearDown() override {
    PlatAudioKeepHistory(0);
    for (PlatSoundBuffer* b : buffers_) PlatSoundBufferRelease(b);
    PlatAudioClose();
    HeadlessTest::TearDown();
  }
  PlatSoundBuffer* Make(int channels, int bits, uint32_t rate, const std::vector<uint8_t>& bytes) {
    PlatSoundBuffer* b = PlatSoundBufferCreate(channels, bits, rate, (uint32_t)bytes.size());
    EXPECT_NE(b, nullptr);
    if (!b) return nullptr;
    buffers_.push_back(b);
    EXPECT_TRUE(PlatSoundBufferWrite(b, 0, bytes.data(), (uint32_t)bytes.size()));
    return b;
  }
  static std::vector<uint8_t> Bytes16(const std::vector<int16_t>& s) {
    std::vector<uint8_t> out;
    for (int16_t v : s) out.push_back((uint8_t)v), out.push_back((uint8_t)((uint16_t)v >> 8));
    return out;
  }
  static std::vector<int16_t> Mix(int frames) {
    std::vector<int16_t> out((size_t)frames * 2, 12345);
    PlatAudioMix(out.data(), frames);
    return out;
  }
  std::vector<PlatSoundBuffer*> buffers_;
};

TEST_F(MixerTest, BuffersAtTheOutputRatePassThroughUnchanged) {
  struct Case {
    const char* name;
    int channels, bits;
    std::vector<uint8_t> bytes;
    std::vector<int16_t> expected;   // stereo frames
  } cases[] = {
      {"8-bit mono", 1, 8, {0x80, 0x00, 0xFF, 0x81}, {0, 0, -32768, -32768, 32512, 32512, 256, 256}},
      {"16-bit mono", 1, 16, Bytes16({1, -1, 32767, -32768}), {1, 1, -1, -1, 32767, 32767, -32768, -32768}},
      {"16-bit stereo", 2, 16, Bytes16({5, -7, 1000, -1000}), {5, -7, 1000, -1000}},
      {"8-bit stereo", 2, 8, {0x90, 0x70}, {4096, -4096}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PlatSoundBuffer* b = Make(c.channels, c.bits, 48000, c.bytes);
    ASSERT_TRUE(PlatSoundBufferPlay(b, false));
    EXPECT_EQ(Mix((int)c.expected.size() / 2), c.expected);
    EXPECT_FALSE(PlatSoundBufferIsPlaying(b));
  }
}

TEST_F(MixerTest, VolumeAndPanAttenuateTheRightChannels) {
  struct Case {
    int32_t volume, pan;
    int expectedLeft, expectedRight;
  } cases[] = {
      {0, 0, 16000, 16000},           {-10000, 0, 0, 0},           {-2000, 0, 1600, 1600},
      {0, PLAT_PAN_LEFT, 16000, 0},   {0, PLAT_PAN_RIGHT, 0, 16000}, {0, -2000, 16000, 1600},
      {-2000, 2000, 160, 1600},       {-20000, 0, 0, 0},
  };
  PlatSoundBuffer* b = Make(1, 16, 48000, Bytes16(std::vector<int16_t>(64, 16000)));
  for (const Case& c : cases) {
    PlatSoundBufferSetVolume(b, c.volume);
    PlatSoundBufferSetPan(b, c.pan);
    ASSERT_TRUE(PlatSoundBufferPlay(b, true));
    std::vector<int16_t> out = Mix(4);
    EXPECT_NEAR(out[0], c.expectedLeft, 1) << c.volume << " " << c.pan;
    EXPECT_NEAR(out[1], c.expectedRight, 1) << c.volume << " " << c.pan;
  }
}

TEST_F(MixerTest, SumsOfLoudBuffersAreClampedToSixteenBits) {
  for (int16_t v : {30000, -30000}) {
    PlatSoundBuffer* a = Make(1, 16, 48000, Bytes16({v, v}));
    PlatSoundBuffer* b = Make(2, 16, 48000, Bytes16({v, 1, v, 1}));
    PlatSoundBufferPlay(a, true);
    PlatSoundBufferPlay(b, true);
    std::vector<int16_t> out = Mix(2);
    int16_t clamp = v > 0 ? 32767 : -32768;
    EXPECT_EQ(out, (std::vector<int16_t>{clamp, (int16_t)(v + 1), clamp, (int16_t)(v + 1)}));
    PlatSoundBufferStop(a);
    PlatSoundBufferStop(b);
  }
}

TEST_F(MixerTest, OtherRatesAreResampledAndMoveTheCursorAtTheirOwnSpeed) {
  PlatSoundBuffer* b = Make(1, 16, 24000, Bytes16({0, 1000, 2000, 3000, 4000, 5000, 6000, 7000}));
  PlatSoundBufferPlay(b, true);
  EXPECT_EQ(LeftOf(Mix(6)), (std::vector<int16_t>{0, 500, 1000, 1500, 2000, 2500}));
  uint32_t play = 99, write = 99;
  ASSERT_TRUE(PlatSoundBufferGetCursors(b, &play, &write));
  EXPECT_EQ(play, 3u * 2);
  EXPECT_EQ(write, play);
  // Twice the rate skips every other frame.
  PlatSoundBufferSetFrequency(b, 96000);
  EXPECT_EQ(LeftOf(Mix(3)), (std::vector<int16_t>{3000, 5000, 7000}));
  // Clamped to the supported range.
  PlatSoundBufferSetFrequency(b, 1);
  EXPECT_EQ(PlatSoundBufferGetFrequency(b), PLAT_FREQUENCY_MIN);
}

TEST_F(MixerTest, LoopingBuffersWrapAndOneShotsStopAtTheirEnd) {
  PlatSoundBuffer* loop = Make(1, 16, 48000, Bytes16({1, 2, 3}));
  PlatSoundBufferPlay(loop, true);
  EXPECT_EQ(LeftOf(Mix(7)), (std::vector<int16_t>{1, 2, 3, 1, 2, 3, 1}));
  uint32_t play;
  PlatSoundBufferGetCursors(loop, &play, nullptr);
  EXPECT_EQ(play, 2u);
  PlatSoundBufferStop(loop);
  EXPECT_EQ(LeftOf(Mix(2)), (std::vector<int16_t>{0, 0}));
  PlatSoundBufferGetCursors(loop, &play, nullptr);
  EXPECT_EQ(play, 2u);
}

TEST_F(MixerTest, CopiesWrapPastTheEndAndRefuseRangesOutsideTheBuffer) {
  PlatSoundBuffer* b = Make(1, 8, 48000, {1, 2, 3, 4});
  const uint8_t in[3] = {9, 8, 7};
  ASSERT_TRUE(PlatSoundBufferWrite(b, 2, in, 3));
  uint8_t all[4];
  ASSERT_TRUE(PlatSoundBufferRead(b, 0, all, 4));
  EXPECT_EQ(std::vector<uint8_t>(all, all + 4), (std::vector<uint8_t>{7, 2, 9, 8}));
  EXPECT_FALSE(PlatSoundBufferWrite(b, 4, in, 1));
  EXPECT_FALSE(PlatSoundBufferWrite(b, 0, all, 5));
  EXPECT_FALSE(PlatSoundBufferRead(b, 7, all, 1));
  // Formats the mixer cannot play are refused.
  EXPECT_EQ(PlatSoundBufferCreate(3, 16, 48000, 6), nullptr);
  EXPECT_EQ(PlatSoundBufferCreate(1, 24, 48000, 6), nullptr);
  EXPECT_EQ(PlatSoundBufferCreate(2, 16, 48000, 3), nullptr);
  EXPECT_EQ(PlatSoundBufferCreate(1, 16, 48000, 0), nullptr);
}

// An output with a deep queue places a new sound inside the frames it queued: the frames given
// again carry what was there plus the sound from the chosen frame on, and the sound goes on
// from there in the next block.
TEST_F(MixerTest, ASoundStartedBehindADeepQueueIsMixedIntoTheQueuedFrames) {
  constexpr int CLICK = 50;
  std::vector<int16_t> click(CLICK);
  for (int i = 0; i < CLICK; i++) click[i] = (int16_t)(1000 + i);
  struct Case {
    const char* name;
    int mixedBefore;   // frames mixed before the start
    int back;          // frames asked for again
    int placed;        // frames given again
  } cases[] = {
      {"inside the ring", 600, 200, 200},
      {"across the ring's end", 1100, 300, 300},
      {"shorter than the sound", 600, 20, 20},
      {"more than was mixed", 600, 5000, 600},
      {"nothing asked", 600, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The bed plays from before the history began, so nothing holds it back.
    PlatSoundBuffer* bed = Make(1, 16, 48000, Bytes16({100, 100, 100, 100}));
    PlatSoundBuffer* b = Make(1, 16, 48000, Bytes16(click));
    ASSERT_TRUE(PlatSoundBufferPlay(bed, true));
    PlatAudioKeepHistory(1000);
    Mix(c.mixedBefore);
    ASSERT_TRUE(PlatSoundBufferPlay(b, false));
    std::vector<int16_t> again((size_t)std::max(c.back, 1) * 2, 12345);
    ASSERT_EQ(PlatAudioMixLate(again.data(), c.back), c.placed);
    for (int i = 0; i < c.placed; i++) {
      int16_t want = (int16_t)(100 + (i < CLICK ? click[i] : 0));
      ASSERT_EQ(again[2 * i], want) << "frame " << i;
      ASSERT_EQ(again[2 * i + 1], want) << "frame " << i;
    }
    std::vector<int16_t> next = Mix(100);
    for (int i = 0; i < 100; i++) {
      int at = c.placed + i;
      ASSERT_EQ(next[2 * i], (int16_t)(100 + (at < CLICK ? click[at] : 0))) << "next frame " << i;
    }
    PlatSoundBufferStop(bed);
  }
}

TEST_F(MixerTest, AStoppedSoundIsNotPlacedAndAPlayingOneIsNotPlacedAgain) {
  PlatSoundBuffer* bed = Make(1, 16, 48000, Bytes16({100, 100}));
  PlatSoundBuffer* b = Make(1, 16, 48000, Bytes16({7000, 7000, 7000, 7000}));
  ASSERT_TRUE(PlatSoundBufferPlay(bed, true));
  PlatAudioKeepHistory(1000);
  Mix(500);
  ASSERT_TRUE(PlatSoundBufferPlay(b, true));
  PlatSoundBufferStop(b);
  std::vector<int16_t> again(400);
  EXPECT_EQ(PlatAudioMixLate(again.data(), 200), 0);
  EXPECT_EQ(Mix(1)[0], 100);
  // Played while it plays: it goes on where it is rather than being held back once more.
  ASSERT_TRUE(PlatSoundBufferPlay(b, true));
  EXPECT_EQ(PlatAudioMixLate(again.data(), 200), 200);
  EXPECT_EQ(again[0], 7100);
  ASSERT_TRUE(PlatSoundBufferPlay(b, true));
  EXPECT_EQ(PlatAudioMixLate(again.data(), 200), 0);
  EXPECT_EQ(Mix(1)[0], 7100);
}

// An output that never places a held-back sound (its server does not answer) still plays it,
// a quarter second late at worst; without history nothing is held back at all.
TEST_F(MixerTest, ASoundNobodyPlacesStartsAtTheEndOfTheQueueAfterAQuarterSecond) {
  PlatAudioKeepHistory(1000);
  PlatSoundBuffer* b = Make(1, 16, 48000, Bytes16({5000, 5000}));
  ASSERT_TRUE(PlatSoundBufferPlay(b, true));
  std::vector<int16_t> held = Mix(48000 / 4);
  EXPECT_EQ(std::count(held.begin(), held.end(), 0), (long)held.size());
  EXPECT_EQ(Mix(1)[0], 5000);
  PlatSoundBufferStop(b);
  PlatAudioKeepHistory(0);
  ASSERT_TRUE(PlatSoundBufferPlay(b, true));
  EXPECT_EQ(Mix(1)[0], 5000);
}

}  // namespace
