// Pack archives: the folder scan, registration, the merged index with update packs, lookup by
// name hash, and entry reads with decompression, hash check and repair.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/platform.h"
#include "script/nametree.h"

uint8_t g_PackedRelease;
PackFile g_PackPaths[MAX_PACKS];
int32_t g_PackCount;
PackIndex g_PackIndex;

namespace {

constexpr int MAX_SCAN_FOLDERS = 1000;
constexpr int MAX_SCAN_DEPTH = 32;
constexpr uint32_t DIRECTORY_ENTRY_FIXED = 27;   // bytes of an entry besides its name

PackFile g_UpdatePacks[9];
uint8_t g_UpdatePackFound[9];
int64_t g_RegisteredEntries;

uint32_t GetU32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
uint64_t GetU64(const uint8_t* p) { return (uint64_t)GetU32(p) | (uint64_t)GetU32(p + 4) << 32; }

uint8_t FoldAscii(uint8_t c) { return c >= 'A' && c <= 'Z' ? (uint8_t)(c + 32) : c; }

// ASCII case is ignored outside double-byte characters, as the lookups' own spelling lower-cases.
bool EqualNameNoCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; i++) {
    uint8_t x = (uint8_t)a[i], y = (uint8_t)b[i];
    if (g_LeadByteTable[x] && i + 1 < length) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      i++;
      continue;
    }
    if (FoldAscii(x) != FoldAscii(y)) return false;
  }
  return true;
}

std::string LowerName(const char* name, size_t length) {
  std::string lower(name, length);
  for (size_t i = 0; i < length; i++) {
    if (g_LeadByteTable[(uint8_t)lower[i]] && i + 1 < length) {
      i++;
      continue;
    }
    lower[i] = (char)FoldAscii((uint8_t)lower[i]);
  }
  return lower;
}

bool PackRead(PackHandle* pack, void* buffer, uint64_t bytes) {
  if (pack->mPos > pack->mSize || bytes > pack->mSize - pack->mPos) return false;
  if (!PlatFileSeek(pack->mFile, (int64_t)(pack->mBase + pack->mPos))) return false;
  if (bytes > 0 && PlatFileRead(pack->mFile, buffer, (size_t)bytes) != bytes) return false;
  pack->mPos += bytes;
  return true;
}

bool PackReadU32(PackHandle* pack, uint32_t* value) {
  uint8_t b[4];
  if (!PackRead(pack, b, 4)) return false;
  *value = GetU32(b);
  return true;
}

// The number of an update pack ("update1" .. "update9" as file name without folder and
// extension, any case), else 0.
int UpdatePackNumber(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  std::string file = LowerName(path.c_str() + (slash == std::string::npos ? 0 : slash + 1),
                               path.size() - (slash == std::string::npos ? 0 : slash + 1));
  size_t dot = file.rfind('.');
  if (dot != std::string::npos) file.resize(dot);
  if (file.size() != 7 || file.compare(0, 6, "update") != 0) return 0;
  return file[6] >= '1' && file[6] <= '9' ? file[6] - '0' : 0;
}

std::string ToEngineText(const std::string& utf8) {
  std::string cp932;
  if (!PlatUtf8ToCp932(utf8.c_str(), utf8.size(), &cp932)) cp932 = utf8;
  return cp932;
}

struct ScanFolder {
  std::string real;
  std::string path;
  int depth;
};

// The first failure of the index build besides a duplicate, kept until the entries read before
// it have been checked: a duplicate among them is the earlier fault and is reported instead.
struct PackFailure {
  int32_t mMessage;   // 0 none
  int32_t mPack;
};

