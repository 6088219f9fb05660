// The fast pixel kernels against the plain ones on random rows, the worked values of both
// levels, the level choice and the zeroed allocation.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "app/hooks.h"
#include "layers/blend_tables.h"
#include "layers/pixel_kernels.h"

namespace {

// One way to call a slot, so every slot runs through the same comparison.
struct Slot {
  const char* name;
  bool takesFactor;   // the routine reads the factor argument
  void (*call)(const PixelKernels& k, uint8_t* dst, const uint8_t* src, const uint8_t* extra, int32_t f,
               size_t n);
};

const Slot SLOTS[] = {
    {"zeroFill", false, [](const PixelKernels& k, uint8_t* d, const uint8_t*, const uint8_t*, int32_t, size_t n) { k.zeroFill(d, n); }},
    {"fillBytes", true, [](const PixelKernels& k, uint8_t* d, const uint8_t*, const uint8_t*, int32_t f, size_t n) { k.fillBytes(d, n, (uint8_t)(f * 7)); }},
    {"fillPixels", true, [](const PixelKernels& k, uint8_t* d, const uint8_t*, const uint8_t*, int32_t f, size_t n) { k.fillPixels(d, n, 0x01020304u * (uint32_t)(f + 1)); }},
    {"copy", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.copy(d, s, n); }},
    {"crossFade", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.crossFade(d, s, f, n); }},
    {"alphaBlend", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.alphaBlend(d, s, n); }},
    {"alphaBlendOpacity", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.alphaBlendOpacity(d, s, f > 255 ? 255 : f, n); }},
    {"ruleBlendHard", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t f, size_t n) { k.ruleBlend(d, s, r, f, 256, n); }},
    {"ruleBlendSoft", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t f, size_t n) { k.ruleBlend(d, s, r, f, 64, n); }},
    {"ruleBlendSharp", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t f, size_t n) { k.ruleBlend(d, s, r, f, 1000, n); }},
    {"crossFadeTwo", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t f, size_t n) { k.crossFadeTwo(d, r, s, f, n); }},
    {"add", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.add(d, s, n); }},
    {"addOpacity", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.addOpacity(d, s, f, n); }},
    {"addAlpha", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.addAlpha(d, s, f, n); }},
    {"addAlphaOpacity", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.addAlphaOpacity(d, s, f, n); }},
    {"subtract", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.subtract(d, s, n); }},
    {"multiply", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.multiply(d, s, n); }},
    {"screen", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.screen(d, s, n); }},
    {"screenOpacity", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.screenOpacity(d, s, f, n); }},
    {"lighten", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.lighten(d, s, n); }},
    {"darken", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.darken(d, s, n); }},
    {"linearBurn", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.linearBurn(d, s, n); }},
    {"linearLight", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.linearLight(d, s, n); }},
    {"composeOverAlpha", false, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t, size_t n) { k.composeOverAlpha(d, s, n); }},
    {"composeOverAlphaOpacity", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.composeOverAlphaOpacity(d, s, f, n); }},
    {"composeOverScaledAlpha", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.composeOverScaledAlpha(d, s, f, n); }},
    {"composeOverAlphaTwoFactor", true, [](const PixelKernels& k, uint8_t* d, const uint8_t* s, const uint8_t*, int32_t f, size_t n) { k.composeOverAlphaTwoFactor(d, s, 256 - f, f, n); }},
};

const int32_t FACTORS[] = {0, 1, 127, 128, 129, 255, 256};
constexpr size_t GUARD = 24;
constexpr uint8_t CANARY = 0xA5;

// Random pixels whose alpha runs through blocks of eight transparent, opaque and mixed pixels,
// so the shortcuts for whole transparent or opaque groups (of four or eight) are taken as well.
std::vector<uint8_t> RandomRow(std::mt19937& rng, size_t bytes) {
  std::vector<uint8_t> row(bytes);
  for (size_t i = 0; i < bytes; i++) {
    row[i] = (uint8_t)rng();
    if (i % 4 == 3) {
      int block = (int)((i / 32) % 3);
      if (block == 0) row[i] = 0;
      if (block == 1) row[i] = 255;
    }
  }
  return row;
}

class PixelKernelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProductTables();
    InitBlendTables();
    std::mt19937 rng(7);
    for (int32_t& w : g_RuleWeights) w = (int32_t)(rng() % 260) - 2;
  }
};

