// Little-endian byte-buffer writing for the format writers.
#pragma once

#include <cstdint>
#include <string>

class BinaryWriter {
 public:
  void U8(uint8_t v) { bytes_ += (char)v; }
  void U16(uint16_t v) { U8((uint8_t)v), U8((uint8_t)(v >> 8)); }
  void U32(uint32_t v) { U16((uint16_t)v), U16((uint16_t)(v >> 16)); }
  void U64(uint64_t v) { U32((uint32_t)v), U32((uint32_t)(v >> 32)); }
  void Bytes(const std::string& s) { bytes_ += s; }
  void Bytes(const void* p, size_t n) { bytes_.append(static_cast<const char*>(p), n); }
  size_t Size() const { return bytes_.size(); }
  std::string& Data() { return bytes_; }

 private:
  std::string bytes_;
};
