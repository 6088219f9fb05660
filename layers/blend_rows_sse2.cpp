// The vector step rows: each mode's blend function computed in SSE2 lanes instead of read from
// its lookup table, with the plain and alpha rows built on it. Each gives exactly the bytes of
// the per-byte table rows.
#include <emmintrin.h>

#include <cstring>
#include <utility>

#include "layers/blend_rows_local.h"
#include "layers/blend_tables.h"

namespace {

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128((const __m128i*)p); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128((__m128i*)p, v); }
inline __m128i Zero() { return _mm_setzero_si128(); }
inline __m128i Lo16(__m128i v) { return _mm_unpacklo_epi8(v, Zero()); }
inline __m128i Hi16(__m128i v) { return _mm_unpackhi_epi8(v, Zero()); }
inline __m128i Set16(int v) { return _mm_set1_epi16((int16_t)v); }
inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// x / 255 truncated, for 16-bit lanes holding 0..65025.
inline __m128i Div255(__m128i x) {
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, Set16(1)), _mm_srli_epi16(x, 8)), 8);
}

// The overlay curve of a base b and a blend value v (16-bit lanes, 0..255 each): below the
// middle the product doubled, above it the screen-like upper half, at 128 the value itself.
inline __m128i OverlayHalf(__m128i v, __m128i b) {
  __m128i twice = _mm_add_epi16(b, b);
  __m128i low = Div255(_mm_mullo_epi16(v, twice));
  __m128i high = _mm_sub_epi16(_mm_add_epi16(Div255(_mm_mullo_epi16(v, _mm_sub_epi16(Set16(512), twice))), twice),
                               Set16(257));
  __m128i r = Select(_mm_cmpgt_epi16(b, Set16(128)), high, low);
  return Select(_mm_cmpeq_epi16(b, Set16(128)), v, r);
}

// Truncated quotients of 32-bit lanes through single precision: every quotient that survives
// the clamp to a byte lies below 256 and at least 1/510 away from any integer it is not, far
// beyond the rounding of one division.
inline __m128i Quotient(__m128i num, __m128i den) {
  return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(num), _mm_cvtepi32_ps(den)));
}

// A function of four 32-bit lanes per quarter of 16 bytes, packed back with a clamp to 0..255.
template <typename F>
inline __m128i ByQuarters(__m128i s, __m128i d, F f) {
  __m128i sl = Lo16(s), sh = Hi16(s), dl = Lo16(d), dh = Hi16(d);
  __m128i q0 = f(_mm_unpacklo_epi16(sl, Zero()), _mm_unpacklo_epi16(dl, Zero()));
  __m128i q1 = f(_mm_unpackhi_epi16(sl, Zero()), _mm_unpackhi_epi16(dl, Zero()));
  __m128i q2 = f(_mm_unpacklo_epi16(sh, Zero()), _mm_unpacklo_epi16(dh, Zero()));
  __m128i q3 = f(_mm_unpackhi_epi16(sh, Zero()), _mm_unpackhi_epi16(dh, Zero()));
  return _mm_packus_epi16(_mm_packs_epi32(q0, q1), _mm_packs_epi32(q2, q3));
}

// A function of 16-bit lanes per half, packed back with a clamp to 0..255.
template <typename F>
inline __m128i ByHalves(__m128i s, __m128i d, F f) {
  return _mm_packus_epi16(f(Lo16(s), Lo16(d)), f(Hi16(s), Hi16(d)));
}

inline __m128i Int32(int v) { return _mm_set1_epi32(v); }
inline __m128i Max32(__m128i a, __m128i b) { return Select(_mm_cmpgt_epi32(a, b), a, b); }

