// The AVX2 forms of the busiest pixel kernels, eight pixels a step, installed over their SSE2
// twins on processors that have AVX2. Each gives exactly the bytes of the level it serves.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "layers/kernels_local.h"
#include "layers/pixel_kernels.h"

// The whole file is built for AVX2 (CMakeLists.txt): nothing in it runs before the processor
// is known to have it (CpuHasAvx2, in kernels_probe.cpp).

namespace {

inline __m256i Load32(const uint8_t* p) { return _mm256_loadu_si256((const __m256i*)(const void*)p); }
inline void Store32(uint8_t* p, __m256i v) { _mm256_storeu_si256((__m256i*)(void*)p, v); }
inline __m256i Set16(int v) { return _mm256_set1_epi16((int16_t)v); }
inline __m256i Set32(int v) { return _mm256_set1_epi32(v); }
inline __m256i AlphaMask() { return _mm256_set1_epi32((int)0xFF000000u); }

// Byte shuffles that spread a 16-bit value held in each pixel's 32-bit lane over the three
// colour lanes of the pixel's four 16-bit lanes, with 0 in the alpha lane: `low` for the first
// two pixels of each 128-bit half, `high` for the last two.
inline __m256i SpreadLow() {
  return _mm256_setr_epi8(0, 1, 0, 1, 0, 1, -1, -1, 4, 5, 4, 5, 4, 5, -1, -1, 0, 1, 0, 1, 0, 1, -1, -1, 4, 5, 4, 5, 4,
                          5, -1, -1);
}
inline __m256i SpreadHigh() {
  return _mm256_setr_epi8(8, 9, 8, 9, 8, 9, -1, -1, 12, 13, 12, 13, 12, 13, -1, -1, 8, 9, 8, 9, 8, 9, -1, -1, 12, 13,
                          12, 13, 12, 13, -1, -1);
}

// ---------------------------------------------------------------------------------------------
// Alpha blends at levels 2 and 3: colour bytes min(255, ((s * (a' + 1)) >> 8) + ((d * (256 -
// a')) >> 8)), each product's shift taken as the high half of a 16-bit product with the byte in
// the upper half of its lane; the alpha lanes weigh 0 and keep the destination's byte.

template <bool OPACITY>
inline __m256i AlphaPairsEight(__m256i vd, __m256i vs, __m256i op) {
  __m256i a = _mm256_srli_epi32(vs, 24);
  if (OPACITY) a = _mm256_srli_epi32(_mm256_mullo_epi16(a, op), 8);
  __m256i wl = _mm256_shuffle_epi8(a, SpreadLow()), wh = _mm256_shuffle_epi8(a, SpreadHigh());
  __m256i zero = _mm256_setzero_si256(), one = Set16(1), full = Set16(256);
  // The alpha lanes' weight is 0: + 1 would give them 1, which the byte's own << 8 cancels.
  auto half = [&](__m256i w, bool high) {
    __m256i s16 = high ? _mm256_unpackhi_epi8(zero, vs) : _mm256_unpacklo_epi8(zero, vs);
    __m256i d16 = high ? _mm256_unpackhi_epi8(zero, vd) : _mm256_unpacklo_epi8(zero, vd);
    return _mm256_add_epi16(_mm256_mulhi_epu16(s16, _mm256_add_epi16(w, one)),
                            _mm256_mulhi_epu16(d16, _mm256_sub_epi16(full, w)));
  };
  return _mm256_packus_epi16(half(wl, false), half(wh, true));
}

// The level-2 row: a lone first pixel off an 8-byte boundary, then eight pixels a step, the
// pairs left over through a scratch copy, and a lone last pixel of an odd count.
template <bool OPACITY>
void AlphaBlendRowL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  size_t pixels = n / 4, p = 0;
  auto lone = [&](size_t q) {
    int w = OPACITY ? (src[q * 4 + 3] * op) >> 8 : src[q * 4 + 3];
    for (int c = 0; c < 3; c++) dst[q * 4 + c] = AlphaLoneByte(dst[q * 4 + c], src[q * 4 + c], w);
  };
  if (pixels > 0 && ((uintptr_t)dst & 7) != 0) lone(p++);
  __m256i vop = Set16(op), alpha = AlphaMask();
  for (; p + 8 <= pixels; p += 8) {
    __m256i vs = Load32(src + p * 4);
    if (!OPACITY) {
      // Fully transparent sources leave the pixels; fully opaque ones replace the colour.
      __m256i a = _mm256_and_si256(vs, alpha);
      if (_mm256_testz_si256(a, a)) continue;
      if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, alpha)) == -1) {
        __m256i vd = Load32(dst + p * 4);
        Store32(dst + p * 4, _mm256_blendv_epi8(vs, vd, alpha));
        continue;
      }
    }
    Store32(dst + p * 4, AlphaPairsEight<OPACITY>(Load32(dst + p * 4), vs, vop));
  }
  size_t pairBytes = ((pixels - p) & ~(size_t)1) * 4;
  if (pairBytes) {
    alignas(32) uint8_t d[32] = {}, s[32] = {};
    memcpy(d, dst + p * 4, pairBytes);
    memcpy(s, src + p * 4, pairBytes);
    Store32(d, AlphaPairsEight<OPACITY>(Load32(d), Load32(s), vop));
    memcpy(dst + p * 4, d, pairBytes);
    p += pairBytes / 4;
  }
  if (p < pixels) lone(p);
}

