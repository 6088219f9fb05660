// Builds pack archives (.kpk) from (name, bytes) pairs, as the runtime reads them: scrambled
// names, type codes, stored or zlib data, name and data hashes, and repair records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PackWriterFile {
  std::string name;        // as a game names it; stored lower-cased with '\' separators
  std::string bytes;
  bool compress = true;    // zlib, else stored
  bool repair = true;      // append a repair record (parity of the stored bytes' 1 KiB blocks)
  int type = -1;           // type code; -1 takes it from the name's extension
};

struct PackWriterOptions {
  uint32_t version = 480;
  int zlibLevel = 6;
};

// Where each entry landed, so tests can damage a pack on purpose.
struct PackWriterEntryLayout {
  std::string name;        // the stored spelling
  uint32_t directoryPos;   // of the entry's hash field, from the start of the pack
  uint32_t dataPos;        // of the stored bytes
  uint32_t storedSize;
};

// The name as the runtime's lookups spell it: ASCII lower-cased outside double-byte
// characters, '/' turned into '\'.
std::string PackEntryName(const std::string& name);
uint8_t PackTypeFromName(const std::string& name);
// The whole pack. Names longer than 255 bytes are refused (empty result, `error` set).
std::string BuildPack(const std::vector<PackWriterFile>& files, const PackWriterOptions& options,
                      std::vector<PackWriterEntryLayout>* layout, std::string* error);
bool WritePackFile(const std::string& path, const std::vector<PackWriterFile>& files,
                   const PackWriterOptions& options, std::string* error);

// Movies (and Flash movies) play only as loose files beside the pack: a name with one of their
// extensions, whatever its case.
bool IsMovieName(const std::string& name);

// Two names that the pack would store as one (they differ only in case, or in '/' against
// '\'): true with both names as given, the first pair in `files` order.
bool FindPackNameClash(const std::vector<PackWriterFile>& files, std::string* first, std::string* second);

// The pack without the entries whose stored name `drop` picks; `dropped` receives those names.
// False (with `error`) when `pack` is not a whole pack of this format.
bool FilterPack(const std::string& pack, const std::function<bool(const std::string&)>& drop, std::string* out,
                std::vector<std::string>* dropped, std::string* error);