// T(s, d) of mode M for 16 source and 16 destination bytes.
template <int M>
inline __m128i BlendVector(__m128i s, __m128i d) {
  if constexpr (M == BLEND_NORMAL) return s;
  if constexpr (M == BLEND_ADD) return _mm_adds_epu8(d, s);
  if constexpr (M == BLEND_SUBTRACT) return _mm_subs_epu8(s, d);
  if constexpr (M == BLEND_MULTIPLY) return ByHalves(s, d, [](__m128i a, __m128i b) { return Div255(_mm_mullo_epi16(a, b)); });
  if constexpr (M == BLEND_DIVIDE) {
    // d = 0 divides by 1: 0 stays 0 and anything else clamps to 255.
    return ByQuarters(s, d, [](__m128i a, __m128i b) {
      return Quotient(_mm_madd_epi16(a, Int32(255)), Max32(b, Int32(1)));
    });
  }
  if constexpr (M == BLEND_SCREEN) {
    return ByHalves(s, d, [](__m128i a, __m128i b) { return _mm_sub_epi16(_mm_add_epi16(a, b), Div255(_mm_mullo_epi16(a, b))); });
  }
  if constexpr (M == BLEND_LIGHTEN) return _mm_max_epu8(s, d);
  if constexpr (M == BLEND_DARKEN) return _mm_min_epu8(s, d);
  if constexpr (M == BLEND_DIFFERENCE) return _mm_or_si128(_mm_subs_epu8(s, d), _mm_subs_epu8(d, s));
  if constexpr (M == BLEND_EXCLUSION) {
    return ByHalves(s, d, [](__m128i a, __m128i b) {
      __m128i p = Div255(_mm_mullo_epi16(a, b));
      return _mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(p, p));
    });
  }
  if constexpr (M == BLEND_OVERLAY) return ByHalves(s, d, [](__m128i a, __m128i b) { return OverlayHalf(a, b); });
  if constexpr (M == BLEND_HARD_LIGHT) return ByHalves(s, d, [](__m128i a, __m128i b) { return OverlayHalf(b, a); });
  if constexpr (M == BLEND_COLOR_DODGE) {
    return ByQuarters(s, d, [](__m128i a, __m128i b) { return Quotient(_mm_slli_epi32(b, 8), _mm_sub_epi32(Int32(256), a)); });
  }
  if constexpr (M == BLEND_COLOR_BURN) {
    return ByQuarters(s, d, [](__m128i a, __m128i b) {
      return _mm_sub_epi32(Int32(255), Quotient(_mm_slli_epi32(_mm_sub_epi32(Int32(255), b), 8), _mm_add_epi32(a, Int32(1))));
    });
  }
  if constexpr (M == BLEND_LINEAR_BURN) return _mm_subs_epu8(d, _mm_xor_si128(s, _mm_set1_epi8(-1)));
  if constexpr (M == BLEND_SOFT_LIGHT) {
    // Outside the dark corner (s >= 128 with d <= 32, see BlendExact) the square-root term
    // only ever nudges a quotient below the integer it sits on: a darkening source moves d by
    // (s - 128) >> 1, a lightening one by (s - 129) >> 2, at least 0.
    return ByHalves(s, d, [](__m128i a, __m128i b) {
      __m128i x = _mm_sub_epi16(a, Set16(128));
      __m128i down = _mm_srai_epi16(x, 1);
      __m128i up = _mm_srai_epi16(_mm_max_epi16(_mm_sub_epi16(x, Set16(1)), Zero()), 2);
      return _mm_add_epi16(b, Select(_mm_cmplt_epi16(x, Zero()), down, up));
    });
  }
  if constexpr (M == BLEND_VIVID_LIGHT) {
    __m128i r = ByQuarters(s, d, [](__m128i a, __m128i b) {
      __m128i twice = _mm_add_epi32(a, a);
      __m128i burnNum = _mm_sub_epi32(_mm_add_epi32(_mm_madd_epi16(a, Int32(510)), _mm_madd_epi16(b, Int32(255))), Int32(65025));
      __m128i burn = Quotient(burnNum, Max32(twice, Int32(1)));
      __m128i dodgeDen = _mm_sub_epi32(Int32(510), twice);
      __m128i dodge = Quotient(_mm_madd_epi16(b, Int32(255)), Max32(dodgeDen, Int32(1)));
      return Select(_mm_cmplt_epi32(a, Int32(128)), burn, dodge);
    });
    r = Select(_mm_cmpeq_epi8(s, Zero()), Zero(), r);
    return Select(_mm_cmpeq_epi8(s, _mm_set1_epi8(-1)), _mm_set1_epi8(-1), r);
  }
  if constexpr (M == BLEND_LINEAR_LIGHT) {
    return ByHalves(s, d, [](__m128i a, __m128i b) { return _mm_sub_epi16(_mm_add_epi16(b, _mm_add_epi16(a, a)), Set16(256)); });
  }
  if constexpr (M == BLEND_PIN_LIGHT) {
    return ByHalves(s, d, [](__m128i a, __m128i b) {
      __m128i twice = _mm_add_epi16(a, a);
      __m128i low = _mm_min_epi16(b, twice);
      __m128i high = _mm_max_epi16(b, _mm_sub_epi16(twice, Set16(255)));
      return Select(_mm_cmplt_epi16(a, Set16(128)), low, high);
    });
  }
  return s;
}

