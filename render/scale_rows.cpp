// The rows of the scalers: nearest-pixel bands (eight at a time with AVX2 where the processor has
// it), and bilinear rows, banded or all on one thread, computed in two passes on SSE2 vectors, the
// horizontal pass of each source row reused by every output row that reads it.
#include <immintrin.h>

#include <cstring>
#include <vector>

#include "layers/pixel_kernels.h"
#include "render/scale_local.h"

namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// One source pixel per output column, `origin` added to each table entry.
void NearestColumns(uint32_t* out, const uint8_t* srcRow, const int32_t* columns, int32_t origin, int32_t count,
                    int32_t) {
  int32_t c = 0;
  for (; c + 4 <= count; c += 4) {
    uint32_t p0 = Load32(srcRow + (size_t)(origin + columns[c]) * 4);
    uint32_t p1 = Load32(srcRow + (size_t)(origin + columns[c + 1]) * 4);
    uint32_t p2 = Load32(srcRow + (size_t)(origin + columns[c + 2]) * 4);
    uint32_t p3 = Load32(srcRow + (size_t)(origin + columns[c + 3]) * 4);
    _mm_storeu_si128((__m128i*)(void*)(out + c), _mm_set_epi32((int)p3, (int)p2, (int)p1, (int)p0));
  }
  for (; c < count; c++) memcpy(out + c, srcRow + (size_t)(origin + columns[c]) * 4, 4);
}

// The same eight columns a step with AVX2: where the eight come from eight neighbouring source
// pixels inside the row (any enlargement, mild reductions), one load and a permutation;
// elsewhere a gather.
__attribute__((target("avx2"))) void NearestColumnsAvx2(uint32_t* out, const uint8_t* srcRow, const int32_t* columns,
                                                        int32_t origin, int32_t count, int32_t srcWidth) {
  __m256i shift = _mm256_set1_epi32(origin);
  int32_t c = 0;
  for (; c + 8 <= count; c += 8) {
    __m256i index = _mm256_loadu_si256((const __m256i*)(const void*)(columns + c));
    int64_t first = (int64_t)origin + columns[c];
    __m256i pixels;
    if (columns[c + 7] - columns[c] < 8 && first + 8 <= srcWidth) {
      __m256i near = _mm256_loadu_si256((const __m256i*)(const void*)(srcRow + first * 4));
      pixels = _mm256_permutevar8x32_epi32(near, _mm256_sub_epi32(index, _mm256_set1_epi32(columns[c])));
    } else {
      pixels = _mm256_i32gather_epi32((const int*)(const void*)srcRow, _mm256_add_epi32(index, shift), 4);
    }
    _mm256_storeu_si256((__m256i*)(void*)(out + c), pixels);
  }
  NearestColumns(out + c, srcRow, columns + c, origin, count - c, srcWidth);
}

}  // namespace

// Output rows that sample the same source row as the row above are copies of it; the others
// copy one source pixel per column.
void ScaleNearestRows(const ScaleJobArgs& a, int32_t from, int32_t to) {
  static const auto columnsOf = CpuHasAvx2() ? NearestColumnsAvx2 : NearestColumns;
  size_t rowBytes = (size_t)a.mOutWidth * 4;
  const int32_t* columns = g_ScaleTables.mColumnSource.data() + a.mFirstColumn;
  int32_t count = a.mEndColumn - a.mFirstColumn;
  for (int32_t r = from; r < to; r++) {
    uint8_t* row = a.mDst + (size_t)r * rowBytes;
    if (r > from && g_ScaleTables.mRowSource[r] == g_ScaleTables.mRowSource[r - 1]) {
      memcpy(row, row - rowBytes, rowBytes);
      continue;
    }
    memset(row, 0, (size_t)a.mFirstColumn * 4);
    memset(row + (size_t)a.mEndColumn * 4, 0, (size_t)(a.mOutWidth - a.mEndColumn) * 4);
    const uint8_t* src = a.mSrc + (size_t)(a.mRowOrigin + g_ScaleTables.mRowSource[r]) * a.mSrcWidth * 4;
    columnsOf((uint32_t*)(void*)(row + (size_t)a.mFirstColumn * 4), src, columns, a.mColumnOrigin, count, a.mSrcWidth);
  }
}

