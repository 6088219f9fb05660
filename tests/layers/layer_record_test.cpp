// Layer records and image buffers: allocation limits and resizing, the blank image, the
// transparent-pixel normalisation, sharing and release, dirty marking and pending state.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/memory_budget.h"
#include "platform/headless/headless.h"
#include "tests/layers/layer_fixture.h"

namespace {

using LayerRecordTest = LayerTreeTest;

bool BoxShown(const std::string& text) {
  for (const std::string& line : HeadlessCalls())
    if (line.find("ChoiceBox") == 0 && line.find(text) != std::string::npos) return true;
  return false;
}

TEST_F(LayerRecordTest, ImageSizesOutsideTheLimitsAreRefusedWithTheirMessages) {
  struct Case {
    int32_t width, height;
    bool ok;
    bool sizeBox;
  };
  // Only the width has a limit of its own; empty and tall, narrow canvases are allocated, and
  // what no buffer can hold is refused as running out of memory.
  const Case cases[] = {
      {8192, 1, true, false},          {1, 8192, true, false},      {1, 1, true, false},
      {0, 0, true, false},             {0, 5, true, false},         {10, 9000, true, false},
      {8193, 1, false, true},          {8192, 8193, false, false},  {0, INT32_MAX, false, false},
      {5, -1, false, false},           {INT32_MIN, 1, false, false}, {-1, -1, false, false},
  };
  for (const Case& c : cases) {
    ResetMessageState();
    HeadlessClearCalls();
    g_QuitFlag = 0;
    ImageBuffer* b = AllocImageBuffer(nullptr, c.width, c.height, nullptr);
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    EXPECT_EQ(b != nullptr, c.ok);
    EXPECT_EQ(g_QuitFlag.load(), c.ok ? 0 : 1);
    EXPECT_EQ(ShownMessageId(), c.ok ? 0 : 100010);
    std::string box = "ＣＧサイズが大きすぎます。X=" + std::to_string(c.width) + ", Y=" + std::to_string(c.height);
    EXPECT_EQ(BoxShown(box), c.sizeBox);
    if (b) {
      // The spare row and pixel behind the image belong to the buffer.
      memset(b, 0xAB, size_t(c.width) * 4 * (size_t(c.height) + 1) + 4);
      FreeImageBuffer(b);
    }
  }
}

TEST_F(LayerRecordTest, ResizingKeepsTheLeadingBytesAndARefusalKeepsTheOldBuffer) {
  ImageBuffer* b = AllocImageBuffer(nullptr, 2, 2, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  for (int i = 0; i < 16; i++) b[i] = uint8_t(i + 1);
  ImageBuffer* grown = AllocImageBuffer(b, 64, 64, nullptr);
  ASSERT_NE(grown, nullptr);
  for (int i = 0; i < 16; i++) EXPECT_EQ(grown[i], i + 1);
  ImageBuffer* refused = AllocImageBuffer(grown, 9000, 1, nullptr);
  EXPECT_EQ(refused, nullptr);
  for (int i = 0; i < 16; i++) EXPECT_EQ(grown[i], i + 1);
  ImageBuffer* shrunk = AllocImageBuffer(grown, 1, 1, nullptr);
  ASSERT_NE(shrunk, nullptr);
  for (int i = 0; i < 4; i++) EXPECT_EQ(shrunk[i], i + 1);
  FreeImageBuffer(shrunk);
}

// Images of the largest size one after another: beside what the fixture holds, three or four
// fit within a gigabyte and the next is refused as running out of memory; every freed image
// makes room again.
TEST_F(LayerRecordTest, LiveImagesTogetherStayWithinAGigabyte) {
  for (int round = 0; round < 1; round++) {
    SCOPED_TRACE(round);
    ResetMessageState();
    std::vector<ImageBuffer*> held;
    while (held.size() < 8) {
      ImageBuffer* b = AllocImageBuffer(nullptr, 8192, 8192, nullptr);
      if (!b) break;
      held.push_back(b);
    }
    EXPECT_GE(held.size(), 3u);
    EXPECT_LE(held.size(), 4u);
    EXPECT_EQ(ShownMessageId(), 100010);
    // A small image grown to the full size needs room for both at once.
    ImageBuffer* small = AllocImageBuffer(nullptr, 64, 64, nullptr);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(AllocImageBuffer(small, 8192, 8192, nullptr), nullptr);
    FreeImageBuffer(held.back());
    held.back() = AllocImageBuffer(small, 8192, 8192, nullptr);
    EXPECT_NE(held.back(), nullptr);
    for (ImageBuffer* b : held) FreeImageBuffer(b);
  }
}

// Images count with everything else scripts hold: with less left of the whole budget than of the
// images' own gigabyte, the budget refuses the next image, and a freed image gives its bytes back.
TEST_F(LayerRecordTest, ImagesCountAgainstTheScriptMemoryBudget) {
  uint64_t before = ScriptMemoryInUse();
  SetScriptMemoryBudget(before + (uint64_t(40) << 20));
  ResetMessageState();
  std::vector<ImageBuffer*> held;
  while (held.size() < 20) {
    ImageBuffer* b = AllocImageBuffer(nullptr, 2048, 2048, nullptr);   // 16 MB and a row
    if (!b) break;
    held.push_back(b);
  }
  EXPECT_EQ(held.size(), 2u);
  EXPECT_EQ(ShownMessageId(), 100010);
  EXPECT_GE(ScriptMemoryInUse(), before + (uint64_t(32) << 20));
  for (ImageBuffer* b : held) FreeImageBuffer(b);
  EXPECT_EQ(ScriptMemoryInUse(), before);
  SetScriptMemoryBudget(0);
}

TEST_F(LayerRecordTest, BlankImageIsOneTransparentGreyPixelAndNotesTheLoadTime) {
  NameNode* n = AddLayer("a", false, 1, 3, 3);
  LayerRecord* r = GetLayerRecord(n);
  r->mHasAlpha = 1;
  HeadlessSetTicks(12345);
  ASSERT_EQ(SetBlankImage(r, "x.png"), 0);
  EXPECT_EQ(r->mWidth, 1);
  EXPECT_EQ(r->mHeight, 1);
  EXPECT_EQ(r->mHasAlpha, 0);
  EXPECT_EQ(PixelAt(n, 0, 0), 0x00808080u);
  EXPECT_EQ(g_LastImageLoadTime, 12345u);
}

TEST_F(LayerRecordTest, OnlyFullyTransparentPixelsBecomeTransparentGrey) {
  const uint32_t in[] = {0x00FFFFFF, 0x01000000, 0x00000000, 0xFF123456, 0x00ABCDEF, 0x80808080};
  const uint32_t out[] = {0x00808080, 0x01000000, 0x00808080, 0xFF123456, 0x00808080, 0x80808080};
  NameNode* n = AddLayer("a", false, 1, 3, 2);
  for (int i = 0; i < 6; i++) SetPixel(n, i % 3, i / 3, in[i]);
  FillTransparentPixels(GetLayerRecord(n));
  for (int i = 0; i < 6; i++) EXPECT_EQ(PixelAt(n, i % 3, i / 3), out[i]) << i;
  LayerRecord empty{};
  FillTransparentPixels(&empty);
}

TEST_F(LayerRecordTest, SharedRecordOutlivesOneHolderAndDiesWithTheLast) {
  NameNode* a = AddLayer("a", false, 1, 4, 4);
  NameNode* b = CreateNamedNode(g_LayerRoot, "W0/b", false, 2);
  ASSERT_EQ(ShareLayerRecord(b, GetLayerRecord(a)), GetLayerRecord(a));
  LayerRecord* shared = GetLayerRecord(a);
  EXPECT_EQ(shared->mRefCount, 2);
  SetPixel(a, 3, 3, 0xFF010203);
  CopyTextBounded(shared->mMaskName, LAYER_NAME_BYTES, "mask");
  FreeLayerNode(a);
  EXPECT_EQ(w0_->mChildCount, 1);
  EXPECT_EQ(w0_->mFirstChild, b);
  EXPECT_EQ(GetLayerRecord(b), shared);
  EXPECT_EQ(shared->mRefCount, 1);
  EXPECT_EQ(PixelAt(b, 3, 3), 0xFF010203u);
  EXPECT_STREQ(shared->mMaskName, "mask");
  FreeLayerNode(b);   // the sanitizer's leak check covers the record, its names and pixels
  EXPECT_EQ(w0_->mChildCount, 0);
}

TEST_F(LayerRecordTest, FreeingAGroupFreesItsWholeSubtree) {
  NameNode* g = AddLayer("g", true, 1, 8, 8);
  AddLayer("g/a", false, 1, 2, 2);
  NameNode* inner = AddLayer("g/h", true, 2, 2, 2);
  AddLayer("g/h/b", false, 1, 2, 2);
  NameNode* shared = CreateNamedNode(g_LayerRoot, "W0/keep", false, 5);
  ShareLayerRecord(shared, GetLayerRecord(inner->mFirstChild));
  FreeLayerSubtree(g);
  EXPECT_EQ(w0_->mChildCount, 1);
  EXPECT_EQ(GetLayerRecord(shared)->mRefCount, 1);
  EXPECT_NE(GetLayerRecord(shared)->mPixels, nullptr);
}

TEST_F(LayerRecordTest, FreedNodeLeavesNoWindowRootOrOffscreenReference) {
  NameNode* a = AddLayer("a", true, 1, 2, 2);
  NameNode* b = CreateNamedNode(g_LayerRoot, "W0/b", true, 2);
  ShareLayerRecord(b, GetLayerRecord(a));
  WindowRecord second{};
  g_WindowRecords[1] = &second;
  second.mRootLayer = a;
  window_.mRootLayer = b;
  GetLayerRecord(a)->mIsWindowRoot = 1;
  g_OffscreenLayerNode = a;
  FreeLayerNode(a);
  EXPECT_EQ(second.mRootLayer, nullptr);
  EXPECT_EQ(window_.mRootLayer, b);
  EXPECT_EQ(GetLayerRecord(b)->mIsWindowRoot, 1);   // window 0 still shows the record
  EXPECT_EQ(g_OffscreenLayerNode, nullptr);
  FreeLayerNode(b);
  EXPECT_EQ(window_.mRootLayer, nullptr);
  g_WindowRecords[1] = nullptr;
}

TEST_F(LayerRecordTest, PendingStateAppliesTheLastValueAndMarksOnlyChanges) {
  NameNode* g = AddLayer("g", true, 1, 100, 100);
  NameNode* a = AddLayer("g/a", false, 1, 10, 10);
  LayerRecord* ra = GetLayerRecord(a);
  LayerRecord* rg = GetLayerRecord(g);
  ra->mX = 20;
  ra->mY = 30;
  ra->mPendingOpacity = 100;
  ra->mPendingOpacity = 256;   // the same as shown: no change
  ra->mPendingOpacitySet = 1;
  ApplyPendingLayerStateAll();
  EXPECT_EQ(ra->mOpacity, 256);
  EXPECT_EQ(ra->mPendingOpacitySet, 0);
  EXPECT_EQ(rg->mDirtyCount, 0);
  EXPECT_EQ(g_GpuRedrawRequest, 0);

  ra->mPendingVisible = 0;
  ra->mPendingVisibleSet = 1;
  ra->mPendingOpacity = 40;
  ra->mPendingOpacitySet = 1;
  ApplyPendingLayerStateAll();
  EXPECT_EQ(ra->mVisible, 0);
  EXPECT_EQ(ra->mOpacity, 40);
  EXPECT_EQ(g_GpuRedrawRequest, 1);
  EXPECT_EQ(rg->mDirtyCount, 1);
  EXPECT_EQ(rg->mDirtyValid, 1);
  const int64_t expected[4] = {20, 30, 29, 39};
  for (int i = 0; i < 4; i++) EXPECT_EQ(rg->mDirtyRect[i], expected[i]) << i;
  g_GpuRedrawRequest = 0;
}

TEST_F(LayerRecordTest, WholeChainMarkingWidensEveryAncestor) {
  NameNode* g = AddLayer("g", true, 1, 50, 40);
  LayerRecord* rg = GetLayerRecord(g);
  rg->mX = 5;
  rg->mY = 6;
  LayerRecord* r0 = GetLayerRecord(w0_);
  r0->mDirtyCount = 0;
  MarkLayerDirty(g);
  EXPECT_EQ(rg->mDirtyCount, 1);
  EXPECT_EQ(rg->mDirtyRect[2], 54);
  EXPECT_EQ(rg->mDirtyRect[3], 45);
  EXPECT_EQ(r0->mChanged, 1);
  EXPECT_EQ(r0->mDirtyRect[2], 639);
  EXPECT_EQ(r0->mDirtyRect[3], 479);
  EXPECT_EQ(GetLayerRecord(g_LayerRoot)->mDirtyValid, 1);
}

}  // namespace
