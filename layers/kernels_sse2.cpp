// The fast pixel kernels: SSE2 for the hot rows, the C library for fills and copies, and the
// plain routines where vectors do not pay. Each gives exactly the reference's bytes.
#include <emmintrin.h>

#include <cstring>

#include "layers/kernels_local.h"
#include "layers/pixel_kernels.h"

static inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128((const __m128i*)p); }
static inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128((__m128i*)p, v); }
static inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64((const __m128i*)p); }
static inline void Store8(uint8_t* p, __m128i v) { _mm_storel_epi64((__m128i*)p, v); }

// The alpha bytes of four pixels spread over their pixel's four 16-bit lanes: lo = pixels 0-1,
// hi = pixels 2-3.
static inline void SpreadAlpha(__m128i px, __m128i* lo, __m128i* hi) {
  __m128i a = _mm_srli_epi32(px, 24);
  a = _mm_or_si128(a, _mm_slli_epi32(a, 16));
  *lo = _mm_unpacklo_epi32(a, a);
  *hi = _mm_unpackhi_epi32(a, a);
}

static const __m128i* AlphaMask() {
  alignas(16) static const uint32_t mask[4] = {0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u};
  return (const __m128i*)mask;
}

// The colour bytes of `colour` with the alpha bytes of `keep`.
static inline __m128i KeepAlpha(__m128i colour, __m128i keep) {
  __m128i mask = _mm_load_si128(AlphaMask());
  return _mm_or_si128(_mm_andnot_si128(mask, colour), _mm_and_si128(mask, keep));
}

// ---------------------------------------------------------------------------------------------
// Fill and copy.

static void FastZeroFill(uint8_t* dst, size_t n) {
  if (n) memset(dst, 0, n);
}

static void FastFillBytes(uint8_t* dst, size_t n, uint8_t value) {
  if (n) memset(dst, value, n);
}

// A pixel of four equal bytes is a byte fill. Otherwise, on a 4-aligned row, aligned stores
// cover the middle and overlapping unaligned ones the two ends; every store starts a whole
// number of pixels from dst, so the overlaps write the same bytes again.
static void FastFillPixels(uint8_t* dst, size_t n, uint32_t pixel) {
  size_t whole = n & ~(size_t)3;
  if (pixel == (pixel & 0xFF) * 0x01010101u) return FastFillBytes(dst, whole, (uint8_t)pixel);
  __m128i v = _mm_set1_epi32((int)pixel);
  if (whole < 32 || ((uintptr_t)dst & 3) != 0) {
    size_t i = 0;
    for (; i + 16 <= whole; i += 16) Store16(dst + i, v);
    return RefFillPixels(dst + i, n - i, pixel);
  }
  Store16(dst, v);
  uint8_t* p = (uint8_t*)(((uintptr_t)dst + 16) & ~(uintptr_t)15);
  uint8_t* end = dst + whole;
  for (; p + 64 <= end; p += 64) {
    _mm_store_si128((__m128i*)p, v);
    _mm_store_si128((__m128i*)(p + 16), v);
    _mm_store_si128((__m128i*)(p + 32), v);
    _mm_store_si128((__m128i*)(p + 48), v);
  }
  for (; p + 16 <= end; p += 16) _mm_store_si128((__m128i*)p, v);
  Store16(end - 16, v);
}

// Only a copy to a higher address inside its own source differs from memmove; that one keeps
// the 8-byte forward order.
static void FastCopy(uint8_t* dst, const uint8_t* src, size_t n) {
  if (n == 0) return;
  if (dst > src && dst < src + n) return RefCopy(dst, src, n);
  memmove(dst, src, n);
}

// ---------------------------------------------------------------------------------------------
// Cross-fades: each 16-bit lane computes base + (((other - base) * k) >> 8) with k < 128, which
// the three branches of the group formula reduce to.