// The fast sets of both levels, and where the processor has AVX2 the same with the AVX2
// routines installed over their SSE2 twins.
struct FastSet {
  int level;   // index into g_ReferenceKernels
  PixelKernels kernels;
  const char* form;
  size_t longest;   // row lengths 1..longest: the AVX2 set needs only a few of its 32-byte steps
};
std::vector<FastSet> FastSets() {
  std::vector<FastSet> sets;
  for (int level = 0; level < 2; level++) {
    sets.push_back({level, g_FastKernels[level], "sse2", 300});
    if (!CpuHasAvx2()) continue;
    PixelKernels avx2 = g_FastKernels[level];
    UseAvx2Kernels(&avx2, level == 0 ? 1 : 3);
    sets.push_back({level, avx2, "avx2", 80});
  }
  return sets;
}

TEST_F(PixelKernelsTest, FastSetMatchesReferenceOnEveryLengthAndOffset) {
  std::mt19937 rng(12345);
  const size_t area = 300 + 16 + GUARD;
  for (const FastSet& set : FastSets()) {
    int level = set.level;
    for (const Slot& slot : SLOTS) {
      int failures = 0;
      for (size_t n = 1; n <= set.longest && failures == 0; n++) {
        const std::vector<uint8_t> row = RandomRow(rng, area), src = RandomRow(rng, area), extra = RandomRow(rng, area);
        for (size_t dOff = 0; dOff < 16 && failures == 0; dOff++) {
          size_t sOff = (n + dOff * 5) % 16;
          std::vector<uint8_t> dst0 = row;
          for (size_t i = dOff + n; i < area; i++) dst0[i] = CANARY;
          for (int32_t f : FACTORS) {
            if (!slot.takesFactor && f != 0) continue;
            std::vector<uint8_t> ref = dst0, fast = dst0, srcCopy = src, extraCopy = extra;
            slot.call(g_ReferenceKernels[level], ref.data() + dOff, srcCopy.data() + sOff, extraCopy.data() + sOff, f, n);
            slot.call(set.kernels, fast.data() + dOff, srcCopy.data() + sOff, extraCopy.data() + sOff, f, n);
            bool same = ref == fast;
            bool guarded = true;
            for (size_t i = 0; i < dOff; i++) guarded &= fast[i] == dst0[i];
            for (size_t i = dOff + n; i < area; i++) guarded &= fast[i] == CANARY;
            bool sourceKept = memcmp(src.data(), srcCopy.data(), area) == 0 && memcmp(extra.data(), extraCopy.data(), area) == 0;
            if (!same || !guarded || !sourceKept) {
              ADD_FAILURE() << slot.name << " " << set.form << " level " << level + 1 << " n=" << n << " dst+" << dOff
                            << " src+" << sOff << " f=" << f << (same ? "" : " differs")
                            << (guarded ? "" : " writes outside") << (sourceKept ? "" : " changes a source");
              failures++;
              break;
            }
          }
        }
      }
    }
  }
}

// The vector compose-over divides in single precision: every pair of destination and source
// alpha must still give the reference's bytes.
TEST_F(PixelKernelsTest, ComposeOverAlphaIsExactForEveryPairOfAlphas) {
  std::mt19937 rng(5);
  std::vector<uint8_t> dst(256 * 256 * 4), src(dst.size());
  for (size_t i = 0; i < dst.size(); i++) dst[i] = (uint8_t)rng(), src[i] = (uint8_t)rng();
  for (size_t p = 0; p < 256 * 256; p++) dst[p * 4 + 3] = (uint8_t)(p >> 8), src[p * 4 + 3] = (uint8_t)p;
  std::vector<uint8_t> want = dst;
  g_ReferenceKernels[1].composeOverAlpha(want.data(), src.data(), want.size());
  for (const FastSet& set : FastSets()) {
    std::vector<uint8_t> got = dst;
    set.kernels.composeOverAlpha(got.data(), src.data(), got.size());
    EXPECT_EQ(got, want) << set.form;
  }
}

// Both sets of a level must also agree on the worked values; each case runs on an 8-aligned
// destination so the pair, head and tail split is fixed.
struct WorkedCase {
  const char* what;
  int level;
  std::vector<uint8_t> dst, src;
  std::function<void(const PixelKernels&, uint8_t*, const uint8_t*, size_t)> run;
  std::vector<uint8_t> expect;
};

