// The colour filters and fills through the effect engine: closed-form expected pixels, the
// alpha flag decisions of the fills, and bounded results for extreme strengths.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "layers/image_filters.h"
#include "tests/filters/filter_fixture.h"

namespace {

struct PixelCase {
  int32_t code;
  int64_t a;
  uint32_t in;        // 0xAARRGGBB
  uint32_t expected;
};

const PixelCase kPixelCases[] = {
    {FILTER_BRIGHTNESS, 128, 0x7F102030, 0x7F102030},
    {FILTER_BRIGHTNESS, 138, 0x7F10F5FA, 0x7F1AFFFF},
    {FILTER_BRIGHTNESS, 0, 0x11907F10, 0x11100000},
    {FILTER_BRIGHTNESS, INT64_MAX, 0x01020304, 0x01FFFFFF},
    {FILTER_BRIGHTNESS, INT64_MIN, 0x01FFFFFF, 0x01000000},
    {FILTER_THRESHOLD, 0, 0x33000000, 0x33FFFFFF},
    {FILTER_THRESHOLD, 256, 0x44FFFFFF, 0x44000000},
    {FILTER_THRESHOLD, 100, 0x55646464, 0x55FFFFFF},   // B + G + R = 300 = 3a
    {FILTER_THRESHOLD, 100, 0x55646463, 0x55000000},   // 299
    {FILTER_THRESHOLD, INT64_MIN, 0x66000000, 0x66FFFFFF},
    {FILTER_THRESHOLD, INT64_MAX, 0x66FFFFFF, 0x66000000},
    {FILTER_NEGATIVE, 0, 0x80102030, 0x80EFDFCF},
    {FILTER_COLOUR_BALANCE, 0x808080, 0x12345678, 0x12345678},
    {FILTER_COLOUR_BALANCE, 0xFF8080, 0x20004040, 0x20FD4040},   // T[0] = (255 * 127) >> 7
    {FILTER_COLOUR_BALANCE, 0x008080, 0x20C84040, 0x20004040},   // pulled all the way to 0
    {FILTER_COLOUR_BALANCE, 0x8080C0, 0x20000064, 0x200000B1},   // 100 + ((155 * 64) >> 7)
    {FILTER_COLOUR_BALANCE, 0x7F80FF, 0x20FF00FF, 0x20FE00FF},   // R: 255 - ((255 * 1) >> 7)
    {FILTER_SATURATION, 128, 0x9A786E64, 0x9A786E64},
    {FILTER_SATURATION, 0, 0x9A786E64, 0x9A6E6E6E},
    {FILTER_SATURATION, -1, 0x9A786E64, 0x9A6E6E6E},
    {FILTER_SATURATION, 64, 0x9A786E64, 0x9A736E69},
    {FILTER_SATURATION, 256, 0x9A786E64, 0x9A826E5A},
    // Both ends limit the factor: blue would fall below 0 (f 96), red pass 255 (f 83).
    {FILTER_SATURATION, 256, 0x01C86432, 0x01FE5907},
    {FILTER_SATURATION, INT64_MAX, 0x01C86432, 0x01FE5907},
    {FILTER_SATURATION, 256, 0x01FA6400, 0x01FA6400},   // a zero channel below grey stops it
    {FILTER_SEPIA, 0, 0x7F000000, 0x7F110000},
    {FILTER_SEPIA, 0, 0x7FFFFFFF, 0x7FFFFED2},
    {FILTER_SEPIA, 0, 0x7F808080, 0x7F917F53},
};

class ColourFilterTest : public FilterTest {};

TEST_F(ColourFilterTest, EachFilterMapsAPixelToItsClosedFormValueAndKeepsAlpha) {
  for (const PixelCase& c : kPixelCases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " a " + std::to_string(c.a));
    // In place over a one-pixel layer, and into a destination from a 3 x 1 layer's middle.
    NameNode* one = AddLayer("one", 1, 1, {c.in});
    ASSERT_EQ(ApplyImageFilter(c.code, one, nullptr, 0, 0, 0, 0, c.a, 0, 0, 0), 0);
    EXPECT_EQ(Read(one), Pixels({c.expected}));
    NameNode* row = AddLayer("row", 3, 1, {0x01020304, c.in, 0x05060708});
    NameNode* out = AddLayer("out", 1, 1, {0});
    ASSERT_EQ(ApplyImageFilter(c.code, row, out, 1, 0, 1, 0, c.a, 0, 1, 0), 0);
    EXPECT_EQ(Read(row), Pixels({0x01020304, c.in, 0x05060708}));
    bool whole = c.code == FILTER_THRESHOLD;
    if (whole) EXPECT_EQ(Read(out), Pixels({0x01020304, c.expected, 0x05060708}));
    else EXPECT_EQ(Read(out), Pixels({c.expected}));
    FreeLayerChildren(w0_);
  }
  EXPECT_EQ(ShownMessageId(), 0);
}

