// The glyph blitters and gradient corners on hand-made canvases, pixel by pixel.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "text/text.h"

namespace {

constexpr uint8_t SENTINEL = 0x55;

// A one-bit canvas, all background, with ink set pixel by pixel.
struct Canvas {
  int32_t side;
  std::vector<uint8_t> bits;
  explicit Canvas(int32_t s) : side(s), bits((size_t)s * s / 8, 0xFF) {}
  void Ink(int x, int y) { bits[(size_t)y * (side / 8) + x / 8] &= (uint8_t)~(0x80u >> (x & 7)); }
  void InkAll() { std::fill(bits.begin(), bits.end(), 0); }
  GlyphCanvas View() const { return {bits.data(), side}; }
};

struct Picture {
  int32_t width, height;
  std::vector<uint8_t> pixels;
  Picture(int32_t w, int32_t h) : width(w), height(h), pixels((size_t)w * h * 4, SENTINEL) {}
  PixelTarget View() { return {pixels.data(), width, height}; }
  const uint8_t* At(int x, int y) const { return &pixels[((size_t)y * width + x) * 4]; }
  uint32_t Bgra(int x, int y) const {
    const uint8_t* p = At(x, y);
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
  }
  bool Untouched(int x, int y) const { return Bgra(x, y) == 0x55555555u; }
};

class GlyphBlit : public ::testing::Test {
 protected:
  void SetUp() override { InitGlyphTables(); }
};

TEST_F(GlyphBlit, MonoOverwriteWritesInkAndOpaqueBlackOverTheWholeCell) {
  Canvas canvas(32);
  canvas.Ink(0, 0);
  canvas.Ink(2, 1);
  canvas.Ink(3, 3);
  Picture pic(6, 6);
  ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0x102030, 0xFFFFFFFF, 0, 0, 4, 4, 1, 1, 0));
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 6; x++) {
      bool inCell = x >= 1 && x <= 4 && y >= 1 && y <= 4;
      bool ink = (x == 1 && y == 1) || (x == 3 && y == 2) || (x == 4 && y == 4);
      uint32_t want = !inCell ? 0x55555555u : ink ? 0x302010FFu : 0x000000FFu;
      EXPECT_EQ(pic.Bgra(x, y), want) << x << "," << y;
    }
}

TEST_F(GlyphBlit, MonoCompositeWritesOnlyInk) {
  Canvas canvas(32);
  canvas.Ink(1, 0);
  Picture pic(2, 2);
  ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0xABCDEF, 0xFFFFFFFF, 0, 0, 2, 2, 0, 0, 1));
  EXPECT_EQ(pic.Bgra(1, 0), 0xEFCDABFFu);
  EXPECT_TRUE(pic.Untouched(0, 0));
  EXPECT_TRUE(pic.Untouched(0, 1));
  EXPECT_TRUE(pic.Untouched(1, 1));
}

TEST_F(GlyphBlit, QuarterTurnsPlaceTheCellCornerOnTheLayer) {
  // One ink pixel in the top-left corner of a 3-wide, 2-tall cell drawn at (1, 1).
  struct Case {
    int rotation, x, y;
  } cases[] = {{0, 1, 1}, {1, 2, 1}, {2, 3, 2}, {3, 1, 3}};
  for (const Case& c : cases) {
    Canvas canvas(32);
    canvas.Ink(0, 0);
    Picture pic(5, 5);
    ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0xFFFFFF, 0xFFFFFFFF, 0, c.rotation, 3, 2, 1, 1, 1));
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 5; x++)
        EXPECT_EQ(!pic.Untouched(x, y), x == c.x && y == c.y) << "rotation " << c.rotation << " at " << x << "," << y;
  }
}

