// Layers for the filter tests: a layer tree with "W0" at 640 x 480, layers made from pixel
// lists, and the pixels read back as 0xAARRGGBB words.
#pragma once

#include <cstdint>
#include <vector>

#include "layers/layer.h"
#include "tests/support/layer_window_fixture.h"

using Pixels = std::vector<uint32_t>;

class FilterTest : public LayerWindowTest {
 protected:
  // A layer under "W0" of width x height holding `pixels` (row by row), or no pixels at all
  // for an empty list.
  NameNode* AddLayer(const char* name, int32_t width, int32_t height, const Pixels& pixels,
                     uint8_t hasAlpha = 1);
  Pixels Read(NameNode* node) const;
  int ShownMessageId() const { return SizeMessageShown(); }
};

// A reproducible list of n pixels with every byte random.
Pixels RandomPixels(size_t n, uint32_t seed);
// The pixels of the inclusive rectangle of a width-wide image.
Pixels CutRect(const Pixels& image, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
