// The blend-row routines of the 19 modes and the four row tables the compositor picks them from.
#include <cmath>
#include <utility>

#include "app/hooks.h"
#include "layers/blend_rows_local.h"
#include "layers/blend_tables.h"
#include "layers/kernels_local.h"
#include "layers/pixel_kernels.h"

BlendRow g_BlendRowsPlain[BLEND_ROW_SLOTS];
BlendRow g_BlendRowsAlpha[BLEND_ROW_SLOTS];
RuleRow g_BlendRowsRule[BLEND_ROW_SLOTS];
RuleRow g_BlendRowsRuleAlpha[BLEND_ROW_SLOTS];

int32_t ClampOpacity(int32_t opacity) { return opacity < 0 ? 0 : opacity > 256 ? 256 : opacity; }

int32_t BlendRowSlot(int32_t mode, int32_t opacity) {
  if (mode < 0 || mode >= BLEND_MODE_COUNT) mode = BLEND_NORMAL;
  return 2 * mode + (ClampOpacity(opacity) >> 8);
}

// ---------------------------------------------------------------------------------------------
// Rows that are one kernel call; they go through g_PixelKernels so the installed level applies.

static void RowCopy(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.copy(d, s, n); }
static void RowCrossFade(uint8_t* d, const uint8_t* s, int32_t o, size_t n) { g_PixelKernels.crossFade(d, s, o, n); }
static void RowAlphaBlend(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.alphaBlend(d, s, n); }
static void RowAlphaBlendOpacity(uint8_t* d, const uint8_t* s, int32_t o, size_t n) {
  g_PixelKernels.alphaBlendOpacity(d, s, o, n);
}
static void RowAdd(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.add(d, s, n); }
static void RowAddOpacity(uint8_t* d, const uint8_t* s, int32_t o, size_t n) { g_PixelKernels.addOpacity(d, s, o, n); }
static void RowAddAlpha(uint8_t* d, const uint8_t* s, int32_t o, size_t n) { g_PixelKernels.addAlpha(d, s, o, n); }
static void RowAddAlphaOpacity(uint8_t* d, const uint8_t* s, int32_t o, size_t n) {
  g_PixelKernels.addAlphaOpacity(d, s, o, n);
}
static void RowSubtract(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.subtract(d, s, n); }
static void RowMultiply(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.multiply(d, s, n); }
static void RowScreen(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.screen(d, s, n); }
static void RowScreenOpacity(uint8_t* d, const uint8_t* s, int32_t o, size_t n) {
  g_PixelKernels.screenOpacity(d, s, o, n);
}
static void RowLighten(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.lighten(d, s, n); }
static void RowDarken(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.darken(d, s, n); }
static void RowLinearBurn(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.linearBurn(d, s, n); }
static void RowLinearLight(uint8_t* d, const uint8_t* s, int32_t, size_t n) { g_PixelKernels.linearLight(d, s, n); }
static void RuleRowKernel(uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t p, int32_t v, size_t n) {
  g_PixelKernels.ruleBlend(d, s, r, p, v, n);
}
static void RowNothing(uint8_t*, const uint8_t*, int32_t, size_t) {}
static void RuleRowNothing(uint8_t*, const uint8_t*, const uint8_t*, int32_t, int32_t, size_t) {}

// ---------------------------------------------------------------------------------------------
// Rows built on a mode's lookup table, the same at every level.

template <int M>
static void StepFull(uint8_t* d, const uint8_t* s, int32_t, size_t n) {
  const uint8_t* t = BlendModeTable(M);
  for (size_t i = 0; i < n; i++) d[i] = t[s[i] * 256 + d[i]];
}

template <int M>
static void StepPartial(uint8_t* d, const uint8_t* s, int32_t o, size_t n) {
  const uint8_t* t = BlendModeTable(M);
  for (size_t i = 0; i < n; i++) d[i] = (uint8_t)(d[i] + (((t[s[i] * 256 + d[i]] - d[i]) * o) >> 8));
}