template <int L>
static void FastFadeRow(uint8_t* dst, const uint8_t* d, const uint8_t* s, int32_t a, size_t n, size_t head) {
  size_t i = 0;
  for (; i < head; i++) dst[i] = FadeLoneByte(d[i], s[i], a);
  size_t groupsEnd = i + ((n - i) & ~(size_t)7);
  if (a == 0) {
    if (dst != d) memmove(dst + i, d + i, groupsEnd - i);
    i = groupsEnd;
  } else if (a == 256) {
    memmove(dst + i, s + i, groupsEnd - i);
    i = groupsEnd;
  } else if (a == 128) {
    __m128i low7 = _mm_set1_epi8(0x7F);
    for (; i + 16 <= groupsEnd; i += 16) {
      __m128i vd = Load16(d + i), vs = Load16(s + i);
      __m128i r = L == 1 ? _mm_add_epi8(_mm_and_si128(_mm_srli_epi16(vd, 1), low7),
                                        _mm_and_si128(_mm_srli_epi16(vs, 1), low7))
                         : _mm_avg_epu8(vd, vs);
      Store16(dst + i, r);
    }
  } else if (a > 0 && a < 256) {
    bool towardSource = a < 128;
    __m128i k = _mm_set1_epi16((int16_t)(towardSource ? a : 256 - a));
    __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= groupsEnd; i += 16) {
      __m128i vd = Load16(d + i), vs = Load16(s + i);
      __m128i base = towardSource ? vd : vs, other = towardSource ? vs : vd;
      __m128i bl = _mm_unpacklo_epi8(base, zero), bh = _mm_unpackhi_epi8(base, zero);
      __m128i ol = _mm_unpacklo_epi8(other, zero), oh = _mm_unpackhi_epi8(other, zero);
      __m128i rl = _mm_add_epi16(bl, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(ol, bl), k), 8));
      __m128i rh = _mm_add_epi16(bh, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(oh, bh), k), 8));
      Store16(dst + i, _mm_packus_epi16(rl, rh));
    }
  }
  for (; i < groupsEnd; i++) dst[i] = FadeGroupByte<L>(d[i], s[i], a);
  for (; i < n; i++) dst[i] = FadeLoneByte(d[i], s[i], a);
}

static void FastCrossFadeL1(uint8_t* dst, const uint8_t* src, int32_t a, size_t n) {
  FastFadeRow<1>(dst, dst, src, a, n, 0);
}
static void FastCrossFadeL2(uint8_t* dst, const uint8_t* src, int32_t a, size_t n) {
  FastFadeRow<2>(dst, dst, src, a, n, HeadBytes(dst, n));
}
static void FastCrossFadeTwoL1(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n) {
  FastFadeRow<1>(dst, src1, src2, a, n, 0);
}
static void FastCrossFadeTwoL2(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n) {
  FastFadeRow<2>(dst, src1, src2, a, n, 0);
}

// ---------------------------------------------------------------------------------------------
// Alpha blends: pairs of pixels four at a time; lone pixels (the level-2 head, an odd last
// pixel) go through the plain formulas.

// The weights of the alpha lanes are zeroed: both pair formulas then give back the
// destination's alpha byte. Level 2 shifts each product by taking the high half of a 16-bit
// product with the byte unpacked into the upper half of its lane.
template <int L>
static inline __m128i AlphaPairHalf(__m128i d8, __m128i s8, __m128i w, bool high) {
  __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1), full = _mm_set1_epi16(256);
  if (L == 1) {
    __m128i s16 = high ? _mm_unpackhi_epi8(s8, zero) : _mm_unpacklo_epi8(s8, zero);
    __m128i d16 = high ? _mm_unpackhi_epi8(d8, zero) : _mm_unpacklo_epi8(d8, zero);
    // Summed before the shift: at most 255 * 257, so no lane overflows.
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(s16, _mm_add_epi16(w, one)),
                                        _mm_mullo_epi16(d16, _mm_sub_epi16(full, w))), 8);
  }
  __m128i s16 = high ? _mm_unpackhi_epi8(zero, s8) : _mm_unpacklo_epi8(zero, s8);
  __m128i d16 = high ? _mm_unpackhi_epi8(zero, d8) : _mm_unpacklo_epi8(zero, d8);
  return _mm_add_epi16(_mm_mulhi_epu16(s16, _mm_add_epi16(w, one)), _mm_mulhi_epu16(d16, _mm_sub_epi16(full, w)));
}

