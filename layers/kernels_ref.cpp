// The plain scalar pixel kernels: the arithmetic of both levels written byte by byte, the
// yardstick that the fast set must match exactly.
#include <cstring>

#include "layers/kernels_local.h"
#include "layers/pixel_kernels.h"

void RefZeroFill(uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = 0;
}

void RefFillBytes(uint8_t* dst, size_t n, uint8_t value) {
  for (size_t i = 0; i < n; i++) dst[i] = value;
}

void RefFillPixels(uint8_t* dst, size_t n, uint32_t pixel) {
  for (size_t i = 0; i + 4 <= n; i += 4) {
    dst[i] = (uint8_t)pixel;
    dst[i + 1] = (uint8_t)(pixel >> 8);
    dst[i + 2] = (uint8_t)(pixel >> 16);
    dst[i + 3] = (uint8_t)(pixel >> 24);
  }
}

// Forwards in steps of 8 bytes, each read whole before it is written, then byte by byte: a
// copy to a lower address within the same buffer is therefore safe.
void RefCopy(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint8_t step[8];
    for (int k = 0; k < 8; k++) step[k] = src[i + k];
    for (int k = 0; k < 8; k++) dst[i + k] = step[k];
  }
  for (; i < n; i++) dst[i] = src[i];
}

// ---------------------------------------------------------------------------------------------
// Cross-fades.

template <int L>
static void FadeRow(uint8_t* dst, const uint8_t* d, const uint8_t* s, int32_t a, size_t n, size_t head) {
  size_t i = 0;
  for (; i < head; i++) dst[i] = FadeLoneByte(d[i], s[i], a);
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; k++) dst[i + k] = FadeGroupByte<L>(d[i + k], s[i + k], a);
  for (; i < n; i++) dst[i] = FadeLoneByte(d[i], s[i], a);
}

void RefCrossFadeL1(uint8_t* dst, const uint8_t* src, int32_t a, size_t n) { FadeRow<1>(dst, dst, src, a, n, 0); }
void RefCrossFadeL2(uint8_t* dst, const uint8_t* src, int32_t a, size_t n) {
  FadeRow<2>(dst, dst, src, a, n, HeadBytes(dst, n));
}
void RefCrossFadeTwoL1(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n) {
  FadeRow<1>(dst, src1, src2, a, n, 0);
}
void RefCrossFadeTwoL2(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n) {
  FadeRow<2>(dst, src1, src2, a, n, 0);
}

// ---------------------------------------------------------------------------------------------
// Alpha blends over an opaque destination. The destination's alpha byte is kept throughout.

template <int L, bool OPACITY>
static void AlphaBlendRow(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  size_t pixels = n / 4;
  auto weight = [&](size_t p) { return OPACITY ? (src[p * 4 + 3] * op) >> 8 : src[p * 4 + 3]; };
  auto lone = [&](size_t p) {
    int w = weight(p);
    for (int c = 0; c < 3; c++) {
      uint8_t& d = dst[p * 4 + c];
      d = (OPACITY && L == 1) ? AlphaLoneSplitByte(d, src[p * 4 + c], w) : AlphaLoneByte(d, src[p * 4 + c], w);
    }
  };
  auto paired = [&](size_t p) {
    int w = weight(p);
    for (int c = 0; c < 3; c++) dst[p * 4 + c] = AlphaPairByte<L>(dst[p * 4 + c], src[p * 4 + c], w);
  };
  size_t p = 0;
  if (L == 2 && pixels > 0 && ((uintptr_t)dst & 7) != 0) lone(p++);
  for (; p + 2 <= pixels; p += 2) {
    paired(p);
    paired(p + 1);
  }
  if (p < pixels) lone(p);
}

void RefAlphaBlendL1(uint8_t* dst, const uint8_t* src, size_t n) { AlphaBlendRow<1, false>(dst, src, 0, n); }
void RefAlphaBlendL2(uint8_t* dst, const uint8_t* src, size_t n) { AlphaBlendRow<2, false>(dst, src, 0, n); }
void RefAlphaBlendOpacityL1(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  AlphaBlendRow<1, true>(dst, src, op, n);
}
void RefAlphaBlendOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  AlphaBlendRow<2, true>(dst, src, op, n);
}

