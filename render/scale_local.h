// Inside the scalers: the position tables and the per-band bodies the pixel workers run.
#pragma once

#include <cstdint>
#include <vector>

// Written by the submitting scaler before any band runs; only read while bands run.
struct ScaleTables {
  std::vector<int32_t> mColumnSource;   // source column of each output column (nearest: from the origin)
  std::vector<int32_t> mColumnNext;     // bilinear: the column right of it, clamped to the image
  std::vector<int32_t> mRowSource;      // nearest: source row of each output row
  std::vector<int64_t> mColumnPos;      // bilinear: positions in 1/256 source pixel
  std::vector<int64_t> mRowPos;
  std::vector<uint16_t> mColumnWeightLanes;   // bilinear: sharpened weight of the right neighbour, four 16-bit lanes per column
};
extern ScaleTables g_ScaleTables;

// sharp[k] = min(255, max(0, trunc((k - 128) * 1.25 + 128))): the bilinear weights pulled away
// from the middle. Valid after BuildSharpenTable, which builds it on its first call.
extern uint8_t g_Sharpen[256];
void BuildSharpenTable();
// Bilinear positions in 1/256 source pixel of the out100 / 100 outputs along one axis, from a
// start and end in 1/100 pixel and an output length in 1/100 pixel, counted from the start's
// whole pixel; [first, end) is the run of outputs whose source lies inside 0..size - 1.
void BuildBilinearAxis(int32_t v0, int32_t v1, int32_t out100, int32_t size, std::vector<int64_t>* pos,
                       int32_t* first, int32_t* end);

struct ScaleJobArgs {
  uint8_t* mDst;
  const uint8_t* mSrc;
  int32_t mSrcWidth, mSrcHeight;
  int32_t mOutWidth;
  int32_t mFirstRow, mEndRow;         // rows that sample inside the source
  int32_t mFirstColumn, mEndColumn;   // columns likewise; the others are zero
  int32_t mColumnOrigin, mRowOrigin;  // whole source pixels added to the tables' values
};

// The bands of the threaded scalers (scale_rows.cpp).
void ScaleNearestRows(const ScaleJobArgs& a, int32_t from, int32_t to);
void ScaleBilinearRows(const ScaleJobArgs& a, int32_t from, int32_t to);
// Every row in range of the single-thread bilinear scaler, on the calling thread.
void ScaleBilinearSharpRows(const ScaleJobArgs& a);
// Runs rows [mFirstRow, mEndRow) of a scaling job in bands on the pixel workers.
void RunScaleBands(int32_t code, const ScaleJobArgs& a);
