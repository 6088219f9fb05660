// Bounded inflation: exact sizes only, streams that lie about their size in either direction,
// damaged and cut streams, and sizes that no stream of the given length could reach.
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/files.h"

namespace {

std::string Deflate(const std::string& raw, int level) {
  uLongf size = compressBound(raw.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(),
            level);
  out.resize(size);
  return out;
}

std::string Sample(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (char& c : s) c = (char)((x = x * 1103515245 + 12345) >> 24);
  return s;
}

TEST(Inflate, OnlyTheDeclaredSizeOfASoundStreamIsAccepted) {
  const std::string noise = Sample(300000);          // grows the buffer several times
  const std::string zeros(8 << 20, '\0');            // close to zlib's largest ratio
  const std::string packedNoise = Deflate(noise, 6), packedZeros = Deflate(zeros, 9);
  std::string cut = packedNoise.substr(0, packedNoise.size() / 2);
  std::string damaged = packedNoise;
  damaged[40] ^= 0x5A;
  struct Case {
    const char* what;
    const std::string* packed;
    size_t expected;
    int result;
  } cases[] = {
      {"exact", &packedNoise, noise.size(), INFLATE_OK},
      {"high ratio", &packedZeros, zeros.size(), INFLATE_OK},
      {"declared one byte more", &packedNoise, noise.size() + 1, INFLATE_SHORT},
      {"declared one byte less", &packedNoise, noise.size() - 1, INFLATE_TOO_LONG},
      {"declared zero", &packedNoise, 0, INFLATE_TOO_LONG},
      {"cut stream", &cut, noise.size(), INFLATE_BROKEN},
      {"damaged stream", &damaged, noise.size(), INFLATE_BROKEN},
      {"beyond any ratio", &packedNoise, (size_t)InflateLimit(packedNoise.size()) + 1, INFLATE_BROKEN},
  };
  for (const Case& c : cases) {
    uint8_t* out = reinterpret_cast<uint8_t*>(1);
    int r = InflateExact(reinterpret_cast<const uint8_t*>(c.packed->data()), c.packed->size(), c.expected, &out);
    EXPECT_EQ(r, c.result) << c.what;
    if (r != INFLATE_OK) {
      EXPECT_EQ(out, nullptr) << c.what;
      continue;
    }
    const std::string& raw = c.packed == &packedNoise ? noise : zeros;
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(out), c.expected) == raw) << c.what;
    free(out);
  }
}

TEST(Inflate, AnEmptyStreamGivesAnEmptyBuffer) {
  std::string packed = Deflate("", 1);
  uint8_t* out = nullptr;
  ASSERT_EQ(InflateExact(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), 0, &out), INFLATE_OK);
  EXPECT_NE(out, nullptr);
  free(out);
  EXPECT_EQ(InflateExact(nullptr, 0, 0, &out), INFLATE_BROKEN);
}

}  // namespace
