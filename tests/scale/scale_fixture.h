// Layers for the scaling tests: "W0" at 640 x 480 shown by window record 0, layers with
// patterned images under it, the worker pool at a chosen size, and the references the
// scalers' results are held against.
#pragma once

#include <cstdint>
#include <vector>

#include "layers/layer.h"
#include "tests/support/layer_window_fixture.h"

// A picture of w x h pixels, rows of w * 4 bytes, no spare row.
struct Picture {
  int32_t w = 0, h = 0;
  std::vector<uint8_t> bytes;
  uint32_t At(int32_t x, int32_t y) const;
};

// Every byte from a fixed pseudo-random sequence of `seed`.
Picture NoisePicture(int32_t w, int32_t h, uint32_t seed);
Picture UniformPicture(int32_t w, int32_t h, uint32_t bgra);

class ScaleLayerTest : public LayerWindowTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A layer under "W0" holding a copy of `picture` (no image when the picture is empty).
  NameNode* AddLayer(const char* name, const Picture& picture);
  // The layer's current image as a picture.
  Picture ImageOf(NameNode* node) const;
  // Restarts the pixel pool with `workers` threads; 0 leaves it stopped (bands run inline).
  void UseWorkers(int32_t workers);
  int ShownMessageId() const { return SizeMessageShown(); }
  // True when a box with exactly this text was shown.
  bool BoxShown(const char* text) const;

};

// References computed pixel by pixel from the written-out arithmetic of each method.
// Rectangles and sizes as the scalers take them (pixels or 1/100 pixel).
Picture RefNearest(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w, int32_t h);
Picture RefBilinear(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w100, int32_t h100,
                    bool threaded);
Picture RefBicubic(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w, int32_t h);
Picture RefSupersample(const Picture& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t w100,
                       int32_t h100);
Picture RefLanczos(const Picture& src, int32_t w, int32_t h);
