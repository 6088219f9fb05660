// Named-object trees: path normalisation, lookup, sorted insertion, unlinking, node creation
// and the menu tree's root.
#include "script/nametree.h"

#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"

NameNode* g_LayerRoot;
NameNode* g_MenuRoot;
NameNode* g_TaskRoot;
NameNode* g_SoundRoot;
char g_LayerFolder[OBJECT_PATH_BYTES];
char g_MenuFolder[OBJECT_PATH_BYTES];
char g_TaskFolder[OBJECT_PATH_BYTES];
char g_SoundFolder[OBJECT_PATH_BYTES];

namespace {

constexpr uint32_t GROUP_BIT = 0x80000000u;
constexpr uint32_t HASH_MASK = 0x7FFFFFFFu;

bool IsPathSpecial(char c) { return c == '.' || c == ':' || c == '/'; }

// Length of the character at `p`; a lead byte before the terminator counts as one byte so
// that no walk steps past the end of the text.
size_t CharLength(const char* p) {
  if (g_LeadByteTable[(uint8_t)*p] && p[1] != 0) return 2;
  return 1;
}

// Offset of the next '/' at or after `p`, or of the terminator, stepping over double-byte
// characters whole.
size_t ComponentLength(const char* p) {
  size_t n = 0;
  while (p[n] != 0 && p[n] != '/') n += CharLength(p + n);
  return n;
}

// Appends `src` (n bytes) to `out` (length *used) within `capacity` bytes with the terminator;
// what does not fit is cut on a character boundary.
void AppendBounded(char* out, size_t* used, size_t capacity, const char* src, size_t n) {
  size_t i = 0;
  while (i < n && src[i] != 0) {
    size_t c = CharLength(src + i);
    if (*used + c + 1 > capacity) break;
    memcpy(out + *used, src + i, c);
    *used += c;
    i += c;
  }
  out[*used] = 0;
}

// Walks the group components of `path` (those followed by '/') from `start`. Returns the
// node reached and sets *last to the last component; null after message 100230.
NameNode* DescendGroups(NameNode* start, const char* path, const char** last) {
  NameNode* node = start;
  const char* p = path;
  for (;;) {
    size_t n = ComponentLength(p);
    if (p[n] != '/') break;
    NameNode* child = FindGroupChild(node, p, (int32_t)n);
    if (!child) {
      char component[OBJECT_PATH_BYTES];
      size_t used = 0;
      AppendBounded(component, &used, sizeof component, p, n);
      // A game's text for this message may hold a second %s: it gets an empty one, never a
      // read past the arguments.
      ReportScriptErrorF(100230, 1, component, "");
      return nullptr;
    }
    node = child;
    p += n + 1;
  }
  *last = p;
  return node;
}

}  // namespace

uint32_t NameHash(const void* data, size_t length) { return MurmurHash2(data, length, 0); }

int32_t NormalizeObjectPath(char* out, const char* name, const char* folder, bool spacesAllowed) {
  bool special = false;
  for (const char* p = name; *p != 0; p += CharLength(p)) {
    if (IsPathSpecial(*p)) {
      special = true;
      break;
    }
  }
  size_t used = 0;
  out[0] = 0;
  if (!special) {
    // A plain name only joins the folder; long input is cut rather than overrunning.
    if (folder[0] != 0) {
      AppendBounded(out, &used, OBJECT_PATH_BYTES, folder, strlen(folder));
      AppendBounded(out, &used, OBJECT_PATH_BYTES, "/", 1);
    }
    AppendBounded(out, &used, OBJECT_PATH_BYTES, name, strlen(name));
    return 0;
  }

  char joined[OBJECT_PATH_BYTES];
  size_t joinedLength = 0;
  joined[0] = 0;
  if (name[0] == ':') {
    const char* rest = name + 1;
    if (*rest == '/') rest++;
    AppendBounded(joined, &joinedLength, sizeof joined, rest, strlen(rest));
  } else {
    if (folder[0] != 0) {
      AppendBounded(joined, &joinedLength, sizeof joined, folder, strlen(folder));
      AppendBounded(joined, &joinedLength, sizeof joined, "/", 1);
    }
    const char* rest = name[0] == '/' ? name + 1 : name;
    AppendBounded(joined, &joinedLength, sizeof joined, rest, strlen(rest));
  }
  if (joinedLength == 0) return 0;

  const char* p = joined;
  while (*p != 0) {
    if (*p == '/') {
      size_t run = 0;
      while (p[run] == '/') run++;
      AppendBounded(out, &used, OBJECT_PATH_BYTES, p, run);
      p += run;
      continue;
    }
    size_t n = ComponentLength(p);
    bool slash = p[n] == '/';
    if (!spacesAllowed && memchr(p, ' ', n) != nullptr) {
      ReportScriptErrorF(100242, 1, joined);
      return -1;
    }
    if (slash && n == 1 && p[0] == '.') {
      p += 2;
      continue;
    }
    if (slash && n == 2 && p[0] == '.' && p[1] == '.') {
      // Back out of the last component: its trailing run of '/', then its name, leaving the
      // output ending in '/' or empty. Trail bytes never equal '/', so a backward scan is safe.
      while (used > 0 && out[used - 1] == '/') used--;
      while (used > 0 && out[used - 1] != '/') used--;
      out[used] = 0;
      p += 3;
      continue;
    }
    AppendBounded(out, &used, OBJECT_PATH_BYTES, p, n + (slash ? 1 : 0));
    p += n + (slash ? 1 : 0);
  }
  if (used > 0 && out[used - 1] == '/') {
    out[used - 1] = 0;
    return 1;
  }
  return 0;
}

