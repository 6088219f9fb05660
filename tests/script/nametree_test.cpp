// Named-object trees: path normalisation, lookup by kind, sorted insertion, unlinking, the
// name hash and the menu tree's root.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "script/nametree.h"
#include "tests/support/engine_fixture.h"

namespace {

class NameTreeTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    root_ = AllocTreeRoot();
    ASSERT_NE(root_, nullptr);
  }
  void TearDown() override {
    FreeTree(root_);
    HeadlessTest::TearDown();
  }
  static void FreeTree(NameNode* node) {
    for (NameNode* c = node->mFirstChild; c;) {
      NameNode* next = c->mNext;
      FreeTree(c);
      c = next;
    }
    FreeNodeShell(node);
  }
  NameNode* Add(const char* path, bool group, int64_t key) {
    NameNode* n = CreateTreeNode(root_, path, group, key);
    EXPECT_NE(n, nullptr) << path;
    return n;
  }
  std::vector<int64_t> Keys(NameNode* parent) {
    std::vector<int64_t> keys;
    for (NameNode* c = parent->mFirstChild; c; c = c->mNext) keys.push_back(c->mOrderKey);
    return keys;
  }
  // Walks the sibling list both ways and checks it against the parent's fields.
  static void ExpectConsistent(NameNode* parent) {
    int count = 0;
    NameNode* prev = nullptr;
    for (NameNode* c = parent->mFirstChild; c; c = c->mNext) {
      EXPECT_EQ(c->mPrev, prev);
      EXPECT_EQ(c->mParent, parent);
      if (prev) {
        EXPECT_LE(prev->mOrderKey, c->mOrderKey);
      }
      prev = c;
      count++;
    }
    EXPECT_EQ(parent->mLastChild, prev);
    EXPECT_EQ(parent->mChildCount, count);
  }
  NameNode* root_ = nullptr;
};

}  // namespace

TEST(NameHash, MatchesTheMurmurHash2VerificationValue) {
  // Hash keys {0}, {0,1}, ... of lengths 0..255 with seed 256 - length, then hash the
  // little-endian concatenation of those hashes with seed 0.
  uint8_t key[256];
  uint8_t hashes[256 * 4];
  for (int i = 0; i < 256; i++) {
    key[i] = (uint8_t)i;
    uint32_t h = MurmurHash2(key, (size_t)i, 256u - (uint32_t)i);
    for (int b = 0; b < 4; b++) hashes[i * 4 + b] = (uint8_t)(h >> (8 * b));
  }
  EXPECT_EQ(MurmurHash2(hashes, sizeof hashes, 0), 0x27864C1Eu);
}

TEST(NameHash, IsSeedZeroAndReadsHighTailBytesUnsigned) {
  const char name[] = "\x83\x41\xE0";   // a tail of three bytes, two of them above 0x7F
  EXPECT_EQ(NameHash(name, 3), MurmurHash2(name, 3, 0));
  // The same tail read as signed bytes would set the high bits through sign extension.
  uint32_t m = 0x5BD1E995, h = 3;
  h ^= 0xE0u << 16;
  h ^= 0x41u << 8;
  h ^= 0x83u;
  h *= m;
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  EXPECT_EQ(NameHash(name, 3), h);
}

