// Every slot of the four blend-row tables against the closed form of its mode, the worked values
// of the lookup tables, the slot choice for bad layer values and the saturation filter.
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "app/hooks.h"
#include "layers/blend_rows_local.h"
#include "layers/blend_tables.h"
#include "layers/pixel_kernels.h"

namespace {

class BlendRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProductTables();
    InitBlendTables();
    BuildBlendLookupTables();
  }
  void TearDown() override { InstallPixelKernels(3); }
};

int FloorShift(int64_t x, int k) { return (int)(x >> k); }

// Plain rows: the kernel rows follow the reference kernels of the installed level, the others
// the per-byte steps over the mode's function.
void ExpectPlain(const PixelKernels& ref, int m, int32_t o, uint8_t* d, const uint8_t* s, size_t n) {
  bool full = o == 256;
  switch (m * 2 + full) {
    case 0: return ref.crossFade(d, s, o, n);
    case 1: return ref.copy(d, s, n);
    case 2: return ref.addOpacity(d, s, o, n);
    case 3: return ref.add(d, s, n);
    case 5: return ref.subtract(d, s, n);
    case 7: return ref.multiply(d, s, n);
    case 10: return ref.screenOpacity(d, s, o, n);
    case 11: return ref.screen(d, s, n);
    case 13: return ref.lighten(d, s, n);
    case 15: return ref.darken(d, s, n);
    case 27: return ref.linearBurn(d, s, n);
    case 35: return ref.linearLight(d, s, n);
  }
  for (size_t i = 0; i < n; i++) {
    int t = BlendFunction(m, s[i], d[i]);
    if (full) d[i] = (uint8_t)t;
    else if (m == BLEND_DIFFERENCE) d[i] = (uint8_t)(d[i] + (t - d[i]) * o / 256);   // toward d
    else d[i] = (uint8_t)(d[i] + FloorShift((int64_t)(t - d[i]) * o, 8));
  }
}

void ExpectAlpha(const PixelKernels& ref, int m, int32_t o, uint8_t* d, const uint8_t* s, size_t n) {
  bool full = o == 256;
  if (m == 0) return full ? ref.alphaBlend(d, s, n) : ref.alphaBlendOpacity(d, s, o, n);
  if (m == 1) return full ? ref.addAlpha(d, s, 0, n) : ref.addAlphaOpacity(d, s, o, n);
  for (size_t p = 0; p < n; p += 4) {
    int w = full ? s[p + 3] + 1 : ((s[p + 3] + 1) * o) >> 8;
    for (int c = 0; c < 3; c++) {
      int t = BlendFunction(m, s[p + c], d[p + c]);
      d[p + c] = (uint8_t)(d[p + c] + FloorShift((int64_t)(t - d[p + c]) * w, 8));
    }
  }
}

void ExpectRule(const PixelKernels& ref, int m, bool full, bool withAlpha, uint8_t* d, const uint8_t* s,
                const uint8_t* r, int32_t progress, int32_t sharpness, size_t n) {
  if (m == 0 && full && !withAlpha) return ref.ruleBlend(d, s, r, progress, sharpness, n);
  for (size_t p = 0; p < n; p += 4) {
    int64_t w = g_RuleWeights[r[p]];
    if (w <= 1) continue;
    for (int c = 0; c < 3; c++) {
      int t = BlendFunction(m, s[p + c], d[p + c]);
      if (!withAlpha) d[p + c] = (uint8_t)(d[p + c] + FloorShift((t - d[p + c]) * w, 8));
      else if (m == 0) d[p + c] = (uint8_t)(d[p + c] + FloorShift((t - d[p + c]) * w * s[p + 3], 16));
      else d[p + c] = (uint8_t)(d[p + c] + FloorShift((t - d[p + c]) * w * (s[p + 3] + 1), 16));
    }
  }
}