// Soft light's dark corner (s >= 128 with d <= 32) scales s - 128 by a factor of d alone,
// trunc(16384 - sqrt(256 - d) * (768 - 8d)); single precision gives the same integer for each
// of these 33 values of d. It is worked out only for vectors that reach the corner.
inline __m128i SoftLightCorner(__m128i s, __m128i d) {
  return ByQuarters(s, d, [](__m128i a, __m128i b) {
    __m128 root = _mm_sqrt_ps(_mm_cvtepi32_ps(_mm_sub_epi32(Int32(256), b)));
    __m128 slope = _mm_cvtepi32_ps(_mm_sub_epi32(Int32(768), _mm_slli_epi32(b, 3)));
    __m128i factor = _mm_cvttps_epi32(_mm_sub_ps(_mm_set1_ps(16384.0f), _mm_mul_ps(root, slope)));
    return _mm_add_epi32(b, _mm_srai_epi32(_mm_madd_epi16(_mm_sub_epi32(a, Int32(128)), factor), 15));
  });
}

template <int M>
inline __m128i BlendExact(__m128i s, __m128i d) {
  __m128i t = BlendVector<M>(s, d);
  if constexpr (M == BLEND_SOFT_LIGHT) {
    __m128i light = _mm_cmpeq_epi8(_mm_and_si128(s, _mm_set1_epi8(-128)), _mm_set1_epi8(-128));
    __m128i dark = _mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(32)), Zero());
    __m128i corner = _mm_and_si128(light, dark);
    if (_mm_movemask_epi8(corner)) t = Select(corner, SoftLightCorner(s, d), t);
  }
  return t;
}

// d moved toward t by w/256 in each 16-bit lane: (d * (256 - w) + t * w) >> 8, which is
// d + (((t - d) * w) >> 8) and never leaves 16 bits for w in 0..256.
inline __m128i Toward(__m128i d16, __m128i t16, __m128i w) {
  return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(d16, _mm_sub_epi16(Set16(256), w)), _mm_mullo_epi16(t16, w)), 8);
}

// The alpha weights of four pixels in the colour lanes of their 16-bit halves; the alpha lanes
// get 0, so the destination's alpha byte comes back unchanged.
template <bool PARTIAL>
inline void AlphaWeights(__m128i s, __m128i op, __m128i* lo, __m128i* hi) {
  __m128i a = _mm_srli_epi32(s, 24);
  a = _mm_add_epi32(a, Int32(1));
  if (PARTIAL) a = _mm_srli_epi32(_mm_mullo_epi16(a, op), 8);
  a = _mm_or_si128(a, _mm_slli_epi32(a, 16));
  __m128i colour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  *lo = _mm_and_si128(_mm_unpacklo_epi32(a, a), colour);
  *hi = _mm_and_si128(_mm_unpackhi_epi32(a, a), colour);
}

enum RowForm { FORM_FULL, FORM_PARTIAL, FORM_PARTIAL_TRUNCATED, FORM_ALPHA, FORM_ALPHA_PARTIAL };

