// Blend modes, the four tables of blend-row routines, the blend lookup tables and the tables of
// products and reciprocals that the rows and the compose kernels read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "layers/layer.h"

// The 19 ways (BLEND_MODE_COUNT, layers/layer.h) a layer meets what lies below it.
enum BlendMode : uint8_t {
  BLEND_NORMAL, BLEND_ADD, BLEND_SUBTRACT, BLEND_MULTIPLY, BLEND_DIVIDE, BLEND_SCREEN,
  BLEND_LIGHTEN, BLEND_DARKEN, BLEND_DIFFERENCE, BLEND_EXCLUSION, BLEND_OVERLAY,
  BLEND_COLOR_DODGE, BLEND_COLOR_BURN, BLEND_LINEAR_BURN, BLEND_HARD_LIGHT, BLEND_SOFT_LIGHT,
  BLEND_VIVID_LIGHT, BLEND_LINEAR_LIGHT, BLEND_PIN_LIGHT
};
static_assert(BLEND_PIN_LIGHT + 1 == BLEND_MODE_COUNT);

// Plain and alpha rows: dst and src at the first byte of a run of pixels, opacity 0..256,
// n = pixel count * 4. Rule rows add the rule image's pixels at the source position and the
// layer's rule progress and edge sharpness; they weight each pixel by g_RuleWeights.
using BlendRow = void (*)(uint8_t* dst, const uint8_t* src, int32_t opacity, size_t n);
using RuleRow = void (*)(uint8_t* dst, const uint8_t* src, const uint8_t* rule, int32_t progress,
                         int32_t sharpness, size_t n);

// Two entries per mode: 2m for opacity below 256, 2m + 1 for 256. Entries 38 and 39 hold rows
// that leave the destination alone, so no index below 40 calls through an empty slot. Filled by
// InitBlendTables at start-up; read by every thread. Every row installed there computes its mode
// on vectors; only the reference rows (and the vector rows' fall-back for an opacity out of
// range) read the lookup tables below, so those are built at their first use, not at start-up.
constexpr int BLEND_ROW_SLOTS = 40;
extern BlendRow g_BlendRowsPlain[BLEND_ROW_SLOTS];
extern BlendRow g_BlendRowsAlpha[BLEND_ROW_SLOTS];
extern RuleRow g_BlendRowsRule[BLEND_ROW_SLOTS];
extern RuleRow g_BlendRowsRuleAlpha[BLEND_ROW_SLOTS];   // the odd entries repeat the even ones

// The slot for a layer's mode and opacity: a mode outside 0..18 draws as normal and the opacity
// is held to 0..256, so a bad layer value never reaches past the tables.
int32_t BlendRowSlot(int32_t mode, int32_t opacity);
int32_t ClampOpacity(int32_t opacity);

struct BlendTables {
  uint8_t clampAdd[511];        // [d + s] = min(255, d + s)
  uint8_t clampSubtract[511];   // [s - d + 255] = max(0, s - d)
  uint8_t mode[BLEND_MODE_COUNT][256 * 256];   // [s * 256 + d] = T(s, d) of every mode
};
extern BlendTables g_BlendTables;

// Fills g_BlendTables once; later calls wait for the first and return. Any thread may call it;
// nothing may read g_BlendTables before it has run.
void BuildBlendLookupTables();
// A mode's 256 x 256 table, built first when it is not yet (any thread).
const uint8_t* BlendModeTable(int32_t mode);

// The blend function of `mode` for a source byte s and a destination byte d (0..255 each).
uint8_t BlendFunction(int32_t mode, int32_t s, int32_t d);

// [c][k] = k * 256 / c, row 0 all zero. Built at compile time, so the compose kernels can run
// before start-up has built anything else.
extern const std::array<std::array<uint16_t, 256>, 256> g_RecipTable;

// P256[a][b + 255] = a * b / 256 and P255[a][b + 255] = a * b / 255 (truncated toward zero)
// for a = 0..256 and b = -255..256. Filled by InitProductTables (app/hooks.h) once, at the first
// call from any thread; nothing may read them before.
struct ProductTables {
  int16_t p256[257][512];
  int16_t p255[257][512];
};
extern ProductTables g_ProductTables;

// One weight per grey level of a rule image, filled by whoever draws through a rule (with the
// layer's opacity folded in) before the rows run; 0..256 expected, above 256 counts as 256.
extern int32_t g_RuleWeights[256];

// Saturation 0..256 (128 = unchanged) of the layer whose character file is being loaded.
extern int32_t g_EmoteLoadSaturation;
// Moves the B, G, R bytes of n / 4 pixels toward grey (below 128) or away from it (above),
// keeping the hue and the range; alpha is untouched.
void AdjustSaturationSpan(uint8_t* pixels, size_t n);
