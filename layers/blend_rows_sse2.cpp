// The vector step rows on SSE2, which every x86-64 processor has: the lane operations that
// layers/blend_rows_simd.h builds the rows from.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "layers/blend_rows_local.h"
#include "layers/blend_tables.h"

namespace {

struct Sse2 {
  using I = __m128i;
  static constexpr size_t BYTES = 16;
  [[gnu::always_inline]] static I Load(const uint8_t* p) { return _mm_loadu_si128((const __m128i*)(const void*)p); }
  [[gnu::always_inline]] static void Store(uint8_t* p, I v) { _mm_storeu_si128((__m128i*)(void*)p, v); }
  [[gnu::always_inline]] static I Zero() { return _mm_setzero_si128(); }
  [[gnu::always_inline]] static I Set8(int v) { return _mm_set1_epi8((char)v); }
  [[gnu::always_inline]] static I Set16(int v) { return _mm_set1_epi16((short)v); }
  [[gnu::always_inline]] static I Set32(int v) { return _mm_set1_epi32(v); }
  [[gnu::always_inline]] static I And(I a, I b) { return _mm_and_si128(a, b); }
  [[gnu::always_inline]] static I Or(I a, I b) { return _mm_or_si128(a, b); }
  [[gnu::always_inline]] static I AndNot(I mask, I b) { return _mm_andnot_si128(mask, b); }
  [[gnu::always_inline]] static I Xor(I a, I b) { return _mm_xor_si128(a, b); }
  [[gnu::always_inline]] static I AddSat8(I a, I b) { return _mm_adds_epu8(a, b); }
  [[gnu::always_inline]] static I SubSat8(I a, I b) { return _mm_subs_epu8(a, b); }
  [[gnu::always_inline]] static I Max8(I a, I b) { return _mm_max_epu8(a, b); }
  [[gnu::always_inline]] static I Min8(I a, I b) { return _mm_min_epu8(a, b); }
  [[gnu::always_inline]] static I CmpEq8(I a, I b) { return _mm_cmpeq_epi8(a, b); }
  [[gnu::always_inline]] static uint32_t MoveMask8(I a) { return (uint32_t)_mm_movemask_epi8(a); }
  [[gnu::always_inline]] static I Add16(I a, I b) { return _mm_add_epi16(a, b); }
  [[gnu::always_inline]] static I Sub16(I a, I b) { return _mm_sub_epi16(a, b); }
  [[gnu::always_inline]] static I MulLo16(I a, I b) { return _mm_mullo_epi16(a, b); }
  [[gnu::always_inline]] static I Srli16(I a, int k) { return _mm_srli_epi16(a, k); }
  [[gnu::always_inline]] static I Srai16(I a, int k) { return _mm_srai_epi16(a, k); }
  [[gnu::always_inline]] static I CmpGt16(I a, I b) { return _mm_cmpgt_epi16(a, b); }
  [[gnu::always_inline]] static I CmpEq16(I a, I b) { return _mm_cmpeq_epi16(a, b); }
  [[gnu::always_inline]] static I Min16(I a, I b) { return _mm_min_epi16(a, b); }
  [[gnu::always_inline]] static I Max16(I a, I b) { return _mm_max_epi16(a, b); }
  [[gnu::always_inline]] static I Add32(I a, I b) { return _mm_add_epi32(a, b); }
  [[gnu::always_inline]] static I Sub32(I a, I b) { return _mm_sub_epi32(a, b); }
  [[gnu::always_inline]] static I Slli32(I a, int k) { return _mm_slli_epi32(a, k); }
  [[gnu::always_inline]] static I Srli32(I a, int k) { return _mm_srli_epi32(a, k); }
  [[gnu::always_inline]] static I CmpGt32(I a, I b) { return _mm_cmpgt_epi32(a, b); }
  [[gnu::always_inline]] static I Madd16(I a, I b) { return _mm_madd_epi16(a, b); }
  [[gnu::always_inline]] static I UnpackLo8(I a, I b) { return _mm_unpacklo_epi8(a, b); }
  [[gnu::always_inline]] static I UnpackHi8(I a, I b) { return _mm_unpackhi_epi8(a, b); }
  [[gnu::always_inline]] static I UnpackLo16(I a, I b) { return _mm_unpacklo_epi16(a, b); }
  [[gnu::always_inline]] static I UnpackHi16(I a, I b) { return _mm_unpackhi_epi16(a, b); }
  [[gnu::always_inline]] static I UnpackLo32(I a, I b) { return _mm_unpacklo_epi32(a, b); }
  [[gnu::always_inline]] static I UnpackHi32(I a, I b) { return _mm_unpackhi_epi32(a, b); }
  [[gnu::always_inline]] static I PackUs16(I a, I b) { return _mm_packus_epi16(a, b); }
  [[gnu::always_inline]] static I PackS32(I a, I b) { return _mm_packs_epi32(a, b); }
  [[gnu::always_inline]] static __m128 CvtF(I a) { return _mm_cvtepi32_ps(a); }
  [[gnu::always_inline]] static __m128 DivF(__m128 a, __m128 b) { return _mm_div_ps(a, b); }
  [[gnu::always_inline]] static I CvttF(__m128 a) { return _mm_cvttps_epi32(a); }
  [[gnu::always_inline]] static I ColourLanes16() { return _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1); }
};

}  // namespace

#include "layers/blend_rows_simd.h"

BlendRow StepRowFast(int32_t mode, bool alpha, bool full) { return StepRows<Sse2>::Lookup(mode, alpha, full); }
