// The spatial filters through the effect engine: mirror, flip, waves, swirl, mosaic and the
// shuffle, on whole layers and on rectangles at the edges, with extreme amounts bounded.
#include <algorithm>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "layers/image_filters.h"
#include "tests/filters/filter_fixture.h"

namespace {

class SpatialFilterTest : public FilterTest {
 protected:
  // Runs `code` in place over the rectangle of a new layer holding `image` and returns the result.
  Pixels RunInPlace(int32_t code, int32_t width, int32_t height, const Pixels& image, int32_t x0,
                    int32_t y0, int32_t x1, int32_t y1, int64_t a, int32_t b = 0) {
    FreeLayerChildren(w0_);
    NameNode* layer = AddLayer("a", width, height, image);
    EXPECT_EQ(ApplyImageFilter(code, layer, nullptr, x0, y0, x1, y1, a, b, 0, 0), 0);
    EXPECT_EQ(GetLayerRecord(layer)->mWidth, x1 - x0 + 1);
    EXPECT_EQ(GetLayerRecord(layer)->mHeight, y1 - y0 + 1);
    return Read(layer);
  }
};

// Pixels named by their position: 0xFF000000 | (y << 8) | x.
Pixels Positions(int32_t width, int32_t height) {
  Pixels out;
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) out.push_back(0xFF000000u | uint32_t(y) << 8 | uint32_t(x));
  return out;
}
uint32_t At(int32_t x, int32_t y) { return 0xFF000000u | uint32_t(y) << 8 | uint32_t(x); }