TEST_F(GlyphBlit, CellsOutsideThePictureAreNotDrawnAtAll) {
  // Footprints are tested as turned: a 4 x 2 cell turned a quarter covers 2 columns, 4 rows.
  struct Case {
    int pw, ph, rotation, w, h, x, y;
    bool drawn;
  } cases[] = {
      {6, 4, 0, 4, 4, 2, 0, true},    // touches the right edge
      {6, 4, 0, 4, 4, 3, 0, false},   // one pixel past it
      {6, 4, 0, 4, 4, -1, 0, false},
      {3, 5, 0, 4, 2, 0, 0, false},   // too wide upright
      {3, 5, 1, 4, 2, 0, 0, true},    // fits turned
      {5, 3, 1, 4, 2, 0, 0, false},   // turned it is too tall
      {5, 3, 3, 4, 2, 0, 0, false},
      {8, 8, 0, 0, 4, 0, 0, false},   // empty cells
      {8, 8, 0, 4, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    Canvas canvas(32);
    canvas.InkAll();
    Picture pic(c.pw, c.ph);
    bool drawn = BlitGlyphMonoTo(canvas.View(), pic.View(), 0xFFFFFF, 0xFFFFFFFF, 0, c.rotation, c.w, c.h, c.x, c.y, 0);
    EXPECT_EQ(drawn, c.drawn) << c.pw << "x" << c.ph << " rot " << c.rotation << " at " << c.x;
    if (!c.drawn) EXPECT_EQ(pic.pixels, Picture(c.pw, c.ph).pixels);
  }
}

TEST_F(GlyphBlit, GradientInterpolatesRowsThenColumns) {
  Canvas canvas(32);
  canvas.InkAll();
  Picture pic(5, 5);
  // Kind 1: colour 1 at the top, colour 2 at the bottom (blue 0 to 255 over five rows).
  ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0x000000, 0x0000FF, 1, 0, 5, 5, 0, 0, 0));
  const uint8_t rows[5] = {0, 63, 127, 191, 255};
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 5; x++) EXPECT_EQ(pic.At(x, y)[0], rows[y]) << x << "," << y;
  // Kind 3: left to right, in red.
  ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0x000000, 0xFF0000, 3, 0, 5, 5, 0, 0, 0));
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 5; x++) EXPECT_EQ(pic.At(x, y)[2], rows[x]) << x << "," << y;
}

TEST_F(GlyphBlit, TopToBottomGradientStaysTopToBottomAtEveryRotation) {
  Canvas canvas(32);
  canvas.InkAll();
  for (int rotation = 0; rotation < 4; rotation++) {
    Picture pic(4, 4);
    ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0x000000, 0x0000FF, 1, rotation, 4, 4, 0, 0, 0));
    const uint8_t rows[4] = {0, 85, 170, 255};
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 4; x++) EXPECT_EQ(pic.At(x, y)[0], rows[y]) << "rotation " << rotation << " " << x << "," << y;
  }
}

TEST_F(GlyphBlit, OnePixelCellsDrawWithoutDividingByZero) {
  Canvas canvas(32);
  canvas.InkAll();
  Picture pic(2, 2);
  ASSERT_TRUE(BlitGlyphMonoTo(canvas.View(), pic.View(), 0x112233, 0x445566, 5, 0, 1, 1, 1, 1, 0));
  EXPECT_EQ(pic.Bgra(1, 1), 0x332211FFu);
  // A cell far wider than tall (row scale below 1) still draws its one row.
  Picture wide(300, 1);
  EXPECT_TRUE(BlitGlyphMonoTo(canvas.View(), wide.View(), 0xFFFFFF, 0xFFFFFFFF, 0, 0, 300, 1, 0, 0, 0));
}

TEST_F(GlyphBlit, GradientCornersFollowKindAndRotation) {
  // Colour 1 is 11 (each channel), colour 2 is 0: the midpoint truncates toward zero to 6.
  const uint32_t c1 = 0x0B0B0B, c2 = 0x000000;
  struct Case {
    int kind, rotation;
    uint8_t tl, tr, bl, br;
  } cases[] = {
      {0, 0, 11, 11, 11, 11}, {1, 0, 11, 11, 0, 0}, {2, 0, 0, 0, 11, 11},
      {3, 0, 11, 0, 11, 0},   {4, 0, 0, 11, 0, 11}, {5, 0, 11, 6, 6, 0},
      {6, 0, 6, 11, 0, 6},    {7, 0, 0, 6, 6, 11},  {8, 0, 6, 0, 11, 6},
      {1, 1, 11, 0, 11, 0},   {1, 2, 0, 0, 11, 11}, {1, 3, 0, 11, 0, 11},
      {5, 1, 6, 0, 11, 6},    {5, 2, 0, 6, 6, 11},  {5, 3, 6, 11, 0, 6},
      {0, 3, 11, 11, 11, 11}, {9, 0, 11, 11, 11, 11},
  };
  for (const Case& c : cases) {
    uint8_t corners[4][3];
    GetGradientCorners(c.kind, c.rotation, c1, c2, corners);
    const uint8_t want[4] = {c.tl, c.tr, c.bl, c.br};
    for (int i = 0; i < 4; i++)
      for (int ch = 0; ch < 3; ch++)
        EXPECT_EQ(corners[i][ch], want[i]) << "kind " << c.kind << " rotation " << c.rotation << " corner " << i;
  }
}