TEST_F(BlendRowsTest, EverySlotFollowsItsMode) {
  std::mt19937 rng(99);
  const size_t n = 37 * 4;
  for (int32_t& w : g_RuleWeights) w = (int32_t)(rng() % 259) - 2;
  for (int level : {1, 3}) {
    InstallPixelKernels(level);
    const PixelKernels& ref = g_ReferenceKernels[level == 1 ? 0 : 1];
    for (int m = 0; m < BLEND_MODE_COUNT; m++) {
      for (int32_t o : {0, 1, 127, 128, 129, 255, 256}) {
        alignas(16) uint8_t d0[n], s[n], r[n], got[n], want[n];
        for (size_t i = 0; i < n; i++) d0[i] = (uint8_t)rng(), s[i] = (uint8_t)rng(), r[i] = (uint8_t)rng();
        int slot = BlendRowSlot(m, o);
        ASSERT_EQ(slot, 2 * m + (o == 256));
        std::string where = "mode " + std::to_string(m) + " opacity " + std::to_string(o) + " level " +
                            std::to_string(level);

        memcpy(got, d0, n), memcpy(want, d0, n);
        g_BlendRowsPlain[slot](got, s, o, n);
        ExpectPlain(ref, m, o, want, s, n);
        EXPECT_EQ(0, memcmp(got, want, n)) << "plain " << where;

        memcpy(got, d0, n), memcpy(want, d0, n);
        g_BlendRowsAlpha[slot](got, s, o, n);
        ExpectAlpha(ref, m, o, want, s, n);
        EXPECT_EQ(0, memcmp(got, want, n)) << "alpha " << where;

        for (int32_t sharpness : {256, 40}) {
          memcpy(got, d0, n), memcpy(want, d0, n);
          g_BlendRowsRule[slot](got, s, r, o, sharpness, n);
          ExpectRule(ref, m, o == 256, false, want, s, r, o, sharpness, n);
          EXPECT_EQ(0, memcmp(got, want, n)) << "rule sharpness " << sharpness << " " << where;
        }

        memcpy(got, d0, n), memcpy(want, d0, n);
        g_BlendRowsRuleAlpha[2 * m](got, s, r, o, 256, n);
        ExpectRule(ref, m, false, true, want, s, r, o, 256, n);
        EXPECT_EQ(0, memcmp(got, want, n)) << "rule alpha " << where;
      }
    }
  }
}

// The vector rows compute each mode's function instead of reading its table: every one of the
// 65536 pairs must come out as the table has it.
// The vector forms this processor runs: SSE2 always, AVX2 where it is there.
struct VectorForm {
  const char* name;
  BlendRow (*row)(int32_t mode, bool alpha, bool full);
  RuleRow (*rule)(int32_t mode, bool alpha);
};
std::vector<VectorForm> VectorForms() {
  std::vector<VectorForm> forms = {{"sse2", StepRowFast, RuleRowFast}};
  if (StepRowAvx2(0, false, true)) forms.push_back({"avx2", StepRowAvx2, RuleRowAvx2});
  return forms;
}

TEST_F(BlendRowsTest, VectorBlendFunctionsMatchTheTablesEverywhere) {
  std::vector<uint8_t> s(256 * 256), d(256 * 256);
  for (int i = 0; i < 256 * 256; i++) s[i] = (uint8_t)(i >> 8), d[i] = (uint8_t)i;
  for (const VectorForm& vector : VectorForms()) {
    for (int m = 0; m < BLEND_MODE_COUNT; m++) {
      std::vector<uint8_t> t = d;
      vector.row(m, false, true)(t.data(), s.data(), 256, t.size());
      int wrong = 0;
      for (int i = 0; i < 256 * 256 && wrong < 5; i++) {
        if (t[i] == g_BlendTables.mode[m][i]) continue;
        ADD_FAILURE() << vector.name << " mode " << m << " T(" << (i >> 8) << ", " << (i & 255) << ") = " << (int)t[i]
                      << ", table " << (int)g_BlendTables.mode[m][i];
        wrong++;
      }
    }
  }
}

