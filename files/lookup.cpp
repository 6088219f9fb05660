// File lookup over the preload cache, the in-memory list, the packs and the loose files, the
// simple sources' readers, and resource names with extension probing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/platform.h"
#include "script/nametree.h"

uint8_t g_ImageExtensionOrder[8] = {1, 2, 3, 4, 5};
uint8_t g_SoundExtensionOrder[4] = {1, 2};
// Development runs read loose files first, so edited files win over a stale pack; releases
// read their packs first.
uint8_t g_SourceOrderFlags[2] = {1, 0};
uint8_t g_PacksInExecutable;
uint64_t g_PackBaseInExecutable;
std::string g_PackFileInExecutable;
MemoryFile** g_MemoryFiles;
int32_t g_MemoryFileCount;
PreloadGroup g_PreloadCache[PRELOAD_GROUPS];

namespace {

struct TypeExtension {
  const char* extension;
  uint8_t type;
};
const TypeExtension kTypeExtensions[] = {
    {".bmp", FILE_TYPE_BMP}, {".png", FILE_TYPE_PNG}, {".jpg", FILE_TYPE_JPG},
    {".gif", FILE_TYPE_GIF}, {".wav", FILE_TYPE_WAV}, {".ogg", FILE_TYPE_OGG},
    {".psd", FILE_TYPE_PSD}, {".kcg", FILE_TYPE_KCG}, {".psb", FILE_TYPE_PSB},
};

// Extension codes of the project's orders, index = code - 1.
const char* const kImageOrderExtensions[IMAGE_ORDER_CODES] = {".png", ".bmp", ".jpg", ".gif", ".psb"};
const char* const kSoundOrderExtensions[SOUND_ORDER_CODES] = {".ogg", ".wav"};

bool EqualNoCase(const char* a, const char* b) {
  for (;; a++, b++) {
    uint8_t x = (uint8_t)*a, y = (uint8_t)*b;
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool PacksBeforeLooseFiles() {
  if (g_PacksInExecutable) return true;
  return g_SourceOrderFlags[g_PackedRelease ? 1 : 0] == 0;
}

// The real path of a loose file. A game in a folder it cannot write keeps what it writes in the
// user's copy of the folder (GameWritePath): a name found there is read from there, as the game
// expects to read back what it wrote, and every other name from the game folder.
std::string LoosePath(const char* name) {
  if (g_ReadOnlyFolder) return GameReadBackPath(g_ProjectFolderReal, name);
  std::string real;
  PlatResolvePath(g_ProjectFolderReal, name, &real);
  return real;
}

int LocateLoose(FileLocation* location, const char* name, bool setType) {
  if (!LooseFileExists(name)) return 0;
  location->mSource = FILE_SOURCE_LOOSE;
  if (setType) location->mType = FileTypeFromExtension(name);
  return FILE_SOURCE_LOOSE;
}

// Copies a stored file into a new buffer of the caller's.
int CopyStoredFile(FileLocation* location, const uint8_t* data, uint32_t size, const char* name) {
  uint8_t* copy = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (!copy) {
    ReportErrorF(104030, 1, name);
    return -3;
  }
  if (size) memcpy(copy, data, size);
  location->mData = copy;
  location->mSize = size;
  return 0;
}

bool HasKnownExtension(const char* name, int kind) {
  static const char* const kImage[] = {".bmp", ".png", ".jpg", ".gif", ".psb"};
  static const char* const kSound[] = {".wav", ".ogg"};
  if (kind == RESOURCE_EMOTE) return true;
  if (kind == RESOURCE_IMAGE) {
    for (const char* e : kImage)
      if (EndsWithNoCase(name, e)) return true;
    return false;
  }
  for (const char* e : kSound)
    if (EndsWithNoCase(name, e)) return true;
  return false;
}

// Turns every `from` outside double-byte characters into `to`.
void ReplaceSeparators(char* text, char from, char to) {
  for (char* p = text; *p != 0;) {
    if (g_LeadByteTable[(uint8_t)*p] && p[1] != 0) {
      p += 2;
      continue;
    }
    if (*p == from) *p = to;
    p++;
  }
}

}  // namespace

uint8_t FileTypeFromExtension(const char* name) {
  for (const TypeExtension& t : kTypeExtensions)
    if (EndsWithNoCase(name, t.extension)) return t.type;
  return FILE_TYPE_NONE;
}

bool LooseFileExists(const char* name) {
  if (g_ReadOnlyFolder) return PlatFileExists(LoosePath(name));
  std::string real;
  if (!PlatResolvePath(g_ProjectFolderReal, name, &real)) return false;
  return PlatFileExists(real);
}

int FindInMemoryList(FileLocation* location, const char* name) {
  for (int32_t i = 0; i < g_MemoryFileCount; i++) {
    const MemoryFile* f = g_MemoryFiles[i];
    if (f && f->mName && EqualNoCase(f->mName, name)) {
      location->mSource = FILE_SOURCE_MEMORY;
      location->mMemoryIndex = i;
      return FILE_SOURCE_MEMORY;
    }
  }
  return 0;
}

int FindInPreloadCache(FileLocation* location, const char* name) {
  for (int g = 0; g < PRELOAD_GROUPS; g++) {
    const PreloadGroup& group = g_PreloadCache[g];
    int32_t count = group.mCount < 0 ? 0 : group.mCount > PRELOAD_SLOTS ? PRELOAD_SLOTS : group.mCount;
    for (int32_t s = 0; s < count; s++) {
      const PreloadSlot& slot = group.mSlots[s];
      if (slot.mName && EqualNoCase(slot.mName, name)) {
        location->mSource = FILE_SOURCE_CACHE;
        location->mCacheGroup = g;
        location->mCacheSlot = s;
        location->mType = (uint8_t)slot.mType;
        return FILE_SOURCE_CACHE;
      }
    }
  }
  return 0;
}

int LocateFile(FileLocation* location, const char* name, bool setType) {
  int r = FindInPreloadCache(location, name);
  if (r != 0) return r;
  r = FindInMemoryList(location, name);
  if (r != 0) return r;
  if (PacksBeforeLooseFiles()) {
    r = FindInPacks(location, name);
    return r != 0 ? r : LocateLoose(location, name, setType);
  }
  r = LocateLoose(location, name, setType);
  return r != 0 ? r : FindInPacks(location, name);
}

int ReadLooseFile(FileLocation* location, const char* name) {
  PlatFile* f = PlatFileOpen(LoosePath(name), "rb");
  if (!f) {
    ReportErrorF(104010, 1, name);
    return -3;
  }
  int64_t size = PlatFileSize(f);
  // Sizes travel in 32 bits; a larger file is no data file of a game.
  if (size < 0 || size > (int64_t)UINT32_MAX) {
    PlatFileClose(f);
    ReportErrorF(104010, 1, name);
    return -3;
  }
  uint8_t* data = static_cast<uint8_t*>(malloc(size ? (size_t)size : 1));
  if (!data) {
    PlatFileClose(f);
    ReportErrorF(104030, 1, name);
    return -3;
  }
  size_t got = size ? PlatFileRead(f, data, (size_t)size) : 0;
  PlatFileClose(f);
  if (got != (size_t)size) {
    free(data);
    return -3;
  }
  location->mData = data;
  location->mSize = (uint32_t)size;
  return 0;
}

int ReadFromMemoryList(FileLocation* location, const char* name) {
  int32_t i = location->mMemoryIndex;
  if (i < 0 || i >= g_MemoryFileCount || !g_MemoryFiles[i]) return -3;
  return CopyStoredFile(location, g_MemoryFiles[i]->mData, g_MemoryFiles[i]->mSize, name);
}

int ReadFromPreloadCache(FileLocation* location, const char* name) {
  int32_t g = location->mCacheGroup, s = location->mCacheSlot;
  if (g < 0 || g >= PRELOAD_GROUPS || s < 0 || s >= g_PreloadCache[g].mCount || s >= PRELOAD_SLOTS)
    return -3;
  const PreloadSlot& slot = g_PreloadCache[g].mSlots[s];
  if (slot.mSize < 0) return -3;
  return CopyStoredFile(location, slot.mData, (uint32_t)slot.mSize, name);
}

int ReadLocatedFile(FileLocation* location, const char* name) {
  switch (location->mSource) {
    case FILE_SOURCE_LOOSE: return ReadLooseFile(location, name);
    case FILE_SOURCE_PACK: return ReadPackEntry(location, name);
    case FILE_SOURCE_MEMORY: return ReadFromMemoryList(location, name);
    case FILE_SOURCE_CACHE: return ReadFromPreloadCache(location, name);
  }
  return -1;
}

int LoadDataFile(const char* name, FileLocation* location) {
  *location = FileLocation{};
  int r = LocateFile(location, name, false);
  if (r == 0) {
    ReportErrorF(104060, 1, name);
    return -1;
  }
  if (r < 0) {
    ReportErrorF(901040, 1, name);
    return -1;
  }
  return ReadLocatedFile(location, name);
}

int ResolveResourceFile(FileLocation* location, char* outName, char* name, int kind) {
  ReplaceSeparators(name, '\\', '/');
  char work[OBJECT_PATH_BYTES];
  NormalizeObjectPath(work, name, "", true);
  ToLowerAscii(work);
  ReplaceSeparators(work, '/', '\\');
  if (kind != RESOURCE_IMAGE && kind != RESOURCE_SOUND && kind != RESOURCE_EMOTE) return -1;

  if (HasKnownExtension(work, kind)) {
    CopyTextBounded(outName, MAX_PATH_BYTES + 1, work);
    int r = LocateFile(location, outName, true);
    return r < 0 ? -1 : r > 0 ? 0 : 1;
  }
  const uint8_t* order = kind == RESOURCE_IMAGE ? g_ImageExtensionOrder : g_SoundExtensionOrder;
  const char* const* extensions = kind == RESOURCE_IMAGE ? kImageOrderExtensions : kSoundOrderExtensions;
  int codes = kind == RESOURCE_IMAGE ? IMAGE_ORDER_CODES : SOUND_ORDER_CODES;
  for (int i = 0; i < codes; i++) {
    if (order[i] < 1 || order[i] > codes) continue;
    // The normalised name is at most 255 bytes, so the extension always fits in 261.
    snprintf(outName, MAX_PATH_BYTES + 1, "%s%s", work, extensions[order[i] - 1]);
    int r = LocateFile(location, outName, true);
    if (r < 0) return -1;
    if (r > 0) return 0;
  }
  return 1;
}