// Reads one pack's directory and appends its entries to the index in directory order; false
// with `failure` set (the entries before a broken one stay, as they were read before it).
bool ReadPackDirectory(int32_t number, int64_t* packedReleaseAt, PackFailure* failure) {
  const PackFile& file = g_PackPaths[number];
  PackIndex& x = g_PackIndex;
  PackHandle pack;
  if (OpenPack(&pack, file.mRealPath) != 0) {
    *failure = PackFailure{901040, number};
    return false;
  }
  uint8_t header[PACK_HEADER_BYTES];
  bool ok = PackRead(&pack, header, sizeof header);
  uint32_t count = ok ? GetU32(header + 8) : 0;
  uint32_t directorySize = ok ? GetU32(header + 12) : 0;
  // The directory must lie inside the file and its entries inside the directory; the count
  // must be the one registered (a pack that changed since is refused like a foreign one).
  ok = ok && directorySize <= pack.mSize - PACK_HEADER_BYTES && directorySize <= INT32_MAX - PACK_HEADER_BYTES &&
       (uint64_t)count * DIRECTORY_ENTRY_FIXED <= directorySize &&
       (int64_t)x.mEntries.size() + count <= g_RegisteredEntries;
  std::vector<uint8_t> directory;
  if (ok) {
    directory.resize(directorySize);
    ok = PackRead(&pack, directory.data(), directorySize);
  }
  ClosePack(&pack);
  if (!ok) {
    *failure = PackFailure{104120, number};
    return false;
  }
  uint32_t offset = 0;
  for (uint32_t e = 0; e < count; e++) {
    const uint8_t* entry = directory.data() + offset;
    uint32_t length = directorySize - offset >= DIRECTORY_ENTRY_FIXED ? g_NameLengthTable[255 - entry[4]] : 0;
    if (directorySize - offset < DIRECTORY_ENTRY_FIXED || directorySize - offset - DIRECTORY_ENTRY_FIXED < length) {
      *failure = PackFailure{104120, number};
      return false;
    }
    PackEntry p;
    p.mHash = GetU32(entry);
    p.mPackNumber = number;
    p.mNamePos = (int32_t)(PACK_HEADER_BYTES + offset + 4);
    p.mNameOffset = (uint32_t)x.mNames.size();
    p.mNameLength = (uint8_t)length;
    p.mType = entry[5 + length];
    p.mLive = 1;
    size_t at = x.mNames.size();
    x.mNames.resize(at + length);
    char* name = x.mNames.data() + at;
    for (uint32_t i = 0; i < length; i++) name[i] = (char)~entry[5 + i];
    if (*packedReleaseAt < 0 && length == 15 && EqualNameNoCase(name, "kvbin\\kvcfg.kbn", 15))
      *packedReleaseAt = (int64_t)x.mEntries.size();
    x.mEntries.push_back(p);
    offset += DIRECTORY_ENTRY_FIXED + length;
  }
  return true;
}

// Entry numbers in ascending order of hash, entries of equal hash in ascending number: a stable
// radix sort in three passes of 11 bits.
std::vector<int32_t> OrderByHash(const std::vector<PackEntry>& entries) {
  struct Key {
    uint32_t hash;
    int32_t entry;
  };
  std::vector<Key> keys(entries.size()), next(entries.size());
  for (size_t j = 0; j < entries.size(); j++) keys[j] = Key{entries[j].mHash, (int32_t)j};
  for (int shift = 0; shift < 32; shift += 11) {
    uint32_t counts[2049] = {};
    for (const Key& k : keys) counts[((k.hash >> shift) & 2047) + 1]++;
    for (int d = 1; d <= 2048; d++) counts[d] += counts[d - 1];
    for (const Key& k : keys) next[counts[(k.hash >> shift) & 2047]++] = k;
    keys.swap(next);
  }
  std::vector<int32_t> order(entries.size());
  for (size_t i = 0; i < keys.size(); i++) order[i] = keys[i].entry;
  return order;
}

// The duplicate rule's order of stored names: the stored bytes (still complemented) with ASCII
// case folded, shorter names first. A complemented letter is no letter, so names that differ
// only in ASCII case are different entries, as packers that keep a file's own spelling rely on.
bool StoredNameBefore(const PackEntry& a, const PackEntry& b) {
  if (a.mNameLength != b.mNameLength) return a.mNameLength < b.mNameLength;
  const char* p = g_PackIndex.mNames.data() + a.mNameOffset;
  const char* q = g_PackIndex.mNames.data() + b.mNameOffset;
  for (uint32_t i = 0; i < a.mNameLength; i++) {
    uint8_t x = FoldAscii((uint8_t)~p[i]), y = FoldAscii((uint8_t)~q[i]);
    if (x != y) return x < y;
  }
  return false;
}

