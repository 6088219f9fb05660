// The first block the output takes after a play: a sound without a fade carries its first
// frame there, one with a fade rises from silence as the ramps move.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "tests/sound/sound_fixture.h"

namespace {

using FirstSampleTest = SoundTest;

// A 30 ms click: exactly 1323 frames at 44100 Hz, so its length is a whole number of ms.
constexpr int CLICK_FRAMES = TEST_RATE * 30 / 1000;
// The largest block a device takes at once.
constexpr int DEVICE_BLOCK = 4096;

struct ClickCase {
  const char* name;
  uint8_t format;
  int channels;
  int bits;
  bool looping;
};

// Noise with a loud first frame, so the first heard frame is plain to see.
std::string ClickData(int channels, int bits) {
  std::vector<int16_t> samples = Noise16(CLICK_FRAMES * channels, 11);
  samples[0] = 20000;
  if (channels == 2) samples[1] = -20000;
  if (bits == 16) return Pcm16(samples);
  std::string data;
  for (int16_t s : samples) data += (char)(uint8_t)((s >> 8) + 128);
  return data;
}

// The output frames of PCM data in the buffer's own format: mono on both sides, 8-bit widened.
std::vector<int16_t> OutputOf(const std::string& data, int channels, int bits) {
  std::vector<int16_t> out;
  size_t align = (size_t)(channels * bits / 8);
  for (size_t at = 0; at + align <= data.size(); at += align) {
    int16_t s[2];
    for (int ch = 0; ch < channels; ch++) {
      const uint8_t* q = reinterpret_cast<const uint8_t*>(data.data()) + at + ch * (bits / 8);
      s[ch] = bits == 8 ? (int16_t)((q[0] - 128) << 8) : (int16_t)(q[0] | (q[1] << 8));
    }
    out.push_back(s[0]);
    out.push_back(channels == 2 ? s[1] : s[0]);
  }
  return out;
}

size_t FirstSoundingFrame(const std::vector<int16_t>& frames) {
  for (size_t i = 0; i < frames.size(); i++)
    if (frames[i] != 0) return i / 2;
  return frames.size() / 2;
}

TEST_F(FirstSampleTest, ASoundWithoutAFadeCarriesItsFirstFrameInTheFirstBlockAfterThePlay) {
  const ClickCase cases[] = {
      {"16-bit mono", SOUND_FORMAT_WAVE, 1, 16, false},  {"16-bit stereo", SOUND_FORMAT_WAVE, 2, 16, false},
      {"8-bit mono", SOUND_FORMAT_WAVE, 1, 8, false},    {"8-bit stereo", SOUND_FORMAT_WAVE, 2, 8, false},
      {"16-bit stereo looping", SOUND_FORMAT_WAVE, 2, 16, true},
      {"8-bit mono looping", SOUND_FORMAT_WAVE, 1, 8, true},
      {"Ogg mono", SOUND_FORMAT_OGG, 1, 16, false},      {"Ogg stereo", SOUND_FORMAT_OGG, 2, 16, false},
      {"Ogg stereo looping", SOUND_FORMAT_OGG, 2, 16, true},
  };
  for (const ClickCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = std::string("click") + std::to_string(&c - cases) + (c.format == SOUND_FORMAT_OGG ? ".ogg" : ".wav");
    std::string wave = WaveFile(1, c.channels, TEST_RATE, c.bits, ClickData(c.channels, c.bits));
    std::vector<int16_t> click;
    if (c.format == SOUND_FORMAT_OGG) {
      if (!HaveOggTools()) continue;
      std::string ogg, pcm;
      ASSERT_TRUE(MakeOgg(folder_, wave, "click" + std::to_string(&c - cases), &ogg, &pcm));
      folder_.Write(file, ogg);
      click = OutputOf(pcm, c.channels, 16);
    } else {
      folder_.Write(file, wave);
      click = OutputOf(ClickData(c.channels, c.bits), c.channels, c.bits);
    }
    ASSERT_EQ(click.size(), (size_t)CLICK_FRAMES * 2);
    // Looping, the click repeats; played once, silence follows it.
    std::vector<int16_t> want = click;
    while (c.looping && want.size() < (size_t)DEVICE_BLOCK * 2) want.insert(want.end(), click.begin(), click.end());
    want.resize((size_t)DEVICE_BLOCK * 2, 0);

    NameNode* n = AddSound(file, c.format);
    Post(n, SOUND_OP_LOAD, 0, file.c_str());
    ASSERT_EQ(Pass(), 0);
    Rec(n)->mLoopsWanted = c.looping ? 0 : 1;
    Post(n, SOUND_OP_SET_LOOP_COUNT, c.looping ? 0 : 1);
    Post(n, SOUND_OP_PLAY, 0);
    // The pass that starts the sound, and then the output's first block before any other.
    ASSERT_EQ(Pass(), 0);
    std::vector<int16_t> heard = Pull(DEVICE_BLOCK);
    EXPECT_EQ(FirstSoundingFrame(heard), FirstSoundingFrame(want));
    size_t firstDiff = 0;
    while (firstDiff < heard.size() && heard[firstDiff] == want[firstDiff]) firstDiff++;
    EXPECT_EQ(firstDiff, heard.size()) << "first difference at frame " << firstDiff / 2;
    EXPECT_EQ(Rec(n)->mVolume, SOUND_VOLUME_FULL);
    Post(n, SOUND_OP_UNLOAD, 0);
    Pass();
  }
}

TEST_F(FirstSampleTest, ASoundWithAFadeStartsSilentAndRisesWithTheRamp) {
  std::vector<int16_t> source = Noise16(TEST_RATE * 2, 5);
  std::vector<int16_t> out = OutputOf(Pcm16(source), 2, 16);
  folder_.Write("bgm.wav", WaveFile(1, 2, TEST_RATE, 16, Pcm16(source)));
  NameNode* n = AddSound("bgm", SOUND_FORMAT_WAVE);
  Post(n, SOUND_OP_LOAD, 0, "bgm.wav");
  ASSERT_EQ(Pass(), 0);
  Post(n, SOUND_OP_PLAY, 100);
  ASSERT_EQ(Pass(), 0);
  const int block = 1024;
  std::vector<int16_t> first = Pull(block);
  EXPECT_EQ(FirstSoundingFrame(first), (size_t)block) << "a fade begins in silence";

  // Halfway through the fade, volume 128 is -12.04 dB: the stream goes on where the cursor
  // stands, at a quarter of its amplitude.
  ASSERT_EQ(Pass(50), 0);
  EXPECT_NEAR(Rec(n)->mVolume, 128, 1);
  std::vector<int16_t> middle = Pull(block);
  int quieter = 0, loud = 0;
  for (size_t i = 0; i < middle.size(); i++) {
    int32_t src = out[(size_t)block * 2 + i];
    if (src > 4000 || src < -4000) {
      loud++;
      if ((middle[i] > 0) == (src > 0) && std::abs(middle[i]) * 10 > std::abs(src) * 2 &&
          std::abs(middle[i]) * 10 < std::abs(src) * 3)
        quieter++;
    }
  }
  EXPECT_GT(loud, 0);
  EXPECT_EQ(quieter, loud) << "every loud sample at about a quarter of its amplitude";

  // At the end of the fade the samples are the file's own.
  ASSERT_EQ(Pass(60), 0);
  EXPECT_EQ(Rec(n)->mState, SOUND_STATE_PLAYING);
  std::vector<int16_t> full = Pull(block);
  EXPECT_EQ(full, std::vector<int16_t>(out.begin() + block * 4, out.begin() + block * 6));
}

}  // namespace
