// The layer tree fixture shared by the layer tests.
#include "tests/layers/layer_fixture.h"

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace {

// Ids of the messages the layer code gives; 100010 and 104030 have built-in texts.
const int kMessageIds[] = {100030, 100240, 100243, 100244, 101230, 101250, 101280, 101295, 900020,
                           100230, 100242, 101140};

}  // namespace

void LayerTreeTest::SetUp() {
  LayerWindowTest::SetUp();
  texts_.clear();
  for (int id : kMessageIds) texts_.push_back("#" + std::to_string(id) + " %s %s");
  g_MessageTable.count = 0;
  for (size_t i = 0; i < texts_.size(); i++) {
    g_MessageTable.ids[i] = kMessageIds[i];
    g_MessageTable.texts[i] = texts_[i].c_str();
    g_MessageTable.count++;
  }
}

void LayerTreeTest::TearDown() {
  g_MessageTable.count = 0;
  LayerWindowTest::TearDown();
}

int LayerTreeTest::ShownMessageId() const {
  const char* text = LastErrorDialogText();
  if (!text || !text[0]) return 0;
  if (strcmp(text, LookupMessageText(100010)) == 0) return 100010;
  const char* hash = strchr(text, '#');
  if (hash) return atoi(hash + 1);
  return -1;
}

NameNode* LayerTreeTest::AddLayer(const char* path, bool group, int64_t key, int32_t width, int32_t height) {
  NameNode* node = AddBareLayer(path, group, key);
  if (!node) return nullptr;
  LayerRecord* r = static_cast<LayerRecord*>(node->mPayload);
  if (width > 0 && height > 0) {
    r->mPixels = AllocImageBuffer(nullptr, width, height, nullptr);
    r->mWidth = width;
    r->mHeight = height;
    memset(r->mPixels, 0, size_t(width) * height * 4);
  }
  return node;
}

uint32_t LayerTreeTest::PixelAt(NameNode* node, int32_t x, int32_t y) const {
  LayerRecord* r = GetLayerRecord(node);
  const uint8_t* p = r->mPixels + (size_t(y) * r->mWidth + x) * 4;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void LayerTreeTest::SetPixel(NameNode* node, int32_t x, int32_t y, uint32_t bgra) const {
  LayerRecord* r = GetLayerRecord(node);
  uint8_t* p = r->mPixels + (size_t(y) * r->mWidth + x) * 4;
  for (int i = 0; i < 4; i++) p[i] = uint8_t(bgra >> (8 * i));
}

namespace {

const char* const kLayerMessages =
    "message 100230 \"E100230 %s\"\n"
    "message 100240 \"E100240 %s\"\n"
    "message 100242 \"E100242 %s\"\n"
    "message 100243 \"E100243 %s\"\n"
    "message 100244 \"E100244 %s\"\n"
    "message 101230 \"E101230 %s %s\"\n"
    "message 101250 \"E101250 %s %s\"\n"
    "message 101280 \"E101280 %s\"\n"
    "message 101295 \"E101295 %s %s\"\n"
    "global int r = 7\n"
    "global int q[8] = 0\n"
    "global str s = \"unset\"\n"
    "global real f = 2.5\n"
    "file main.txt\n"
    "*SYSTEM_START\n";

}  // namespace

void LayerScriptTest::SetUp() {
  ScriptTest::SetUp();
  window_.mWidth = 640;
  window_.mHeight = 480;
  g_WindowRecords[0] = &window_;
  memset(g_EngineOptions, 1, sizeof g_EngineOptions);
  ASSERT_EQ(CreateLayerTreeRoot(), 0);
}

void LayerScriptTest::TearDown() {
  FreeLayerSubtree(g_LayerRoot);
  g_LayerRoot = nullptr;
  g_WindowRecords[0] = nullptr;
  g_OffscreenLayerNode = nullptr;
  g_GpuRedrawRequest = 0;
  ScriptTest::TearDown();
}

bool LayerScriptTest::RunScript(const std::string& body, int frames) {
  if (!Boot(std::string(kLayerMessages) + body + "\nloop -1\nwait frames=1\nendloop\n")) return false;
  for (int i = 0; i < frames && !g_QuitFlag; i++) {
    RunPasses(1);
    ApplyPendingLayerStateAll();
  }
  return true;
}

NameNode* LayerScriptTest::Layer(const char* path, uint8_t mode) {
  return FindNodeByPath(g_LayerRoot, path, mode);
}
