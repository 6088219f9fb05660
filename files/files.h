// File sources and lookup: loose files, the in-memory list, pack archives and the preload
// cache, read whole into memory.
#pragma once

#include <cstdint>

struct FileLocation {
  uint32_t mSize;
  uint8_t* mData;         // allocated by the reader (malloc); the caller frees it
  uint8_t mSource;        // FILE_SOURCE_*
  uint8_t mType;          // FILE_TYPE_*
  int32_t mPackEntry;
  int32_t mPackNumber;
  uint64_t mEntryPos;
  int32_t mMemoryIndex;
  int32_t mCacheGroup;
  int32_t mCacheSlot;
};

enum : uint8_t {
  FILE_SOURCE_NONE = 0,
  FILE_SOURCE_LOOSE = 1,
  FILE_SOURCE_PACK = 2,
  FILE_SOURCE_MEMORY = 3,
  FILE_SOURCE_CACHE = 4,
};

enum : uint8_t {
  FILE_TYPE_NONE = 0,
  FILE_TYPE_BMP = 1,
  FILE_TYPE_PNG = 2,
  FILE_TYPE_JPG = 3,
  FILE_TYPE_GIF = 4,
  FILE_TYPE_WAV = 5,
  FILE_TYPE_OGG = 6,
  FILE_TYPE_PSD = 7,
  FILE_TYPE_KCG = 8,
  FILE_TYPE_PSB = 9,
};

enum : int { RESOURCE_IMAGE = 0, RESOURCE_SOUND = 1, RESOURCE_EMOTE = 9 };

uint8_t FileTypeFromExtension(const char* name);
// Source kind of the first source holding `name` exactly, 0 none, -2 pack not openable.
int LocateFile(FileLocation* location, const char* name, bool setType);
int ReadLocatedFile(FileLocation* location, const char* name);
// Locate and read, with messages 104060 / 901040 (fatal) when that fails; 0 on success.
int LoadDataFile(const char* name, FileLocation* location);
// 0 found (located, type set, `outName` holds the resolved name), 1 not found, -1 error.
// `outName` holds at least 261 bytes.
int ResolveResourceFile(FileLocation* location, char* outName, const char* name, int kind);
bool LooseFileExists(const char* name);