NameNode* FindGroupChild(NameNode* node, const char* name, int32_t length) {
  if (!node || length < 0) return nullptr;
  uint32_t hash = (NameHash(name, (size_t)length) & HASH_MASK) | GROUP_BIT;
  for (NameNode* c = node->mFirstChild; c; c = c->mNext) {
    if (c->mHash == hash && c->mNameLength == length && memcmp(c->mName, name, (size_t)length) == 0)
      return c;
  }
  return nullptr;
}

NameNode* FindParentNode(const char* path, NameNode* start) {
  if (!start) return nullptr;
  const char* last;
  return DescendGroups(start, path, &last);
}

NameNode* FindNodeByPath(NameNode* start, const char* path, uint8_t mode) {
  if (!start) return nullptr;
  const char* last;
  NameNode* parent = DescendGroups(start, path, &last);
  if (!parent) return nullptr;
  size_t length = strlen(last);
  uint32_t hash = NameHash(last, length) & HASH_MASK;
  for (NameNode* c = parent->mFirstChild; c; c = c->mNext) {
    bool kind = mode == NAME_LOOKUP_LEAF    ? c->mHash == hash
                : mode == NAME_LOOKUP_GROUP ? c->mHash == (hash | GROUP_BIT)
                                            : (c->mHash & HASH_MASK) == hash;
    if (kind && (size_t)c->mNameLength == length && memcmp(c->mName, last, length) == 0) return c;
  }
  return nullptr;
}

namespace {

ChildWalk* g_OpenWalks;   // innermost first
uint64_t g_LastLinkStamp;

// Whether sibling `a` stands before sibling `b`: by key, and among equal keys the later
// linked first.
inline bool StandsBefore(const NameNode* a, const NameNode* b) {
  return a->mOrderKey < b->mOrderKey || (a->mOrderKey == b->mOrderKey && a->mLinkStamp > b->mLinkStamp);
}

}  // namespace

NameNode* InsertChildByPriority(NameNode* parent, NameNode* node, int64_t key) {
  node->mParent = parent;
  node->mOrderKey = key;
  node->mLinkStamp = ++g_LastLinkStamp;
  parent->mChildCount++;
  NameNode* at = parent->mFirstChild;
  while (at && at->mOrderKey < key) at = at->mNext;
  if (!at) {
    // Append after the last child (or become the only one).
    node->mPrev = parent->mLastChild;
    node->mNext = nullptr;
    if (parent->mLastChild) parent->mLastChild->mNext = node;
    else parent->mFirstChild = node;
    parent->mLastChild = node;
  } else {
    node->mNext = at;
    node->mPrev = at->mPrev;
    if (at->mPrev) at->mPrev->mNext = node;
    else parent->mFirstChild = node;
    at->mPrev = node;
  }
  // A walk's child moves one place on when the new node comes before it; the walk's position
  // then holds the child before it. A walk past the end reaches the last child.
  for (ChildWalk* w = g_OpenWalks; w; w = w->mOuter) {
    if (w->mParent != parent) continue;
    if (!w->mAt) {
      if (w->mIndex == parent->mChildCount) w->mAt = parent->mLastChild;
    } else if (StandsBefore(node, w->mAt)) {
      w->mAt = w->mAt->mPrev;
    }
  }
  return parent;
}

