// The blend functions of the 19 modes and the lookup tables built from them, the product and
// reciprocal tables, and the saturation filter applied to character textures while they load.
#include <cmath>
#include <mutex>
#include <utility>

#include "app/hooks.h"
#include "layers/blend_tables.h"
#include "layers/kernels_local.h"

BlendTables g_BlendTables;
ProductTables g_ProductTables;
int32_t g_RuleWeights[256];
int32_t g_EmoteLoadSaturation = 128;

static constexpr std::array<std::array<uint16_t, 256>, 256> BuildRecipTable() {
  std::array<std::array<uint16_t, 256>, 256> table{};
  for (int c = 1; c < 256; c++)
    for (int k = 0; k < 256; k++) table[c][k] = (uint16_t)(k * 256 / c);
  return table;
}
const std::array<std::array<uint16_t, 256>, 256> g_RecipTable = BuildRecipTable();

namespace {

void FillProductTables() {
  for (int a = 0; a <= 256; a++) {
    for (int b = -255; b <= 256; b++) {
      g_ProductTables.p256[a][b + 255] = (int16_t)(a * b / 256);
      g_ProductTables.p255[a][b + 255] = (int16_t)(a * b / 255);
    }
  }
}

}  // namespace

// The tables never change once built, so later calls (and calls racing each other) only wait
// for the first.
void InitProductTables() {
  static std::once_flag built;
  std::call_once(built, FillProductTables);
}

// Soft light works from the square root of 256 - d in extended precision; the shape changes at
// d = 32, where the dark end would otherwise brighten too little. `root` is sqrtl(256 - d).
inline uint8_t SoftLight(int32_t s, int32_t d, long double root) {
  int64_t delta;
  if (s < 128) {
    delta = ((int64_t)(s - 128) * (int64_t)(16384.0L - root)) >> 15;
  } else if (d <= 32) {
    delta = ((int64_t)(s - 128) * (int64_t)(16384.0L - root * (long double)(768 - 8 * d))) >> 15;
  } else {
    delta = ((int64_t)(s - 128) * (int64_t)(16384.0L - root)) >> 16;
  }
  return ClampByte(d + delta);
}

// The blend function with the mode known at compile time, so each table is built by a loop of
// its own arithmetic; soft light is given sqrtl(256 - d) as `root`.
template <int M>
inline uint8_t ModeValue(int32_t s, int32_t d, long double root) {
  switch (M) {
    case BLEND_NORMAL: return (uint8_t)s;
    case BLEND_ADD: return ClampByte(d + s);
    case BLEND_SUBTRACT: return ClampByte(s - d);
    case BLEND_MULTIPLY: return (uint8_t)(s * d / 255);
    case BLEND_DIVIDE:
      if (d == 0) return s == 0 ? 0 : 255;
      return ClampByte(s * 255 / d);
    case BLEND_SCREEN: return (uint8_t)(s + d - s * d / 255);
    case BLEND_LIGHTEN: return (uint8_t)(s > d ? s : d);
    case BLEND_DARKEN: return (uint8_t)(s < d ? s : d);
    case BLEND_DIFFERENCE: return (uint8_t)(s > d ? s - d : d - s);
    case BLEND_EXCLUSION: return (uint8_t)(s + d - 2 * (s * d / 255));
    case BLEND_OVERLAY:
      if (d < 128) return (uint8_t)(s * 2 * d / 255);
      if (d == 128) return (uint8_t)s;
      return (uint8_t)(s * (512 - 2 * d) / 255 + 2 * d - 257);
    case BLEND_COLOR_DODGE: return ClampByte(d * 256 / (256 - s));
    case BLEND_COLOR_BURN: return ClampByte(255 - (255 - d) * 256 / (s + 1));
    case BLEND_LINEAR_BURN: return ClampByte(s + d - 255);
    case BLEND_HARD_LIGHT:
      if (s < 128) return (uint8_t)(d * 2 * s / 255);
      if (s == 128) return (uint8_t)d;
      return (uint8_t)(d * (512 - 2 * s) / 255 + 2 * s - 257);
    case BLEND_SOFT_LIGHT: return SoftLight(s, d, root);
    case BLEND_VIVID_LIGHT:
      if (s == 0) return 0;
      if (s < 128) return ClampByte((510 * s + 255 * d - 65025) / (2 * s));
      if (s < 255) return ClampByte(255 * d / (510 - 2 * s));
      return 255;
    case BLEND_LINEAR_LIGHT: return ClampByte(d + 2 * s - 256);
    case BLEND_PIN_LIGHT:
      if (s < 128) return (uint8_t)(d < 2 * s ? d : 2 * s);
      return (uint8_t)(d > 2 * s - 255 ? d : 2 * s - 255);
  }
  return (uint8_t)s;
}