template <int L, bool OPACITY>
static inline __m128i AlphaPairs(__m128i vd, __m128i vs, __m128i op) {
  __m128i wl, wh;
  SpreadAlpha(vs, &wl, &wh);
  if (OPACITY) {
    wl = _mm_srli_epi16(_mm_mullo_epi16(wl, op), 8);
    wh = _mm_srli_epi16(_mm_mullo_epi16(wh, op), 8);
  }
  __m128i colourLanes = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  wl = _mm_and_si128(wl, colourLanes);
  wh = _mm_and_si128(wh, colourLanes);
  return _mm_packus_epi16(AlphaPairHalf<L>(vd, vs, wl, false), AlphaPairHalf<L>(vd, vs, wh, true));
}

template <int L, bool OPACITY>
static void FastAlphaBlendRow(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  size_t pixels = n / 4;
  auto lone = [&](size_t p) {
    int w = OPACITY ? (src[p * 4 + 3] * op) >> 8 : src[p * 4 + 3];
    for (int c = 0; c < 3; c++) {
      uint8_t& d = dst[p * 4 + c];
      d = (OPACITY && L == 1) ? AlphaLoneSplitByte(d, src[p * 4 + c], w) : AlphaLoneByte(d, src[p * 4 + c], w);
    }
  };
  size_t p = 0;
  if (L == 2 && pixels > 0 && ((uintptr_t)dst & 7) != 0) lone(p++);
  __m128i vop = _mm_set1_epi16((int16_t)op);
  __m128i alpha = _mm_load_si128(AlphaMask());
  for (; p + 4 <= pixels; p += 4) {
    __m128i vs = Load16(src + p * 4);
    if (!OPACITY) {
      // Fully transparent sources leave the pixels; fully opaque ones replace the colour.
      int opaque = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(vs, alpha), alpha));
      if (opaque == 0xFFFF) {
        Store16(dst + p * 4, KeepAlpha(vs, Load16(dst + p * 4)));
        continue;
      }
      int clear = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(vs, alpha), _mm_setzero_si128()));
      if (clear == 0xFFFF) continue;
    }
    Store16(dst + p * 4, AlphaPairs<L, OPACITY>(Load16(dst + p * 4), vs, vop));
  }
  if (p + 2 <= pixels) {
    Store8(dst + p * 4, AlphaPairs<L, OPACITY>(Load8(dst + p * 4), Load8(src + p * 4), vop));
    p += 2;
  }
  if (p < pixels) lone(p);
}

static void FastAlphaBlendL1(uint8_t* dst, const uint8_t* src, size_t n) { FastAlphaBlendRow<1, false>(dst, src, 0, n); }
static void FastAlphaBlendL2(uint8_t* dst, const uint8_t* src, size_t n) { FastAlphaBlendRow<2, false>(dst, src, 0, n); }
static void FastAlphaBlendOpacityL1(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 256) return RefAlphaBlendOpacityL1(dst, src, op, n);
  FastAlphaBlendRow<1, true>(dst, src, op, n);
}
static void FastAlphaBlendOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 256) return RefAlphaBlendOpacityL2(dst, src, op, n);
  FastAlphaBlendRow<2, true>(dst, src, op, n);
}

// ---------------------------------------------------------------------------------------------
// Add and its weighted forms.

static void FastAdd(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    __m128i a = _mm_adds_epu8(Load16(dst + i), Load16(src + i));
    __m128i b = _mm_adds_epu8(Load16(dst + i + 16), Load16(src + i + 16));
    __m128i c = _mm_adds_epu8(Load16(dst + i + 32), Load16(src + i + 32));
    __m128i d = _mm_adds_epu8(Load16(dst + i + 48), Load16(src + i + 48));
    Store16(dst + i, a);
    Store16(dst + i + 16, b);
    Store16(dst + i + 32, c);
    Store16(dst + i + 48, d);
  }
  for (; i + 16 <= n; i += 16) Store16(dst + i, _mm_adds_epu8(Load16(dst + i), Load16(src + i)));
  RefAdd(dst + i, src + i, n - i);
}

static void FastAddOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 256) return RefAddOpacity(dst, src, op, n);
  size_t groupsEnd = n & ~(size_t)7;
  __m128i vop = _mm_set1_epi16((int16_t)op), zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= groupsEnd; i += 16) {
    __m128i vs = Load16(src + i);
    __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(vs, zero), vop), 8);
    __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(vs, zero), vop), 8);
    Store16(dst + i, _mm_adds_epu8(Load16(dst + i), _mm_packus_epi16(lo, hi)));
  }
  for (; i < groupsEnd; i++) dst[i] = ClampByte(dst[i] + ((src[i] * op) >> 8));
  RefAddOpacity(dst + groupsEnd, src + groupsEnd, op, n - groupsEnd);
}

