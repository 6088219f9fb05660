// Layer trees for layer tests: the root and "W0" at 640 x 480 shown by window record 0, and
// message texts that name their ids so a test can tell which message was given.
#pragma once

#include <string>
#include <vector>

#include "app/engine.h"
#include "app/window.h"
#include "layers/layer.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/layer_window_fixture.h"
#include "tests/support/script_fixture.h"

class LayerTreeTest : public LayerWindowTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The id of the one message shown since SetUp, or 0.
  int ShownMessageId() const;
  // A group or leaf under "W0" with a record and, for a size above 0, a BGRA image.
  NameNode* AddLayer(const char* path, bool group, int64_t key, int32_t width = 0, int32_t height = 0);
  uint32_t PixelAt(NameNode* node, int32_t x, int32_t y) const;
  void SetPixel(NameNode* node, int32_t x, int32_t y, uint32_t bgra) const;

 private:
  std::vector<std::string> texts_;
};

// Layer commands run from assembled scripts over the same layer tree.
class LayerScriptTest : public ScriptTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Boots a script of `body` (after the shared variables r, q[8], s and f) that ends in an
  // endless wait, and runs `frames` frames of one pass and one layer update each.
  bool RunScript(const std::string& body, int frames = 4);
  NameNode* Layer(const char* path, uint8_t mode = NAME_LOOKUP_ANY);

  WindowRecord window_{};
};