// Applies the duplicate rule to entries of equal hash and stored name, taken in registration
// order: a later one in an update pack disables the one before it; a later one in another pack
// is a duplicate. Returns the first duplicate's entry number, or -1. Comparing each entry with
// every earlier one of equal hash gives the same result; grouping by name keeps a directory
// full of one hash from costing the square of its size.
int64_t ApplyDuplicateRule(const std::vector<int32_t>& order, const std::vector<uint8_t>& updatePack) {
  std::vector<PackEntry>& entries = g_PackIndex.mEntries;
  int64_t first = -1;
  std::vector<int32_t> run;
  for (size_t s = 0, e; s < order.size(); s = e) {
    for (e = s + 1; e < order.size() && entries[(size_t)order[e]].mHash == entries[(size_t)order[s]].mHash; e++) {
    }
    if (e - s < 2) continue;
    // Within the run the entries are in registration order; a stable sort by name keeps it.
    run.assign(order.begin() + (ptrdiff_t)s, order.begin() + (ptrdiff_t)e);
    std::stable_sort(run.begin(), run.end(),
                     [&](int32_t a, int32_t b) { return StoredNameBefore(entries[(size_t)a], entries[(size_t)b]); });
    for (size_t k = 1; k < run.size(); k++) {
      const PackEntry& earlier = entries[(size_t)run[k - 1]];
      const PackEntry& later = entries[(size_t)run[k]];
      if (StoredNameBefore(earlier, later)) continue;
      if (updatePack[(size_t)later.mPackNumber]) {
        entries[(size_t)run[k - 1]].mLive = 0;
      } else if (first < 0 || run[k] < first) {
        first = run[k];
      }
    }
  }
  return first;
}

// Puts the entries in hash order and fills the bucket table.
void SortIndexByHash() {
  PackIndex& x = g_PackIndex;
  std::vector<int32_t> order = OrderByHash(x.mEntries);
  std::vector<PackEntry> sorted(x.mEntries.size());
  for (size_t i = 0; i < order.size(); i++) sorted[i] = x.mEntries[(size_t)order[i]];
  x.mEntries.swap(sorted);
  uint32_t bits = 1;
  while (bits < 24 && ((size_t)1 << bits) < x.mEntries.size()) bits++;
  x.mBucketShift = 32 - bits;
  uint32_t buckets = 1u << bits;
  x.mBuckets.resize((size_t)buckets + 1);
  size_t i = 0;
  for (uint32_t b = 0; b < buckets; b++) {
    while (i < x.mEntries.size() && (x.mEntries[i].mHash >> x.mBucketShift) < b) i++;
    x.mBuckets[b] = (uint32_t)i;
  }
  x.mBuckets[buckets] = (uint32_t)x.mEntries.size();
}

void ReportDamaged(const PackFile& file, const char* name) {
  ReportErrorF(104100, 1, file.mPath.c_str(), name);
}

}  // namespace

int OpenPack(PackHandle* pack, const std::string& realPath) {
  *pack = PackHandle{};
  std::string path = g_PacksInExecutable ? g_PackFileInExecutable : realPath;
  uint64_t base = g_PacksInExecutable ? g_PackBaseInExecutable : 0;
  PlatFile* f = PlatFileOpen(path, "rb");
  if (!f) return -1;
  int64_t size = PlatFileSize(f);
  if (size < 0 || (uint64_t)size < base) {
    PlatFileClose(f);
    return -1;
  }
  pack->mFile = f;
  pack->mOpen = 1;
  pack->mBase = base;
  pack->mSize = (uint64_t)size - base;
  return 0;
}

void ClosePack(PackHandle* pack) {
  if (pack->mOpen) PlatFileClose(pack->mFile);
  pack->mFile = nullptr;
  pack->mOpen = 0;
}

