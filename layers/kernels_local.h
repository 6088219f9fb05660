// Internals shared by the reference and the fast pixel kernels: the per-byte formulas and the
// reference routines that the fast set reuses for heads, tails and rarely used slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layers/blend_tables.h"

// Every formula here has internal linkage: the AVX2 files include them too, built for AVX2, and
// a copy of theirs must never be the one the rest of the program calls.

static inline uint8_t ClampByte(int64_t x) { return (uint8_t)(x < 0 ? 0 : x > 255 ? 255 : x); }

// Rule weights above a full step would push a byte past its ends; they count as 256.
static inline int32_t RuleWeight(uint8_t grey) {
  int32_t w = g_RuleWeights[grey];
  return w > 256 ? 256 : w;
}

// Bytes before the first 8-aligned destination byte, at most n.
static inline size_t HeadBytes(const uint8_t* dst, size_t n) {
  size_t head = (8 - ((uintptr_t)dst & 7)) & 7;
  return head < n ? head : n;
}

// d moved toward s by a/256, the form every lone byte of a cross-fade takes.
static inline uint8_t FadeLoneByte(int d, int s, int32_t a) { return (uint8_t)(d + (((s - d) * a) >> 8)); }

// A byte of a cross-fade handled in a group of 8 bytes.
template <int L>
static inline uint8_t FadeGroupByte(int d, int s, int32_t a) {
  if (a < 128) return (uint8_t)(d + (((s - d) * a) >> 8));
  if (a == 128) return (uint8_t)(L == 1 ? (d >> 1) + (s >> 1) : (d + s + 1) >> 1);
  return (uint8_t)(s + (((d - s) * (256 - a)) >> 8));
}

// Pixel-wise formulas of the alpha blends (colour bytes; w = the blend weight a').
template <int L>
static inline uint8_t AlphaPairByte(int d, int s, int w) {
  if (L == 1) return (uint8_t)((s * (w + 1) + d * (256 - w)) >> 8);
  int v = ((s * (w + 1)) >> 8) + ((d * (256 - w)) >> 8);
  return (uint8_t)(v > 255 ? 255 : v);
}
static inline uint8_t AlphaLoneByte(int d, int s, int w) { return (uint8_t)(d + (((s - d) * (w + 1)) >> 8)); }
static inline uint8_t AlphaLoneSplitByte(int d, int s, int w) {
  return (uint8_t)(((d * (256 - w)) >> 8) + ((s * (w + 1)) >> 8));
}

// The weight of the additive alpha blends for source alpha A.
template <int L>
static inline int AddAlphaWeight(int A) { return L == 1 ? A + 1 : (A + 1 > 255 ? 255 : A + 1); }

// Reference routines (kernels_ref.cpp). L1 = level 1, L2 = levels 2 and 3.
void RefZeroFill(uint8_t* dst, size_t n);
void RefFillBytes(uint8_t* dst, size_t n, uint8_t value);
void RefFillPixels(uint8_t* dst, size_t n, uint32_t pixel);
void RefCopy(uint8_t* dst, const uint8_t* src, size_t n);
void RefCrossFadeL1(uint8_t* dst, const uint8_t* src, int32_t a, size_t n);
void RefCrossFadeL2(uint8_t* dst, const uint8_t* src, int32_t a, size_t n);
void RefAlphaBlendL1(uint8_t* dst, const uint8_t* src, size_t n);
void RefAlphaBlendL2(uint8_t* dst, const uint8_t* src, size_t n);
void RefAlphaBlendOpacityL1(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefAlphaBlendOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefRuleBlendL1(uint8_t* dst, const uint8_t* src, const uint8_t* rule, int32_t progress,
                    int32_t sharpness, size_t n);
void RefRuleBlendL2(uint8_t* dst, const uint8_t* src, const uint8_t* rule, int32_t progress,
                    int32_t sharpness, size_t n);
void RefCrossFadeTwoL1(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n);
void RefCrossFadeTwoL2(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n);
void RefAdd(uint8_t* dst, const uint8_t* src, size_t n);
void RefAddOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefAddAlphaL1(uint8_t* dst, const uint8_t* src, int32_t unused, size_t n);
void RefAddAlphaL2(uint8_t* dst, const uint8_t* src, int32_t unused, size_t n);
void RefAddAlphaOpacityL1(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefAddAlphaOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefSubtract(uint8_t* dst, const uint8_t* src, size_t n);
void RefMultiply(uint8_t* dst, const uint8_t* src, size_t n);
void RefScreen(uint8_t* dst, const uint8_t* src, size_t n);
void RefScreenOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefLighten(uint8_t* dst, const uint8_t* src, size_t n);
void RefDarken(uint8_t* dst, const uint8_t* src, size_t n);
void RefLinearBurn(uint8_t* dst, const uint8_t* src, size_t n);
void RefLinearLight(uint8_t* dst, const uint8_t* src, size_t n);
void RefComposeOverAlpha(uint8_t* dst, const uint8_t* src, size_t n);
void RefComposeOverAlphaOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
void RefComposeOverScaledAlpha(uint8_t* dst, const uint8_t* src, int32_t factor, size_t n);
void RefComposeOverAlphaTwoFactor(uint8_t* dst, const uint8_t* src, int32_t dstFactor, int32_t op,
                                  size_t n);