namespace {

// One source row mixed horizontally: for each output column in range, each byte of the left
// pixel times (256 - fx) plus the right pixel's times fx, a 16-bit lane per byte (at most
// 255 * 256). Two columns per vector.
void HorizontalPass(const ScaleJobArgs& a, const uint8_t* srcRow, uint16_t* out) {
  const int32_t* left = g_ScaleTables.mColumnSource.data();
  const int32_t* right = g_ScaleTables.mColumnNext.data();
  const uint16_t* weights = g_ScaleTables.mColumnWeightLanes.data();
  __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(256);
  int32_t i = a.mFirstColumn;
  uint16_t* o = out;
  for (; i + 2 <= a.mEndColumn; i += 2, o += 8) {
    __m128i p0 = _mm_unpacklo_epi32(_mm_cvtsi32_si128((int)Load32(srcRow + (size_t)left[i] * 4)),
                                    _mm_cvtsi32_si128((int)Load32(srcRow + (size_t)left[i + 1] * 4)));
    __m128i p1 = _mm_unpacklo_epi32(_mm_cvtsi32_si128((int)Load32(srcRow + (size_t)right[i] * 4)),
                                    _mm_cvtsi32_si128((int)Load32(srcRow + (size_t)right[i + 1] * 4)));
    __m128i w = _mm_loadu_si128((const __m128i*)(const void*)(weights + (size_t)i * 4));
    __m128i h = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(p0, zero), _mm_sub_epi16(full, w)),
                              _mm_mullo_epi16(_mm_unpacklo_epi8(p1, zero), w));
    _mm_storeu_si128((__m128i*)(void*)o, h);
  }
  if (i < a.mEndColumn) {
    const uint8_t* p0 = srcRow + (size_t)left[i] * 4;
    const uint8_t* p1 = srcRow + (size_t)right[i] * 4;
    uint32_t fx = weights[(size_t)i * 4];
    for (int c = 0; c < 4; c++) o[c] = (uint16_t)(p0[c] * (256 - fx) + p1[c] * fx);
  }
}

// The two mixed rows an output row reads, each computed once per band for as long as it is
// needed: an enlarged picture reads every source row from two or three output rows.
class MixedRows {
 public:
  MixedRows(const ScaleJobArgs& a) : args_(a) {
    size_t lanes = (size_t)(a.mEndColumn - a.mFirstColumn) * 4;
    for (Slot& s : slots_) s.lanes.resize(lanes);
  }
  // Row y mixed, without evicting row `keep`.
  const uint16_t* Get(int64_t y, int64_t keep) {
    for (Slot& s : slots_)
      if (s.y == y) return s.lanes.data();
    Slot& s = slots_[0].y == keep ? slots_[1] : slots_[0];
    HorizontalPass(args_, args_.mSrc + (size_t)y * args_.mSrcWidth * 4, s.lanes.data());
    s.y = y;
    return s.lanes.data();
  }

 private:
  struct Slot {
    int64_t y = -1;
    std::vector<uint16_t> lanes;
  };
  const ScaleJobArgs& args_;
  Slot slots_[2];
};

}  // namespace

