// Flash hosting from assembled scripts: the state and queries with and without a player, the
// failure paths, and the child area's placement.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "media/media.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/media/media_fixture.h"

namespace {

class Flash : public MediaScriptTest {
 protected:
  void SetUp() override {
    MediaScriptTest::SetUp();
    folder_.Write("swf/title.swf", "FWS");
  }
  int CallCount(const std::string& text) {
    int n = 0;
    for (const std::string& c : HeadlessCalls())
      if (c.find(text) != std::string::npos) n++;
    return n;
  }
};

const char* const kQueries =
    "\nflashquery playing=1 out=t\nq[0] = t\nflashquery rootvar=1 out=t\nq[1] = t\n"
    "flashquery frame=1 out=t\nq[2] = t\nflashquery user=1 out=t\nq[3] = t\nflashquery total=1 out=t\nq[4] = t\n"
    "flashquery width=1 out=t\nq[5] = t";

TEST_F(Flash, WithoutAPlayerTheMovieCountsAsHostedButAnswersNothing) {
  ASSERT_TRUE(RunScript(std::string("flash file=\"SWF/Title.swf\" play=1 user=5\n"
                                    "flash file=\"swf/title.swf\" play=1") + kQueries));
  EXPECT_EQ(CallCount("ATL.DLLが見つかりませんでした。"), 1);
  EXPECT_EQ(g_FlashPlaying, 1);
  EXPECT_STREQ(g_FlashFileName, "swf\\title.swf");
  const int64_t expected[6] = {0, 0, 0, 0, 0, 640};
  for (int i = 0; i < 6; i++) EXPECT_EQ(Int("q", i), expected[i]) << i;
  EXPECT_EQ(CallCount("FlashCreateControl"), 0);
}

TEST_F(Flash, AHostedMovieAnswersThroughItsControl) {
  HeadlessFlashPlayer player;
  player.present = true;
  player.totalFrames = 120;
  player.playing = true;
  player.currentFrame = 7;
  player.variables["kivoru"] = 42;
  HeadlessSetFlashPlayer(player);
  ASSERT_TRUE(RunScript(std::string("flash file=\"swf/title.swf\" play=1 user=5 width=320") +
                        kQueries));
  const int64_t expected[6] = {1, 42, 7, 5, 120, 320};
  for (int i = 0; i < 6; i++) EXPECT_EQ(Int("q", i), expected[i]) << i;
  EXPECT_EQ(g_FlashActive, 1);
}

TEST_F(Flash, StopReleasesTheControlAndKeepsTheRectangle) {
  HeadlessFlashPlayer player;
  player.present = true;
  player.totalFrames = 9;
  HeadlessSetFlashPlayer(player);
  ASSERT_TRUE(RunScript(std::string("flash file=\"swf/title.swf\" play=1 user=5 width=320\n"
                                    "flashstop") + kQueries));
  const int64_t expected[6] = {0, 0, 0, 0, 0, 320};
  for (int i = 0; i < 6; i++) EXPECT_EQ(Int("q", i), expected[i]) << i;
  EXPECT_EQ(g_FlashActive, 0);
  EXPECT_EQ(g_FlashWindow, 0);
  EXPECT_EQ(CallCount("FlashReleaseControl"), 1);
  EXPECT_EQ(CallCount("FlashCloseWindow"), 1);
}

TEST_F(Flash, MissingRootVariableShowsItsBox) {
  HeadlessFlashPlayer player;
  player.present = true;
  HeadlessSetFlashPlayer(player);
  ASSERT_TRUE(RunScript("flash file=\"swf/title.swf\" play=1\nflashquery rootvar=1 out=r"));
  EXPECT_EQ(Int("r"), 0);
  EXPECT_EQ(CallCount("変数 kivoru が見つかりませんでした。"), 1);
}

TEST_F(Flash, NoChildAreaLeavesTheMovieUnhosted) {
  HeadlessFlashPlayer player;
  player.present = true;
  player.windowFails = true;
  HeadlessSetFlashPlayer(player);
  ASSERT_TRUE(RunScript("flash file=\"swf/title.swf\" play=1\nr = 1"));
  EXPECT_EQ(CallCount("ウィンドウを生成できませんでした。"), 1);
  EXPECT_EQ(g_FlashPlaying, 0);
  EXPECT_EQ(Int("r"), 1);
}

TEST_F(Flash, MissingFileIsFatalAndKeepsTheRectangleChange) {
  ASSERT_TRUE(RunScript("flash file=\"none.swf\" play=1 x=33\nr = 1"));
  EXPECT_NE(std::string(LastErrorDialogText()).find("[none.swf]"), std::string::npos);
  EXPECT_NE(g_QuitFlag, 0);
  EXPECT_EQ(g_FlashRect.x, 33);
  EXPECT_EQ(CallCount("FlashOpenWindow"), 0);
}

TEST_F(Flash, ChildAreaFollowsLetterboxAndOutputScale) {
  g_ClientAreaSize = {1600, 960};
  g_OutputSize = {1280, 960};
  g_LetterboxOffset = {160, 0};
  ASSERT_TRUE(RunScript("flash file=\"swf/title.swf\" play=1\nflash play=0"));
  EXPECT_EQ(CallCount("FlashOpenWindow 0 160,0 1280x960"), 1);
  RepositionFlashWindow(1.0, 1.0);
  g_ClientAreaSize = {1000, 480};
  g_OutputSize = {640, 480};
  RepositionFlashWindow(1.0, 1.0);
  EXPECT_EQ(CallCount(" 160,0 1280x960"), 2);
  EXPECT_EQ(CallCount("FlashMoveWindow 1 180,0 640x480"), 1);
}

}  // namespace
