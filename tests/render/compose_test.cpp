// The compositor: dirty marking up the tree, the opaque start layer, clearing, blend modes,
// alpha, rule masks, groups, the mask size check, and the picture that reaches the window.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/hooks.h"
#include "app/workers.h"
#include "layers/blend_tables.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "tests/support/window_fixture.h"

namespace {

class ComposeTest : public GameWindowTest {
 protected:
  void SetUp() override {
    GameWindowTest::SetUp();
    InitPixelKernels();
    InitProductTables();
    InitBlendTables();
    root_ = GetLayerRecord(main_->mRootLayer);
    ResetDirtyRectsAll();
  }
  void TearDown() override {
    StopWorkerThreads();
    GameWindowTest::TearDown();
  }
  LayerRecord* Layer(NameNode* n) { return GetLayerRecord(n); }
  NameNode* Add(const char* name, int64_t key, int x, int y, int w, int h, uint32_t bgra) {
    NameNode* n = AddLayer(name, false, key, w, h, bgra);
    Layer(n)->mX = x;
    Layer(n)->mY = y;
    InvalidateLayer(n);
    return n;
  }
  uint32_t RootPixel(int x, int y) {
    uint32_t v;
    memcpy(&v, root_->mPixels + ((size_t)y * root_->mWidth + x) * 4, 4);
    return v;
  }
  LayerRecord* root_ = nullptr;
};

uint8_t Channel(uint32_t v, int c) { return (uint8_t)(v >> (8 * c)); }

uint32_t PerChannel(uint32_t s, uint32_t d, int (*f)(int, int)) {
  uint32_t out = 0;
  for (int c = 0; c < 3; c++) out |= (uint32_t)f(Channel(s, c), Channel(d, c)) << (8 * c);
  return out | (d & 0xFF000000u);
}

TEST_F(ComposeTest, InvalidationMarksEachAncestorWithTheRectangleOfTheLevelBelow) {
  NameNode* group = AddLayer("g", true, 1, 100, 100, 0);
  Layer(group)->mX = 50;
  Layer(group)->mY = 60;
  NameNode* inside = CreateNamedNode(g_LayerRoot, "W0/g/a", false, 1);
  LayerRecord* a = AttachNewLayerRecord(inside);
  a->mX = 10, a->mY = 20, a->mWidth = 5, a->mHeight = 6;
  ResetDirtyRectsAll();
  InvalidateLayer(inside);
  const int64_t groupRect[4] = {10, 20, 14, 25};
  const int64_t rootRect[4] = {50, 60, 149, 159};
  for (int i = 0; i < 4; i++) EXPECT_EQ(Layer(group)->mDirtyRect[i], groupRect[i]);
  for (int i = 0; i < 4; i++) EXPECT_EQ(root_->mDirtyRect[i], rootRect[i]);
  // Wholly outside its group: the group is not marked, but the root still gets the group.
  ResetDirtyRectsAll();
  a->mX = 300;
  InvalidateLayer(inside);
  EXPECT_EQ(Layer(group)->mDirtyValid, 0);
  EXPECT_EQ(Layer(group)->mChanged, 0);
  EXPECT_EQ(root_->mDirtyValid, 1);
  for (int i = 0; i < 4; i++) EXPECT_EQ(root_->mDirtyRect[i], rootRect[i]);
  // A second change under the same parent widens to the union.
  NameNode* b = AddLayer("b", false, 2, 4, 4, 0);
  Layer(b)->mX = 600;
  Layer(b)->mY = 2;
  InvalidateLayer(b);
  const int64_t unionRect[4] = {50, 2, 603, 159};
  for (int i = 0; i < 4; i++) EXPECT_EQ(root_->mDirtyRect[i], unionRect[i]);
}

TEST_F(ComposeTest, LayersOfSeveralModesGiveTheIndependentlyComputedPicture) {
  const uint32_t blue = 0xFF802010, grey = 0xFF404040, dark = 0xFF101010;
  Add("bg", 1, 0, 0, 640, 480, blue);
  Add("add", 2, 10, 10, 100, 80, grey);
  Layer(Add("sub", 3, 60, 40, 100, 80, dark))->mBlendMode = BLEND_SUBTRACT;
  Layer(FindNodeByPath(g_LayerRoot, "W0/add", NAME_LOOKUP_LEAF))->mBlendMode = BLEND_ADD;
  Layer(Add("hidden", 4, 0, 0, 640, 480, 0xFFFFFFFF))->mVisible = 0;
  Layer(Add("clear", 5, 0, 0, 640, 480, 0xFFFFFFFF))->mOpacity = 0;
  // Alpha: left half opaque white, right half fully transparent.
  NameNode* alpha = Add("alpha", 6, 200, 100, 40, 30, 0xFFFFFFFF);
  Layer(alpha)->mHasAlpha = 1;
  for (int y = 0; y < 30; y++)
    for (int x = 20; x < 40; x++) memset(Layer(alpha)->mPixels + ((size_t)y * 40 + x) * 4, 0, 4);
  // A hard-edged rule at progress 128: the mask's grey 200 shows the layer, grey 50 keeps below.
  NameNode* mask = Add("mask", 0, 0, 0, 64, 32, 0xFF323232);
  Layer(mask)->mVisible = 0;
  for (int y = 0; y < 32; y++) memset(Layer(mask)->mPixels + (size_t)y * 64 * 4, 200, 32 * 4);
  NameNode* ruled = Add("ruled", 7, 300, 300, 64, 32, 0xFF00FF00);
  strcpy(Layer(ruled)->mMaskName, ":W0/mask");
  Layer(ruled)->mRuleProgress = 128;
  Layer(ruled)->mEdgeSharpness = 256;

  std::vector<uint32_t> want((size_t)640 * 480, blue);
  auto at = [&](int x, int y) -> uint32_t& { return want[(size_t)y * 640 + x]; };
  for (int y = 10; y < 90; y++)
    for (int x = 10; x < 110; x++) at(x, y) = PerChannel(grey, at(x, y), [](int s, int d) { return s + d > 255 ? 255 : s + d; });
  for (int y = 40; y < 120; y++)
    for (int x = 60; x < 160; x++) at(x, y) = PerChannel(dark, at(x, y), [](int s, int d) { return s - d < 0 ? 0 : s - d; });
  for (int y = 100; y < 130; y++)
    for (int x = 200; x < 220; x++) at(x, y) = 0xFFFFFFFF;
  for (int y = 300; y < 332; y++)
    for (int x = 300; x < 332; x++) at(x, y) = 0xFF00FF00;

  ASSERT_EQ(DrawWindow(main_), 0);
  int mismatches = 0;
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++)
      if ((RootPixel(x, y) & 0xFFFFFF) != (at(x, y) & 0xFFFFFF) && mismatches++ < 5)
        ADD_FAILURE() << x << "," << y << " " << std::hex << RootPixel(x, y) << " != " << at(x, y);
  EXPECT_EQ(mismatches, 0);
  // The same picture reaches the window.
  ASSERT_EQ(PresentWindow(main_), 0);
  HeadlessWindowState w = HeadlessWindow(0);
  ASSERT_EQ(w.frameWidth, 640);
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 5) ASSERT_EQ(PixelOf(w.frame, 640, x, y) & 0xFFFFFF, at(x, y) & 0xFFFFFF) << x << "," << y;
  EXPECT_EQ(root_->mHasAlpha, 1);
}

