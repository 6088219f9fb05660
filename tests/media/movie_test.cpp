// Movie playback from assembled scripts on the headless fake player: placement, volume, the
// missing-file and failure paths, the end notification of both back ends and the kind query.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "media/media.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "script/vars.h"
#include "tests/media/media_fixture.h"
#include "tools/lib/movie_writer.h"

namespace {

class Movie : public MediaScriptTest {
 protected:
  void SetUp() override {
    MediaScriptTest::SetUp();
    // These files only look like movies: the fake player stands in for the decoder.
    HeadlessUseFakeMovies(true);
    folder_.Write("movie/op.mpg", std::string("\x00\x00\x01\xBA\x44", 5) + std::string(64, 'm'));
    folder_.Write("old.mpg", std::string("\x00\x00\x01\xBA\x21", 5) + std::string(64, 'm'));
    folder_.Write("clip.avi", "RIFF....AVI LIST");
    folder_.Write("short.mpg", std::string("\x00\x00\x01", 3));
  }
  void TearDown() override {
    g_MovieBackend = 0;
    g_FitMode = 0;
    MediaScriptTest::TearDown();
  }
  std::vector<std::string> CallsOf(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& c : HeadlessCalls())
      if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
  }
  // Hands out the platform's pending events as the main loop does.
  void Pump() {
    PlatEventRecord e;
    while (g_Platform->PollEvent(&e)) HandlePlatformEvent(e);
  }
};