// ---------------------------------------------------------------------------------------------
// Rule blend.

static void RuleBlendByTable(uint8_t* dst, const uint8_t* src, const uint8_t* rule, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int32_t w = RuleWeight(rule[p]);
    if (w <= 1) continue;
    for (int c = 0; c < 3; c++) dst[p + c] = (uint8_t)(dst[p + c] - (((dst[p + c] - src[p + c]) * w) >> 8));
  }
}

void RefRuleBlendL1(uint8_t* dst, const uint8_t* src, const uint8_t* rule, int32_t, int32_t, size_t n) {
  RuleBlendByTable(dst, src, rule, n);
}

// With a soft edge the weight of each byte follows from its own rule byte, the progress and the
// sharpness; the bytes after the last group of 8 fall back to the weight table.
void RefRuleBlendL2(uint8_t* dst, const uint8_t* src, const uint8_t* rule, int32_t progress,
                    int32_t sharpness, size_t n) {
  if (sharpness == 256) return RuleBlendByTable(dst, src, rule, n);
  int64_t k = sharpness >> 1;
  int64_t base = progress + (int64_t)progress * k - 128 * (int64_t)sharpness;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    for (int j = 0; j < 8; j++) {
      int32_t w = ClampByte(rule[i + j] * k + base) + 1;
      int d = dst[i + j];
      dst[i + j] = ClampByte(d + ((src[i + j] * w) >> 8) - ((d * w) >> 8));
    }
  }
  for (; i < n; i++) {
    int32_t w = RuleWeight(rule[i]);
    if (w > 1) dst[i] = (uint8_t)(dst[i] - (((dst[i] - src[i]) * w) >> 8));
  }
}

// ---------------------------------------------------------------------------------------------
// Additive, subtractive and the other per-byte building blocks.

void RefAdd(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = ClampByte(dst[i] + src[i]);
}

void RefAddOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; k++) dst[i + k] = ClampByte(dst[i + k] + ((src[i + k] * op) >> 8));
  for (; i < n; i++) {
    int d = dst[i];
    dst[i] = (uint8_t)(d + (((ClampByte(d + src[i]) - d) * op) >> 8));
  }
}

template <int L, bool OPACITY>
static void AddAlphaRow(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    int w = AddAlphaWeight<L>(src[p + 3]);
    if (OPACITY) w = (w * op) >> 8;
    for (int c = 0; c < 3; c++) {
      int d = dst[p + c];
      int room = src[p + c] < 255 - d ? src[p + c] : 255 - d;
      dst[p + c] = (uint8_t)(d + ((room * w) >> 8));
    }
  }
}

void RefAddAlphaL1(uint8_t* dst, const uint8_t* src, int32_t, size_t n) { AddAlphaRow<1, false>(dst, src, 0, n); }
void RefAddAlphaL2(uint8_t* dst, const uint8_t* src, int32_t, size_t n) { AddAlphaRow<2, false>(dst, src, 0, n); }
void RefAddAlphaOpacityL1(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  AddAlphaRow<1, true>(dst, src, op, n);
}
void RefAddAlphaOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  AddAlphaRow<2, true>(dst, src, op, n);
}

void RefSubtract(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = ClampByte(src[i] - dst[i]);
}

void RefMultiply(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t whole = n & ~(size_t)3;
  for (size_t i = 0; i < whole; i++) dst[i] = (uint8_t)((dst[i] * (src[i] + 1)) >> 8);
  for (size_t i = whole; i < n; i++) dst[i] = (uint8_t)(src[i] * dst[i] / 255);
}

void RefScreen(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t whole = n & ~(size_t)7;
  for (size_t i = 0; i < whole; i++) {
    int d = dst[i], s = src[i];
    dst[i] = ClampByte(d + s - ((d * (s + 1)) >> 8));
  }
  for (size_t i = whole; i < n; i++) dst[i] = (uint8_t)(src[i] + dst[i] - src[i] * dst[i] / 255);
}

void RefScreenOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  for (size_t i = 0; i < n; i++) {
    int d = dst[i], s = src[i];
    int screen = s + d - s * d / 255;
    dst[i] = (uint8_t)(d + (((screen - d) * op) >> 8));
  }
}

void RefLighten(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = src[i] > dst[i] ? src[i] : dst[i];
}