template <int L, bool OPACITY>
static void FastAddAlphaRow(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1), cap = _mm_set1_epi16(255);
  __m128i vop = _mm_set1_epi16((int16_t)op);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m128i vd = Load16(dst + i), vs = Load16(src + i);
    __m128i wl, wh;
    SpreadAlpha(vs, &wl, &wh);
    wl = _mm_add_epi16(wl, one);
    wh = _mm_add_epi16(wh, one);
    if (L == 2) {
      wl = _mm_min_epi16(wl, cap);
      wh = _mm_min_epi16(wh, cap);
    }
    if (OPACITY) {
      wl = _mm_srli_epi16(_mm_mullo_epi16(wl, vop), 8);
      wh = _mm_srli_epi16(_mm_mullo_epi16(wh, vop), 8);
    }
    // No weight in the alpha lanes: the destination's alpha byte gets nothing added.
    __m128i colourLanes = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    wl = _mm_and_si128(wl, colourLanes);
    wh = _mm_and_si128(wh, colourLanes);
    __m128i room = _mm_min_epu8(vs, _mm_xor_si128(vd, _mm_set1_epi8(-1)));
    __m128i rl = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(room, zero), wl), 8);
    __m128i rh = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(room, zero), wh), 8);
    Store16(dst + i, _mm_add_epi8(vd, _mm_packus_epi16(rl, rh)));
  }
  if (OPACITY)
    (L == 1 ? RefAddAlphaOpacityL1 : RefAddAlphaOpacityL2)(dst + i, src + i, op, n - i);
  else
    (L == 1 ? RefAddAlphaL1 : RefAddAlphaL2)(dst + i, src + i, op, n - i);
}

static void FastAddAlphaL1(uint8_t* dst, const uint8_t* src, int32_t, size_t n) { FastAddAlphaRow<1, false>(dst, src, 0, n); }
static void FastAddAlphaL2(uint8_t* dst, const uint8_t* src, int32_t, size_t n) { FastAddAlphaRow<2, false>(dst, src, 0, n); }
static void FastAddAlphaOpacityL1(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 255) return RefAddAlphaOpacityL1(dst, src, op, n);
  FastAddAlphaRow<1, true>(dst, src, op, n);
}
static void FastAddAlphaOpacityL2(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 255) return RefAddAlphaOpacityL2(dst, src, op, n);
  FastAddAlphaRow<2, true>(dst, src, op, n);
}

// ---------------------------------------------------------------------------------------------
// The other per-byte blocks.

static void FastSubtract(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) Store16(dst + i, _mm_subs_epu8(Load16(src + i), Load16(dst + i)));
  RefSubtract(dst + i, src + i, n - i);
}

static void FastLighten(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) Store16(dst + i, _mm_max_epu8(Load16(src + i), Load16(dst + i)));
  RefLighten(dst + i, src + i, n - i);
}

static void FastDarken(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) Store16(dst + i, _mm_min_epu8(Load16(src + i), Load16(dst + i)));
  RefDarken(dst + i, src + i, n - i);
}

// d + s - 255 floored at 0 is d less the source's complement, saturated.
static void FastLinearBurn(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  __m128i ones = _mm_set1_epi8(-1);
  for (; i + 16 <= n; i += 16)
    Store16(dst + i, _mm_subs_epu8(Load16(dst + i), _mm_xor_si128(Load16(src + i), ones)));
  RefLinearBurn(dst + i, src + i, n - i);
}

static void FastLinearLight(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(256);
  for (; i + 16 <= n; i += 16) {
    __m128i vd = Load16(dst + i), vs = Load16(src + i);
    __m128i lo = _mm_unpacklo_epi8(vs, zero), hi = _mm_unpackhi_epi8(vs, zero);
    lo = _mm_sub_epi16(_mm_add_epi16(_mm_unpacklo_epi8(vd, zero), _mm_add_epi16(lo, lo)), bias);
    hi = _mm_sub_epi16(_mm_add_epi16(_mm_unpackhi_epi8(vd, zero), _mm_add_epi16(hi, hi)), bias);
    Store16(dst + i, _mm_packus_epi16(lo, hi));
  }
  RefLinearLight(dst + i, src + i, n - i);
}

