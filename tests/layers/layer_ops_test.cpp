// The shared layer operations: assignment operators, group-layer creation, priorities, swaps.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "tests/layers/layer_fixture.h"

namespace {

using LayerOpsTest = LayerTreeTest;

struct OpCase {
  int32_t op;
  int64_t current, operand;
  int64_t plain, clamped, atLeast;   // clamped to 0..256, at least 1
};

TEST(AssignOps, EachFormCombinesAndBoundsAsItShould) {
  const OpCase cases[] = {
      {ASSIGN_SET, 5, 300, 300, 300, 300},
      {ASSIGN_SET, 5, 0, 0, 0, 0},
      {ASSIGN_ADD, 200, 300, 500, 256, 500},
      {ASSIGN_ADD, 200, -300, -100, -100, -100},
      {ASSIGN_SUB, 5, 10, -5, 0, 1},
      {ASSIGN_SUB, 100, -300, 400, 400, 400},
      {ASSIGN_MUL, 100, 3, 300, 256, 300},
      {ASSIGN_MUL, 100, -1, -100, 0, 1},
      {ASSIGN_DIV, 100, 0, 100, 100, 100},
      {ASSIGN_DIV, -7, 2, -3, 0, 1},
      {ASSIGN_DIV, 7, 2, 3, 3, 3},
      {7, 42, 1, 42, 42, 42},
      {-1, 42, 1, 42, 42, 42},
      // Extremes: plain arithmetic wraps, the bounded forms land on their bound.
      {ASSIGN_ADD, INT64_MAX, 1, INT64_MIN, 256, INT64_MAX},
      {ASSIGN_SUB, INT64_MIN, 1, INT64_MAX, 0, 1},
      {ASSIGN_MUL, INT64_MAX, 2, -2, 256, INT64_MAX},
      {ASSIGN_DIV, INT64_MIN, -1, INT64_MIN, 256, INT64_MAX},
      {ASSIGN_ADD, 200, INT64_MAX, INT64_MIN + 199, 256, INT64_MAX},
  };
  for (const OpCase& c : cases) {
    SCOPED_TRACE("op " + std::to_string(c.op) + " " + std::to_string(c.current) + " " + std::to_string(c.operand));
    EXPECT_EQ(ApplyAssignOp(c.op, c.current, c.operand), c.plain);
    EXPECT_EQ(ApplyAssignOpClamped(c.op, c.current, c.operand, 0, 256), c.clamped);
    EXPECT_EQ(ApplyAssignOpAtLeast(c.op, c.current, c.operand, 1), c.atLeast);
  }
}

TEST_F(LayerOpsTest, PriorityChangesResortSiblingsAndSwapsWorkAcrossParents) {
  NameNode* a = AddLayer("a", false, 1);
  NameNode* b = AddLayer("b", false, 2);
  NameNode* c = AddLayer("c", false, 3);
  NameNode* g = AddLayer("g", true, 4);
  NameNode* d = AddLayer("g/d", false, 10);
  AddLayer("g/e", false, 20);
  EXPECT_EQ(SetNodePriority(a, 1), 0);
  EXPECT_EQ(SetNodePriority(a, 3), 1);
  // A new key goes before siblings with an equal key.
  EXPECT_EQ(w0_->mFirstChild, b);
  EXPECT_EQ(b->mNext, a);
  EXPECT_EQ(a->mNext, c);
  EXPECT_EQ(w0_->mChildCount, 4);
  EXPECT_EQ(SwapNodePriorities(b, d), 1);
  EXPECT_EQ(b->mOrderKey, 10);
  EXPECT_EQ(d->mOrderKey, 2);
  EXPECT_EQ(w0_->mLastChild, b);
  EXPECT_EQ(g->mFirstChild, d);
  EXPECT_EQ(SwapNodePriorities(a, c), 0);   // equal keys
}

TEST_F(LayerOpsTest, SwappingALeafWithAGroupMovesNamesButKeepsKinds) {
  NameNode* leaf = AddLayer("leaf", false, 1, 2, 2);
  NameNode* group = AddLayer("grp", true, 2, 4, 4);
  LayerRecord* rl = GetLayerRecord(leaf);
  LayerRecord* rg = GetLayerRecord(group);
  rl->mX = 7;
  rl->mOpacity = 10;
  rg->mX = 9;
  EXPECT_EQ(SwapLayers(leaf, group, 1), 0);
  EXPECT_STREQ(leaf->mName, "grp");
  EXPECT_STREQ(group->mName, "leaf");
  EXPECT_EQ(FindNodeByPath(g_LayerRoot, "W0/grp", NAME_LOOKUP_LEAF), leaf);
  EXPECT_EQ(FindNodeByPath(g_LayerRoot, "W0/leaf", NAME_LOOKUP_GROUP), group);
  EXPECT_EQ(leaf->mHash >> 31, 0u);
  EXPECT_EQ(group->mHash >> 31, 1u);
  EXPECT_EQ(GetLayerRecord(leaf), rl);
  EXPECT_EQ(rl->mX, 9);
  EXPECT_EQ(rg->mX, 7);
  EXPECT_EQ(rl->mOpacity, 10);   // mode 1 moves positions only
  SwapLayers(leaf, group, 2);
  EXPECT_EQ(rg->mOpacity, 10);
}

TEST_F(LayerOpsTest, GroupLayerCreationChecksTheCanvasBeforeTouchingTheTree) {
  LayerRecord* r = CreateImageLayer("W0/g", 3, 2, 5);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mWidth, 3);
  EXPECT_EQ(r->mHeight, 2);
  for (int i = 0; i < 24; i++) EXPECT_EQ(r->mPixels[i], 0);
  EXPECT_EQ(r->mWholeDirty, 1);
  EXPECT_EQ(r->mDirtyRect[2], 2);
  EXPECT_EQ(r->mDirtyRect[3], 1);
  int children = w0_->mChildCount;
  EXPECT_EQ(CreateImageLayer("W0/big", 8193, 1, 5), nullptr);
  EXPECT_EQ(ShownMessageId(), 100010);
  EXPECT_EQ(w0_->mChildCount, children);
  ResetMessageState();
  EXPECT_EQ(CreateImageLayer(nullptr, 1, 1, 5), nullptr);
  EXPECT_EQ(ShownMessageId(), 900020);
  ResetMessageState();
  EXPECT_EQ(CreateImageLayer("W0/nothere/x", 1, 1, 5), nullptr);
  EXPECT_EQ(ShownMessageId(), 100230);
}

}  // namespace