void Avx2AlphaBlendL2(uint8_t* dst, const uint8_t* src, size_t n) { AlphaBlendRowL2<false>(dst, src, 0, n); }
void Avx2AlphaBlendOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 256) return g_FastKernels[1].alphaBlendOpacity(dst, src, op, n);
  AlphaBlendRowL2<true>(dst, src, op, n);
}

// ---------------------------------------------------------------------------------------------
// Compose over alpha: Da' = Da + A - Da * A / 255 (never above 255, never below A), w = A * 256
// / Da' (at most 256) and colour d + (((s - d) * w) >> 8), which is the high half of the signed
// product ((s - d) << 7) * (w << 1). Onto an opaque destination Da' stays 255 and w is A, plus
// 1 at A = 255; otherwise the quotient comes from single precision, exact as in the SSE2 form.

inline __m256i BlendColour(__m256i vd, __m256i vs, __m256i twiceW) {
  __m256i zero = _mm256_setzero_si256();
  __m256i wl = _mm256_shuffle_epi8(twiceW, SpreadLow()), wh = _mm256_shuffle_epi8(twiceW, SpreadHigh());
  auto half = [&](__m256i d16, __m256i s16, __m256i w) {
    return _mm256_add_epi16(d16, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(s16, d16), 7), w));
  };
  return _mm256_packus_epi16(half(_mm256_unpacklo_epi8(vd, zero), _mm256_unpacklo_epi8(vs, zero), wl),
                             half(_mm256_unpackhi_epi8(vd, zero), _mm256_unpackhi_epi8(vs, zero), wh));
}

inline __m256i ComposeOverEight(__m256i vd, __m256i vs) {
  __m256i one = Set32(1), alpha = AlphaMask();
  __m256i a = _mm256_srli_epi32(vs, 24);
  if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(vd, alpha), alpha)) == -1) {
    __m256i w = _mm256_add_epi32(a, _mm256_srli_epi32(_mm256_add_epi32(a, one), 8));
    return _mm256_or_si256(_mm256_andnot_si256(alpha, BlendColour(vd, vs, _mm256_slli_epi32(w, 1))), alpha);
  }
  __m256i da = _mm256_srli_epi32(vd, 24);
  __m256i product = _mm256_mullo_epi16(a, da);
  __m256i share = _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(product, one), _mm256_srli_epi32(product, 8)), 8);
  __m256i newAlpha = _mm256_sub_epi32(_mm256_add_epi32(da, a), share);
  // Da' = 0 only where A = 0, whose weight is 0 whatever the divisor.
  __m256 quotient = _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_slli_epi32(a, 8)),
                                  _mm256_cvtepi32_ps(_mm256_max_epi32(newAlpha, one)));
  __m256i w = _mm256_cvttps_epi32(quotient);
  __m256i colour = BlendColour(vd, vs, _mm256_slli_epi32(w, 1));
  return _mm256_or_si256(_mm256_andnot_si256(alpha, colour), _mm256_slli_epi32(newAlpha, 24));
}

void Avx2ComposeOverAlpha(uint8_t* dst, const uint8_t* src, size_t n) {
  __m256i alpha = AlphaMask();
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256i vs = Load32(src + i);
    __m256i a = _mm256_and_si256(vs, alpha);
    // Transparent sources leave the pixels; opaque ones replace them.
    if (_mm256_testz_si256(a, a)) continue;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, alpha)) == -1) {
      Store32(dst + i, vs);
      continue;
    }
    Store32(dst + i, ComposeOverEight(Load32(dst + i), vs));
  }
  if (i < n) g_FastKernels[1].composeOverAlpha(dst + i, src + i, n - i);
}

}  // namespace

void UseAvx2Kernels(PixelKernels* set, int32_t level) {
  set->composeOverAlpha = Avx2ComposeOverAlpha;
  if (level < 2) return;
  set->alphaBlend = Avx2AlphaBlendL2;
  set->alphaBlendOpacity = Avx2AlphaBlendOpacityL2;
}
