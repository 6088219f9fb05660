// Layers for the filter tests: a layer tree with "W0" at 640 x 480, layers made from pixel
// lists, and the pixels read back as 0xAARRGGBB words.
#pragma once

#include <cstdint>
#include <vector>

#include "app/window.h"
#include "layers/layer.h"
#include "tests/support/engine_fixture.h"

using Pixels = std::vector<uint32_t>;

class FilterTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A layer under "W0" of width x height holding `pixels` (row by row), or no pixels at all
  // for an empty list.
  NameNode* AddLayer(const char* name, int32_t width, int32_t height, const Pixels& pixels,
                     uint8_t hasAlpha = 1);
  Pixels Read(NameNode* node) const;
  // The id of the one message shown since SetUp, or 0.
  int ShownMessageId() const;

  WindowRecord window_{};
  NameNode* w0_ = nullptr;
};

// A reproducible list of n pixels with every byte random.
Pixels RandomPixels(size_t n, uint32_t seed);
// The pixels of the inclusive rectangle of a width-wide image.
Pixels CutRect(const Pixels& image, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