// (d * (s + 1)) >> 8 per 16-bit lane.
static inline __m128i ProductHalf(__m128i d16, __m128i s16) {
  return _mm_srli_epi16(_mm_mullo_epi16(d16, _mm_add_epi16(s16, _mm_set1_epi16(1))), 8);
}

static void FastMultiply(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t whole = n & ~(size_t)3;
  __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= whole; i += 16) {
    __m128i vd = Load16(dst + i), vs = Load16(src + i);
    __m128i lo = ProductHalf(_mm_unpacklo_epi8(vd, zero), _mm_unpacklo_epi8(vs, zero));
    __m128i hi = ProductHalf(_mm_unpackhi_epi8(vd, zero), _mm_unpackhi_epi8(vs, zero));
    Store16(dst + i, _mm_packus_epi16(lo, hi));
  }
  RefMultiply(dst + i, src + i, n - i);
}

static void FastScreen(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t whole = n & ~(size_t)7;
  __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= whole; i += 16) {
    __m128i vd = Load16(dst + i), vs = Load16(src + i);
    __m128i dl = _mm_unpacklo_epi8(vd, zero), dh = _mm_unpackhi_epi8(vd, zero);
    __m128i sl = _mm_unpacklo_epi8(vs, zero), sh = _mm_unpackhi_epi8(vs, zero);
    __m128i lo = _mm_sub_epi16(_mm_add_epi16(dl, sl), ProductHalf(dl, sl));
    __m128i hi = _mm_sub_epi16(_mm_add_epi16(dh, sh), ProductHalf(dh, sh));
    Store16(dst + i, _mm_packus_epi16(lo, hi));
  }
  RefScreen(dst + i, src + i, n - i);
}

// Screen at partial opacity: S = s + d - s * d / 255 with x / 255 = (x + 1 + (x >> 8)) >> 8
// for x <= 65025, then d + (((S - d) * op) >> 8) = (d * (256 - op) + S * op) >> 8.
static void FastScreenOpacity(uint8_t* dst, const uint8_t* src, int32_t op, size_t n) {
  if (op < 0 || op > 256) return RefScreenOpacity(dst, src, op, n);
  __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1), vop = _mm_set1_epi16((int16_t)op);
  __m128i keep = _mm_set1_epi16((int16_t)(256 - op));
  auto half = [&](__m128i d16, __m128i s16) {
    __m128i product = _mm_mullo_epi16(d16, s16);
    __m128i share = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(product, one), _mm_srli_epi16(product, 8)), 8);
    __m128i screen = _mm_sub_epi16(_mm_add_epi16(d16, s16), share);
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d16, keep), _mm_mullo_epi16(screen, vop)), 8);
  };
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m128i vd = Load16(dst + i), vs = Load16(src + i);
    Store16(dst + i, _mm_packus_epi16(half(_mm_unpacklo_epi8(vd, zero), _mm_unpacklo_epi8(vs, zero)),
                                      half(_mm_unpackhi_epi8(vd, zero), _mm_unpackhi_epi8(vs, zero))));
  }
  RefScreenOpacity(dst + i, src + i, op, n - i);
}

// ---------------------------------------------------------------------------------------------
// Compose over alpha, four pixels at a time. x / 255 for x <= 65025 is (x + 1 + (x >> 8)) >> 8;
// the weight A * 256 / Da' is at most 256, where a single-precision quotient lies closer than
// 1/255 to no integer it is not, so truncating it gives the exact integer quotient. The colour
// d + (((s - d) * w) >> 8) equals (d * (256 - w) + s * w) >> 8, which fits 16 bits.

