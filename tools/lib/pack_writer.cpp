// The pack archive writer: directory with scrambled names, data, hashes and repair records.
#include "tools/lib/pack_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include <zlib.h>

#include "app/format_keys.h"
#include "tools/lib/binary_writer.h"

namespace {

constexpr uint32_t HEADER_BYTES = 32;
constexpr uint32_t REPAIR_BLOCK = 1024;

bool IsLeadByte(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::string RepairRecord(const std::string& stored, bool repair) {
  BinaryWriter w;
  if (!repair || stored.empty()) {
    w.U32(0);
    return w.Data();
  }
  uint32_t blocks = (uint32_t)((stored.size() + REPAIR_BLOCK - 1) / REPAIR_BLOCK);
  w.U32(REPAIR_BLOCK);
  w.U32(blocks);
  uint8_t parity[REPAIR_BLOCK] = {};
  const uint8_t* data = reinterpret_cast<const uint8_t*>(stored.data());
  for (uint32_t j = 0; j < blocks; j++) {
    size_t start = (size_t)j * REPAIR_BLOCK;
    size_t size = std::min<size_t>(REPAIR_BLOCK, stored.size() - start);
    w.U16((uint16_t)Crc32(0, data + start, size));
    for (size_t k = 0; k < size; k++) parity[k] ^= data[start + k];
  }
  w.Bytes(parity, sizeof parity);
  return w.Data();
}

}  // namespace

std::string PackEntryName(const std::string& name) {
  std::string out = name;
  for (size_t i = 0; i < out.size(); i++) {
    uint8_t c = (uint8_t)out[i];
    if (IsLeadByte(c) && i + 1 < out.size()) {
      i++;
      continue;
    }
    if (c >= 'A' && c <= 'Z') out[i] = (char)(c + 32);
    if (c == '/') out[i] = '\\';
  }
  return out;
}

uint8_t PackTypeFromName(const std::string& name) {
  static const char* const kExtensions[] = {".bmp", ".png", ".jpg", ".gif", ".wav",
                                            ".ogg", ".psd", ".kcg", ".psb"};
  std::string lower = PackEntryName(name);
  for (int i = 0; i < 9; i++) {
    std::string e = kExtensions[i];
    if (lower.size() >= e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0)
      return (uint8_t)(i + 1);
  }
  return 0;
}

std::string BuildPack(const std::vector<PackWriterFile>& files, const PackWriterOptions& options,
                      std::vector<PackWriterEntryLayout>* layout, std::string* error) {
  uint8_t table[256], inverse[256];
  FillNameLengthTable(table);
  for (int i = 0; i < 256; i++) inverse[table[i]] = (uint8_t)i;

  // Data first, so the directory can name each entry's offset.
  std::vector<std::string> names, stored;
  uint64_t directorySize = 0;
  for (const PackWriterFile& f : files) {
    std::string name = PackEntryName(f.name);
    if (name.size() > 255) {
      if (error) *error = "name longer than 255 bytes: " + f.name;
      return "";
    }
    std::string data = f.bytes;
    if (f.compress) {
      uLongf room = compressBound((uLong)f.bytes.size());
      data.resize(room);
      compress2(reinterpret_cast<Bytef*>(data.data()), &room,
                reinterpret_cast<const Bytef*>(f.bytes.data()), (uLong)f.bytes.size(), options.zlibLevel);
      data.resize(room);
    }
    directorySize += 27 + name.size();
    names.push_back(name);
    stored.push_back(std::move(data));
  }

  BinaryWriter directory, body;
  uint64_t dataStart = HEADER_BYTES + directorySize;
  if (layout) layout->clear();
  for (size_t i = 0; i < files.size(); i++) {
    const PackWriterFile& f = files[i];
    const std::string& name = names[i];
    uint64_t dataPos = dataStart + body.Size();
    if (layout)
      layout->push_back({name, (uint32_t)(HEADER_BYTES + directory.Size()), (uint32_t)dataPos,
                         (uint32_t)stored[i].size()});
    directory.U32(MurmurHash2(name.data(), name.size(), 0));
    directory.U8((uint8_t)(255 - inverse[name.size()]));
    for (char c : name) directory.U8((uint8_t)~(uint8_t)c);
    directory.U8(f.type >= 0 ? (uint8_t)f.type : PackTypeFromName(name));
    directory.U8(f.compress ? 1 : 0);
    directory.U32((uint32_t)f.bytes.size());
    directory.U32((uint32_t)stored[i].size());
    directory.U64(dataPos);
    directory.U32(MurmurHash2(stored[i].data(), stored[i].size(), 0));
    body.Bytes(stored[i]);
    body.Bytes(RepairRecord(stored[i], f.repair));
  }

  BinaryWriter pack;
  pack.Bytes("KPK", 4);   // the three letters and their terminator
  pack.U32(options.version);
  pack.U32((uint32_t)files.size());
  pack.U32((uint32_t)directorySize);
  for (int i = 0; i < 16; i++) pack.U8(0);
  pack.Bytes(directory.Data());
  pack.Bytes(body.Data());
  return pack.Data();
}

bool WritePackFile(const std::string& path, const std::vector<PackWriterFile>& files,
                   const PackWriterOptions& options, std::string* error) {
  std::string bytes = BuildPack(files, options, nullptr, error);
  if (bytes.empty()) return false;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create " + path;
    return false;
  }
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = fclose(f) == 0 && ok;
  if (!ok && error) *error = "cannot write " + path;
  return ok;
}

