// The preload cache's filling: files read ahead into one of four groups, newest last, the
// oldest dropped when a group is full.
#include <cstdlib>
#include <cstring>

#include "app/engine.h"
#include "app/memory_budget.h"
#include "files/file_commands.h"
#include "files/files.h"

namespace {

constexpr size_t CACHE_NAME_BYTES = MAX_PATH_BYTES + 1;

char* NewCacheName(const char* resolved) {
  char* name = static_cast<char*>(malloc(CACHE_NAME_BYTES));
  if (!name) return nullptr;
  CopyTextBounded(name, CACHE_NAME_BYTES, resolved);
  return name;
}

}  // namespace

int RemoveFromPreloadCache(int group, int32_t slot) {
  if (group < 0 || group >= PRELOAD_GROUPS) return 0;
  PreloadGroup& g = g_PreloadCache[group];
  if (slot < 0 || slot >= PRELOAD_SLOTS || slot >= g.mCount) return 0;
  free(g.mSlots[slot].mName);
  for (int32_t s = slot; s + 1 < g.mCount; s++) g.mSlots[s] = g.mSlots[s + 1];
  g.mSlots[g.mCount - 1].mName = nullptr;
  return 0;
}

int AddToPreloadCache(int group, int32_t count, char* name, int kind, bool groupFull) {
  if (group < 0 || group >= PRELOAD_GROUPS) return -1;
  PreloadGroup& g = g_PreloadCache[group];
  // The count is the group's own; anything else would move or store past the used slots.
  if (count != g.mCount || count < 0 || count > PRELOAD_SLOTS) return -1;
  FileLocation location{};
  char resolved[CACHE_NAME_BYTES] = {0};
  int found = ResolveResourceFile(&location, resolved, name, kind);
  if (found < 0) return -1;
  if (found > 0) return 0;

  if (location.mSource == FILE_SOURCE_CACHE && location.mCacheGroup == group) {
    int32_t slot = location.mCacheSlot;
    if (slot < 0 || slot >= count) return -1;
    PreloadSlot moved = g.mSlots[slot];
    // The name buffer is replaced before the old one goes, so a failed allocation leaves the
    // group as it was.
    char* fresh = NewCacheName(moved.mName);
    if (!fresh) {
      ReportError(100010, 1);
      return -1;
    }
    RemoveFromPreloadCache(group, slot);
    moved.mName = fresh;
    g.mSlots[count - 1] = moved;
    return 0;
  }

  location.mData = nullptr;
  if (ReadLocatedFile(&location, resolved) != 0) return -1;
  // Sizes are kept in 32 signed bits; a larger file cannot be cached.
  if (location.mSize > (uint32_t)INT32_MAX) {
    free(location.mData);
    return -1;
  }
  // What the cache holds counts with everything else scripts make the runtime hold.
  if (!TakeScriptMemory(location.mSize)) {
    free(location.mData);
    ReportError(100010, 1);
    return -1;
  }
  char* stored = NewCacheName(resolved);
  if (!stored || (groupFull && count < 1)) {
    if (!stored) ReportError(100010, 1);
    free(stored);
    GiveScriptMemory(location.mSize);
    free(location.mData);
    return -1;
  }
  int32_t target = count;
  if (groupFull) {
    GiveScriptMemory(g.mSlots[0].mData ? (uint32_t)g.mSlots[0].mSize : 0);
    free(g.mSlots[0].mData);
    g.mSlots[0].mData = nullptr;
    RemoveFromPreloadCache(group, 0);
    target = count - 1;
  }
  PreloadSlot& slot = g.mSlots[target];
  slot.mName = stored;
  slot.mData = location.mData;
  slot.mSize = (int32_t)location.mSize;
  slot.mType = location.mType;
  if (!groupFull) g.mCount = count + 1;
  return 0;
}

void FreePreloadCache() {
  for (PreloadGroup& g : g_PreloadCache) {
    for (PreloadSlot& s : g.mSlots) {
      free(s.mName);
      if (s.mData) GiveScriptMemory((uint32_t)s.mSize);
      free(s.mData);
      s = PreloadSlot{};
    }
    g.mCount = 0;
  }
}

bool DataFileExists(const char* name) {
  FileLocation location{};
  return LocateFile(&location, name, false) > 0;
}