void RefDarken(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = src[i] < dst[i] ? src[i] : dst[i];
}

void RefLinearBurn(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = ClampByte(dst[i] + src[i] - 255);
}

void RefLinearLight(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) dst[i] = ClampByte(dst[i] + 2 * src[i] - 256);
}

// ---------------------------------------------------------------------------------------------
// Composition over a destination with alpha: the new alpha is the source laid over the
// destination, and the colour moves toward the source by the source's share of it.

static inline int32_t Share255(int32_t x, int32_t y) { return x * y / 255; }

static inline void ComposeOverPixel(uint8_t* d, const uint8_t* s) {
  int32_t A = s[3];
  int32_t da = (d[3] + A - Share255(d[3], A)) & 255;
  int32_t w = g_RecipTable[da][A];
  for (int c = 0; c < 3; c++) d[c] = (uint8_t)(d[c] + (((s[c] - d[c]) * w) >> 8));
  d[3] = (uint8_t)da;
}

void RefComposeOverAlpha(uint8_t* dst, const uint8_t* src, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) ComposeOverPixel(dst + p, src + p);
}

// The weight can exceed a full step when the opacity thins the new alpha below the source's
// own; the colour is clamped rather than allowed to wrap.
void RefComposeOverAlphaOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    uint8_t* d = dst + p;
    const uint8_t* s = src + p;
    int32_t A = s[3];
    int32_t da = (int32_t)((d[3] + (((int64_t)(A - Share255(d[3], A)) * op) >> 8)) & 255);
    int64_t w = (int64_t)g_RecipTable[da][A] * op;
    for (int c = 0; c < 3; c++) d[c] = ClampByte(d[c] + (((s[c] - d[c]) * w) >> 16));
    d[3] = (uint8_t)da;
  }
}

void RefComposeOverScaledAlpha(uint8_t* dst, const uint8_t* src, int32_t factor, size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    dst[p + 3] = ClampByte(((int64_t)dst[p + 3] * factor) >> 8);
    ComposeOverPixel(dst + p, src + p);
  }
}

void RefComposeOverAlphaTwoFactor(uint8_t* dst, const uint8_t* src, int32_t dstFactor, int32_t op,
                                  size_t n) {
  for (size_t p = 0; p + 4 <= n; p += 4) {
    uint8_t* d = dst + p;
    const uint8_t* s = src + p;
    int64_t A = s[3];
    int64_t da1 = ClampByte(((int64_t)d[3] * dstFactor) >> 8);
    int64_t da = (da1 + (((A - (((A + 1) * da1) >> 8)) * op) >> 8)) & 255;
    for (int c = 0; c < 3; c++) d[c] = ClampByte(d[c] + ((((s[c] - d[c]) * (int64_t)op) >> 8) * A) / (da + 1));
    d[3] = (uint8_t)da;
  }
}

const PixelKernels g_ReferenceKernels[2] = {
    {RefZeroFill, RefFillBytes, RefFillPixels, RefCopy, RefCrossFadeL1, RefAlphaBlendL1,
     RefAlphaBlendOpacityL1, RefRuleBlendL1, RefCrossFadeTwoL1, RefAdd, RefAddOpacity, RefAddAlphaL1,
     RefAddAlphaOpacityL1, RefSubtract, RefMultiply, RefScreen, RefScreenOpacity, RefLighten, RefDarken,
     RefLinearBurn, RefLinearLight, RefComposeOverAlpha, RefComposeOverAlphaOpacity,
     RefComposeOverScaledAlpha, RefComposeOverAlphaTwoFactor},
    {RefZeroFill, RefFillBytes, RefFillPixels, RefCopy, RefCrossFadeL2, RefAlphaBlendL2,
     RefAlphaBlendOpacityL2, RefRuleBlendL2, RefCrossFadeTwoL2, RefAdd, RefAddOpacity, RefAddAlphaL2,
     RefAddAlphaOpacityL2, RefSubtract, RefMultiply, RefScreen, RefScreenOpacity, RefLighten, RefDarken,
     RefLinearBurn, RefLinearLight, RefComposeOverAlpha, RefComposeOverAlphaOpacity,
     RefComposeOverScaledAlpha, RefComposeOverAlphaTwoFactor},
};
