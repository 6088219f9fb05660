// The conversions of the record scales to the output's: volume and pan in 1/100 dB, pitch as
// a playback frequency.
#include <gtest/gtest.h>

#include "sound/sound.h"

namespace {

TEST(SoundScales, VolumeBecomesHundredthsOfADecibel) {
  const struct {
    int32_t volume, expected;
  } cases[] = {{256, 0}, {128, -1204}, {1, -9632}, {0, -10000}, {-5, -10000}, {300, 0}, {64, -2408}};
  for (auto c : cases) EXPECT_EQ(VolumeToHundredthsDb(c.volume), c.expected) << c.volume;
}

TEST(SoundScales, PanRunsFromFullLeftToFullRight) {
  const struct {
    int32_t pan, expected;
  } cases[] = {{0, -10000}, {128, -1204}, {256, 0}, {384, 1204}, {512, 10000}, {600, 0}, {-1, 0}};
  for (auto c : cases) EXPECT_EQ(PanToHundredthsDb(c.pan), c.expected) << c.pan;
}

TEST(SoundScales, PitchScalesTheFileRateByHalfEitherWay) {
  const struct {
    int32_t pitch;
    uint32_t rate, expected;
  } cases[] = {{0, 44100, 22050}, {512, 44100, 66150}, {700, 44100, 44100}, {256, 22050, 22050}, {128, 11025, 8269}};
  for (auto c : cases) EXPECT_EQ(PitchToFrequency(c.pitch, c.rate), c.expected) << c.pitch << " " << c.rate;
}

}  // namespace