TEST_F(ComposeTest, AnOpaqueCoveringChildStartsCompositionAndNothingBelowIsTouched) {
  memset(root_->mPixels, 0x55, 640 * 480 * 4);
  // Below: an additive layer that would change every pixel if it were blended.
  Layer(Add("below", 1, 0, 0, 640, 480, 0xFF101010))->mBlendMode = BLEND_ADD;
  struct Case {
    uint8_t gpuKind;
    bool pixels;
    uint32_t want;
  };
  const Case cases[] = {{GPU_KIND_CPU, true, 0xFF0000FF}, {GPU_KIND_TEXTURED, true, 0x55555555},
                        {GPU_KIND_CPU, false, 0x55555555}};
  int key = 10;
  for (const Case& c : cases) {
    memset(root_->mPixels, 0x55, 640 * 480 * 4);
    std::string name = "cover" + std::to_string(key);
    NameNode* cover = Add(name.c_str(), key++, 100, 100, 50, 50, 0xFF0000FF);
    Layer(cover)->mGpuKind = c.gpuKind;
    if (!c.pixels) {
      FreeImageBuffer(Layer(cover)->mPixels);
      Layer(cover)->mPixels = nullptr;
    }
    ResetDirtyRectsAll();
    InvalidateLayer(cover);
    ASSERT_EQ(DrawWindow(main_), 0);
    EXPECT_EQ(RootPixel(120, 120), c.want) << key;
    EXPECT_EQ(RootPixel(99, 99), 0x55555555u) << key;   // outside the dirty rectangle
    Layer(cover)->mVisible = 0;
  }
}

