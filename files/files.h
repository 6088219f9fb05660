// File sources and lookup: loose files, the in-memory list, pack archives and the preload
// cache, read whole into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// ---------------------------------------------------------------------------------------------
// Project choices, filled by the project settings loader (defaults until then).

// Codes in walking order: images 1 ".png", 2 ".bmp", 3 ".jpg", 4 ".gif", 5 ".psb" (the first
// five bytes are walked); sounds 1 ".ogg", 2 ".wav" (the first two). Other codes are skipped,
// a repeated code is tried again. The arrays are as wide as the settings file stores them.
constexpr int IMAGE_ORDER_CODES = 5;
constexpr int SOUND_ORDER_CODES = 2;
extern uint8_t g_ImageExtensionOrder[8];
extern uint8_t g_SoundExtensionOrder[4];
// Byte 0: in development runs, loose files before packs when non-zero; byte 1: the same for
// packed releases. Packs appended to the program always come first.
extern uint8_t g_SourceOrderFlags[2];

// Set by the appended-block reader: the packs live inside the program file at this base.
extern uint8_t g_PacksInExecutable;
extern uint64_t g_PackBaseInExecutable;
extern std::string g_PackFileInExecutable;   // the program file's real path

// ---------------------------------------------------------------------------------------------
// The in-memory list the development compiler hands over; empty in a packed release.

struct MemoryFile {
  char* mName;
  uint32_t mSize;
  uint8_t* mData;
};
extern MemoryFile** g_MemoryFiles;
extern int32_t g_MemoryFileCount;

// ---------------------------------------------------------------------------------------------
// The preload cache: files read ahead by the file command, asked before every other source.

constexpr int PRELOAD_GROUPS = 4;
constexpr int PRELOAD_SLOTS = 512;
struct PreloadSlot {
  char* mName;            // 261-byte buffer: the resolved name (lower case, '\' separators)
  uint8_t* mData;         // owned by the cache
  int32_t mSize;
  int32_t mType;          // FILE_TYPE_*
};
struct PreloadGroup {
  int32_t mCount;         // slots 0..mCount-1 in use, oldest first
  PreloadSlot mSlots[PRELOAD_SLOTS + 1];
};
extern PreloadGroup g_PreloadCache[PRELOAD_GROUPS];

// ---------------------------------------------------------------------------------------------
// Lookup over the sources and the readers.

uint8_t FileTypeFromExtension(const char* name);
// The source order: preload cache, in-memory list, then packs and loose files in the order the
// project settings choose for this run.
// Source kind of the first source holding `name` exactly, 0 none, -2 pack not openable.
int LocateFile(FileLocation* location, const char* name, bool setType);
int ReadLocatedFile(FileLocation* location, const char* name);
// Locate and read, with messages 104060 / 901040 (fatal) when that fails; 0 on success.
int LoadDataFile(const char* name, FileLocation* location);
// 0 found (located, type set, `outName` holds the resolved name), 1 not found, -1 error.
// `outName` holds at least 261 bytes.
// Every '\' of `name` outside double-byte characters becomes '/' in place.
int ResolveResourceFile(FileLocation* location, char* outName, char* name, int kind);
bool LooseFileExists(const char* name);
int FindInMemoryList(FileLocation* location, const char* name);
int FindInPreloadCache(FileLocation* location, const char* name);
// Readers: allocate mSize bytes (malloc), fill them, set mData; 0 on success, -3 on failure
// (after a message where one is due).
int ReadLooseFile(FileLocation* location, const char* name);
int ReadFromMemoryList(FileLocation* location, const char* name);
int ReadFromPreloadCache(FileLocation* location, const char* name);

// ---------------------------------------------------------------------------------------------
// Pack archives (.kpk): the program folder and its "pac" sub-folders, or packs appended to the
// program; update1.kpk..update9.kpk replace entries of earlier packs.