template <int M, int FORM>
inline __m128i StepVector(__m128i d, __m128i s, __m128i op) {
  __m128i t = BlendExact<M>(s, d);
  if constexpr (FORM == FORM_FULL) return t;
  if constexpr (FORM == FORM_PARTIAL) {
    return _mm_packus_epi16(Toward(Lo16(d), Lo16(t), op), Toward(Hi16(d), Hi16(t), op));
  }
  if constexpr (FORM == FORM_PARTIAL_TRUNCATED) {
    // Toward t truncated toward d: the step up and the step down scaled separately.
    __m128i up = _mm_subs_epu8(t, d), down = _mm_subs_epu8(d, t);
    auto half = [&](__m128i d16, __m128i u16, __m128i w16) {
      return _mm_sub_epi16(_mm_add_epi16(d16, _mm_srli_epi16(_mm_mullo_epi16(u16, op), 8)),
                           _mm_srli_epi16(_mm_mullo_epi16(w16, op), 8));
    };
    return _mm_packus_epi16(half(Lo16(d), Lo16(up), Lo16(down)), half(Hi16(d), Hi16(up), Hi16(down)));
  }
  __m128i wl, wh;
  AlphaWeights<FORM == FORM_ALPHA_PARTIAL>(s, op, &wl, &wh);
  return _mm_packus_epi16(Toward(Lo16(d), Lo16(t), wl), Toward(Hi16(d), Hi16(t), wh));
}

// 16 bytes at a time; the last 1-15 go through a scratch copy so they get the same arithmetic.
// Alpha rows leave the bytes of a partial last pixel alone, as the table rows do.
template <int M, int FORM>
void StepRow(uint8_t* dst, const uint8_t* src, int32_t o, size_t n) {
  __m128i op = Set16(o);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) Store16(dst + i, StepVector<M, FORM>(Load16(dst + i), Load16(src + i), op));
  size_t rest = n - i;
  if (FORM == FORM_ALPHA || FORM == FORM_ALPHA_PARTIAL) rest &= ~(size_t)3;
  if (rest == 0) return;
  alignas(16) uint8_t d[16] = {}, s[16] = {};
  memcpy(d, dst + i, rest);
  memcpy(s, src + i, rest);
  _mm_store_si128((__m128i*)d, StepVector<M, FORM>(_mm_load_si128((const __m128i*)d), _mm_load_si128((const __m128i*)s), op));
  memcpy(dst + i, d, rest);
}

// Opacities outside 0..255 never reach a partial row from the compositor; should one come,
// the table row gives its bytes.
template <int M, int FORM>
void GuardedStepRow(uint8_t* dst, const uint8_t* src, int32_t o, size_t n) {
  if (o < 0 || o > 255) return StepRowReference(M, FORM == FORM_ALPHA_PARTIAL, false)(dst, src, o, n);
  StepRow<M, FORM>(dst, src, o, n);
}

struct FastRows {
  BlendRow plainPartial, plainFull, alphaPartial, alphaFull;
};

template <int M>
constexpr FastRows RowsOf() {
  constexpr int partial = M == BLEND_DIFFERENCE ? FORM_PARTIAL_TRUNCATED : FORM_PARTIAL;
  return {GuardedStepRow<M, partial>, StepRow<M, FORM_FULL>, GuardedStepRow<M, FORM_ALPHA_PARTIAL>,
          StepRow<M, FORM_ALPHA>};
}

template <size_t... M>
constexpr std::array<FastRows, BLEND_MODE_COUNT> AllRows(std::index_sequence<M...>) {
  return {RowsOf<(int)M>()...};
}
constexpr std::array<FastRows, BLEND_MODE_COUNT> g_FastStepRows = AllRows(std::make_index_sequence<BLEND_MODE_COUNT>());

}  // namespace

BlendRow StepRowFast(int32_t mode, bool alpha, bool full) {
  if (mode < 0 || mode >= BLEND_MODE_COUNT) return nullptr;
  const FastRows& r = g_FastStepRows[mode];
  return alpha ? (full ? r.alphaFull : r.alphaPartial) : (full ? r.plainFull : r.plainPartial);
}