TEST_F(ComposeTest, WithoutACoveringChildTheRectangleIsClearedFirst) {
  memset(root_->mPixels, 0x55, 640 * 480 * 4);
  Layer(Add("half", 1, 0, 0, 10, 10, 0xFF202020))->mBlendMode = BLEND_ADD;
  ASSERT_EQ(DrawWindow(main_), 0);
  EXPECT_EQ(RootPixel(5, 5) & 0xFFFFFF, 0x202020u);
  EXPECT_EQ(RootPixel(10, 10), 0x55555555u);
}

TEST_F(ComposeTest, AGroupIsComposedFirstAndBlendedAsAnOpaquePicture) {
  NameNode* group = AddLayer("g", true, 1, 20, 20, 0);
  Layer(group)->mX = 5;
  Layer(group)->mY = 5;
  NameNode* inner = CreateNamedNode(g_LayerRoot, "W0/g/a", false, 1);
  LayerRecord* a = AttachNewLayerRecord(inner);
  a->mPixels = AllocImageBuffer(nullptr, 4, 4, nullptr);
  a->mWidth = a->mHeight = 4;
  a->mX = 2;
  a->mY = 3;
  for (int i = 0; i < 16; i++) memcpy(a->mPixels + i * 4, "\x11\x22\x33\x00", 4);
  Layer(group)->mHasAlpha = 1;
  InvalidateLayer(inner);
  ASSERT_EQ(DrawWindow(main_), 0);
  EXPECT_EQ(Layer(group)->mHasAlpha, 0);
  // Alpha 0 in the group does not matter: the group is drawn as an opaque layer.
  EXPECT_EQ(RootPixel(5 + 2, 5 + 3) & 0xFFFFFF, 0x332211u);
  EXPECT_EQ(RootPixel(5 + 1, 5 + 3) & 0xFFFFFF, 0u);
}

TEST_F(ComposeTest, AMaskOfAnotherSizeIsAFatalMessageAndStopsTheWindow) {
  NameNode* mask = Add("mask", 0, 0, 0, 11, 10, 0xFFFFFFFF);
  Layer(mask)->mVisible = 0;
  NameNode* ruled = Add("ruled", 1, 0, 0, 10, 10, 0xFF00FF00);
  strcpy(Layer(ruled)->mMaskName, ":W0/mask");
  Layer(ruled)->mRuleProgress = 100;
  EXPECT_EQ(DrawWindow(main_), -1);
  EXPECT_EQ(g_QuitFlag.load(), 1);
  EXPECT_NE(std::string(LastErrorDialogText()).size(), 0u);
}

TEST_F(ComposeTest, RuleLayersAtTheEndsOfTheirProgressAreSkippedOrDrawnPlain) {
  NameNode* mask = Add("mask", 0, 0, 0, 10, 10, 0xFF000000);
  Layer(mask)->mVisible = 0;
  struct Case {
    int16_t progress;
    uint32_t want;
  };
  const Case cases[] = {{0, 0u}, {256, 0xFF00FF00}};
  for (const Case& c : cases) {
    NameNode* ruled = Add(("r" + std::to_string(c.progress)).c_str(), 1, 0, 0, 10, 10, 0xFF00FF00);
    strcpy(Layer(ruled)->mMaskName, ":W0/mask");
    Layer(ruled)->mRuleProgress = c.progress;
    ASSERT_EQ(DrawWindow(main_), 0);
    EXPECT_EQ(RootPixel(3, 3) & 0xFFFFFF, c.want & 0xFFFFFF) << c.progress;
    Layer(ruled)->mVisible = 0;
    ResetDirtyRectsAll();
    InvalidateLayer(ruled);
  }
}

TEST_F(ComposeTest, HardEdgeRuleWeightsSplitAtTheProgressAndCarryTheOpacity) {
  BuildCompositorRuleWeights(64, 256, 256);
  for (int i = 0; i < 256; i++) EXPECT_EQ(g_RuleWeights[i], i < 192 ? 0 : 256) << i;
  BuildCompositorRuleWeights(64, 256, 128);
  EXPECT_EQ(g_RuleWeights[191], 0);
  EXPECT_EQ(g_RuleWeights[192], 128);
}

