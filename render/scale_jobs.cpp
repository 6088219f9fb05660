// The scaling jobs on the pixel workers: the bodies of job codes 11 and 21 and their hand-off.
#include "render/render.h"
#include "render/scale_local.h"

void RunScaleBands(int32_t code, const ScaleJobArgs& a) {
  if (code == JOB_CODE_SCALE_NEAREST) ScaleNearestRows(a, a.mFirstRow, a.mEndRow);
  else ScaleBilinearRows(a, a.mFirstRow, a.mEndRow);
}

void RegisterScalingJobs() {}