TEST_F(Movie, VolumesFollowEachBackEndsScale) {
  struct Case {
    int32_t volume, graph, commands;
  };
  const Case cases[] = {{0, -10000, 0}, {128, -1204, 500}, {256, 0, 1000}, {1, -9632, 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(DShowMovieVolume(c.volume), c.graph) << c.volume;
    EXPECT_EQ(MciMovieVolume(c.volume), c.commands) << c.volume;
  }
}

struct PlaceCase {
  uint8_t backend, fitMode;
  Size2 client, output, letterbox;
  const char* args;
  const char* rect;   // as the fake player records it
};

const PlaceCase kPlaces[] = {
    // No rectangle: the whole game area.
    {1, 0, {640, 480}, {640, 480}, {0, 0}, "", "0,0 640x480"},
    {1, 0, {640, 480}, {640, 480}, {0, 0}, " x=10 y=20 width=100 height=50", "10,20 100x50"},
    // Maximised with letterbox bars: moved by the offsets, scaled to the output size.
    {1, 0, {1600, 960}, {1280, 960}, {160, 0}, " x=10 width=320", "170,0 640x960"},
    {0, 0, {1600, 960}, {1280, 960}, {160, 0}, "", "160,0 1280x960"},
    // The command-string player in fit mode 2 fits the game's shape into the client area.
    {0, 2, {1000, 600}, {1000, 600}, {0, 0}, "", "100,0 800x600"},
};

TEST_F(Movie, MovieIsPlacedOverTheGamePicture) {
  for (const PlaceCase& c : kPlaces) {
    SCOPED_TRACE(c.args);
    TearDown();
    SetUp();
    g_MovieBackend = c.backend;
    g_FitMode = c.fitMode;
    g_ClientAreaSize = c.client;
    g_OutputSize = c.output;
    g_LetterboxOffset = c.letterbox;
    ASSERT_TRUE(RunScript(std::string("movie file=\"MOVIE/OP.mpg\" play=1") + c.args + "\nmoviequery playing=1 out=r"));
    std::vector<std::string> opens = CallsOf("MovieOpen");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_NE(opens[0].find(std::string(" ") + c.rect + " "), std::string::npos) << opens[0];
    EXPECT_EQ(Int("r"), 1);
    EXPECT_STREQ(g_MovieFileName, "movie\\op.mpg");
  }
}

TEST_F(Movie, MissingFileIsAFatalMessage) {
  ASSERT_TRUE(RunScript("movie file=\"nothere.mpg\" play=1 x=5\nr = 1"));
  EXPECT_NE(std::string(LastErrorDialogText()).find("[nothere.mpg]"), std::string::npos);
  EXPECT_NE(g_QuitFlag, 0);
  EXPECT_NE(g_QuitFlag, 0);
  EXPECT_EQ(g_MovieRect.x, 5);
  EXPECT_TRUE(CallsOf("MovieOpen").empty());
}

TEST_F(Movie, GraphPlayerFailureIsReportedAndNotFatal) {
  g_MovieBackend = 1;
  HeadlessRefuseMovies(true);
  ASSERT_TRUE(RunScript("movie file=\"old.mpg\" play=1\nr = 1"));
  EXPECT_EQ(ShownMessage(), 101520);
  EXPECT_EQ(g_QuitFlag, 0);
  EXPECT_EQ(g_MoviePlaying, 0);
  EXPECT_EQ(MovieCoversWindow(), 0);
}

TEST_F(Movie, APictureLargerThanTheGameCanShowIsTheMoviesMessage) {
  struct Case {
    int width, height;
  };
  const Case cases[] = {{8193, 16}, {4096, 2305}, {16000, 16000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    TearDown();
    SetUp();
    HeadlessUseFakeMovies(false);
    folder_.Write("big.avi", RawAviMovie(c.width, c.height, 1, 25, 0));
    g_MovieBackend = 1;
    ASSERT_TRUE(RunScript("movie file=\"big.avi\" play=1\nr = 1"));
    EXPECT_EQ(ShownMessage(), 101520);
    EXPECT_EQ(g_QuitFlag, 0);
    EXPECT_EQ(MovieCoversWindow(), 0);
  }
}

TEST_F(Movie, GraphPlayersEndUncoversTheWindow) {
  g_MovieBackend = 1;
  HeadlessSetMovieLength(500);
  ASSERT_TRUE(RunScript("movie file=\"old.mpg\" play=1"));
  EXPECT_EQ(MovieCoversWindow(), 1);
  Pump();
  EXPECT_EQ(g_MoviePlaying, 1);
  HeadlessAdvanceTicks(500);
  Pump();
  EXPECT_EQ(g_MoviePlaying, 0);
  EXPECT_EQ(MovieCoversWindow(), 0);
  EXPECT_EQ(CallsOf("MovieClose").size(), 1u);
}

TEST_F(Movie, CommandStringPlayerStaysOverTheWindowUntilStopped) {
  g_MovieBackend = 0;
  HeadlessSetMovieLength(100);
  ASSERT_TRUE(RunScript("movie file=\"old.mpg\" play=1 volume=128\n*wait\nif r == 1\nmoviestop\nr = 2\nendif\n"
                        "wait frames=1\njump wait"));
  EXPECT_NE(CallsOf("MovieSetVolume -602").size(), 0u);
  HeadlessAdvanceTicks(100);
  Pump();
  EXPECT_EQ(g_MoviePlaying, 0);
  EXPECT_EQ(MovieCoversWindow(), 1);
  StoreIntElement(Var("r"), 0, 1);
  RunPasses(2);
  EXPECT_EQ(Int("r"), 2);
  EXPECT_EQ(MovieCoversWindow(), 0);
  EXPECT_EQ(g_MovieVolume, 256);
}

TEST_F(Movie, PauseStopsThePlayerWhereItIs) {
  g_MovieBackend = 1;
  ASSERT_TRUE(RunScript("movie file=\"old.mpg\" play=1\nwait frames=1\nmovie play=0\nmoviequery playing=1 out=r", 1));
  HeadlessAdvanceTicks(200);
  RunPasses(2);
  uint32_t at = g_PlatformMedia->MoviePosition();
  EXPECT_EQ(Int("r"), 0);
  HeadlessAdvanceTicks(5000);
  EXPECT_EQ(g_PlatformMedia->MoviePosition(), at);
  Pump();
  EXPECT_EQ(CallsOf("MoviePause").size(), 1u);
}

TEST_F(Movie, KindQueryTellsTheMpegSystems) {
  struct Case {
    const char* file;
    int64_t expected;
  };
  const Case cases[] = {{"MOVIE/OP.MPG", 2}, {"old.mpg", 1}, {"clip.avi", 255}, {"short.mpg", 255}, {"gone.mpg", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TearDown();
    SetUp();
    ASSERT_TRUE(RunScript(std::string("moviequery kind=\"") + c.file + "\" out=r"));
    EXPECT_EQ(Int("r"), c.expected);
  }
}

}  // namespace