// All children of a target are blended in one job; each rule layer must still see its own
// weights, also when a group between them rebuilds the table for its own rule child.
TEST_F(ComposeTest, EachRuleLayerOfAFrameKeepsItsOwnWeights) {
  Add("bg", 1, 0, 0, 640, 480, 0xFF000000);
  auto ruleLayer = [&](NameNode* parent, const std::string& name, int64_t key, int x, uint8_t leftGrey, uint8_t rightGrey,
                       int16_t progress, uint32_t bgra) {
    std::string maskPath = "W0/m" + name;
    NameNode* mask = CreateNamedNode(g_LayerRoot, maskPath.c_str(), false, 0);
    LayerRecord* m = AttachNewLayerRecord(mask);
    m->mPixels = AllocImageBuffer(nullptr, 64, 32, nullptr);
    m->mWidth = 64, m->mHeight = 32, m->mVisible = 0;
    for (int y = 0; y < 32; y++)
      for (int i = 0; i < 64; i++) memset(m->mPixels + ((size_t)y * 64 + i) * 4, i < 32 ? leftGrey : rightGrey, 4);
    std::string path = parent ? "W0/g/" + name : "W0/" + name;
    NameNode* n = CreateNamedNode(g_LayerRoot, path.c_str(), false, key);
    LayerRecord* r = AttachNewLayerRecord(n);
    r->mPixels = AllocImageBuffer(nullptr, 64, 32, nullptr);
    r->mWidth = 64, r->mHeight = 32, r->mX = x, r->mY = parent ? 0 : 100;
    for (int i = 0; i < 64 * 32; i++) memcpy(r->mPixels + i * 4, &bgra, 4);
    strcpy(r->mMaskName, (":" + maskPath).c_str());
    r->mRuleProgress = progress;
    r->mEdgeSharpness = 256;
    InvalidateLayer(n);
  };
  // Progress 128 shows grey 128 and up, progress 64 grey 192 and up, progress 200 grey 56 and up.
  ruleLayer(nullptr, "a", 2, 0, 150, 60, 128, 0xFF0000FF);
  ruleLayer(nullptr, "b", 3, 100, 150, 220, 64, 0xFF00FF00);
  NameNode* group = AddLayer("g", true, 4, 64, 32, 0xFF000000);
  Layer(group)->mX = 200, Layer(group)->mY = 100;
  ruleLayer(group, "c", 1, 0, 60, 40, 200, 0xFFFF0000);
  ruleLayer(nullptr, "d", 5, 300, 100, 60, 200, 0xFFFFFFFF);
  ASSERT_EQ(DrawWindow(main_), 0);
  struct Probe {
    int x;
    uint32_t want;
  } probes[] = {{10, 0xFF}, {40, 0}, {110, 0}, {140, 0xFF00}, {210, 0xFF0000}, {240, 0}, {310, 0xFFFFFF}, {340, 0xFFFFFF}};
  for (const Probe& p : probes) EXPECT_EQ(RootPixel(p.x, 110) & 0xFFFFFF, p.want) << "x " << p.x;
}

TEST_F(ComposeTest, WorkerBandsGiveTheSamePictureAsOneThread) {
  auto scene = [&](int key) {
    Layer(Add(("x" + std::to_string(key)).c_str(), key, 3, 7, 333, 201, 0xFF336699))->mBlendMode = BLEND_SCREEN;
    Layer(Add(("y" + std::to_string(key)).c_str(), key + 1, 50, 50, 100, 301, 0x80FFEEDD))->mHasAlpha = 1;
  };
  scene(1);
  ASSERT_EQ(DrawWindow(main_), 0);
  std::vector<uint8_t> single(root_->mPixels, root_->mPixels + 640 * 480 * 4);
  g_WorkerCount = 3;
  StartWorkerThreads();
  ASSERT_EQ(RunningWorkerCount(), 3);
  memset(root_->mPixels, 0, 640 * 480 * 4);
  ResetDirtyRectsAll();
  MarkRootWhollyDirty(main_);
  ASSERT_EQ(DrawWindow(main_), 0);
  EXPECT_EQ(std::vector<uint8_t>(root_->mPixels, root_->mPixels + 640 * 480 * 4), single);
}

}  // namespace
