// A sound played once by a script is heard once: after its last sample the output stays
// silent, whether it ends within the first half of its stream buffer, in the second, or after
// the buffer has wrapped.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/e2e/e2e_fixture.h"
#include "tools/lib/assembler.h"
#include "tools/lib/wave_writer.h"

namespace {

class SoundOnceTest : public EndToEndTest, public ::testing::WithParamInterface<int> {};

TEST_P(SoundOnceTest, IsFollowedBySilence) {
  const int frames = GetParam();
  std::vector<int16_t> samples((size_t)frames);
  for (int i = 0; i < frames; i++) samples[i] = (int16_t)((i % 2 ? -1 : 1) * (1 + (i * 7919) % 32000));
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(R"(
config width=320 height=240 title="Once" sound=1
file start.txt
*SYSTEM_START
sound name="fx" file="fx.wav" loops=1 play=1
*IDLE
wait frames=1
jump IDLE
)",
                              &set))
      << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  game_.Write("fx.wav", WaveFile(1, 1, 44100, 16, Pcm16(samples)));
  HeadlessUseRealClock(true);
  // Listen from the first sound until well over a second past the effect's end: longer than
  // the one-second stream buffer.
  const size_t want = (size_t)(frames + 66150) * 2;
  std::vector<int16_t> heard = RunAndListen(want);
  ASSERT_GE(heard.size(), want) << "the effect never played";
  size_t at = 0, from = 0;
  ASSERT_TRUE(FindEffectStart(heard, samples, &at, &from)) << "the effect itself was not heard";
  ASSERT_LT(from, samples.size() / 2) << "most of the effect was not heard";
  // The effect's end is cut to whole milliseconds (at most 44 frames less); after that only
  // silence may follow.
  size_t end = at + (size_t)frames - from;
  size_t same = 0;
  for (size_t i = 0; at + i < end; i++) same += heard[2 * (at + i)] == samples[from + i];
  EXPECT_GE(same + 45, end - at) << "the effect was not heard unchanged";
  size_t loud = 0, first = 0;
  for (size_t i = 2 * end; i < heard.size(); i++)
    if (heard[i] != 0 && loud++ == 0) first = i / 2;
  EXPECT_EQ(loud, 0u) << "sound after the end, at frame " << first << " (the effect ended at " << end << ")";
}

// Within the first half, within the second half, and past the wrap of a one-second buffer.
INSTANTIATE_TEST_SUITE_P(Lengths, SoundOnceTest, ::testing::Values(8000, 30000, 60000));

}  // namespace