TEST_F(PixelKernelsTest, WorkedValuesAtEachLevel) {
  std::vector<uint8_t> ones(9, 1);
  auto fade128 = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.crossFade(d, s, 128, n); };
  auto alpha = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.alphaBlend(d, s, n); };
  auto addAlpha = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.addAlpha(d, s, 0, n); };
  auto overAlpha = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.composeOverAlpha(d, s, n); };
  auto overOpacity = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.composeOverAlphaOpacity(d, s, 200, n); };
  // Rule bytes: by the weight table at level 1 and with a hard edge; at level 2 with a soft
  // edge the first 8 bytes weigh themselves (sharpness 64, progress 100: w = clamp(32r - 4892) + 1)
  // and the rest go by the table.
  static const uint8_t rule[12] = {50, 10, 200, 160, 50, 10, 200, 160, 50, 50, 50, 50};
  auto ruleHard = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.ruleBlend(d, s, rule, 100, 256, n); };
  auto ruleSoft = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.ruleBlend(d, s, rule, 100, 64, n); };
  std::vector<uint8_t> hundreds(12, 100), twoHundreds(12, 201);
  // Group and tail bytes take different formulas in these three.
  auto multiply = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.multiply(d, s, n); };
  auto screen = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.screen(d, s, n); };
  auto addHalf = [](const PixelKernels& k, uint8_t* d, const uint8_t* s, size_t n) { k.addOpacity(d, s, 128, n); };
  std::vector<uint8_t> six200(6, 200), nine200(9, 200), nine100(9, 100);
  // Three pixels: a pair and a lone last one, transparent source darker than the destination.
  std::vector<uint8_t> dark = {10, 10, 10, 0, 10, 10, 10, 0, 10, 10, 10, 0};
  std::vector<uint8_t> light = {50, 50, 50, 255, 50, 50, 50, 255, 50, 50, 50, 255};
  const WorkedCase cases[] = {
      {"cross-fade by half, pair then tail", 1, ones, ones, fade128, {0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"cross-fade by half, pair then tail", 2, ones, ones, fade128, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"transparent source over a pair and a lone pixel", 1, light, dark, alpha,
       {50, 50, 50, 255, 50, 50, 50, 255, 49, 49, 49, 255}},
      {"transparent source over a pair and a lone pixel", 2, light, dark, alpha,
       {50, 50, 50, 255, 50, 50, 50, 255, 49, 49, 49, 255}},
      {"rule by the weight table", 1, hundreds, twoHundreds, ruleHard,
       {151, 151, 151, 100, 151, 151, 151, 100, 151, 151, 151, 100}},
      {"rule by the weight table", 2, hundreds, twoHundreds, ruleHard,
       {151, 151, 151, 100, 151, 151, 151, 100, 151, 151, 151, 100}},
      {"rule with a soft edge", 2, hundreds, twoHundreds, ruleSoft,
       {100, 100, 201, 190, 100, 100, 201, 190, 151, 151, 151, 151}},
      {"rule with a soft edge goes by the table at level 1", 1, hundreds, twoHundreds, ruleSoft,
       {151, 151, 151, 100, 151, 151, 151, 100, 151, 151, 151, 100}},
      {"multiply, whole pixels then a partial one", 1, six200, six200, multiply, {157, 157, 157, 157, 156, 156}},
      {"screen, a pair then a tail", 2, nine200, nine200, screen, {243, 243, 243, 243, 243, 243, 243, 243, 244}},
      {"add at half opacity, a group then a tail", 1, nine200, nine100, addHalf,
       {250, 250, 250, 250, 250, 250, 250, 250, 227}},
      {"add at full alpha", 1, {0, 0, 0, 7}, {255, 255, 255, 255}, addAlpha, {255, 255, 255, 7}},
      {"add at full alpha", 2, {0, 0, 0, 7}, {255, 255, 255, 255}, addAlpha, {254, 254, 254, 7}},
      {"over a transparent destination", 2, {9, 9, 9, 0}, {200, 100, 50, 77}, overAlpha, {200, 100, 50, 77}},
      {"transparent source over alpha", 1, {9, 8, 7, 66}, {200, 100, 50, 0}, overAlpha, {9, 8, 7, 66}},
      // The weight reaches 2 * 256 * 200 here: the colour saturates instead of wrapping.
      {"thinned alpha does not wrap the colour", 1, {0, 0, 0, 0}, {255, 255, 255, 2}, overOpacity,
       {255, 255, 255, 1}},
  };
  for (int32_t& w : g_RuleWeights) w = 0;
  g_RuleWeights[50] = 128;
  for (const WorkedCase& c : cases) {
    for (const PixelKernels* set : {&g_ReferenceKernels[c.level - 1], &g_FastKernels[c.level - 1]}) {
      alignas(16) uint8_t dst[32];
      memcpy(dst, c.dst.data(), c.dst.size());
      c.run(*set, dst, c.src.data(), c.dst.size());
      EXPECT_EQ(std::vector<uint8_t>(dst, dst + c.dst.size()), c.expect)
          << c.what << " level " << c.level << (set == &g_FastKernels[c.level - 1] ? " fast" : " reference");
    }
  }
}