int RegisterPack(const std::string& realPath, const std::string& path) {
  PackHandle pack;
  if (OpenPack(&pack, realPath) != 0) {
    ReportErrorF(901040, 1, path.c_str());
    return -2;
  }
  uint8_t header[12];
  bool whole = PackRead(&pack, header, sizeof header);
  ClosePack(&pack);
  if (!whole || memcmp(header, "KPK\0", 4) != 0) return 0;
  if (GetU32(header + 4) < PACK_VERSION_OLDEST) {
    ReportErrorF(104120, 1, path.c_str());
    return -1;
  }
  uint32_t count = GetU32(header + 8);
  if (g_RegisteredEntries + count > MAX_PACK_ENTRIES) {
    ReportErrorF(104140, 1, (int)MAX_PACK_ENTRIES);
    return -1;
  }
  if (g_PackCount >= MAX_PACKS) {
    ReportErrorF(104130, 1, MAX_PACKS);
    return -1;
  }
  g_RegisteredEntries += count;
  g_PackPaths[g_PackCount++] = PackFile{realPath, path};
  return 0;
}

int ScanForPacks(int depthLimit, const std::string& rootReal) {
  std::vector<ScanFolder> folders{{rootReal, ".", 1}};
  for (size_t f = 0; f < folders.size(); f++) {
    // Copied: adding folders below may move the list.
    ScanFolder folder = folders[f];
    std::vector<std::string> names;
    if (!PlatListFolder(folder.real, &names)) continue;
    for (std::string& name : names) {
      bool isFolder = !name.empty() && name.back() == '/';
      if (isFolder) name.pop_back();
      std::string engineName = ToEngineText(name);
      if (isFolder) {
        if (folder.depth > depthLimit || LowerName(engineName.c_str(), engineName.size()) != "pac") continue;
        if (folders.size() >= MAX_SCAN_FOLDERS) {
          ReportError(104110, 1);
          return -1;
        }
        if (folder.depth >= MAX_SCAN_DEPTH) {
          ReportError(104111, 1);
          return -1;
        }
        folders.push_back({folder.real + "/" + name, folder.path + "\\" + engineName, folder.depth + 1});
        continue;
      }
      if (engineName.size() < 4 || !EndsWithNoCase(engineName.c_str(), ".kpk")) continue;
      std::string path = LowerName((folder.path + "\\" + engineName).c_str(), folder.path.size() + 1 + engineName.size());
      std::string real = folder.real + "/" + name;
      int update = UpdatePackNumber(path);
      if (update != 0) {
        g_UpdatePacks[update - 1] = PackFile{real, path};
        g_UpdatePackFound[update - 1] = 1;
        continue;
      }
      if (RegisterPack(real, path) < 0) return -1;
    }
  }
  return 0;
}

void FreePackIndex() {
  g_PackIndex = PackIndex{};
  for (PackFile& p : g_PackPaths) p = PackFile{};
  for (PackFile& p : g_UpdatePacks) p = PackFile{};
  memset(g_UpdatePackFound, 0, sizeof g_UpdatePackFound);
  g_PackCount = 0;
  g_RegisteredEntries = 0;
}

