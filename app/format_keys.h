// Fixed data of the game file formats, shared by the runtime and the packaging tools:
// the script key pass phrase, the swap pairs of the pack name-length table and the hashes.
#pragma once

#include <cstddef>
#include <cstdint>

// The pass phrase whose CRC-32 (most significant byte first) is the script key.
extern const char kScriptPassPhrase[10];

// Pairs of entries swapped, in order, in the identity table 0..255 to make the name-length table.
extern const uint8_t kNameLengthSwaps[][2];
extern const int kNameLengthSwapCount;

// Fills `table` with the identity and applies the swaps.
void FillNameLengthTable(uint8_t table[256]);
// The CRC-32 of the pass phrase as 4 bytes, most significant first.
void ComputeScriptKey(uint8_t key[4]);
// The reflected CRC-32 of zlib and PNG, continued from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length);
// 32-bit MurmurHash2 (multiplier 0x5BD1E995, shift 24), the initial value `seed` ^ length;
// names of named objects, labels and pack entries are hashed with seed 0.
uint32_t MurmurHash2(const void* data, size_t length, uint32_t seed);