TEST_F(ColourFilterTest, SaturationRunsInPlaceOverAWholeFrameLikeIntoASecondBuffer) {
  Pixels image = RandomPixels(40 * 9, 3);
  for (int64_t a : {0, 37, 128, 200, 256}) {
    SCOPED_TRACE(a);
    std::vector<uint8_t> frame(image.size() * 4), copy(image.size() * 4);
    for (size_t i = 0; i < image.size(); i++)
      for (int b = 0; b < 4; b++) frame[i * 4 + b] = uint8_t(image[i] >> (8 * b));
    ASSERT_EQ(FilterSaturation(copy.data(), frame.data(), 0, 0, 39, 8, 40, 9, 40, 9, a), 0);
    ASSERT_EQ(FilterSaturation(frame.data(), frame.data(), 0, 0, 39, 8, 40, 9, 40, 9, a), 0);
    EXPECT_EQ(frame, copy);
  }
}

struct FillCase {
  int32_t mode;
  int64_t value;
  bool wholeImage;
  uint8_t hasAlphaBefore;
  uint32_t filled;    // what a pixel 0x11223344 inside the rectangle becomes
  uint8_t hasAlphaAfter;
};

const FillCase kFillCases[] = {
    {1, 0x12345678, true, 1, 0xFF345678, 1},
    {1, 0x12345678, false, 0, 0xFF345678, 0},
    {2, 0xFF, true, 1, 0xFF223344, 0},
    {2, 0x7FFF, true, 1, 0xFF223344, 0},   // only the low byte counts
    {2, 0xFF, false, 0, 0xFF223344, 1},
    {2, 0x7F, true, 0, 0x7F223344, 1},
    {3, 0xFF102030, true, 1, 0xFF102030, 0},
    {3, 0x80102030, true, 0, 0x80102030, 1},
    {3, 0xFF102030, false, 0, 0xFF102030, 1},
};

TEST_F(ColourFilterTest, FillsWriteTheirModeAndDecideTheAlphaFlag) {
  for (int32_t code : {FILTER_FILL_1, FILTER_FILL_2, FILTER_FILL_3}) {
    for (const FillCase& c : kFillCases) {
      SCOPED_TRACE("code " + std::to_string(code) + " mode " + std::to_string(c.mode) + " value " +
                   std::to_string(c.value) + (c.wholeImage ? " whole" : " part"));
      Pixels before(6, 0x11223344);
      Pixels after = before;
      int32_t x1 = c.wholeImage ? 2 : 1;
      for (int32_t y = 0; y < 2; y++)
        for (int32_t x = 0; x <= x1; x++) after[y * 3 + x] = c.filled;
      NameNode* layer = AddLayer("a", 3, 2, before, c.hasAlphaBefore);
      ASSERT_EQ(ApplyImageFilter(code, layer, nullptr, 0, 0, x1, 1, c.value, 0, 0, c.mode), 0);
      EXPECT_EQ(Read(layer), after);
      EXPECT_EQ(GetLayerRecord(layer)->mWidth, 3);
      EXPECT_EQ(GetLayerRecord(layer)->mHasAlpha, c.hasAlphaAfter);
      // Into a second layer: the whole image arrives there with its flag; the source keeps its
      // pixels and its own flag.
      NameNode* source = AddLayer("s", 3, 2, before, c.hasAlphaBefore);
      NameNode* dest = AddLayer("d", 1, 1, {0}, 1 - c.hasAlphaBefore);
      ASSERT_EQ(ApplyImageFilter(code, source, dest, 0, 0, x1, 1, c.value, 0, 1, c.mode), 0);
      EXPECT_EQ(Read(dest), after);
      EXPECT_EQ(GetLayerRecord(dest)->mHasAlpha, c.hasAlphaAfter);
      EXPECT_EQ(Read(source), before);
      EXPECT_EQ(GetLayerRecord(source)->mHasAlpha, c.hasAlphaBefore);
      FreeLayerChildren(w0_);
    }
  }
}

TEST_F(ColourFilterTest, AFillWithAnUnknownModeChangesNothing) {
  NameNode* layer = AddLayer("a", 2, 1, {0x11223344, 0x55667788}, 1);
  ASSERT_EQ(ApplyImageFilter(FILTER_FILL_1, layer, nullptr, 0, 0, 1, 0, 0xFFFFFFFF, 0, 0, 7), 0);
  EXPECT_EQ(Read(layer), Pixels({0x11223344, 0x55667788}));
  EXPECT_EQ(GetLayerRecord(layer)->mHasAlpha, 1);
}

}  // namespace