template <int M>
void FillModeTable(uint8_t* table, const long double* roots) {
  for (int s = 0; s < 256; s++)
    for (int d = 0; d < 256; d++) table[s * 256 + d] = ModeValue<M>(s, d, roots[d]);
}

template <size_t... M>
void FillModeTables(const long double* roots, std::index_sequence<M...>) {
  (FillModeTable<(int)M>(g_BlendTables.mode[M], roots), ...);
}

uint8_t BlendFunction(int32_t mode, int32_t s, int32_t d) {
  long double root = mode == BLEND_SOFT_LIGHT ? sqrtl((long double)(256 - d)) : 0.0L;
  switch (mode) {
#define KIVOR_MODE(m) \
  case m: return ModeValue<m>(s, d, root);
    KIVOR_MODE(BLEND_NORMAL) KIVOR_MODE(BLEND_ADD) KIVOR_MODE(BLEND_SUBTRACT) KIVOR_MODE(BLEND_MULTIPLY)
    KIVOR_MODE(BLEND_DIVIDE) KIVOR_MODE(BLEND_SCREEN) KIVOR_MODE(BLEND_LIGHTEN) KIVOR_MODE(BLEND_DARKEN)
    KIVOR_MODE(BLEND_DIFFERENCE) KIVOR_MODE(BLEND_EXCLUSION) KIVOR_MODE(BLEND_OVERLAY) KIVOR_MODE(BLEND_COLOR_DODGE)
    KIVOR_MODE(BLEND_COLOR_BURN) KIVOR_MODE(BLEND_LINEAR_BURN) KIVOR_MODE(BLEND_HARD_LIGHT) KIVOR_MODE(BLEND_SOFT_LIGHT)
    KIVOR_MODE(BLEND_VIVID_LIGHT) KIVOR_MODE(BLEND_LINEAR_LIGHT) KIVOR_MODE(BLEND_PIN_LIGHT)
#undef KIVOR_MODE
  }
  return (uint8_t)s;
}

namespace {

void FillLookupTables() {
  for (int i = 0; i < 511; i++) {
    g_BlendTables.clampAdd[i] = (uint8_t)(i < 255 ? i : 255);
    g_BlendTables.clampSubtract[i] = (uint8_t)(i > 255 ? i - 255 : 0);
  }
  long double roots[256];
  for (int d = 0; d < 256; d++) roots[d] = sqrtl((long double)(256 - d));
  FillModeTables(roots, std::make_index_sequence<BLEND_MODE_COUNT>());
}

}  // namespace

void BuildBlendLookupTables() {
  static std::once_flag built;
  std::call_once(built, FillLookupTables);
}

const uint8_t* BlendModeTable(int32_t mode) {
  BuildBlendLookupTables();
  return g_BlendTables.mode[mode];
}

// ---------------------------------------------------------------------------------------------
// Saturation of character textures.

void AdjustSaturationSpan(uint8_t* pixels, size_t n) {
  int32_t saturation = g_EmoteLoadSaturation < 0 ? 0 : g_EmoteLoadSaturation > 256 ? 256 : g_EmoteLoadSaturation;
  if (saturation == 128) return;
  for (size_t p = 0; p + 4 <= n; p += 4) {
    uint8_t* px = pixels + p;
    int32_t grey = (px[0] + px[1] + px[2]) / 3;
    if (saturation < 128) {
      int32_t k = 128 - saturation;
      for (int c = 0; c < 3; c++) px[c] = (uint8_t)(px[c] + (((grey - px[c]) * k) >> 7));
      continue;
    }
    // Away from grey as far as every channel's range allows, so the hue survives.
    int32_t f = saturation - 128;
    for (int c = 0; c < 3; c++) {
      int32_t e = px[c] - grey;
      int32_t moved = px[c] + ((f * e) >> 7);
      int32_t limit = f;
      if (moved > 255) limit = ((255 - px[c]) * 128) / e;
      if (moved < 0) limit = (-px[c] * 128) / e;
      if (limit < f) f = limit;
    }
    for (int c = 0; c < 3; c++) px[c] = (uint8_t)(px[c] + (((px[c] - grey) * f) >> 7));
  }
}