static inline __m128i ComposeOverFour(__m128i vd, __m128i vs) {
  __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi32(1);
  __m128i a = _mm_srli_epi32(vs, 24), da = _mm_srli_epi32(vd, 24);
  __m128i newAlpha, w;
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(da, _mm_set1_epi32(255))) == 0xFFFF) {
    // Onto an opaque destination Da' stays 255 and A * 256 / 255 is A, plus 1 at A = 255.
    newAlpha = da;
    w = _mm_add_epi32(a, _mm_srli_epi32(_mm_add_epi32(a, one), 8));
  } else {
    __m128i product = _mm_mullo_epi16(a, da);
    __m128i share = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(product, one), _mm_srli_epi32(product, 8)), 8);
    newAlpha = _mm_and_si128(_mm_sub_epi32(_mm_add_epi32(da, a), share), _mm_set1_epi32(255));
    __m128i divisor = _mm_add_epi32(newAlpha, _mm_and_si128(_mm_cmpeq_epi32(newAlpha, zero), one));
    w = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(_mm_slli_epi32(a, 8)), _mm_cvtepi32_ps(divisor)));
  }
  w = _mm_or_si128(w, _mm_slli_epi32(w, 16));
  __m128i wl = _mm_unpacklo_epi32(w, w), wh = _mm_unpackhi_epi32(w, w);
  __m128i full = _mm_set1_epi16(256);
  __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(vd, zero), _mm_sub_epi16(full, wl)),
                             _mm_mullo_epi16(_mm_unpacklo_epi8(vs, zero), wl));
  __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(vd, zero), _mm_sub_epi16(full, wh)),
                             _mm_mullo_epi16(_mm_unpackhi_epi8(vs, zero), wh));
  __m128i colour = _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
  return KeepAlpha(colour, _mm_slli_epi32(newAlpha, 24));
}

static void FastComposeOverAlpha(uint8_t* dst, const uint8_t* src, size_t n) {
  __m128i alpha = _mm_load_si128(AlphaMask());
  size_t p = 0;
  for (; p + 16 <= n; p += 16) {
    __m128i vs = Load16(src + p);
    __m128i a = _mm_and_si128(vs, alpha);
    // Transparent sources leave the pixels; opaque ones replace them.
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) == 0xFFFF) continue;
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(a, alpha)) == 0xFFFF) {
      Store16(dst + p, vs);
      continue;
    }
    Store16(dst + p, ComposeOverFour(Load16(dst + p), vs));
  }
  RefComposeOverAlpha(dst + p, src + p, n - p);
}

const PixelKernels g_FastKernels[2] = {
    {FastZeroFill, FastFillBytes, FastFillPixels, FastCopy, FastCrossFadeL1, FastAlphaBlendL1,
     FastAlphaBlendOpacityL1, RefRuleBlendL1, FastCrossFadeTwoL1, FastAdd, FastAddOpacity, FastAddAlphaL1,
     FastAddAlphaOpacityL1, FastSubtract, FastMultiply, FastScreen, FastScreenOpacity, FastLighten,
     FastDarken, FastLinearBurn, FastLinearLight, FastComposeOverAlpha, RefComposeOverAlphaOpacity,
     RefComposeOverScaledAlpha, RefComposeOverAlphaTwoFactor},
    {FastZeroFill, FastFillBytes, FastFillPixels, FastCopy, FastCrossFadeL2, FastAlphaBlendL2,
     FastAlphaBlendOpacityL2, RefRuleBlendL2, FastCrossFadeTwoL2, FastAdd, FastAddOpacity, FastAddAlphaL2,
     FastAddAlphaOpacityL2, FastSubtract, FastMultiply, FastScreen, FastScreenOpacity, FastLighten,
     FastDarken, FastLinearBurn, FastLinearLight, FastComposeOverAlpha, RefComposeOverAlphaOpacity,
     RefComposeOverScaledAlpha, RefComposeOverAlphaTwoFactor},
};

// Until start-up chooses, the table holds level 1, so nothing ever calls through an empty slot.
PixelKernels g_PixelKernels = {
    FastZeroFill, FastFillBytes, FastFillPixels, FastCopy, FastCrossFadeL1, FastAlphaBlendL1,
    FastAlphaBlendOpacityL1, RefRuleBlendL1, FastCrossFadeTwoL1, FastAdd, FastAddOpacity, FastAddAlphaL1,
    FastAddAlphaOpacityL1, FastSubtract, FastMultiply, FastScreen, FastScreenOpacity, FastLighten,
    FastDarken, FastLinearBurn, FastLinearLight, FastComposeOverAlpha, RefComposeOverAlphaOpacity,
    RefComposeOverScaledAlpha, RefComposeOverAlphaTwoFactor};
