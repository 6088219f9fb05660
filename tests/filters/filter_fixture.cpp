// The layer tree and pixel helpers of the filter tests.
#include "tests/filters/filter_fixture.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"

NameNode* FilterTest::AddLayer(const char* name, int32_t width, int32_t height, const Pixels& pixels,
                               uint8_t hasAlpha) {
  NameNode* node = AddBareLayer(name);
  if (!node) return nullptr;
  LayerRecord* r = static_cast<LayerRecord*>(node->mPayload);
  r->mHasAlpha = hasAlpha;
  if (pixels.empty()) return node;
  EXPECT_EQ(pixels.size(), size_t(width) * size_t(height));
  r->mPixels = AllocImageBuffer(nullptr, width, height, nullptr);
  r->mWidth = width;
  r->mHeight = height;
  for (size_t i = 0; i < pixels.size(); i++)
    for (int b = 0; b < 4; b++) r->mPixels[i * 4 + b] = uint8_t(pixels[i] >> (8 * b));
  return node;
}

Pixels FilterTest::Read(NameNode* node) const {
  const LayerRecord* r = GetLayerRecord(node);
  Pixels out;
  if (!r || !r->mPixels) return out;
  for (size_t i = 0; i < size_t(r->mWidth) * size_t(r->mHeight); i++) {
    const uint8_t* p = r->mPixels + i * 4;
    out.push_back(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
  }
  return out;
}

Pixels RandomPixels(size_t n, uint32_t seed) {
  Pixels out(n);
  uint32_t s = seed * 2654435761u + 12345;
  for (uint32_t& p : out) {
    s = s * 1664525u + 1013904223u;
    p = s ^ (s >> 13) * 2246822519u;
  }
  return out;
}

Pixels CutRect(const Pixels& image, int32_t width, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  Pixels out;
  for (int32_t y = y0; y <= y1; y++)
    for (int32_t x = x0; x <= x1; x++) out.push_back(image[size_t(y) * size_t(width) + size_t(x)]);
  return out;
}