TEST_F(SpatialFilterTest, MirrorAndFlipReadTheirMirroredPositions) {
  struct Case {
    int32_t code, x0, y0, x1, y1;
    Pixels expected;
  };
  const Case cases[] = {
      {FILTER_MIRROR, 0, 0, 2, 1, {At(2, 0), At(1, 0), At(0, 0), At(2, 1), At(1, 1), At(0, 1)}},
      // A part of the image shows that part of the mirrored image.
      {FILTER_MIRROR, 0, 1, 1, 1, {At(2, 1), At(1, 1)}},
      {FILTER_MIRROR, 2, 0, 2, 1, {At(0, 0), At(0, 1)}},
      {FILTER_FLIP_VERTICAL, 0, 0, 2, 1, {At(0, 1), At(1, 1), At(2, 1), At(0, 0), At(1, 0), At(2, 0)}},
      // A part of the image is turned over within itself.
      {FILTER_FLIP_VERTICAL, 1, 0, 2, 0, {At(1, 0), At(2, 0)}},
      {FILTER_FLIP_VERTICAL, 2, 0, 2, 1, {At(2, 1), At(2, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " x0 " + std::to_string(c.x0) + " y0 " + std::to_string(c.y0));
    EXPECT_EQ(RunInPlace(c.code, 3, 2, Positions(3, 2), c.x0, c.y0, c.x1, c.y1, 0), c.expected);
  }
}

TEST_F(SpatialFilterTest, WavesShiftByTruncatedSinesAndStayInsideTheRectangle) {
  struct Case {
    int32_t code, width, height, x0, y0, x1, y1;
    int64_t a;
    int32_t b;
    Pixels expected;
  };
  const Case cases[] = {
      {FILTER_WAVE_BOTH, 3, 2, 0, 0, 2, 1, 0, 45, Positions(3, 2)},
      // sin(90 degrees) with the single-precision degree step stays just under 1: shift 1, and
      // past the right edge the column before the last is read.
      {FILTER_WAVE_HORIZONTAL, 4, 1, 0, 0, 3, 0, 2, 90, {At(1, 0), At(2, 0), At(3, 0), At(2, 0)}},
      {FILTER_WAVE_HORIZONTAL, 4, 1, 0, 0, 3, 0, -2, 90, {At(0, 0), At(0, 0), At(1, 0), At(2, 0)}},
      {FILTER_WAVE_HORIZONTAL, 5, 1, 1, 0, 3, 0, 2, 90, {At(2, 0), At(3, 0), At(2, 0)}},
      // A one-pixel-wide rectangle never reads beside itself.
      {FILTER_WAVE_HORIZONTAL, 3, 3, 2, 0, 2, 2, 5, 90, {At(2, 0), At(2, 1), At(2, 2)}},
      // cos(0) = 1 moves column 0 by the whole amplitude; cos(1 degree) < 1 leaves column 1.
      {FILTER_WAVE_VERTICAL, 2, 3, 0, 0, 1, 2, 1, 0,
       {At(0, 1), At(1, 0), At(0, 2), At(1, 1), At(0, 2), At(1, 2)}},
      {FILTER_WAVE_VERTICAL, 2, 3, 0, 1, 1, 2, 1, 0, {At(0, 2), At(1, 1), At(0, 2), At(1, 2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " a " + std::to_string(c.a) + " x0 " + std::to_string(c.x0));
    EXPECT_EQ(RunInPlace(c.code, c.width, c.height, Positions(c.width, c.height), c.x0, c.y0, c.x1,
                         c.y1, c.a, c.b),
              c.expected);
  }
}

TEST_F(SpatialFilterTest, HugeWaveAmplitudesOnlyReadPixelsOfTheRectangle) {
  for (int32_t code : {FILTER_WAVE_HORIZONTAL, FILTER_WAVE_VERTICAL, FILTER_WAVE_BOTH}) {
    for (int64_t a : {INT64_MAX, INT64_MIN, int64_t(1) << 40}) {
      SCOPED_TRACE("code " + std::to_string(code) + " a " + std::to_string(a));
      Pixels rect = CutRect(Positions(6, 5), 6, 1, 1, 4, 3);
      Pixels out = RunInPlace(code, 6, 5, Positions(6, 5), 1, 1, 4, 3, a, 7);
      for (uint32_t p : out) EXPECT_NE(std::find(rect.begin(), rect.end(), p), rect.end()) << std::hex << p;
    }
  }
}

TEST_F(SpatialFilterTest, SwirlTurnsByItsTableAndNothingWithoutAnAngle) {
  // 3 x 3 with 180 degrees: R = 3, turns 180, 120 and 60 degrees at distances 0, 1 and 2.
  Pixels out = RunInPlace(FILTER_SWIRL, 3, 3, Positions(3, 3), 0, 0, 2, 2, 1800);
  EXPECT_EQ(out[0], At(2, 0));
  EXPECT_EQ(out[3], At(1, 0));
  EXPECT_EQ(out[4], At(1, 1));
  EXPECT_EQ(out[5], At(0, 1));
  for (int32_t w : {1, 2, 5}) {
    for (int32_t h : {1, 4}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
      EXPECT_EQ(RunInPlace(FILTER_SWIRL, 7, 6, Positions(7, 6), 1, 2, w, h + 1, 0),
                CutRect(Positions(7, 6), 7, 1, 2, w, h + 1));
    }
  }
}

TEST_F(SpatialFilterTest, SwirlGivesTheSameResultAfterASwirlOfAnotherSize) {
  Pixels image = RandomPixels(9 * 7, 5);
  Pixels first = RunInPlace(FILTER_SWIRL, 9, 7, image, 0, 0, 8, 6, 900);
  RunInPlace(FILTER_SWIRL, 4, 11, RandomPixels(44, 6), 0, 0, 3, 10, -3000);
  EXPECT_EQ(RunInPlace(FILTER_SWIRL, 9, 7, image, 0, 0, 8, 6, 900), first);
  for (int64_t a : {INT64_MAX, INT64_MIN}) {
    Pixels out = RunInPlace(FILTER_SWIRL, 9, 7, image, 0, 0, 8, 6, a);
    for (uint32_t p : out) EXPECT_NE(std::find(image.begin(), image.end(), p), image.end());
  }
}

// The mean of B, G, R over the blocks [cols[i], cols[i+1]) x [rows[j], rows[j+1]), alpha kept.
Pixels BlockMeans(const Pixels& image, int32_t width, int32_t x0, int32_t y0,
                  const std::vector<int32_t>& cols, const std::vector<int32_t>& rows) {
  int32_t w = cols.back() - cols.front(), h = rows.back() - rows.front();
  Pixels out(size_t(w) * size_t(h));
  for (size_t bj = 0; bj + 1 < rows.size(); bj++) {
    for (size_t bi = 0; bi + 1 < cols.size(); bi++) {
      uint64_t sum[3] = {0, 0, 0}, n = 0;
      for (int32_t y = rows[bj]; y < rows[bj + 1]; y++)
        for (int32_t x = cols[bi]; x < cols[bi + 1]; x++, n++)
          for (int c = 0; c < 3; c++) sum[c] += (image[size_t(y) * width + x] >> (8 * c)) & 0xFF;
      for (int32_t y = rows[bj]; y < rows[bj + 1]; y++)
        for (int32_t x = cols[bi]; x < cols[bi + 1]; x++)
          out[size_t(y - y0) * w + (x - x0)] = (image[size_t(y) * width + x] & 0xFF000000u) |
                                               uint32_t(sum[2] / n) << 16 | uint32_t(sum[1] / n) << 8 |
                                               uint32_t(sum[0] / n);
    }
  }
  return out;
}

TEST_F(SpatialFilterTest, MosaicAveragesBlocksOfAGridCentredOnTheRectangle) {
  Pixels image = RandomPixels(100, 9);
  struct Case {
    int64_t size;
    int32_t x0, y0, x1, y1;
    std::vector<int32_t> cols, rows;   // block edges, the last one past the rectangle
  };
  const Case cases[] = {
      {4, 0, 0, 9, 9, {0, 1, 5, 9, 10}, {0, 1, 5, 9, 10}},
      {3, 0, 0, 9, 9, {0, 2, 5, 8, 10}, {0, 2, 5, 8, 10}},
      {1, 0, 0, 2, 0, {0, 1, 2, 3}, {0, 1}},
      {0, 0, 0, 2, 0, {0, 1, 2, 3}, {0, 1}},
      {-5, 0, 0, 2, 0, {0, 1, 2, 3}, {0, 1}},
      {INT64_MAX, 0, 0, 9, 9, {0, 5, 10}, {0, 5, 10}},
      // Columns 2..7 centre on 5: lines at 1, 5 and 9 give blocks 2..4 and 5..7.
      {4, 2, 3, 7, 3, {2, 5, 8}, {3, 4}},
      {4, 9, 9, 9, 9, {9, 10}, {9, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " x0 " + std::to_string(c.x0));
    EXPECT_EQ(RunInPlace(FILTER_MOSAIC, 10, 10, image, c.x0, c.y0, c.x1, c.y1, c.size),
              BlockMeans(image, 10, c.x0, c.y0, c.cols, c.rows));
  }
}

// The colours of the pixels in order, and the alpha bytes position by position.
std::vector<uint32_t> SortedColours(const Pixels& p) {
  std::vector<uint32_t> out;
  for (uint32_t v : p) out.push_back(v & 0xFFFFFF);
  std::sort(out.begin(), out.end());
  return out;
}
std::vector<uint32_t> Alphas(const Pixels& p) {
  std::vector<uint32_t> out;
  for (uint32_t v : p) out.push_back(v >> 24);
  return out;
}

TEST_F(SpatialFilterTest, ShuffleOnlyExchangesColoursAndNeedsAStrengthOfTwo) {
  Pixels image = RandomPixels(6 * 5, 11);
  for (int64_t a : {int64_t(-3), int64_t(0), int64_t(1)}) EXPECT_EQ(RunInPlace(FILTER_SHUFFLE, 6, 5, image, 0, 0, 5, 4, a), image);
  for (int64_t a : {int64_t(2), int64_t(7), INT64_MAX}) {
    SCOPED_TRACE(a);
    Pixels out = RunInPlace(FILTER_SHUFFLE, 6, 5, image, 0, 0, 5, 4, a);
    EXPECT_NE(out, image);
    EXPECT_EQ(SortedColours(out), SortedColours(image));
    EXPECT_EQ(Alphas(out), Alphas(image));
  }
  // A part of the image shuffles only its own pixels.
  Pixels part = CutRect(image, 6, 3, 2, 5, 4);
  Pixels out = RunInPlace(FILTER_SHUFFLE, 6, 5, image, 3, 2, 5, 4, 4);
  EXPECT_EQ(SortedColours(out), SortedColours(part));
  EXPECT_EQ(Alphas(out), Alphas(part));
}

}  // namespace