// Difference at partial opacity steps toward T truncated toward d, not floored.
static void StepPartialDifference(uint8_t* d, const uint8_t* s, int32_t o, size_t n) {
  const uint8_t* t = BlendModeTable(BLEND_DIFFERENCE);
  InitProductTables();
  const int16_t* product = g_ProductTables.p256[ClampOpacity(o)];
  for (size_t i = 0; i < n; i++) d[i] = (uint8_t)(d[i] + product[t[s[i] * 256 + d[i]] - d[i] + 255]);
}

template <int M, bool PARTIAL>
static void StepAlpha(uint8_t* d, const uint8_t* s, int32_t o, size_t n) {
  const uint8_t* t = BlendModeTable(M);
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int32_t w = s[p + 3] + 1;
    if (PARTIAL) w = (w * o) >> 8;
    for (int c = 0; c < 3; c++) {
      int32_t dc = d[p + c];
      d[p + c] = (uint8_t)(dc + (((t[s[p + c] * 256 + dc] - dc) * w) >> 8));
    }
  }
}

template <int M>
static void StepRule(uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t, int32_t, size_t n) {
  const uint8_t* t = BlendModeTable(M);
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int32_t w = RuleWeight(r[p]);
    if (w <= 1) continue;
    for (int c = 0; c < 3; c++) {
      int32_t dc = d[p + c];
      d[p + c] = (uint8_t)(dc + (((t[s[p + c] * 256 + dc] - dc) * w) >> 8));
    }
  }
}

template <int M>
static void StepRuleAlpha(uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t, int32_t, size_t n) {
  const uint8_t* t = BlendModeTable(M);
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int32_t w = RuleWeight(r[p]);
    if (w <= 1) continue;
    w *= s[p + 3] + 1;
    for (int c = 0; c < 3; c++) {
      int32_t dc = d[p + c];
      d[p + c] = (uint8_t)(dc + (((t[s[p + c] * 256 + dc] - dc) * w) >> 16));
    }
  }
}

// Normal mode's rule-alpha row weights by the alpha itself, so an opaque source stops one
// short of a full step.
static void RuleAlphaNormal(uint8_t* d, const uint8_t* s, const uint8_t* r, int32_t, int32_t, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int32_t w = RuleWeight(r[p]);
    if (w <= 1) continue;
    w *= s[p + 3];
    for (int c = 0; c < 3; c++) d[p + c] = (uint8_t)(d[p + c] + (((s[p + c] - d[p + c]) * w) >> 16));
  }
}

const int32_t* SoftLightCornerFactors() {
  static const std::array<int32_t, 33> factors = [] {
    std::array<int32_t, 33> f{};
    for (int d = 0; d <= 32; d++) f[d] = (int32_t)(16384.0L - sqrtl((long double)(256 - d)) * (long double)(768 - 8 * d));
    return f;
  }();
  return factors.data();
}

BlendRow StepRowAvx2(int32_t mode, bool alpha, bool full) {
  return CpuHasAvx2() ? LookupStepRowAvx2(mode, alpha, full) : nullptr;
}
RuleRow RuleRowAvx2(int32_t mode, bool alpha) { return CpuHasAvx2() ? LookupRuleRowAvx2(mode, alpha) : nullptr; }

// The widest vector rows the processor runs.
static BlendRow VectorStepRow(int32_t mode, bool alpha, bool full) {
  BlendRow row = StepRowAvx2(mode, alpha, full);
  return row ? row : StepRowFast(mode, alpha, full);
}
static RuleRow VectorRuleRow(int32_t mode, bool alpha) {
  RuleRow row = RuleRowAvx2(mode, alpha);
  return row ? row : RuleRowFast(mode, alpha);
}

template <int M>
static void FillStepRows() {
  // Every step row runs on vectors.
  g_BlendRowsPlain[2 * M] = VectorStepRow(M, false, false);
  g_BlendRowsPlain[2 * M + 1] = VectorStepRow(M, false, true);
  g_BlendRowsAlpha[2 * M] = VectorStepRow(M, true, false);
  g_BlendRowsAlpha[2 * M + 1] = VectorStepRow(M, true, true);
  g_BlendRowsRule[2 * M] = g_BlendRowsRule[2 * M + 1] = VectorRuleRow(M, false);
  g_BlendRowsRuleAlpha[2 * M] = g_BlendRowsRuleAlpha[2 * M + 1] = VectorRuleRow(M, true);
}