constexpr int MAX_PACKS = 100;
constexpr int32_t MAX_PACK_ENTRIES = 100000;
constexpr uint32_t PACK_VERSION_CURRENT = 480;
constexpr uint32_t PACK_VERSION_OLDEST = 234;
constexpr uint32_t PACK_HEADER_BYTES = 32;
constexpr uint32_t PACK_REPAIR_BLOCK = 1024;

// One registered pack. `mRealPath` is opened (the real spelling on disk); `mPath` is the
// engine's spelling, lower-cased with '\' separators, for messages.
struct PackFile {
  std::string mRealPath;
  std::string mPath;
};
extern PackFile g_PackPaths[MAX_PACKS];
extern int32_t g_PackCount;

// One entry of the merged directory: the stored name hash (0 or 1 once a later update pack
// replaced it), the pack number and the position of its name-length byte; the unscrambled
// name, its type code and a live flag are kept beside them so that a lookup needs no disk
// access. A lookup touches one record and the name.
struct PackEntry {
  uint32_t mHash;
  int32_t mPackNumber;
  int32_t mNamePos;
  uint32_t mNameOffset;   // into PackIndex::mNames
  uint8_t mNameLength;
  uint8_t mType;
  uint8_t mLive;
};

// The merged directory, sorted by name hash (entries of equal hash in registration order).
// `mBuckets` holds, for each value of the hash's top `32 - mBucketShift` bits, the first entry
// at or past it, and one more for the end, so a lookup goes straight to the entries of its
// hash and walks them in index order.
struct PackIndex {
  std::vector<PackEntry> mEntries;
  std::vector<uint32_t> mBuckets;
  uint32_t mBucketShift;
  std::string mNames;
  int32_t mCount;
};
extern PackIndex g_PackIndex;

// An open pack. Reads are bounded by the pack file's size and report short reads.
struct PackHandle {
  struct PlatFile* mFile;
  uint8_t mOpen;
  uint64_t mBase;
  uint64_t mSize;         // bytes from the base to the end of the file
  uint64_t mPos;          // next read, from the base
};
int OpenPack(PackHandle* pack, const std::string& realPath);
void ClosePack(PackHandle* pack);

int BuildPackIndex();
void FreePackIndex();          // forgets the packs and the index
int ScanForPacks(int depthLimit, const std::string& rootReal);
int RegisterPack(const std::string& realPath, const std::string& path);
// 2 found, 0 not found. The directories were read whole at start-up, so the lookup touches no
// file; a pack that has gone missing since is reported by the read (901040).
int FindInPacks(FileLocation* location, const char* name);
int ReadPackEntry(FileLocation* location, const char* name);
// `pack` stands just after the stored bytes (at the repair record). 0 hash matches, 1 repaired,
// -1 no usable repair record or still wrong.
int VerifyAndRepairEntry(PackHandle* pack, uint8_t* data, uint32_t length, uint32_t storedHash);

// ---------------------------------------------------------------------------------------------
// zlib inflation of untrusted data: a declared size is held to what the packed bytes can give
// (zlib expands by 1032 to 1 at most), and memory is taken as the output arrives, so a small
// stream that lies about its size costs nothing.

constexpr uint64_t INFLATE_MAX_RATIO = 1032;
constexpr uint64_t INFLATE_HEADER_SLACK = 64;
inline uint64_t InflateLimit(uint64_t packed) { return packed * INFLATE_MAX_RATIO + INFLATE_HEADER_SLACK; }

enum InflateResult : int {
  INFLATE_OK = 0,
  INFLATE_BROKEN = 1,      // not a zlib stream, damaged or cut, or a size no stream could give
  INFLATE_SHORT = 2,       // a sound stream that ends before the declared size
  INFLATE_TOO_LONG = 3,    // a sound stream that goes on past the declared size
  INFLATE_NO_MEMORY = 4,
};
// Inflates the zlib stream in `packed` into a new buffer (malloc; the caller frees it) of
// exactly `expected` bytes. On any result but INFLATE_OK `*out` is null.
int InflateExact(const uint8_t* packed, size_t packedSize, size_t expected, uint8_t** out);
