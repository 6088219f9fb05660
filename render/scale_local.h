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
  std::vector<uint32_t> mColumnWeight;  // bilinear: sharpened weight of the right neighbour
};
extern ScaleTables g_ScaleTables;

struct ScaleJobArgs {
  uint8_t* mDst;
  const uint8_t* mSrc;
  int32_t mSrcWidth, mSrcHeight;
  int32_t mOutWidth;
  int32_t mFirstRow, mEndRow;         // rows that sample inside the source
  int32_t mFirstColumn, mEndColumn;   // columns likewise; the others are zero
  int32_t mColumnOrigin, mRowOrigin;  // whole source pixels added to the tables' values
};

void ScaleNearestRows(const ScaleJobArgs& a, int32_t from, int32_t to);
void ScaleBilinearRows(const ScaleJobArgs& a, int32_t from, int32_t to);
// Runs rows [mFirstRow, mEndRow) of a scaling job in bands on the pixel workers.
void RunScaleBands(int32_t code, const ScaleJobArgs& a);
