// The main window with the GPU device made as start-up makes it, in scene mode or with a
// GPU drawing method, on the headless backend's software device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layers/layer.h"
#include "render/gpu.h"
#include "render/gpu_local.h"
#include "tests/support/window_fixture.h"

class GpuTest : public GameWindowTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The GPU flags and settings a drawing method leaves, without a device yet.
  void UseSceneMode();
  // A leaf under "W0" at x, y with an image of `pixel(x, y)`; `alpha` sets its alpha use.
  NameNode* AddImage(const char* name, int64_t key, int32_t x, int32_t y, int32_t w, int32_t h, bool alpha,
                     uint32_t (*pixel)(int32_t, int32_t));
  // The layer named for the GPU frame, at the window's size.
  NameNode* AddOffscreen();
  // Every message box shown since the last call, as "caption|text" in UTF-8.
  std::vector<std::string> Boxes();
};

// The BGRA texels of a render-target texture.
std::vector<uint8_t> ReadTexture(void* texture, int32_t width, int32_t height);