// The build's steps; a failure leaves a partial index that the caller throws away.
static int FillPackIndex() {
  if (g_PacksInExecutable) {
    if (RegisterPack(g_ExePath, g_ExePath) < 0) return -1;
  } else {
    std::string root = g_ExeFolderReal.empty() ? PlatCurrentFolder() : g_ExeFolderReal;
    if (ScanForPacks(1, root) != 0) return -1;
  }
  for (int u = 0; u < 9; u++) {
    if (g_UpdatePackFound[u] && RegisterPack(g_UpdatePacks[u].mRealPath, g_UpdatePacks[u].mPath) < 0)
      return -1;
  }
  PackIndex& x = g_PackIndex;
  x.mEntries.reserve((size_t)g_RegisteredEntries);
  std::vector<uint8_t> updatePack((size_t)g_PackCount);
  PackFailure failure{0, 0};
  int64_t packedReleaseAt = -1;
  for (int32_t p = 0; p < g_PackCount; p++) {
    updatePack[(size_t)p] = UpdatePackNumber(g_PackPaths[p].mPath) != 0;
    if (!ReadPackDirectory(p, &packedReleaseAt, &failure)) break;
  }
  x.mCount = (int32_t)x.mEntries.size();
  // Entries are checked in registration order: the first duplicate, or the first broken pack,
  // ends the build, and the project settings count only when they were reached before it.
  int64_t duplicate = ApplyDuplicateRule(OrderByHash(x.mEntries), updatePack);
  int64_t reached = duplicate >= 0 ? duplicate : (int64_t)x.mEntries.size();
  if (packedReleaseAt >= 0 && packedReleaseAt <= reached) g_PackedRelease = 1;
  if (duplicate >= 0) {
    const PackEntry& e = x.mEntries[(size_t)duplicate];
    ReportErrorF(104150, 0, std::string(x.mNames.data() + e.mNameOffset, e.mNameLength).c_str());
    return -1;
  }
  if (failure.mMessage) {
    ReportErrorF(failure.mMessage, 1, g_PackPaths[failure.mPack].mPath.c_str());
    return -1;
  }
  // A replaced entry's hash becomes 0, or 1 when it was 0: no longer the hash of its name.
  for (PackEntry& e : x.mEntries)
    if (!e.mLive) e.mHash = e.mHash == 0 ? 1 : 0;
  SortIndexByHash();
  return 0;
}

int BuildPackIndex() {
  FreePackIndex();
  if (FillPackIndex() == 0) return 0;
  FreePackIndex();
  return -1;
}

int FindInPacks(FileLocation* location, const char* name) {
  const PackIndex& x = g_PackIndex;
  if (x.mCount == 0) return 0;
  size_t length = strlen(name);
  uint32_t hash = NameHash(name, length);
  uint32_t bucket = hash >> x.mBucketShift;
  for (uint32_t i = x.mBuckets[bucket], end = x.mBuckets[bucket + 1]; i < end; i++) {
    const PackEntry& e = x.mEntries[i];
    if (e.mHash != hash) {
      if (e.mHash > hash) break;
      continue;
    }
    if (!e.mLive || e.mNameLength != length) continue;
    const char* stored = x.mNames.data() + e.mNameOffset;
    if (memcmp(stored, name, length) != 0 && !EqualNameNoCase(stored, name, length)) continue;
    location->mSource = FILE_SOURCE_PACK;
    location->mPackEntry = (int32_t)i;
    location->mPackNumber = e.mPackNumber;
    location->mType = e.mType;
    location->mEntryPos = (uint64_t)e.mNamePos + 1 + length + 1;
    return FILE_SOURCE_PACK;
  }
  return 0;
}

int VerifyAndRepairEntry(PackHandle* pack, uint8_t* data, uint32_t length, uint32_t storedHash) {
  if (MurmurHash2(data, length, 0) == storedHash) return 0;
  uint32_t paritySize, blockCount;
  if (!PackReadU32(pack, &paritySize) || paritySize != PACK_REPAIR_BLOCK) return -1;
  uint32_t blocks = (uint32_t)(((uint64_t)length + PACK_REPAIR_BLOCK - 1) / PACK_REPAIR_BLOCK);
  if (!PackReadU32(pack, &blockCount) || blockCount != blocks || blocks == 0) return -1;
  std::vector<uint8_t> checks((size_t)blocks * 2);
  uint8_t parity[PACK_REPAIR_BLOCK];
  if (!PackRead(pack, checks.data(), checks.size()) || !PackRead(pack, parity, sizeof parity)) return -1;

  uint8_t stale[PACK_REPAIR_BLOCK] = {};
  for (uint32_t i = 0; i < length; i++) stale[i % PACK_REPAIR_BLOCK] ^= data[i];
  // `now` follows the blocks as they are rebuilt, so "every other block" is read as it is now.
  uint8_t now[PACK_REPAIR_BLOCK];
  memcpy(now, stale, sizeof now);
  for (uint32_t j = 0; j < blocks; j++) {
    uint8_t* block = data + (size_t)j * PACK_REPAIR_BLOCK;
    uint32_t size = std::min<uint32_t>(PACK_REPAIR_BLOCK, length - j * PACK_REPAIR_BLOCK);
    uint16_t check = (uint16_t)(checks[j * 2] | checks[j * 2 + 1] << 8);
    if ((uint16_t)Crc32(0, block, size) == check) continue;
    for (uint32_t k = 0; k < size; k++) {
      if (parity[k] == stale[k]) continue;
      uint8_t rebuilt = (uint8_t)(parity[k] ^ now[k] ^ block[k]);
      now[k] ^= (uint8_t)(block[k] ^ rebuilt);
      block[k] = rebuilt;
    }
  }
  return MurmurHash2(data, length, 0) == storedHash ? 1 : -1;
}