// Pixels whose alpha runs through transparent, opaque and mixed blocks, so the shortcuts of
// whole groups are taken too; soft light's dark corner turns up in every block.
std::vector<uint8_t> RandomPixels(std::mt19937& rng, size_t bytes) {
  std::vector<uint8_t> row(bytes);
  for (size_t i = 0; i < bytes; i++) {
    row[i] = (uint8_t)rng();
    if (i % 4 == 3 && (i / 16) % 3 < 2) row[i] = (i / 16) % 3 == 0 ? 0 : 255;
  }
  return row;
}

TEST_F(BlendRowsTest, VectorStepRowsGiveTheTableRowsBytes) {
  struct Form {
    bool alpha, full;
  } forms[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  const size_t guard = 16, area = 67 * 4 + 2 * guard;
  std::mt19937 rng(2024);
  // Widths 1..67 from an aligned and an unaligned start, until the first difference.
  auto compare = [&](const char* name, int m, bool alpha, BlendRow fast, BlendRow ref, int32_t o) {
    for (size_t width = 1; width <= 67; width++) {
      for (size_t start : {0, 7}) {
        const std::vector<uint8_t> d0 = RandomPixels(rng, area), src = RandomPixels(rng, area);
        size_t from = start * 3 % 16;
        std::vector<uint8_t> want = d0, got = d0;
        ref(want.data() + start, src.data() + from, o, width * 4);
        fast(got.data() + start, src.data() + from, o, width * 4);
        if (want == got) continue;
        ADD_FAILURE() << name << " mode " << m << (alpha ? " alpha" : " plain") << " opacity " << o << " width "
                      << width << " start " << start << " source start " << from;
        return;
      }
    }
  };
  for (const VectorForm& vector : VectorForms()) {
    for (int m = 0; m < BLEND_MODE_COUNT; m++) {
      for (const Form& form : forms) {
        BlendRow fast = vector.row(m, form.alpha, form.full), ref = StepRowReference(m, form.alpha, form.full);
        for (int32_t o : {0, 128, 255, 256}) {
          if (form.full == (o == 256)) compare(vector.name, m, form.alpha, fast, ref, o);
        }
      }
    }
  }
}

// Rule weights of 1 or less leave a pixel, above 256 count as 256; the rule's first byte
// picks the weight, and a layer's alpha scales it.
TEST_F(BlendRowsTest, VectorRuleRowsGiveTheTableRowsBytes) {
  const size_t guard = 16, area = 67 * 4 + 2 * guard;
  std::mt19937 rng(77);
  for (int32_t& w : g_RuleWeights) w = (int32_t)(rng() % 300) - 20;
  for (const VectorForm& vector : VectorForms()) {
    for (int mode = 0; mode < 2 * BLEND_MODE_COUNT; mode++) {
      int m = mode / 2;
      bool alpha = mode % 2;
      RuleRow fast = vector.rule(m, alpha), ref = RuleRowReference(m, alpha);
      for (size_t width = 1; width <= 67; width++) {
        size_t start = width % 8, from = width * 5 % 16;
        const std::vector<uint8_t> d0 = RandomPixels(rng, area), src = RandomPixels(rng, area), rule = RandomPixels(rng, area);
        std::vector<uint8_t> want = d0, got = d0;
        ref(want.data() + start, src.data() + from, rule.data() + from, 100, 40, width * 4);
        fast(got.data() + start, src.data() + from, rule.data() + from, 100, 40, width * 4);
        if (want == got) continue;
        ADD_FAILURE() << vector.name << (alpha ? " rule alpha" : " rule") << " mode " << m << " width " << width
                      << " start " << start;
        break;
      }
    }
  }
}

TEST_F(BlendRowsTest, RuleWeightsAtTheEdges) {
  // Weights of 1 or less leave every rule row's pixels; 256 gives the mode's function exactly,
  // except that normal mode with alpha stops one short of the source.
  const uint8_t s[4] = {255, 200, 3, 255}, r[4] = {9, 0, 0, 0};
  for (int32_t w : {-5, 0, 1, 256}) {
    g_RuleWeights[9] = w;
    for (int m = 0; m < BLEND_MODE_COUNT; m++) {
      for (bool withAlpha : {false, true}) {
        uint8_t d[4] = {0, 100, 250, 77};
        (withAlpha ? g_BlendRowsRuleAlpha[2 * m] : g_BlendRowsRule[2 * m])(d, s, r, 0, 0, 4);
        for (int c = 0; c < 3; c++) {
          const uint8_t start[3] = {0, 100, 250};
          int before = start[c];
          int want = w <= 1 ? before : BlendFunction(m, s[c], before);
          if (w == 256 && withAlpha && m == 0) want = before + (((s[c] - before) * 65280) >> 16);
          EXPECT_EQ(d[c], want) << "mode " << m << " weight " << w << " alpha " << withAlpha << " byte " << c;
        }
        EXPECT_EQ(d[3], 77);
      }
    }
  }
  g_RuleWeights[9] = 256;
  uint8_t d[4] = {0, 0, 0, 0};
  g_BlendRowsRuleAlpha[2 * BLEND_NORMAL](d, s, r, 0, 0, 4);
  EXPECT_EQ(d[0], 254);   // d + ((255 * 65280) >> 16)
  uint8_t e[4] = {10, 0, 0, 0};
  g_BlendRowsRuleAlpha[2 * BLEND_ADD](e, s, r, 0, 0, 4);
  EXPECT_EQ(e[0], 255);
}

TEST_F(BlendRowsTest, WorkedValuesOfTheModeTables) {
  struct Case {
    int mode, s, d, t;
  } cases[] = {
      {BLEND_OVERLAY, 77, 128, 77},      {BLEND_OVERLAY, 0, 129, 1},        {BLEND_OVERLAY, 255, 255, 255},
      {BLEND_HARD_LIGHT, 128, 201, 201}, {BLEND_HARD_LIGHT, 129, 0, 1},     {BLEND_DIVIDE, 0, 0, 0},
      {BLEND_DIVIDE, 1, 0, 255},         {BLEND_DIVIDE, 200, 100, 255},     {BLEND_DIVIDE, 100, 200, 127},
      {BLEND_VIVID_LIGHT, 1, 254, 127},  {BLEND_VIVID_LIGHT, 1, 255, 255},  {BLEND_VIVID_LIGHT, 254, 0, 0},
      {BLEND_VIVID_LIGHT, 255, 0, 255},  {BLEND_SOFT_LIGHT, 0, 255, 191},   {BLEND_SOFT_LIGHT, 255, 0, 15},
      {BLEND_SOFT_LIGHT, 192, 32, 49},   {BLEND_SOFT_LIGHT, 192, 33, 48},   {BLEND_SOFT_LIGHT, 128, 90, 90},
      {BLEND_COLOR_DODGE, 255, 1, 255},  {BLEND_COLOR_BURN, 0, 254, 0},     {BLEND_EXCLUSION, 255, 255, 0},
      {BLEND_PIN_LIGHT, 10, 100, 20},    {BLEND_PIN_LIGHT, 200, 100, 145},  {BLEND_LINEAR_LIGHT, 128, 7, 7},
      {BLEND_SCREEN, 255, 0, 255},       {BLEND_MULTIPLY, 255, 254, 254},   {BLEND_SUBTRACT, 10, 20, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(g_BlendTables.mode[c.mode][c.s * 256 + c.d], c.t) << "mode " << c.mode << " T(" << c.s << ", " << c.d << ")";
  }
  for (int i = 0; i < 511; i++) {
    EXPECT_EQ(g_BlendTables.clampAdd[i], i < 255 ? i : 255);
    EXPECT_EQ(g_BlendTables.clampSubtract[i], i > 255 ? i - 255 : 0);
  }
}

TEST_F(BlendRowsTest, ProductAndReciprocalTablesTruncateTowardZero) {
  struct Case {
    int a, b, p256, p255;
  } cases[] = {{128, 1, 0, 0}, {128, -1, 0, 0}, {256, -255, -255, -256}, {255, 255, 254, 255}, {3, -200, -2, -2}};
  for (const Case& c : cases) {
    EXPECT_EQ(g_ProductTables.p256[c.a][c.b + 255], c.p256) << c.a << " x " << c.b;
    EXPECT_EQ(g_ProductTables.p255[c.a][c.b + 255], c.p255) << c.a << " x " << c.b;
  }
  EXPECT_EQ(g_RecipTable[0][200], 0);
  EXPECT_EQ(g_RecipTable[255][255], 256);
  EXPECT_EQ(g_RecipTable[3][2], 170);
  // Difference at partial opacity stays put where a floored step would move.
  uint8_t d[4] = {0, 1, 0, 0};
  const uint8_t s[4] = {1, 1, 0, 0};
  g_BlendRowsPlain[2 * BLEND_DIFFERENCE](d, s, 128, 4);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 1);
}

TEST_F(BlendRowsTest, BadModesAndOpacitiesStayInsideTheTables) {
  struct Case {
    int32_t mode, opacity, slot;
  } cases[] = {{0, 256, 1}, {18, 255, 36}, {18, 256, 37}, {19, 256, 1}, {255, 100, 0}, {-1, 256, 1},
               {3, 300, 7},  {3, -5, 6},    {5, 512, 11}};
  for (const Case& c : cases) EXPECT_EQ(BlendRowSlot(c.mode, c.opacity), c.slot) << c.mode << " " << c.opacity;
  EXPECT_EQ(ClampOpacity(-1), 0);
  EXPECT_EQ(ClampOpacity(1000), 256);
  uint8_t d[4] = {1, 2, 3, 4};
  const uint8_t s[4] = {9, 9, 9, 9};
  for (int i = 38; i < BLEND_ROW_SLOTS; i++) {
    g_BlendRowsPlain[i](d, s, 128, 4);
    g_BlendRowsAlpha[i](d, s, 128, 4);
    g_BlendRowsRule[i](d, s, s, 0, 0, 4);
    g_BlendRowsRuleAlpha[i](d, s, s, 0, 0, 4);
  }
  EXPECT_EQ(d[0], 1);
  EXPECT_EQ(d[3], 4);
}

TEST(AdjustSaturationSpan, KeepsHueAndRange) {
  struct Case {
    int32_t saturation;
    uint8_t in[4], out[4];
  } cases[] = {
      {256, {0, 128, 255, 9}, {0, 128, 255, 9}},     // both ends already reached
      {0, {0, 128, 255, 9}, {127, 127, 127, 9}},     // grey
      {128, {3, 50, 200, 1}, {3, 50, 200, 1}},       // unchanged
      {256, {100, 120, 140, 0}, {80, 120, 160, 0}},  // distance from grey doubled
      {64, {100, 120, 140, 0}, {110, 120, 130, 0}},  // halved
  };
  for (const Case& c : cases) {
    g_EmoteLoadSaturation = c.saturation;
    uint8_t px[8];
    memcpy(px, c.in, 4);
    memcpy(px + 4, c.in, 4);
    AdjustSaturationSpan(px, 8);
    EXPECT_EQ(0, memcmp(px, c.out, 4)) << "saturation " << c.saturation;
    EXPECT_EQ(0, memcmp(px + 4, c.out, 4)) << "saturation " << c.saturation;
  }
  g_EmoteLoadSaturation = 128;
}

}  // namespace
