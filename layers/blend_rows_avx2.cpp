// The vector step rows on AVX2, installed over the SSE2 ones where the processor has it: the
// 256-bit lane operations that layers/blend_rows_simd.h builds the rows from.
#include <immintrin.h>

#include <cstdint>

#include <cstddef>
#include <cstring>
#include <utility>

#include "layers/blend_rows_local.h"
#include "layers/blend_tables.h"
#include "layers/kernels_local.h"
#include "layers/pixel_kernels.h"

// The whole file is built for AVX2 (CMakeLists.txt): nothing in it runs before the processor
// is known to have it (the gates are in blend_rows.cpp).

namespace {

struct Avx2 {
  using I = __m256i;
  static constexpr size_t BYTES = 32;
  [[gnu::always_inline]] static I Load(const uint8_t* p) { return _mm256_loadu_si256((const __m256i*)(const void*)p); }
  [[gnu::always_inline]] static void Store(uint8_t* p, I v) { _mm256_storeu_si256((__m256i*)(void*)p, v); }
  [[gnu::always_inline]] static I Zero() { return _mm256_setzero_si256(); }
  [[gnu::always_inline]] static I Set8(int v) { return _mm256_set1_epi8((char)v); }
  [[gnu::always_inline]] static I Set16(int v) { return _mm256_set1_epi16((short)v); }
  [[gnu::always_inline]] static I Set32(int v) { return _mm256_set1_epi32(v); }
  [[gnu::always_inline]] static I And(I a, I b) { return _mm256_and_si256(a, b); }
  [[gnu::always_inline]] static I Or(I a, I b) { return _mm256_or_si256(a, b); }
  [[gnu::always_inline]] static I AndNot(I mask, I b) { return _mm256_andnot_si256(mask, b); }
  [[gnu::always_inline]] static I Xor(I a, I b) { return _mm256_xor_si256(a, b); }
  [[gnu::always_inline]] static I AddSat8(I a, I b) { return _mm256_adds_epu8(a, b); }
  [[gnu::always_inline]] static I SubSat8(I a, I b) { return _mm256_subs_epu8(a, b); }
  [[gnu::always_inline]] static I Max8(I a, I b) { return _mm256_max_epu8(a, b); }
  [[gnu::always_inline]] static I Min8(I a, I b) { return _mm256_min_epu8(a, b); }
  [[gnu::always_inline]] static I CmpEq8(I a, I b) { return _mm256_cmpeq_epi8(a, b); }
  [[gnu::always_inline]] static uint32_t MoveMask8(I a) { return (uint32_t)_mm256_movemask_epi8(a); }
  [[gnu::always_inline]] static I Add16(I a, I b) { return _mm256_add_epi16(a, b); }
  [[gnu::always_inline]] static I Sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
  [[gnu::always_inline]] static I MulLo16(I a, I b) { return _mm256_mullo_epi16(a, b); }
  [[gnu::always_inline]] static I Srli16(I a, int k) { return _mm256_srli_epi16(a, k); }
  [[gnu::always_inline]] static I Srai16(I a, int k) { return _mm256_srai_epi16(a, k); }
  [[gnu::always_inline]] static I CmpGt16(I a, I b) { return _mm256_cmpgt_epi16(a, b); }
  [[gnu::always_inline]] static I CmpEq16(I a, I b) { return _mm256_cmpeq_epi16(a, b); }
  [[gnu::always_inline]] static I Min16(I a, I b) { return _mm256_min_epi16(a, b); }
  [[gnu::always_inline]] static I Max16(I a, I b) { return _mm256_max_epi16(a, b); }
  [[gnu::always_inline]] static I Add32(I a, I b) { return _mm256_add_epi32(a, b); }
  [[gnu::always_inline]] static I Sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
  [[gnu::always_inline]] static I Slli32(I a, int k) { return _mm256_slli_epi32(a, k); }
  [[gnu::always_inline]] static I Srli32(I a, int k) { return _mm256_srli_epi32(a, k); }
  [[gnu::always_inline]] static I CmpGt32(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
  [[gnu::always_inline]] static I Madd16(I a, I b) { return _mm256_madd_epi16(a, b); }
  [[gnu::always_inline]] static I UnpackLo8(I a, I b) { return _mm256_unpacklo_epi8(a, b); }
  [[gnu::always_inline]] static I UnpackHi8(I a, I b) { return _mm256_unpackhi_epi8(a, b); }
  [[gnu::always_inline]] static I UnpackLo16(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
  [[gnu::always_inline]] static I UnpackHi16(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
  [[gnu::always_inline]] static I UnpackLo32(I a, I b) { return _mm256_unpacklo_epi32(a, b); }
  [[gnu::always_inline]] static I UnpackHi32(I a, I b) { return _mm256_unpackhi_epi32(a, b); }
  [[gnu::always_inline]] static I PackUs16(I a, I b) { return _mm256_packus_epi16(a, b); }
  [[gnu::always_inline]] static I PackS32(I a, I b) { return _mm256_packs_epi32(a, b); }
  [[gnu::always_inline]] static __m256 CvtF(I a) { return _mm256_cvtepi32_ps(a); }
  [[gnu::always_inline]] static __m256 DivF(__m256 a, __m256 b) { return _mm256_div_ps(a, b); }
  [[gnu::always_inline]] static I CvttF(__m256 a) { return _mm256_cvttps_epi32(a); }
  [[gnu::always_inline]] static __m256 MulF(__m256 a, __m256 b) { return _mm256_mul_ps(a, b); }
  [[gnu::always_inline]] static __m256 SetF(float v) { return _mm256_set1_ps(v); }
  [[gnu::always_inline]] static __m256 AndF(__m256 a, I mask) { return _mm256_and_ps(a, _mm256_castsi256_ps(mask)); }
  template <int K>
  [[gnu::always_inline]] static __m256 BroadcastF(__m256 a) { return _mm256_shuffle_ps(a, a, K * 0x55); }
  [[gnu::always_inline]] static I CmpGtF(__m256 a, __m256 b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ)); }
  [[gnu::always_inline]] static I Srai32(I a, int k) { return _mm256_srai_epi32(a, k); }
  [[gnu::always_inline]] static I ColourLanes32() { return _mm256_set_epi32(0, -1, -1, -1, 0, -1, -1, -1); }
  [[gnu::always_inline]] static I ColourLanes16() {
    return _mm256_set_epi16(0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1);
  }
};

}  // namespace

#include "layers/blend_rows_simd.h"

BlendRow LookupStepRowAvx2(int32_t mode, bool alpha, bool full) { return StepRows<Avx2>::Lookup(mode, alpha, full); }
RuleRow LookupRuleRowAvx2(int32_t mode, bool alpha) { return StepRows<Avx2>::LookupRule(mode, alpha); }