template <size_t... M>
static void FillAllStepRows(std::index_sequence<M...>) {
  (FillStepRows<(int)M>(), ...);
}

template <size_t... M>
static constexpr std::array<RuleRow, BLEND_MODE_COUNT> AllReferenceRules(std::index_sequence<M...>) {
  return {StepRule<(int)M>...};
}
template <size_t... M>
static constexpr std::array<RuleRow, BLEND_MODE_COUNT> AllReferenceRuleAlphas(std::index_sequence<M...>) {
  return {(int)M == BLEND_NORMAL ? RuleAlphaNormal : StepRuleAlpha<(int)M>...};
}

struct ReferenceRows {
  BlendRow plainPartial, plainFull, alphaPartial, alphaFull;
};

template <size_t... M>
static constexpr std::array<ReferenceRows, BLEND_MODE_COUNT> AllReferenceRows(std::index_sequence<M...>) {
  return {ReferenceRows{(int)M == BLEND_DIFFERENCE ? StepPartialDifference : StepPartial<(int)M>, StepFull<(int)M>,
                        StepAlpha<(int)M, true>, StepAlpha<(int)M, false>}...};
}

RuleRow RuleRowReference(int32_t mode, bool alpha) {
  static constexpr std::array<RuleRow, BLEND_MODE_COUNT> rows = AllReferenceRules(std::make_index_sequence<BLEND_MODE_COUNT>());
  static constexpr std::array<RuleRow, BLEND_MODE_COUNT> alphas =
      AllReferenceRuleAlphas(std::make_index_sequence<BLEND_MODE_COUNT>());
  if (mode < 0 || mode >= BLEND_MODE_COUNT) return nullptr;
  return alpha ? alphas[mode] : rows[mode];
}

BlendRow StepRowReference(int32_t mode, bool alpha, bool full) {
  static constexpr std::array<ReferenceRows, BLEND_MODE_COUNT> rows =
      AllReferenceRows(std::make_index_sequence<BLEND_MODE_COUNT>());
  if (mode < 0 || mode >= BLEND_MODE_COUNT) return nullptr;
  const ReferenceRows& r = rows[mode];
  return alpha ? (full ? r.alphaFull : r.alphaPartial) : (full ? r.plainFull : r.plainPartial);
}

static void SetPlain(int mode, BlendRow partial, BlendRow full) {
  g_BlendRowsPlain[2 * mode] = partial;
  g_BlendRowsPlain[2 * mode + 1] = full;
}

void InitBlendTables() {
  FillAllStepRows(std::make_index_sequence<BLEND_MODE_COUNT>());
  for (int i = 2 * BLEND_MODE_COUNT; i < BLEND_ROW_SLOTS; i++) {
    g_BlendRowsPlain[i] = g_BlendRowsAlpha[i] = RowNothing;
    g_BlendRowsRule[i] = g_BlendRowsRuleAlpha[i] = RuleRowNothing;
  }
  // The common modes run on the processor-specific kernels.
  SetPlain(BLEND_NORMAL, RowCrossFade, RowCopy);
  g_BlendRowsAlpha[0] = RowAlphaBlendOpacity;
  g_BlendRowsAlpha[1] = RowAlphaBlend;
  g_BlendRowsRule[1] = RuleRowKernel;
  SetPlain(BLEND_ADD, RowAddOpacity, RowAdd);
  g_BlendRowsAlpha[2 * BLEND_ADD] = RowAddAlphaOpacity;
  g_BlendRowsAlpha[2 * BLEND_ADD + 1] = RowAddAlpha;
  g_BlendRowsPlain[2 * BLEND_SUBTRACT + 1] = RowSubtract;
  g_BlendRowsPlain[2 * BLEND_MULTIPLY + 1] = RowMultiply;
  SetPlain(BLEND_SCREEN, RowScreenOpacity, RowScreen);
  g_BlendRowsPlain[2 * BLEND_LIGHTEN + 1] = RowLighten;
  g_BlendRowsPlain[2 * BLEND_DARKEN + 1] = RowDarken;
  g_BlendRowsPlain[2 * BLEND_LINEAR_BURN + 1] = RowLinearBurn;
  g_BlendRowsPlain[2 * BLEND_LINEAR_LIGHT + 1] = RowLinearLight;
}
