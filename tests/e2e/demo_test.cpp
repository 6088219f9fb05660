// The whole road as a player meets it: the demo game built by the build boots from its pack,
// shows its blended title fading in frame by frame, types its messages, plays its music and
// effect, saves and reloads its state and ends; and a focused project's effect reaches the
// sound output sample for sample.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "layers/layer.h"
#include "platform/audio.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "tests/e2e/e2e_fixture.h"
#include "text/text.h"
#include "tools/lib/assembler.h"
#include "tools/lib/wave_writer.h"
#include "tools/lib/title_images.h"

namespace {

// What the player saw, frame by frame, gathered while the demo runs.
struct DemoWatch {
  std::vector<uint8_t> title = ExpectedTitle();
  int titleFrames = 0, titleMismatches = 0;
  std::string firstMismatch;
  std::vector<int> coverOpacities;      // of the frames drawn with the cover shown, in order
  bool coverHiddenFrame = false;        // a title frame after the cover went away
  // The message box (20, 350, 600 x 110): bytes typed so far per frame while it has ink.
  std::vector<std::pair<uint64_t, int>> typed;
  bool boxInked = false;
  // The screen before the glow was wiped, while it was wiped, and once its picture was loaded.
  std::vector<uint8_t> beforeWipe, wiped, restored;
};

std::vector<uint8_t> ScreenColours(const HeadlessWindowState& w) {
  std::vector<uint8_t> out;
  out.reserve((size_t)w.frameWidth * w.frameHeight * 3);
  for (int y = 0; y < w.frameHeight; y++)
    for (int x = 0; x < w.frameWidth; x++) out.insert(out.end(), FramePixel(w, x, y), FramePixel(w, x, y) + 3);
  return out;
}

constexpr int BOX_X = 20, BOX_Y = 350, BOX_W = 600, BOX_H = 110;

void WatchDemoFrame(DemoWatch* watch, const HeadlessWindowState& w) {
  if (w.frameWidth != TITLE_SCREEN_WIDTH || w.frameHeight != TITLE_SCREEN_HEIGHT) return;
  NameNode* box = FindNodeByPath(g_LayerRoot, "W0/msg", NAME_LOOKUP_LEAF);
  if (!box) {
    // The title: every frame is the blend, darkened by the cover's opacity while it is shown
    // (d + ((0 - d) * a) >> 8, a cross-fade towards black).
    LayerRecord* cover = GetLayerRecord(FindNodeByPath(g_LayerRoot, "W0/cover", NAME_LOOKUP_LEAF));
    if (!cover) return;
    int a = cover->mVisible ? cover->mOpacity : 0;
    if (cover->mVisible) watch->coverOpacities.push_back(a);
    else watch->coverHiddenFrame = true;
    watch->titleFrames++;
    // The cover is a canvas grown from the blank image, whose one transparent grey pixel stays
    // at its top-left: that pixel is left out.
    for (int y = 0; y < TITLE_SCREEN_HEIGHT; y++)
      for (int x = y == 0 ? 1 : 0; x < TITLE_SCREEN_WIDTH; x++)
        for (int c = 0; c < 3; c++) {
          int d = watch->title[((size_t)y * TITLE_SCREEN_WIDTH + x) * 3 + c];
          int want = d + (((0 - d) * a) >> 8);
          if (FramePixel(w, x, y)[c] == want) continue;
          if (watch->titleMismatches++ == 0)
            watch->firstMismatch = "opacity " + std::to_string(a) + " at " + std::to_string(x) + "," +
                                   std::to_string(y) + " channel " + std::to_string(c) + ": " +
                                   std::to_string(FramePixel(w, x, y)[c]) + " instead of " + std::to_string(want);
        }
    return;
  }
  bool ink = false;
  for (int y = BOX_Y; y < BOX_Y + BOX_H && !ink; y++)
    for (int x = BOX_X; x < BOX_X + BOX_W && !ink; x++) {
      // The box's top-left pixel is the blank image's grey one until a page clears it.
      const uint8_t* p = FramePixel(w, x, y);
      ink = (x != BOX_X || y != BOX_Y) && (p[0] || p[1] || p[2]);
    }
  watch->boxInked = watch->boxInked || ink;
  if (ink && g_Message->mTextPos > 0) watch->typed.push_back({g_FrameCounter, g_Message->mTextPos});
  // The glow's middle pixel tells whether its picture is there.
  LayerRecord* glow = GetLayerRecord(FindNodeByPath(g_LayerRoot, "W0/title_glow", NAME_LOOKUP_LEAF));
  if (!glow || !glow->mPixels || glow->mWidth != 320) return;
  bool dark = glow->mPixels[(60 * 320 + 160) * 4 + 1] == 0;
  if (dark && watch->wiped.empty()) watch->wiped = ScreenColours(w);
  else if (!dark && watch->wiped.empty()) watch->beforeWipe = ScreenColours(w);
  else if (!dark && watch->restored.empty()) watch->restored = ScreenColours(w);
}

TEST_F(EndToEndTest, TheBuiltDemoShowsItsTitleTypesItsMessagesSavesReloadsAndEnds) {
  std::ifstream pack(std::string(KIVOR_BINARY_DIR) + "/demo/game/data.kpk", std::ios::binary);
  ASSERT_TRUE(pack) << "the demo game is built by the kivor_demo target";
  std::stringstream bytes;
  bytes << pack.rdbuf();
  game_.Write("data.kpk", bytes.str());
  // The closing movie lies loose beside the pack, as the build leaves it.
  std::ifstream movie(std::string(KIVOR_BINARY_DIR) + "/demo/game/movie/closing.mpg", std::ios::binary);
  ASSERT_TRUE(movie) << "the demo's movie is made by the kivor_demo target with the ffmpeg tool";
  std::stringstream movieBytes;
  movieBytes << movie.rdbuf();
  game_.Write("movie/closing.mpg", movieBytes.str());
  std::ifstream input(std::string(KIVOR_SOURCE_DIR) + "/demo/input.txt", std::ios::binary);
  std::stringstream script;
  script << input.rdbuf();
  Input(script.str());
  DemoWatch watch;
  HeadlessSetPresentObserver([&watch](int slot, const HeadlessWindowState& w) {
    if (slot == 0) WatchDemoFrame(&watch, w);
  });
  EXPECT_EQ(Run(), 0);
  HeadlessSetPresentObserver(nullptr);
  // Each step reports itself; the loaded line only shows the saved values when the save
  // really wrote them and the load really brought them back over the cleared ones, and the
  // helper task only resumes when its state text came back.
  EXPECT_EQ(LogLines("demo: "), (std::vector<std::string>{
                                    "demo: start",
                                    "demo: title shown",
                                    "demo: music playing",
                                    "demo: scene 1 score 10",
                                    "demo: scene 2 score 30",
                                    "demo: scene 3 score 60",
                                    "demo: message 1 read",
                                    "demo: message 2 read",
                                    "demo: stepper first step",
                                    "demo: saved",
                                    "demo: loaded score 60 heroine Aoi",
                                    "demo: stepper resumed",
                                    "demo: movie played",
                                    "demo: end",
                                }));
  // The game ends itself with the end command: no message, no dialog.
  EXPECT_STREQ(LastErrorDialogText(), "");

  // The title: every frame the blend and fade formulas give, the cover stepping down by 24 a
  // frame from opaque to gone.
  EXPECT_EQ(watch.titleMismatches, 0) << watch.titleFrames << " title frames; first: " << watch.firstMismatch;
  EXPECT_EQ(watch.coverOpacities, (std::vector<int>{256, 232, 208, 184, 160, 136, 112, 88, 64, 40, 16, 0}));
  EXPECT_TRUE(watch.coverHiddenFrame);

  // The messages: the first page is typed over many frames until the click shows the rest at
  // once, and the skipped second page is whole.
  EXPECT_TRUE(watch.boxInked);
  std::set<int> firstPage;
  size_t k = 0;
  for (; k < watch.typed.size() && (k == 0 || watch.typed[k].second >= watch.typed[k - 1].second); k++)
    firstPage.insert(watch.typed[k].second);
  EXPECT_GE(firstPage.size(), 8u) << "characters appear a few at a time";
  EXPECT_EQ(*firstPage.rbegin(), 66) << "33 double-byte characters";
  int lastStep = k >= 2 ? watch.typed[k - 1].second - watch.typed[k - 2].second : 0;
  EXPECT_GT(lastStep, 10) << "the click showed the rest of the page at once";
  ASSERT_LT(k, watch.typed.size());
  int secondPageEnd = 0;
  uint64_t secondPageFrames = watch.typed.back().first - watch.typed[k].first;
  for (size_t i = k; i < watch.typed.size(); i++) secondPageEnd = std::max(secondPageEnd, watch.typed[i].second);
  EXPECT_EQ(secondPageEnd, 67) << "the whole English line";
  EXPECT_LT(secondPageFrames, 40u) << "held Ctrl skipped the typing (67 bytes at 20 ms need about 80 frames)";

  // The wiped glow shows, and the loaded picture brings the screen back pixel for pixel.
  ASSERT_FALSE(watch.beforeWipe.empty());
  ASSERT_FALSE(watch.wiped.empty());
  ASSERT_FALSE(watch.restored.empty()) << "the glow's picture never came back";
  EXPECT_TRUE(watch.wiped != watch.beforeWipe);
  EXPECT_TRUE(watch.restored == watch.beforeWipe) << "the loaded layer image differs from the saved one";
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
  game_.Write("fx.wav", WaveFile(1, 1, 44100, 16, Pcm16(samples)));
  HeadlessUseRealClock(true);
  // Listen until the whole effect has been heard (the sound thread must keep up with a
  // device's pace as it must on real hardware), then end the game.
  std::vector<int16_t> heard = RunAndListen((samples.size() + 4410) * 2);
  ASSERT_FALSE(heard.empty()) << "the effect never played";
  // From where the effect is first heard whole (after the sound thread has raised it from its
  // quiet start) it must be the effect itself, on both channels. Its last few frames are left
  // out: what follows them depends on how the sound repeats.
  size_t at = 0, start = 0;
  ASSERT_TRUE(FindEffectStart(heard, samples, &at, &start)) << "the effect itself was not heard";
  ASSERT_LT(start, samples.size() / 2) << "most of the effect was not heard";
  size_t end = samples.size() - 64;
  ASSERT_GE(heard.size() / 2, at + end - start);
  for (size_t i = start; i < end; i++) {
    ASSERT_EQ(heard[2 * (at + i - start)], samples[i]) << "left, frame " << i;
    ASSERT_EQ(heard[2 * (at + i - start) + 1], samples[i]) << "right, frame " << i;
  }
}

}  // namespace