void UnlinkNode(NameNode* node) {
  if (!node || !node->mParent) return;
  NameNode* parent = node->mParent;
  // A walk standing on the node takes the child after it; one whose child comes after the
  // node sees that child move one place back, and takes the child after that.
  for (ChildWalk* w = g_OpenWalks; w; w = w->mOuter) {
    if (w->mParent != parent || !w->mAt) continue;
    if (w->mAt == node) w->mAt = node->mNext;
    else if (StandsBefore(node, w->mAt)) w->mAt = w->mAt->mNext;
  }
  if (node->mPrev) node->mPrev->mNext = node->mNext;
  else parent->mFirstChild = node->mNext;
  if (node->mNext) node->mNext->mPrev = node->mPrev;
  else parent->mLastChild = node->mPrev;
  parent->mChildCount--;
}

NameNode* GetNthChild(NameNode* node, int32_t n) {
  if (!node) return nullptr;
  NameNode* c = node->mFirstChild;
  for (int32_t i = 1; c && i < n; i++) c = c->mNext;
  return c;
}

void OpenChildWalk(ChildWalk* walk, NameNode* parent) {
  walk->mParent = parent;
  walk->mIndex = parent->mChildCount;
  walk->mAt = parent->mLastChild;
  walk->mOuter = g_OpenWalks;
  g_OpenWalks = walk;
}

void StepChildWalk(ChildWalk* walk) {
  walk->mIndex--;
  if (walk->mAt) walk->mAt = walk->mAt->mPrev;
  else if (walk->mIndex == walk->mParent->mChildCount) walk->mAt = walk->mParent->mLastChild;
}

void CloseChildWalk(ChildWalk* walk) {
  for (ChildWalk** w = &g_OpenWalks; *w; w = &(*w)->mOuter) {
    if (*w != walk) continue;
    *w = walk->mOuter;
    return;
  }
}

NameNode* CreateTreeNode(NameNode* root, const char* path, bool group, int64_t key) {
  const char* last;
  NameNode* parent = DescendGroups(root, path, &last);
  if (!parent) return nullptr;
  size_t length = strlen(last);
  NameNode* node = static_cast<NameNode*>(calloc(1, sizeof(NameNode)));
  char* name = static_cast<char*>(malloc(length + 1));
  if (!node || !name) {
    free(node);
    free(name);
    ReportError(100010, 1);
    return nullptr;
  }
  memcpy(name, last, length + 1);
  node->mName = name;
  node->mNameLength = (int32_t)length;
  node->mHash = (NameHash(last, length) & HASH_MASK) | (group ? GROUP_BIT : 0);
  node->mIsGroup = group ? 1 : 0;
  InsertChildByPriority(parent, node, key);
  return node;
}

void FreeNodeShell(NameNode* node) {
  if (!node) return;
  free(node->mName);
  free(node);
}

MenuItemRecord* AttachMenuItemRecord(NameNode* node, const char* caption) {
  if (!node) return nullptr;
  MenuItemRecord* record = static_cast<MenuItemRecord*>(calloc(1, sizeof(MenuItemRecord)));
  char* buffer = static_cast<char*>(calloc(1, MENU_CAPTION_BYTES));
  if (!record || !buffer) {
    free(record);
    free(buffer);
    ReportError(100010, 1);
    return nullptr;
  }
  CopyTextBounded(buffer, MENU_CAPTION_BYTES, caption ? caption : "");
  record->mCaption = buffer;
  record->mVisible = 1;
  record->mEnabled = 256;
  node->mPayload = record;
  return record;
}

NameNode* AllocTreeRoot() {
  NameNode* root = static_cast<NameNode*>(calloc(1, sizeof(NameNode)));
  char* name = static_cast<char*>(calloc(1, 1));
  if (!root || !name) {
    free(root);
    free(name);
    ReportError(100010, 1);
    return nullptr;
  }
  root->mName = name;
  root->mIsGroup = 1;
  root->mHash = (NameHash("", 0) & HASH_MASK) | GROUP_BIT;
  return root;
}

int CreateMenuTreeRoot() {
  if (!g_MenuRoot) {
    NameNode* root = AllocTreeRoot();
    if (!root) return -1;
    // The root's record stays blank: the root itself is never shown as an item.
    MenuItemRecord* record = AttachMenuItemRecord(root, "");
    if (!record) {
      FreeNodeShell(root);
      return -1;
    }
    record->mVisible = 0;
    record->mEnabled = 0;
    g_MenuRoot = root;
  }
  CopyTextBounded(g_MenuFolder, sizeof g_MenuFolder, "M0");
  if (FindNodeByPath(g_MenuRoot, g_MenuFolder, NAME_LOOKUP_GROUP)) return 0;
  NameNode* folder = CreateTreeNode(g_MenuRoot, g_MenuFolder, true, 0);
  if (!folder) return -1;
  return AttachMenuItemRecord(folder, "") ? 0 : -1;
}