TEST_F(PixelKernelsTest, PixelFillLeavesAPartialPixelAlone) {
  for (const PixelKernels& set : g_FastKernels) {
    uint8_t row[12];
    memset(row, 0xEE, sizeof row);
    set.fillPixels(row, 10, 0x44332211u);
    const uint8_t expect[12] = {0x11, 0x22, 0x33, 0x44, 0x11, 0x22, 0x33, 0x44, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, memcmp(row, expect, sizeof row));
  }
}

TEST_F(PixelKernelsTest, CopyWithinOneBufferKeepsTheForwardOrder) {
  for (int shift : {-9, -3, 3, 5, 8, 13}) {
    std::vector<uint8_t> ref(64), fast(64);
    for (int i = 0; i < 64; i++) ref[i] = fast[i] = (uint8_t)i;
    size_t from = 20, to = 20 + shift, n = 30;
    g_ReferenceKernels[0].copy(ref.data() + to, ref.data() + from, n);
    g_FastKernels[1].copy(fast.data() + to, fast.data() + from, n);
    EXPECT_EQ(ref, fast) << "shift " << shift;
    if (shift < 0) {
      for (size_t i = 0; i < n; i++) EXPECT_EQ(fast[to + i], from + i) << "shift " << shift;
    }
  }
}

TEST(KernelLevel, FollowsFeaturesAndSwitches) {
  struct Case {
    bool sse, sse2;
    uint8_t allowSse, allowSse2;
    int32_t level;
  } cases[] = {
      {false, false, 1, 1, 1}, {true, true, 0, 0, 1}, {true, true, 0, 1, 3}, {true, true, 1, 0, 2},
      {true, false, 1, 1, 2},  {true, true, 1, 1, 3}, {false, true, 1, 1, 3},
  };
  for (const Case& c : cases) {
    uint8_t features[CPU_FEATURE_COUNT] = {};
    features[CPU_SSE] = c.sse;
    features[CPU_SSE2] = c.sse2;
    EXPECT_EQ(ChooseKernelLevel(features, c.allowSse, c.allowSse2), c.level)
        << c.sse << c.sse2 << " switches " << (int)c.allowSse << (int)c.allowSse2;
  }
}

TEST(KernelLevel, StartUpInstallsTheChosenSet) {
  ProbeCpuFeatures();
  EXPECT_TRUE(HasCpuid());
  EXPECT_EQ(g_CpuFeatures[CPU_SSE2], 1);   // every x86-64 processor
  struct Case {
    uint8_t allowSse, allowSse2;
    int32_t level;
    const PixelKernels* set;
  } cases[] = {{0, 0, 1, &g_FastKernels[0]}, {1, 0, 2, &g_FastKernels[1]}, {0, 1, 3, &g_FastKernels[1]}};
  for (const Case& c : cases) {
    g_AllowSse = c.allowSse;
    g_AllowSse2 = c.allowSse2;
    InitPixelKernels();
    EXPECT_EQ(g_KernelLevel, c.level);
    EXPECT_EQ(g_PixelKernels.crossFade, c.set->crossFade);
    // Where the processor has AVX2 its routines replace their SSE2 twins.
    EXPECT_EQ(g_PixelKernels.alphaBlend == c.set->alphaBlend, !(CpuHasAvx2() && c.level > 1));
  }
  g_AllowSse = g_AllowSse2 = 1;
  InitPixelKernels();
}

TEST(AllocZeroed, GivesZeroedBlocks) {
  for (size_t n : {(size_t)1, (size_t)4096, (size_t)100003}) {
    uint8_t* block = (uint8_t*)AllocZeroed(n);
    ASSERT_NE(block, nullptr);
    size_t nonZero = 0;
    for (size_t i = 0; i < n; i++) nonZero += block[i] != 0;
    EXPECT_EQ(nonZero, 0u);
    free(block);
  }
}

}  // namespace
