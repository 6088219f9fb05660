// The pixel worker pool: up to four threads that each take a band of rows of a pixel job.
#pragma once

#include <cstdint>

struct LayerRecord;

constexpr int MAX_WORKERS = 4;

enum WorkerJobCode : int32_t {
  JOB_SCALE_NEAREST = 11,        // presentation's nearest-neighbour scaling
  JOB_SCALE_BILINEAR = 21,       // presentation's bilinear scaling
  JOB_RESAMPLE = 41,             // image scaling with 2 x 2 supersampling
  JOB_COMPOSE = 101,             // child into parent through g_BlendRowsPlain
  JOB_COMPOSE_MASK = 102,        // rule transition through g_BlendRowsRule
  JOB_COMPOSE_ALPHA = 103,       // child with alpha through g_BlendRowsAlpha
  JOB_COMPOSE_MASK_ALPHA = 104,  // rule transition of a child with alpha
  JOB_UNCOMPRESS_HALVES = 1001,  // one zlib half of a compressed image per worker (workers 0, 1)
};

// One worker's job. The words keep their numbers as names; words that hold addresses are
// pointer-sized. Bands are half-open row ranges: words 2-3 for the scaling jobs, 7-9 for the
// compose jobs. A job uses only the words its code names; the rest are ignored.
struct WorkerJob {
  int32_t mWord0;     // the worker's index, written when the thread is made
  int32_t mWord1;     // job code
  int32_t mWord2;     // scaling: first row
  int32_t mWord3;     // scaling: end row
  int32_t mWord4;     // scaling: first column
  int32_t mWord5;     // scaling: end column
  int32_t mWord6;     // scaling: source x / x0; uncompress: part-1 raw size
  int32_t mWord7;     // compose: first row; scaling: source y / y0; uncompress: part-1 packed size
  int32_t mWord8;     // scaling: source end x1; uncompress: part-2 raw size
  int32_t mWord9;     // compose: end row; scaling: source end y1; uncompress: part-2 packed size
  int32_t mWord10;    // scaling: source width
  int32_t mWord11;    // scaling: source height
  int32_t mWord12;    // scaling: output width
  int32_t mWord13;    // scaling: output height
  uint8_t* mWord14;   // scaling: output pixels; uncompress: destination pixels
  const uint8_t* mWord15;   // scaling: source pixels; uncompress: the file image
  int32_t mWord16;    // compose: width in pixels
  int32_t mWord17;    // compose: source x
  int32_t mWord18;    // compose: source y
  int32_t mWord19;    // compose: destination x
  int32_t mWord20;    // compose: destination y
  int32_t mWord21;
  LayerRecord* mWord22;     // compose: target (parent) record
  LayerRecord* mWord23;     // compose: child record
  LayerRecord* mWord24;     // compose with a rule: the mask record (the child's size)
  const uint8_t* mWord25;   // compose with a rule: the mask pixels
};

// Side by side, one per worker. Only the submitter writes them, and only while every worker
// is idle.
extern WorkerJob g_WorkerJobs[MAX_WORKERS];

// The body of one job code; it reads its band and parameters from the record and may not fail.
using WorkerJobBody = void (*)(WorkerJob* job);
// Plugs in the body of a job code (the scaling jobs are their owners'); call before the first
// submission of that code. False when the table is full.
bool SetWorkerJobBody(int32_t code, WorkerJobBody body);

// Workers running now (0 before StartWorkerThreads and after StopWorkerThreads).
int32_t RunningWorkerCount();

// Splits rows [first, end) into one band per worker (first + total * j / N ..), hands each
// worker its copy of `job`, and returns when all are done. With no worker running the whole
// range runs on the calling thread. One submitter at a time: the thread of the frame step.
void SubmitBandedJob(const WorkerJob& job, int32_t first, int32_t end);
// Hands the same job to workers 0 and 1 only and waits for both. False, with nothing run,
// when fewer than two workers run (the caller then does the work itself).
bool SubmitToFirstTwoWorkers(const WorkerJob& job);
