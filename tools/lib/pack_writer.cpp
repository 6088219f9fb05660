// The pack archive writer: directory with scrambled names, data, hashes and repair records.
#include "tools/lib/pack_writer.h"

#include <algorithm>
#include <cstdio>

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
