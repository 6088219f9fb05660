// The scaling jobs on the pixel workers: the bodies of the nearest and bilinear codes and the
// hand-off of their row bands.
#include "app/workers.h"
#include "render/render.h"
#include "render/scale_local.h"

namespace {

ScaleJobArgs ArgsOf(const WorkerJob* j) {
  ScaleJobArgs a{};
  a.mDst = j->mWord14;
  a.mSrc = j->mWord15;
  a.mSrcWidth = j->mWord10;
  a.mSrcHeight = j->mWord11;
  a.mOutWidth = j->mWord12;
  a.mFirstColumn = j->mWord4;
  a.mEndColumn = j->mWord5;
  a.mColumnOrigin = j->mWord6;
  a.mRowOrigin = j->mWord7;
  return a;
}

void JobScaleNearest(WorkerJob* j) { ScaleNearestRows(ArgsOf(j), j->mWord2, j->mWord3); }
void JobScaleBilinear(WorkerJob* j) { ScaleBilinearRows(ArgsOf(j), j->mWord2, j->mWord3); }

}  // namespace

void RunScaleBands(int32_t code, const ScaleJobArgs& a) {
  // Scalers run only on the thread of the frame step, so plugging the bodies in on first use
  // happens while every worker is idle. Should the pool's table be full, this thread scales.
  static const bool registered =
      SetWorkerJobBody(JOB_SCALE_NEAREST, JobScaleNearest) && SetWorkerJobBody(JOB_SCALE_BILINEAR, JobScaleBilinear);
  if (!registered) {
    if (code == JOB_SCALE_NEAREST) ScaleNearestRows(a, a.mFirstRow, a.mEndRow);
    else ScaleBilinearRows(a, a.mFirstRow, a.mEndRow);
    return;
  }
  WorkerJob job{};
  job.mWord1 = code;
  job.mWord4 = a.mFirstColumn;
  job.mWord5 = a.mEndColumn;
  job.mWord6 = a.mColumnOrigin;
  job.mWord7 = a.mRowOrigin;
  job.mWord10 = a.mSrcWidth;
  job.mWord11 = a.mSrcHeight;
  job.mWord12 = a.mOutWidth;
  job.mWord14 = a.mDst;
  job.mWord15 = a.mSrc;
  SubmitBandedJob(job, a.mFirstRow, a.mEndRow);
}
