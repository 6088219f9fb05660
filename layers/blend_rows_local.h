// Inside the blend rows: the two forms of the step rows, which must give the same bytes.
#pragma once

#include <cstdint>

#include "layers/blend_tables.h"

// A mode's plain or alpha step row at partial or full opacity: the per-byte row over the
// mode's lookup table (the reference), and the vector row installed in its place. Modes outside
// 0..18 have none (null). Exposed for the tests that hold the two forms together.
BlendRow StepRowReference(int32_t mode, bool alpha, bool full);
BlendRow StepRowFast(int32_t mode, bool alpha, bool full);