TEST_F(GlyphBlit, AntialiasedCoverageLevels) {
  struct Case {
    int ink;
    uint8_t alpha;
  } cases[] = {{0, 0}, {1, 18}, {4, 72}, {14, 252}, {15, 255}, {16, 255}};
  for (const Case& c : cases) {
    Canvas canvas(32);
    for (int i = 0; i < c.ink; i++) canvas.Ink(i % 4, i / 4);
    Picture pic(1, 1);
    ASSERT_TRUE(BlitGlyphAntialiasedTo(canvas.View(), pic.View(), 0x204060, 0xFFFFFFFF, 0, 0, 1, 1, 0, 0, 0));
    EXPECT_EQ(pic.Bgra(0, 0), 0x60402000u | c.alpha) << c.ink << " ink bits";
  }
}

TEST_F(GlyphBlit, AntialiasedOddColumnsReadTheLowNibble) {
  Canvas canvas(32);
  for (int y = 0; y < 4; y++) canvas.Ink(5, y);   // column 5 belongs to cell column 1
  Picture pic(2, 2);
  ASSERT_TRUE(BlitGlyphAntialiasedTo(canvas.View(), pic.View(), 0xFFFFFF, 0xFFFFFFFF, 0, 0, 2, 2, 0, 0, 0));
  EXPECT_EQ(pic.At(0, 0)[3], 0);
  EXPECT_EQ(pic.At(1, 0)[3], 72);
  EXPECT_EQ(pic.At(1, 1)[3], 0);
}

TEST_F(GlyphBlit, AntialiasedCompositeBlendsOverTheDestination) {
  struct Case {
    int ink;                 // coverage bits of 16
    uint8_t dstB, dstA;      // destination blue and alpha before
    uint8_t wantB, wantA;    // after, text blue 200
  } cases[] = {
      {16, 50, 0, 200, 255},   // full coverage over transparent: the text colour, opaque
      {0, 50, 0, 200, 0},      // no coverage over transparent: colour taken, alpha stays 0
      {4, 100, 128, 144, 164}, // a = 72: na = 200 - (128 * 73 >> 8) = 164; 100 + 100 * 73 / 165
  };
  for (const Case& c : cases) {
    Canvas canvas(32);
    for (int i = 0; i < c.ink; i++) canvas.Ink(i % 4, i / 4);
    Picture pic(1, 1);
    pic.pixels = {c.dstB, c.dstB, c.dstB, c.dstA};
    ASSERT_TRUE(BlitGlyphAntialiasedTo(canvas.View(), pic.View(), 0xC8C8C8, 0xFFFFFFFF, 0, 0, 1, 1, 0, 0, 1));
    EXPECT_EQ(pic.At(0, 0)[0], c.wantB) << c.ink;
    EXPECT_EQ(pic.At(0, 0)[3], c.wantA) << c.ink;
  }
}

TEST_F(GlyphBlit, AntialiasedRowsNeverReadPastTheCanvas) {
  // A 9 x 8 cell maps its last row to canvas rows 31..34 of a 32-row canvas; the vector is
  // exactly the canvas, so a read past it is an error under the address sanitizer.
  Canvas canvas(32);
  canvas.InkAll();
  Picture pic(9, 8);
  ASSERT_TRUE(BlitGlyphAntialiasedTo(canvas.View(), pic.View(), 0xFFFFFF, 0xFFFFFFFF, 0, 0, 9, 8, 0, 0, 0));
  EXPECT_EQ(pic.At(0, 7)[3], 72);   // one canvas row of four exists: 4 ink bits
  EXPECT_EQ(pic.At(0, 0)[3], 255);
}

}  // namespace
