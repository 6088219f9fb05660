// The layer tree shared by the layer, filter and scaling tests.
#include "tests/support/layer_window_fixture.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"

void LayerWindowTest::SetUp() {
  HeadlessTest::SetUp();
  window_.mWidth = 640;
  window_.mHeight = 480;
  g_WindowRecords[0] = &window_;
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
  w0_ = window_.mRootLayer;
  ASSERT_NE(w0_, nullptr);
}

void LayerWindowTest::TearDown() {
  FreeLayerSubtree(g_LayerRoot);
  g_LayerRoot = nullptr;
  g_WindowRecords[0] = nullptr;
  g_OffscreenLayerNode = nullptr;
  g_GpuRedrawRequest = 0;
  HeadlessTest::TearDown();
}

NameNode* LayerWindowTest::AddBareLayer(const char* path, bool group, int64_t key) {
  std::string full = std::string("W0/") + path;
  NameNode* node = CreateNamedNode(g_LayerRoot, full.c_str(), group, key);
  EXPECT_NE(node, nullptr) << path;
  if (!node) return nullptr;
  EXPECT_NE(AttachNewLayerRecord(node), nullptr) << path;
  return node->mPayload ? node : nullptr;
}

int LayerWindowTest::SizeMessageShown() {
  const char* text = LastErrorDialogText();
  if (!text || !text[0]) return 0;
  return strcmp(text, LookupMessageText(100010)) == 0 ? 100010 : -1;
}