TEST_F(NameTreeTest, NormalizeObjectPathCases) {
  struct Case {
    const char* name;
    const char* folder;
    int32_t result;
    const char* out;
  } cases[] = {
      {"a", "W0", 0, "W0/a"},
      {"a/", "W0", 1, "W0/a"},
      {":a", "W0", 0, "a"},
      {":/a", "W0", 0, "a"},
      {"/a", "W0", 0, "W0/a"},
      {"a", "", 0, "a"},
      {"x/./y", "F", 0, "F/x/y"},
      {"x/y/../z", "F", 0, "F/x/z"},
      {"x/../", "", 0, ""},
      {"../a", "W0", 0, "a"},
      {"../", "", 0, ""},
      {"a//b/../c", "", 0, "a//c"},
      {"a/b//../c", "", 0, "a/c"},
      {"x/.", "F", 0, "F/x/."},
      {"x/..", "F", 0, "F/x/.."},
      {"a b", "F", 0, "F/a b"},
      {"a b/c", "F", 0, "F/a b/c"},
      {"x/a b", "F", 0, "F/x/a b"},   // spaces allowed in this table
      // 0x83 0x41 is one character; its trail byte is no separator.
      {"\x83\x41/b", "F", 0, "F/\x83\x41/b"},
      {"g/", "", 1, "g"},
  };
  for (const Case& c : cases) {
    char out[OBJECT_PATH_BYTES] = "junk";
    EXPECT_EQ(NormalizeObjectPath(out, c.name, c.folder, true), c.result) << c.name;
    EXPECT_STREQ(out, c.out) << c.name << " in " << c.folder;
  }
}

TEST_F(NameTreeTest, SpaceInAComponentIsRefusedWhenNotAllowed) {
  char out[OBJECT_PATH_BYTES];
  EXPECT_EQ(NormalizeObjectPath(out, "x/a b", "F", false), -1);
  EXPECT_EQ(g_QuitFlag.load(), 1);
  EXPECT_STRNE(LastErrorDialogText(), "");
  // Without a special character no check is made.
  ResetMessageState();
  g_QuitFlag = 0;
  EXPECT_EQ(NormalizeObjectPath(out, "a b", "F", false), 0);
  EXPECT_STREQ(out, "F/a b");
  EXPECT_EQ(g_QuitFlag.load(), 0);
}

TEST_F(NameTreeTest, OverlongAndBrokenInputStaysInsideTheBuffer) {
  std::string longName(600, 'n');
  std::string longPath = "d/" + std::string(600, 'p');
  std::string folder(OBJECT_PATH_BYTES - 1, 'f');
  char out[OBJECT_PATH_BYTES];
  EXPECT_EQ(NormalizeObjectPath(out, longName.c_str(), folder.c_str(), true), 0);
  EXPECT_LT(strlen(out), (size_t)OBJECT_PATH_BYTES);
  EXPECT_EQ(NormalizeObjectPath(out, longPath.c_str(), "W0", true), 0);
  EXPECT_LT(strlen(out), (size_t)OBJECT_PATH_BYTES);
  // A lead byte right before the terminator must not carry the walk past it.
  EXPECT_EQ(NormalizeObjectPath(out, "a/\x83", "", true), 0);
  EXPECT_STREQ(out, "a/\x83");
  EXPECT_EQ(FindNodeByPath(root_, "\x83", NAME_LOOKUP_ANY), nullptr);
}

TEST_F(NameTreeTest, EqualKeysGoBeforeEarlierSiblings) {
  NameNode* first5 = Add("a", false, 5);
  Add("b", false, 1);
  NameNode* second5 = Add("c", false, 5);
  Add("d", false, 3);
  EXPECT_EQ(Keys(root_), (std::vector<int64_t>{1, 3, 5, 5}));
  EXPECT_EQ(GetNthChild(root_, 3), second5);
  EXPECT_EQ(GetNthChild(root_, 4), first5);
  ExpectConsistent(root_);
  // Keys compare as signed 64-bit values.
  Add("e", false, INT64_MIN);
  Add("f", false, (int64_t)1 << 40);
  EXPECT_EQ(Keys(root_), (std::vector<int64_t>{INT64_MIN, 1, 3, 5, 5, (int64_t)1 << 40}));
  ExpectConsistent(root_);
}

TEST_F(NameTreeTest, GetNthChildCountsFromOne) {
  NameNode* a = Add("a", false, 1);
  NameNode* b = Add("b", false, 2);
  struct Case {
    int32_t n;
    NameNode* expected;
  } cases[] = {{-5, a}, {0, a}, {1, a}, {2, b}, {3, nullptr}};
  for (const Case& c : cases) EXPECT_EQ(GetNthChild(root_, c.n), c.expected) << c.n;
}