// Each output byte is ((top * (256 - fy)) >> 16) + ((bottom * fy) >> 16) with top and bottom
// the mixed rows' lanes: the high halves of two 16-bit products.
void ScaleBilinearRows(const ScaleJobArgs& a, int32_t from, int32_t to) {
  if (from >= to) return;
  MixedRows mixed(a);
  int32_t count = a.mEndColumn - a.mFirstColumn;
  for (int32_t r = from; r < to; r++) {
    uint8_t* row = a.mDst + (size_t)r * a.mOutWidth * 4;
    memset(row, 0, (size_t)a.mFirstColumn * 4);
    memset(row + (size_t)a.mEndColumn * 4, 0, (size_t)(a.mOutWidth - a.mEndColumn) * 4);
    int64_t p = g_ScaleTables.mRowPos[r];
    int64_t sy = a.mRowOrigin + (p >> 8);
    int64_t sy1 = sy + 1 < a.mSrcHeight ? sy + 1 : sy;
    uint32_t fy = (uint32_t)(p & 0xFF);
    const uint16_t* top = mixed.Get(sy, sy1);
    const uint16_t* bottom = mixed.Get(sy1, sy);
    __m128i wt = _mm_set1_epi16((int16_t)(256 - fy)), wb = _mm_set1_epi16((int16_t)fy);
    uint8_t* out = row + (size_t)a.mFirstColumn * 4;
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
      const __m128i* t = (const __m128i*)(const void*)(top + (size_t)i * 4);
      const __m128i* b = (const __m128i*)(const void*)(bottom + (size_t)i * 4);
      __m128i lo = _mm_add_epi16(_mm_mulhi_epu16(_mm_loadu_si128(t), wt), _mm_mulhi_epu16(_mm_loadu_si128(b), wb));
      __m128i hi = _mm_add_epi16(_mm_mulhi_epu16(_mm_loadu_si128(t + 1), wt), _mm_mulhi_epu16(_mm_loadu_si128(b + 1), wb));
      _mm_storeu_si128((__m128i*)(void*)(out + (size_t)i * 4), _mm_packus_epi16(lo, hi));
    }
    for (size_t k = (size_t)i * 4; k < (size_t)count * 4; k++)
      out[k] = (uint8_t)(((top[k] * (256 - fy)) >> 16) + ((bottom[k] * fy) >> 16));
  }
}

// The single-thread form: the row weight sharpened, and each output byte
// ((top >> 8) * (256 - fy) + (bottom >> 8) * fy) >> 8, which stays within 16-bit lanes
// (at most 255 * 256), so eight bytes are mixed a step with no rounding of their own.
void ScaleBilinearSharpRows(const ScaleJobArgs& a) {
  if (a.mFirstRow >= a.mEndRow) return;
  MixedRows mixed(a);
  int32_t count = a.mEndColumn - a.mFirstColumn;
  for (int32_t r = a.mFirstRow; r < a.mEndRow; r++) {
    uint8_t* row = a.mDst + (size_t)r * a.mOutWidth * 4;
    memset(row, 0, (size_t)a.mFirstColumn * 4);
    memset(row + (size_t)a.mEndColumn * 4, 0, (size_t)(a.mOutWidth - a.mEndColumn) * 4);
    int64_t p = g_ScaleTables.mRowPos[r];
    int64_t sy = a.mRowOrigin + (p >> 8);
    int64_t sy1 = sy + 1 < a.mSrcHeight ? sy + 1 : sy;
    uint32_t fy = g_Sharpen[p & 0xFF];
    const uint16_t* top = mixed.Get(sy, sy1);
    const uint16_t* bottom = mixed.Get(sy1, sy);
    __m128i wt = _mm_set1_epi16((int16_t)(256 - fy)), wb = _mm_set1_epi16((int16_t)fy);
    uint8_t* out = row + (size_t)a.mFirstColumn * 4;
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
      const __m128i* t = (const __m128i*)(const void*)(top + (size_t)i * 4);
      const __m128i* b = (const __m128i*)(const void*)(bottom + (size_t)i * 4);
      __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(_mm_loadu_si128(t), 8), wt),
                                                _mm_mullo_epi16(_mm_srli_epi16(_mm_loadu_si128(b), 8), wb)),
                                  8);
      __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(_mm_loadu_si128(t + 1), 8), wt),
                                                _mm_mullo_epi16(_mm_srli_epi16(_mm_loadu_si128(b + 1), 8), wb)),
                                  8);
      _mm_storeu_si128((__m128i*)(void*)(out + (size_t)i * 4), _mm_packus_epi16(lo, hi));
    }
    for (size_t k = (size_t)i * 4; k < (size_t)count * 4; k++)
      out[k] = (uint8_t)(((top[k] >> 8) * (256 - fy) + (bottom[k] >> 8) * fy) >> 8);
  }
}
