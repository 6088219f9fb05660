// A running main window for window, input and rendering tests: window records, a 640 x 480
// main window on the headless 1920 x 1080 desktop, the layer tree with "W0", input cleared.
#pragma once

#include <cstdint>
#include <vector>

#include "app/engine.h"
#include "app/window.h"
#include "layers/layer.h"
#include "tests/support/engine_fixture.h"

class GameWindowTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Hands the event to the window code, as the main loop's pump does.
  void Send(PlatEventRecord e);
  // One loop pass of input: the snapshot, then the input tick.
  void InputFrame();
  // A layer under "W0" with a record and, for a size above 0, an image filled with `bgra`.
  NameNode* AddLayer(const char* path, bool group, int64_t key, int32_t width, int32_t height, uint32_t bgra);
  WindowRecord* main_ = nullptr;
};

PlatEventRecord MakeEvent(PlatEventType type, int window = 0);
// The pixel at x, y of a BGRA picture of the given width, as 0xAARRGGBB.
uint32_t PixelOf(const std::vector<uint8_t>& bgra, int width, int x, int y);
