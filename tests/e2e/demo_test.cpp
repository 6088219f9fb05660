// The whole road as a player meets it: the demo game built by the build boots from its pack,
// plays its music and effect, saves and reloads its state and ends; and a focused project's
// effect reaches the sound output sample for sample.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "tests/support/engine_fixture.h"
#include "tools/lib/assembler.h"
#include "tools/lib/binary_writer.h"

namespace {

class EndToEndTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    setenv("KIVOR_PLATFORM", "headless", 1);
    cwd_ = PlatCurrentFolder();
  }
  void TearDown() override {
    PlatSetCurrentFolder(cwd_);
    HeadlessTest::TearDown();
  }
  int Run() {
    std::vector<std::string> args{"kivor", "--game", game_.path()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return EngineMain((int)args.size(), argv.data());
  }
  // The lines the game wrote to its debug log that start with `prefix`.
  std::vector<std::string> LogLines(const std::string& prefix) {
    std::ifstream in(game_.path() + "/debuglog.txt", std::ios::binary);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line))
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  TempFolder game_;
  std::string cwd_;
};

// 16-bit mono PCM WAV at `rate` Hz (the engine mixes at 44100 Hz, so such a one passes through).
std::string Wave(uint32_t rate, const std::vector<int16_t>& samples) {
  BinaryWriter w;
  w.Bytes("RIFF");
  w.U32((uint32_t)(36 + samples.size() * 2));
  w.Bytes("WAVEfmt ");
  w.U32(16);
  w.U16(1);
  w.U16(1);
  w.U32(rate);
  w.U32(rate * 2);
  w.U16(2);
  w.U16(16);
  w.Bytes("data");
  w.U32((uint32_t)(samples.size() * 2));
  for (int16_t s : samples) w.U16((uint16_t)s);
  return w.Data();
}

TEST_F(EndToEndTest, TheBuiltDemoPlaysSavesReloadsAndEnds) {
  std::ifstream pack(std::string(KIVOR_BINARY_DIR) + "/demo/game/data.kpk", std::ios::binary);
  ASSERT_TRUE(pack) << "the demo game is built by the kivor_demo target";
  std::stringstream bytes;
  bytes << pack.rdbuf();
  game_.Write("data.kpk", bytes.str());
  EXPECT_EQ(Run(), 0);
  // Each step reports itself; the loaded line only shows the saved values when the save
  // really wrote them and the load really brought them back over the cleared ones.
  EXPECT_EQ(LogLines("demo: "), (std::vector<std::string>{
                                    "demo: start",
                                    "demo: music playing",
                                    "demo: scene 1 score 10",
                                    "demo: scene 2 score 30",
                                    "demo: scene 3 score 60",
                                    "demo: saved",
                                    "demo: loaded score 60 heroine Aoi",
                                    "demo: end",
                                }));
  // The game ends itself with the end command: no message, no dialog.
  EXPECT_STREQ(LastErrorDialogText(), "");
}

TEST_F(EndToEndTest, AnEffectPlayedByTheScriptReachesTheOutputUnchanged) {
  // A sample pattern with no zero in it, so the first sound in the output marks its start.
  std::vector<int16_t> samples(30000);
  for (int i = 0; i < (int)samples.size(); i++) samples[i] = (int16_t)((i % 2 ? -1 : 1) * (1 + (i * 7919) % 32000));
  AssembledSet set;
  ASSERT_TRUE(AssembleListing(R"(
config width=320 height=240 title="Effect" sound=1
global int played = 0
file start.txt
*SYSTEM_START
sound name="fx" file="fx.wav" play=1
played = 1
*IDLE
wait frames=1
jump IDLE
)",
                              &set))
      << set.error;
  ASSERT_TRUE(WritePackedSet(game_.path(), set));
  game_.Write("fx.wav", Wave(44100, samples));
  HeadlessUseRealClock(true);
  std::thread engine([this] { Run(); });
  // Listen until the effect starts (the engine runs on real time on its own thread), then
  // take the whole effect and end the game as a player closing it would.
  std::vector<int16_t> heard;
  for (int tries = 0; tries < 20000 && heard.size() < samples.size() * 2; tries++) {
    std::vector<int16_t> chunk(480 * 2);
    PlatAudioMix(chunk.data(), 480);
    for (int16_t v : chunk)
      if (!heard.empty() || v != 0) heard.push_back(v);
    // Once it plays, take samples at the pace a real device does (480 frames are 10 ms), so
    // the sound thread's refills keep ahead of the listener as they must on real hardware.
    PlatSleep(heard.empty() ? 1 : 10);
  }
  PlatEventRecord quit{};
  quit.type = PLAT_EVENT_QUIT;
  quit.window = -1;
  HeadlessPushEvent(quit);
  engine.join();
  ASSERT_FALSE(heard.empty()) << "the effect never played";
  // The output may have run before the first listen, so the heard sound starts somewhere in
  // the effect (every sample value is distinct); from there it must be the effect itself. Its
  // last few frames are left out: what follows them depends on how the sound repeats.
  size_t start = 0;
  while (start < samples.size() && samples[start] != heard[0]) start++;
  ASSERT_LT(start, samples.size() / 2) << "the first sound heard is not the effect's start: " << heard[0];
  size_t end = samples.size() - 64;
  ASSERT_GE(heard.size(), (end - start) * 2);
  for (size_t i = start; i < end; i++) {
    ASSERT_EQ(heard[2 * (i - start)], samples[i]) << "left, frame " << i;
    ASSERT_EQ(heard[2 * (i - start) + 1], samples[i]) << "right, frame " << i;
  }
}

}  // namespace