bool IsMovieName(const std::string& name) {
  static const char* const kExtensions[] = {".mpg", ".mpeg", ".m1v", ".m2v", ".mpv", ".avi", ".wmv", ".asf", ".mp4",
                                            ".m4v", ".mov",  ".mkv", ".webm", ".ogv", ".flv", ".ts",  ".m2ts", ".swf"};
  std::string lower = PackEntryName(name);
  for (const char* e : kExtensions) {
    size_t n = strlen(e);
    if (lower.size() > n && lower.compare(lower.size() - n, n, e) == 0) return true;
  }
  return false;
}

bool FindPackNameClash(const std::vector<PackWriterFile>& files, std::string* first, std::string* second) {
  std::map<std::string, const std::string*> seen;
  for (const PackWriterFile& f : files) {
    auto [it, added] = seen.emplace(PackEntryName(f.name), &f.name);
    if (!added) {
      *first = *it->second;
      *second = f.name;
      return true;
    }
  }
  return false;
}

namespace {

// Little-endian reads inside a bounded buffer.
struct PackReader {
  const std::string& bytes;
  uint64_t at;
  bool Need(uint64_t n) const { return at <= bytes.size() && n <= bytes.size() - at; }
  uint64_t Read(int n) {
    uint64_t v = 0;
    for (int k = 0; k < n; k++) v |= (uint64_t)(uint8_t)bytes[at + k] << (8 * k);
    at += n;
    return v;
  }
};

// The bytes an entry's data and repair record take from `pos`, 0 when they do not fit.
uint64_t StoredSpan(const std::string& pack, uint64_t pos, uint64_t stored) {
  PackReader r{pack, pos + stored};
  if (pos > pack.size() || stored > pack.size() - pos || !r.Need(4)) return 0;
  uint32_t block = (uint32_t)r.Read(4);
  if (block == 0) return stored + 4;
  if (block != REPAIR_BLOCK || !r.Need(4)) return 0;
  uint64_t blocks = r.Read(4);
  uint64_t span = stored + 8 + blocks * 2 + REPAIR_BLOCK;
  return span <= pack.size() - pos ? span : 0;
}

}  // namespace

bool FilterPack(const std::string& pack, const std::function<bool(const std::string&)>& drop, std::string* out,
                std::vector<std::string>* dropped, std::string* error) {
  uint8_t table[256];
  FillNameLengthTable(table);
  PackReader r{pack, 0};
  if (!r.Need(HEADER_BYTES) || pack.compare(0, 4, std::string("KPK\0", 4)) != 0) {
    *error = "not a pack";
    return false;
  }
  r.at = 4;
  uint32_t version = (uint32_t)r.Read(4);
  uint32_t count = (uint32_t)r.Read(4);
  r.at = HEADER_BYTES;
  struct Kept {
    std::string directory;   // the entry without its data position and data hash
    std::string span;        // data and repair record
    uint32_t dataHash;
  };
  std::vector<Kept> kept;
  for (uint32_t i = 0; i < count; i++) {
    if (!r.Need(5)) break;
    uint64_t start = r.at;
    r.Read(4);
    size_t length = table[255 - (uint8_t)r.Read(1)];
    if (!r.Need(length + 22)) break;
    std::string name;
    for (size_t k = 0; k < length; k++) name.push_back((char)~(uint8_t)r.Read(1));
    r.Read(2);
    r.Read(4);
    uint64_t stored = r.Read(4), pos = r.Read(8);
    uint32_t dataHash = (uint32_t)r.Read(4);
    uint64_t span = StoredSpan(pack, pos, stored);
    if (span == 0) break;
    if (drop(name)) {
      dropped->push_back(name);
      continue;
    }
    kept.push_back({pack.substr(start, r.at - start - 12), pack.substr(pos, span), dataHash});
  }
  if (kept.size() + dropped->size() != count) {
    *error = "a broken pack";
    return false;
  }
  uint64_t directorySize = 0;
  for (const Kept& k : kept) directorySize += k.directory.size() + 12;
  BinaryWriter directory, body;
  for (const Kept& k : kept) {
    directory.Bytes(k.directory);
    directory.U64(HEADER_BYTES + directorySize + body.Size());
    directory.U32(k.dataHash);
    body.Bytes(k.span);
  }
  BinaryWriter w;
  w.Bytes("KPK", 4);
  w.U32(version);
  w.U32((uint32_t)kept.size());
  w.U32((uint32_t)directorySize);
  for (int i = 0; i < 16; i++) w.U8(0);
  w.Bytes(directory.Data());
  w.Bytes(body.Data());
  *out = w.Data();
  return true;
}
