// A layer tree for tests that work on layers: the root and "W0" at 640 x 480 shown by window
// record 0, freed again after each test.
#pragma once

#include <cstdint>

#include "app/window.h"
#include "layers/layer.h"
#include "tests/support/engine_fixture.h"

class LayerWindowTest : public HeadlessTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A group or leaf under "W0" with a fresh record and no image (a failed test when it cannot
  // be made).
  NameNode* AddBareLayer(const char* path, bool group = false, int64_t key = 1);
  // 100010 when the size message was the one shown since the last ResetMessageState, 0 when
  // none was, -1 for any other.
  static int SizeMessageShown();

  WindowRecord window_{};
  NameNode* w0_ = nullptr;
};
