// The fixed format data chosen for this engine, and the CRC-32 they are built with.
#include "app/format_keys.h"

#include <cstddef>
#include <cstring>

#include <zlib.h>

const char kScriptPassPhrase[10] = "Velmonari";

// Chosen once; changing them makes every existing pack unreadable.
const uint8_t kNameLengthSwaps[][2] = {
    {0x01, 0xA7}, {0x02, 0x5C}, {0x03, 0xE1}, {0x04, 0x39}, {0x05, 0x8E}, {0x06, 0x12},
    {0x07, 0xC3}, {0x08, 0x6B}, {0x09, 0xF0}, {0x0A, 0x27}, {0x0B, 0x94}, {0x0C, 0x4D},
    {0x0D, 0xB8}, {0x0E, 0x73}, {0x0F, 0xDA}, {0x10, 0x35}, {0x11, 0x81}, {0x13, 0x66},
    {0x14, 0xCF}, {0x15, 0x2A}, {0x16, 0x9B}, {0x17, 0x50}, {0x18, 0xE6}, {0x19, 0x0E},
    {0x1A, 0x7D}, {0x1B, 0xB2}, {0x1C, 0x44}, {0x1D, 0xF9}, {0x1E, 0x21}, {0x1F, 0x8A},
    {0x20, 0x5F}, {0x40, 0xC9}, {0x7F, 0x80}, {0xFF, 0x00}, {0x33, 0xAD}, {0x60, 0x99},
};
const int kNameLengthSwapCount = sizeof kNameLengthSwaps / sizeof kNameLengthSwaps[0];

void FillNameLengthTable(uint8_t table[256]) {
  for (int i = 0; i < 256; i++) table[i] = (uint8_t)i;
  for (int i = 0; i < kNameLengthSwapCount; i++) {
    uint8_t a = kNameLengthSwaps[i][0], b = kNameLengthSwaps[i][1];
    uint8_t t = table[a];
    table[a] = table[b];
    table[b] = t;
  }
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length) {
  // zlib's table-driven CRC is the reference and is fast; feed it in bounded pieces.
  while (length > 0) {
    uInt piece = length > 0x40000000u ? 0x40000000u : (uInt)length;
    crc = (uint32_t)crc32(crc, data, piece);
    data += piece;
    length -= piece;
  }
  return crc;
}

void ComputeScriptKey(uint8_t key[4]) {
  uint32_t crc = Crc32(0, reinterpret_cast<const uint8_t*>(kScriptPassPhrase), strlen(kScriptPassPhrase));
  key[0] = (uint8_t)(crc >> 24);
  key[1] = (uint8_t)(crc >> 16);
  key[2] = (uint8_t)(crc >> 8);
  key[3] = (uint8_t)crc;
}

uint32_t MurmurHash2(const void* data, size_t length, uint32_t seed) {
  constexpr uint32_t m = 0x5BD1E995;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t h = seed ^ (uint32_t)length;
  for (; length >= 4; p += 4, length -= 4) {
    uint32_t k = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    k *= m;
    k ^= k >> 24;
    k *= m;
    h = h * m ^ k;
  }
  // The tail bytes are unsigned: a name with bytes above 0x7F hashes the same on every host.
  switch (length) {
    case 3: h ^= (uint32_t)p[2] << 16; [[fallthrough]];
    case 2: h ^= (uint32_t)p[1] << 8; [[fallthrough]];
    case 1: h ^= p[0]; h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}
