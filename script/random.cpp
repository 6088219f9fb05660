// The random number generator of the scripts: the 32-bit Mersenne Twister (MT19937).
#include "script/random.h"

#include "app/hooks.h"

namespace {

constexpr int MT_WORDS = 624;
constexpr int MT_SHIFT = 397;
uint32_t g_MtState[MT_WORDS];
int g_MtIndex = MT_WORDS + 1;   // not seeded yet

void RegenerateRandomState() {
  for (int i = 0; i < MT_WORDS; i++) {
    uint32_t y = (g_MtState[i] & 0x80000000u) | (g_MtState[(i + 1) % MT_WORDS] & 0x7FFFFFFFu);
    g_MtState[i] = g_MtState[(i + MT_SHIFT) % MT_WORDS] ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
  }
  g_MtIndex = 0;
}

}  // namespace

void SeedRandom(uint32_t seed) {
  g_MtState[0] = seed;
  for (int i = 1; i < MT_WORDS; i++)
    g_MtState[i] = 1812433253u * (g_MtState[i - 1] ^ (g_MtState[i - 1] >> 30)) + (uint32_t)i;
  g_MtIndex = MT_WORDS;
}

uint32_t NextRandom() {
  if (g_MtIndex > MT_WORDS) SeedRandom(5489u);   // the generator's customary seed
  if (g_MtIndex >= MT_WORDS) RegenerateRandomState();
  uint32_t y = g_MtState[g_MtIndex++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}
