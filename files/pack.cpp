// Pack archives: the folder scan, registration, the merged index with update packs, lookup by
// name hash, and entry reads with decompression, hash check and repair.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>

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

// Adds one directory entry to the index; false after a reported duplicate.
bool IndexEntry(int32_t packNumber, bool updatePack, const uint8_t* entry, uint32_t length,
                int32_t namePos, std::unordered_map<std::string, int32_t>* seen) {
  PackIndex& x = g_PackIndex;
  int32_t j = x.mCount;
  uint32_t hash = GetU32(entry);
  char name[256];
  for (uint32_t i = 0; i < length; i++) name[i] = (char)~entry[5 + i];
  name[length] = 0;
  x.mHash[j] = hash;
  x.mPackNumber[j] = packNumber;
  x.mNamePos[j] = namePos;
  x.mType[j] = entry[5 + length];
  x.mLive[j] = 1;
  x.mNameOffset[j] = (uint32_t)x.mNames.size();
  x.mNameLength[j] = (uint8_t)length;
  x.mNames.append(name, length);
  x.mCount++;
  if (length == 15 && EqualNameNoCase(name, "kvbin\\kvcfg.kbn", 15)) g_PackedRelease = 1;

  // Same rule as comparing with every earlier entry of equal hash, in one step: the key holds
  // the stored hash and the stored name, still complemented, with ASCII case folded over its
  // whole length. A complemented letter is no letter, so names that differ only in ASCII case
  // are different entries, as packers that keep a file's own spelling rely on.
  std::string key(reinterpret_cast<const char*>(entry), 4);
  for (uint32_t i = 0; i < length; i++) key += (char)FoldAscii(entry[5 + i]);
  auto [it, fresh] = seen->try_emplace(key, j);
  if (fresh) return true;
  if (!updatePack) {
    ReportErrorF(104150, 0, name);
    return false;
  }
  int32_t u = it->second;
  x.mHash[u] = x.mHash[u] == 0 ? 1 : 0;
  x.mLive[u] = 0;
  it->second = j;
  return true;
}

// Reads one pack's directory into the index; false after a message.
bool IndexPack(int32_t number, std::unordered_map<std::string, int32_t>* seen) {
  const PackFile& file = g_PackPaths[number];
  PackHandle pack;
  if (OpenPack(&pack, file.mRealPath) != 0) {
    ReportErrorF(901040, 1, file.mPath.c_str());
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
       (int64_t)g_PackIndex.mCount + count <= (int64_t)g_PackIndex.mHash.size();
  std::vector<uint8_t> directory;
  if (ok) {
    directory.resize(directorySize);
    ok = PackRead(&pack, directory.data(), directorySize);
  }
  ClosePack(&pack);
  if (!ok) {
    ReportErrorF(104120, 1, file.mPath.c_str());
    return false;
  }
  bool updatePack = UpdatePackNumber(file.mPath) != 0;
  uint32_t offset = 0;
  for (uint32_t e = 0; e < count; e++) {
    if (directorySize - offset < DIRECTORY_ENTRY_FIXED) {
      ReportErrorF(104120, 1, file.mPath.c_str());
      return false;
    }
    const uint8_t* entry = directory.data() + offset;
    uint32_t length = g_NameLengthTable[255 - entry[4]];
    if (directorySize - offset - DIRECTORY_ENTRY_FIXED < length) {
      ReportErrorF(104120, 1, file.mPath.c_str());
      return false;
    }
    int32_t namePos = (int32_t)(PACK_HEADER_BYTES + offset + 4);
    if (!IndexEntry(number, updatePack, entry, length, namePos, seen)) return false;
    offset += DIRECTORY_ENTRY_FIXED + length;
  }
  return true;
}

// Sorts the index by hash; entries of equal hash keep their registration order.
void SortIndexByHash() {
  PackIndex& x = g_PackIndex;
  std::vector<int32_t> order((size_t)x.mCount);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return x.mHash[a] < x.mHash[b]; });
  auto permute = [&](auto& v) {
    auto copy = v;
    for (size_t i = 0; i < order.size(); i++) v[i] = copy[(size_t)order[i]];
  };
  permute(x.mHash);
  permute(x.mPackNumber);
  permute(x.mNamePos);
  permute(x.mType);
  permute(x.mLive);
  permute(x.mNameOffset);
  permute(x.mNameLength);
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
  size_t total = (size_t)g_RegisteredEntries;
  x.mHash.resize(total);
  x.mPackNumber.resize(total);
  x.mNamePos.resize(total);
  x.mType.resize(total);
  x.mLive.resize(total);
  x.mNameOffset.resize(total);
  x.mNameLength.resize(total);
  x.mCount = 0;
  std::unordered_map<std::string, int32_t> seen;
  seen.reserve(total);
  for (int32_t p = 0; p < g_PackCount; p++) {
    if (!IndexPack(p, &seen)) return -1;
  }
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
  size_t length = strlen(name);
  uint32_t hash = NameHash(name, length);
  auto first = std::lower_bound(x.mHash.begin(), x.mHash.begin() + x.mCount, hash);
  for (int32_t i = (int32_t)(first - x.mHash.begin()); i < x.mCount && x.mHash[i] == hash; i++) {
    if (!x.mLive[i] || x.mNameLength[i] != length) continue;
    if (!EqualNameNoCase(x.mNames.data() + x.mNameOffset[i], name, length)) continue;
    location->mSource = FILE_SOURCE_PACK;
    location->mPackEntry = i;
    location->mPackNumber = x.mPackNumber[i];
    location->mType = x.mType[i];
    location->mEntryPos = (uint64_t)x.mNamePos[i] + 1 + length + 1;
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