TEST_F(NameTreeTest, LookupModeChoosesBetweenAGroupAndALeafOfOneName) {
  NameNode* group = Add("b", true, 1);
  NameNode* leaf = Add("b", false, 2);
  EXPECT_EQ(FindNodeByPath(root_, "b", NAME_LOOKUP_LEAF), leaf);
  EXPECT_EQ(FindNodeByPath(root_, "b", NAME_LOOKUP_GROUP), group);
  EXPECT_EQ(FindNodeByPath(root_, "b", NAME_LOOKUP_ANY), group);
  EXPECT_EQ(FindNodeByPath(root_, "b", 7), group);
  EXPECT_EQ(group->mHash >> 31, 1u);
  EXPECT_EQ(leaf->mHash >> 31, 0u);
  EXPECT_EQ(group->mHash & 0x7FFFFFFF, leaf->mHash);
  // Names compare byte for byte.
  EXPECT_EQ(FindNodeByPath(root_, "B", NAME_LOOKUP_ANY), nullptr);
}

TEST_F(NameTreeTest, PathsDescendThroughGroupsOnly) {
  NameNode* w0 = Add("W0", true, 0);
  NameNode* bg = Add("W0/bg", true, 3);
  NameNode* leaf = Add("W0/bg/sky", false, 1);
  Add("W0/plain", false, 2);
  EXPECT_EQ(bg->mParent, w0);
  EXPECT_EQ(leaf->mParent, bg);
  EXPECT_STREQ(leaf->mName, "sky");
  EXPECT_EQ(leaf->mNameLength, 3);
  EXPECT_EQ(FindNodeByPath(root_, "W0/bg/sky", NAME_LOOKUP_LEAF), leaf);
  EXPECT_EQ(FindParentNode("W0/bg/sky", root_), bg);
  EXPECT_EQ(FindParentNode("top", root_), root_);
  EXPECT_EQ(g_QuitFlag.load(), 0);

  // A missing last component is the caller's business; a missing group is an error.
  EXPECT_EQ(FindNodeByPath(root_, "W0/bg/none", NAME_LOOKUP_ANY), nullptr);
  EXPECT_EQ(g_QuitFlag.load(), 0);
  EXPECT_EQ(FindNodeByPath(root_, "W0/plain/x", NAME_LOOKUP_ANY), nullptr);
  EXPECT_EQ(g_QuitFlag.load(), 1);
  ResetMessageState();
  g_QuitFlag = 0;
  EXPECT_EQ(CreateTreeNode(root_, "W0/none/x", false, 0), nullptr);
  EXPECT_EQ(g_QuitFlag.load(), 1);
}

TEST_F(NameTreeTest, UnlinkKeepsTheListWhole) {
  for (const char* which : {"first", "middle", "last", "only"}) {
    NameNode* parent = Add(which, true, 0);
    std::string base = std::string(which) + "/";
    NameNode* a = Add((base + "a").c_str(), false, 1);
    NameNode* b = std::string(which) == "only" ? nullptr : Add((base + "b").c_str(), false, 2);
    NameNode* c = b ? Add((base + "c").c_str(), false, 3) : nullptr;
    NameNode* gone = std::string(which) == "first" ? a
                     : std::string(which) == "middle" ? b
                     : std::string(which) == "last"   ? c
                                                      : a;
    UnlinkNode(gone);
    ExpectConsistent(parent);
    for (NameNode* n = parent->mFirstChild; n; n = n->mNext) EXPECT_NE(n, gone) << which;
    FreeNodeShell(gone);
  }
  UnlinkNode(nullptr);
  UnlinkNode(root_);   // a root has no parent list to leave
}

