// Named-object trees: the node record, path normalisation, lookup, sorted insertion and the
// name hash. Layers, menu items, script tasks and sounds each live in one such tree.
#pragma once

#include <cstddef>
#include <cstdint>

struct NameNode {
  NameNode* mFirstChild;
  NameNode* mLastChild;
  NameNode* mPrev;
  NameNode* mNext;
  NameNode* mParent;
  char* mName;            // mNameLength + 1 bytes, owned by the node
  int32_t mNameLength;
  uint32_t mHash;         // bits 0-30 name hash, bit 31 set for a group
  int32_t mChildCount;
  int64_t mOrderKey;
  uint8_t mIsGroup;
  void* mPayload;         // LayerRecord, ScriptTask, SoundRecord or MenuItemRecord
  // When the node was last linked: a new node goes before every sibling of its key, so
  // siblings of one key stand in descending order of this stamp.
  uint64_t mLinkStamp;
};

// Payload of a menu-tree node. The caption buffer (MENU_CAPTION_BYTES) is owned by the record;
// an empty caption makes a separator.
constexpr int MENU_CAPTION_BYTES = 261;
struct MenuItemRecord {
  char* mCaption;
  uint8_t mVisible;       // 0 leaves the item out of built menus
  int16_t mEnabled;       // 0 greys the item out
  uint8_t mChecked;
  int64_t mId;            // low 32 bits: the item id a chosen item reports
};

enum : uint8_t { NAME_LOOKUP_LEAF = 0, NAME_LOOKUP_GROUP = 1, NAME_LOOKUP_ANY = 2 };
constexpr int OBJECT_PATH_BYTES = 256;   // path buffers and current folders

// The four trees and their current folders (256-byte texts).
extern NameNode* g_LayerRoot;
extern NameNode* g_MenuRoot;
extern NameNode* g_TaskRoot;
extern NameNode* g_SoundRoot;
extern char g_LayerFolder[OBJECT_PATH_BYTES];
extern char g_MenuFolder[OBJECT_PATH_BYTES];
extern char g_TaskFolder[OBJECT_PATH_BYTES];
extern char g_SoundFolder[OBJECT_PATH_BYTES];

// MurmurHash2, 32 bits, seed 0 (the initial value is the length); tail bytes unsigned.
uint32_t NameHash(const void* data, size_t length);

// `out` holds OBJECT_PATH_BYTES. 0 leaf, 1 group (name ended in '/'), -1 error (reported).
int32_t NormalizeObjectPath(char* out, const char* name, const char* folder, bool spacesAllowed);
NameNode* FindNodeByPath(NameNode* start, const char* path, uint8_t mode);
NameNode* FindParentNode(const char* path, NameNode* start);
NameNode* FindGroupChild(NameNode* node, const char* name, int32_t length);
NameNode* InsertChildByPriority(NameNode* parent, NameNode* node, int64_t key);
void UnlinkNode(NameNode* node);
NameNode* GetNthChild(NameNode* node, int32_t n);

// A walk over a node's children by position, from the last to the first: each step visits
// the child that is at that position at that moment, exactly as GetNthChild would find it,
// while children are linked and unlinked between the steps. Links and unlinks under the
// parent keep every open walk on its position, so a step costs the same however many
// children there are. Walks nest; each must be closed, innermost first.
struct ChildWalk {
  NameNode* mParent;
  NameNode* mAt;        // the child now at position mIndex, null when there are fewer children
  int32_t mIndex;       // from the child count at the start down to 1
  ChildWalk* mOuter;
};
// Starts at position mChildCount (the last child).
void OpenChildWalk(ChildWalk* walk, NameNode* parent);
// Moves to the position before.
void StepChildWalk(ChildWalk* walk);
void CloseChildWalk(ChildWalk* walk);

// Allocates a zero-filled node named after the last component of `path`, hashed, with the
// group flag and key, linked under FindParentNode's node. Null after a message.
NameNode* CreateTreeNode(NameNode* root, const char* path, bool group, int64_t key);
// Creates the node's MenuItemRecord (visible, enabled 256, caption copied and cut to 260
// bytes) and stores it in mPayload. Null for a null node, or after message 100010.
MenuItemRecord* AttachMenuItemRecord(NameNode* node, const char* caption);
// A nameless group root with no payload; null after message 100010.
NameNode* AllocTreeRoot();
// Frees a node's name and the node itself (not its payload, not its children).
void FreeNodeShell(NameNode* node);
