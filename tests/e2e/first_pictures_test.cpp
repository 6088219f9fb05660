// What the first pictures of two scenes show, watched frame by frame on the headless backend:
// a movie started in the turn that hides a layer plays over the picture without that layer, and
// a message layer made without an image shows the first page as every later one, its text over
// what lies below.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/media.h"
#include "platform/headless/headless.h"
#include "tests/e2e/e2e_fixture.h"
#include "tools/lib/assembler.h"
#include "tools/lib/title_images.h"

namespace {

constexpr uint8_t kGround[3] = {0x40, 0x80, 0xC0};
constexpr uint8_t kTile[3] = {0x10, 0xE0, 0x30};

bool Is(const HeadlessWindowState& w, int x, int y, const uint8_t bgr[3]) {
  const uint8_t* p = FramePixel(w, x, y);
  return p[0] == bgr[0] && p[1] == bgr[1] && p[2] == bgr[2];
}

class FirstPictures : public EndToEndTest {
 protected:
  void Build(const std::string& body) {
    std::string listing = "config width=128 height=64 title=\"First\" show=1\nfile start.txt\n*SYSTEM_START\n"
                          "layer name=\"ground\" file=\"ground.bmp\" priority=1 visible=1\n" +
                          body;
    AssembledSet set;
    ASSERT_TRUE(AssembleListing(listing, &set)) << set.error;
    ASSERT_TRUE(WritePackedSet(game_.path(), set));
    game_.Write("ground.bmp", MakeBmp24(128, 64, [](int, int, uint8_t bgr[3]) {
                  for (int c = 0; c < 3; c++) bgr[c] = kGround[c];
                }));
    game_.Write("tile.bmp", MakeBmp24(16, 16, [](int, int, uint8_t bgr[3]) {
                  for (int c = 0; c < 3; c++) bgr[c] = kTile[c];
                }));
    game_.Write("clip.mpg", std::string("\x00\x00\x01\xBA\x44", 5) + std::string(64, 'm'));
  }
};

TEST_F(FirstPictures, AMovieStartedInTheTurnThatHidesALayerPlaysOverThePictureWithoutIt) {
  Build("layer name=\"tile\" file=\"tile.bmp\" x=8 y=8 priority=2 visible=1\n"
        "wait frames=3\n"
        "layer name=\"tile\" visible=0\n"
        "movie file=\"clip.mpg\" play=1 x=64 y=0 width=64 height=64\n"
        "wait frames=10\n"
        "moviestop\n"
        "wait frames=3\n"
        "end\n");
  // The stand-in player plays the file for a second and draws nothing: what shows beside the
  // movie is the game's picture.
  HeadlessUseFakeMovies(true);
  int tileFrames = 0, coveredFrames = 0, coveredWithTile = 0;
  HeadlessSetPresentObserver([&](int slot, const HeadlessWindowState& w) {
    if (slot != 0 || w.frameWidth != 128) return;
    bool tile = Is(w, 10, 10, kTile);
    tileFrames += tile;
    if (MovieCoversWindow()) {
      coveredFrames++;
      coveredWithTile += tile;
    }
  });
  EXPECT_EQ(Run(), 0);
  HeadlessSetPresentObserver(nullptr);
  EXPECT_GT(tileFrames, 0);
  // The frame that starts the movie shows what its turn left; no frame under the movie shows
  // the hidden layer.
  EXPECT_EQ(coveredFrames, 1);
  EXPECT_EQ(coveredWithTile, 0);
}

TEST_F(FirstPictures, AMessageLayerWithoutAnImageShowsWhatLiesBelowOnItsFirstPageAsOnTheNext) {
  Build("layer name=\"box\" file=\"\" width=120 height=56 x=2 y=4 priority=2 visible=1\n"
        "messageconfig layer=\"box\" delay=0\n"
        "text \"AAAA\"\n"
        "messageend\n"
        "text \"BBBB\"\n"
        "messageend\n"
        "end\n");
  Input("300 click 0 5 5\n600 click 0 5 5\n5000 quit\n");
  int frames = 0, covered = 0, inked = 0;
  HeadlessSetPresentObserver([&](int slot, const HeadlessWindowState& w) {
    if (slot != 0 || w.frameWidth != 128) return;
    frames++;
    // Far from the text, inside the box: the ground, never a black box.
    covered += !Is(w, 118, 56, kGround) || !Is(w, 60, 50, kGround);
    // The text's row, at the box's left.
    for (int y = 4; y < 24; y++)
      for (int x = 2; x < 100; x++)
        if (!Is(w, x, y, kGround)) {
          inked++;
          return;
        }
  });
  EXPECT_EQ(Run(), 0);
  HeadlessSetPresentObserver(nullptr);
  EXPECT_GT(frames, 2);
  EXPECT_GT(inked, 0);
  EXPECT_EQ(covered, 0);
}

}  // namespace