// Between the steps of a walk, children are linked (keys from a small range, so many are
// equal), unlinked (the walk's own child among them) and moved; at every step the walk stands
// on the child that GetNthChild finds at its position, and two nested walks over the same
// parent both keep their places.
TEST_F(NameTreeTest, AChildWalkStandsWhereGetNthChildLooks) {
  std::mt19937 random(7);
  std::vector<NameNode*> unlinked;
  int made = 0;
  auto mutate = [&]() {
    int what = (int)(random() % 6);
    if (what < 2 || root_->mChildCount < 2) {
      Add(("n" + std::to_string(made++)).c_str(), false, (int64_t)(random() % 4));
    } else if (what < 4) {
      NameNode* victim = GetNthChild(root_, 1 + (int32_t)(random() % (uint32_t)root_->mChildCount));
      UnlinkNode(victim);
      victim->mPrev = victim->mNext = nullptr;
      victim->mParent = nullptr;
      unlinked.push_back(victim);
    } else {
      NameNode* moved = GetNthChild(root_, 1 + (int32_t)(random() % (uint32_t)root_->mChildCount));
      UnlinkNode(moved);
      moved->mPrev = moved->mNext = nullptr;
      InsertChildByPriority(root_, moved, (int64_t)(random() % 4));
    }
  };
  auto stands = [&](const ChildWalk& w) {
    return w.mAt == (w.mIndex <= root_->mChildCount ? GetNthChild(root_, w.mIndex) : nullptr);
  };
  for (int round = 0; round < 40; round++) {
    for (int k = 0; k < 12; k++) Add(("n" + std::to_string(made++)).c_str(), false, (int64_t)(random() % 4));
    ChildWalk outer;
    int steps = 0;
    for (OpenChildWalk(&outer, root_); outer.mIndex >= 1; StepChildWalk(&outer), steps++) {
      ASSERT_TRUE(stands(outer)) << round << " " << outer.mIndex;
      int changes = (int)(random() % 4);
      for (int c = 0; c < changes; c++) mutate();
      ASSERT_TRUE(stands(outer)) << round << " " << outer.mIndex;
      if (steps % 5 == 0) {
        ChildWalk inner;
        for (OpenChildWalk(&inner, root_); inner.mIndex >= 1; StepChildWalk(&inner)) {
          ASSERT_TRUE(stands(inner));
          if (random() % 3 == 0) mutate();
          ASSERT_TRUE(stands(inner));
          ASSERT_TRUE(stands(outer));
        }
        CloseChildWalk(&inner);
      }
    }
    CloseChildWalk(&outer);
  }
  for (NameNode* n : unlinked) FreeNodeShell(n);
}

TEST(MenuTreeRoot, HoldsTheM0FolderWithAFreshRecord) {
  ASSERT_EQ(CreateMenuTreeRoot(), 0);
  EXPECT_STREQ(g_MenuFolder, "M0");
  NameNode* m0 = FindNodeByPath(g_MenuRoot, g_MenuFolder, NAME_LOOKUP_GROUP);
  ASSERT_NE(m0, nullptr);
  EXPECT_EQ(m0->mOrderKey, 0);
  auto* item = static_cast<MenuItemRecord*>(m0->mPayload);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->mVisible, 1);
  EXPECT_EQ(item->mEnabled, 256);
  EXPECT_EQ(item->mChecked, 0);
  EXPECT_EQ(item->mId, 0);
  EXPECT_STREQ(item->mCaption, "");
  // A second start-up pass finds the folder instead of adding another.
  ASSERT_EQ(CreateMenuTreeRoot(), 0);
  EXPECT_EQ(g_MenuRoot->mChildCount, 1);
}

TEST(AttachMenuItemRecord, CopiesTheCaptionWithinItsBuffer) {
  EXPECT_EQ(AttachMenuItemRecord(nullptr, "x"), nullptr);
  NameNode node{};
  std::string longCaption(400, 'c');
  MenuItemRecord* item = AttachMenuItemRecord(&node, longCaption.c_str());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(node.mPayload, item);
  EXPECT_EQ(strlen(item->mCaption), (size_t)MENU_CAPTION_BYTES - 1);
  free(item->mCaption);
  free(item);
}