int ReadPackEntry(FileLocation* location, const char* name) {
  int32_t number = location->mPackNumber;
  if (number < 0 || number >= g_PackCount) return -3;
  const PackFile& file = g_PackPaths[number];
  PackHandle pack;
  if (OpenPack(&pack, file.mRealPath) != 0) {
    ReportErrorF(901040, 1, file.mPath.c_str());
    return -3;
  }
  uint8_t fields[21];
  pack.mPos = location->mEntryPos;
  if (!PackRead(&pack, fields, sizeof fields)) {
    ClosePack(&pack);
    ReportDamaged(file, name);
    return -2;
  }
  uint8_t compression = fields[0];
  uint32_t size = GetU32(fields + 1), storedSize = GetU32(fields + 5);
  uint64_t dataOffset = GetU64(fields + 9);
  uint32_t hash = GetU32(fields + 17);
  if (compression > 1) {
    ClosePack(&pack);
    ReportErrorF(901040, 1, file.mPath.c_str());
    return -3;
  }
  // A stored entry is its file size long; a compressed one cannot expand past zlib's limit.
  uint64_t onDisk = compression == 0 ? size : storedSize;
  bool inside = dataOffset <= pack.mSize && onDisk <= pack.mSize - dataOffset &&
                (compression == 0 || size <= InflateLimit(storedSize));
  if (!inside) {
    ClosePack(&pack);
    ReportDamaged(file, name);
    return -2;
  }
  pack.mPos = dataOffset;

  if (compression == 0) {
    uint8_t* data = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (!data) {
      ClosePack(&pack);
      ReportErrorF(104030, 1, name);
      return -3;
    }
    bool ok = PackRead(&pack, data, size) && VerifyAndRepairEntry(&pack, data, size, hash) >= 0;
    ClosePack(&pack);
    if (!ok) {
      free(data);
      ReportDamaged(file, name);
      return -2;
    }
    location->mData = data;
    location->mSize = size;
    return 0;
  }

  uint8_t* stored = static_cast<uint8_t*>(malloc(storedSize ? storedSize : 1));
  if (!stored) {
    ClosePack(&pack);
    ReportErrorF(104030, 1, name);
    return -3;
  }
  // The output buffer grows as the stream inflates: a lying size costs no memory up front.
  int z = INFLATE_BROKEN;
  uint8_t* data = nullptr;
  if (PackRead(&pack, stored, storedSize)) {
    z = InflateExact(stored, storedSize, size, &data);
    if (z == INFLATE_BROKEN && VerifyAndRepairEntry(&pack, stored, storedSize, hash) >= 0)
      z = InflateExact(stored, storedSize, size, &data);
  }
  free(stored);
  ClosePack(&pack);
  if (z == INFLATE_OK) {
    location->mData = data;
    location->mSize = size;
    return 0;
  }
  if (z == INFLATE_TOO_LONG) ReportErrorF(900040, 1, name);
  else if (z == INFLATE_NO_MEMORY) ReportErrorF(106010, 1, name);
  else ReportDamaged(file, name);
  return -2;
}
