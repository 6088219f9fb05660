// Inside the blend rows: the two forms of the step rows, which must give the same bytes.
#pragma once

#include <cstdint>

#include "layers/blend_tables.h"

// A mode's plain or alpha step row at partial or full opacity: the per-byte row over the
// mode's lookup table (the reference), and the vector rows installed in its place, SSE2 and,
// where the processor has it, AVX2 (null otherwise). Modes outside 0..18 have none (null).
// Exposed for the tests that hold the forms together.
BlendRow StepRowReference(int32_t mode, bool alpha, bool full);
BlendRow StepRowFast(int32_t mode, bool alpha, bool full);
BlendRow StepRowAvx2(int32_t mode, bool alpha, bool full);
// The same for a mode's rule row, of a layer without or with alpha (the per-byte rows with the
// rule weights, not normal mode's kernel row at full opacity).
RuleRow RuleRowReference(int32_t mode, bool alpha);
RuleRow RuleRowFast(int32_t mode, bool alpha);
RuleRow RuleRowAvx2(int32_t mode, bool alpha);
// The AVX2 rows themselves (blend_rows_avx2.cpp, built for AVX2): only where CpuHasAvx2().
BlendRow LookupStepRowAvx2(int32_t mode, bool alpha, bool full);
RuleRow LookupRuleRowAvx2(int32_t mode, bool alpha);

// Soft light's factor for a light source (s >= 128) over a dark destination (d = 0..32):
// T(s, d) = d + (((s - 128) * factor[d]) >> 15), which stays within 0..255 there. Built on
// first use; any thread may call.
const int32_t* SoftLightCornerFactors();
