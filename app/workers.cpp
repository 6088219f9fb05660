// The pixel worker threads, their events, and the hand-off of banded jobs.
#include "app/workers.h"

#include <atomic>
#include <thread>

#include "app/engine.h"
#include "app/hooks.h"
#include "app/worker_jobs.h"
#include "platform/platform.h"

WorkerJob g_WorkerJobs[MAX_WORKERS];

// Three auto-reset events per worker: the submitter sets `start`; the worker sets `acknowledge`
// once it has taken the job (and reset `done`), and `done` when it has finished. `done` starts
// signalled so a wait on a worker that never ran returns at once.
struct WorkerThread {
  std::thread thread;
  PlatEvent* start;
  PlatEvent* acknowledge;
  PlatEvent* done;
};

static WorkerThread g_Workers[MAX_WORKERS];
static int32_t g_RunningWorkers;
// The pool's own stop flag: the quit flag is cleared by any non-fatal message, so it cannot
// be what tells a worker to end.
static std::atomic<bool> g_WorkerShutdown;

int32_t RunningWorkerCount() { return g_RunningWorkers; }

// The index comes as the thread's argument: the record's index word is the submitter's to
// write while the worker may still be starting.
static int32_t WorkerThreadProc(int32_t index) {
  WorkerThread& self = g_Workers[index];
  WorkerJob* job = &g_WorkerJobs[index];
  for (;;) {
    PlatEventWait(self.start);
    PlatEventReset(self.done);
    PlatEventSet(self.acknowledge);
    if (g_WorkerShutdown) {
      PlatEventSet(self.done);
      return 0;
    }
    RunWorkerJobBody(job);
    PlatEventSet(self.done);
  }
}

void StartWorkerThreads() {
  if (g_RunningWorkers) return;
  int32_t count = g_WorkerCount < 1 ? 1 : g_WorkerCount > MAX_WORKERS ? MAX_WORKERS : g_WorkerCount;
  g_WorkerShutdown = false;
  for (int32_t i = 0; i < count; i++) {
    g_Workers[i].start = PlatEventCreate(false);
    g_Workers[i].acknowledge = PlatEventCreate(false);
    g_Workers[i].done = PlatEventCreate(true);
  }
  for (int32_t i = 0; i < count; i++) {
    g_WorkerJobs[i].mWord0 = i;
    g_Workers[i].thread = std::thread(WorkerThreadProc, i);
  }
  g_RunningWorkers = count;
}

void StopWorkerThreads() {
  if (!g_RunningWorkers) return;
  g_WorkerShutdown = true;
  for (int32_t i = 0; i < g_RunningWorkers; i++) PlatEventSet(g_Workers[i].start);
  for (int32_t i = 0; i < g_RunningWorkers; i++) {
    WorkerThread& w = g_Workers[i];
    w.thread.join();
    PlatEventDestroy(w.start);
    PlatEventDestroy(w.acknowledge);
    PlatEventDestroy(w.done);
    w.start = w.acknowledge = w.done = nullptr;
  }
  g_RunningWorkers = 0;
  g_WorkerShutdown = false;
}

// Fills record j (keeping its index word) and starts the worker.
static void StartOn(int32_t j, const WorkerJob& job) {
  g_WorkerJobs[j] = job;
  g_WorkerJobs[j].mWord0 = j;
  PlatEventSet(g_Workers[j].start);
}

// Waits until workers 0..n-1 have taken their jobs (and so reset their done events), then
// until they have finished. Every worker has its own record, so all can be started before
// the first acknowledgement: their wake-ups overlap instead of queueing one behind another,
// which with many small layers a frame was most of the submitting thread's time.
static void WaitForWorkers(int32_t n) {
  for (int32_t j = 0; j < n; j++) PlatEventWait(g_Workers[j].acknowledge);
  for (int32_t j = 0; j < n; j++) PlatEventWait(g_Workers[j].done);
}

void SubmitBandedJob(const WorkerJob& job, int32_t first, int32_t end) {
  bool composeBand = job.mWord1 >= JOB_COMPOSE && job.mWord1 <= JOB_COMPOSE_MASK_ALPHA;
  auto setBand = [composeBand](WorkerJob* record, int32_t from, int32_t to) {
    if (composeBand) {
      record->mWord7 = from;
      record->mWord9 = to;
    } else {
      record->mWord2 = from;
      record->mWord3 = to;
    }
  };
  int32_t n = g_RunningWorkers;
  if (n == 0) {
    WorkerJob record = job;
    record.mWord0 = 0;
    setBand(&record, first, end);
    RunWorkerJobBody(&record);
    return;
  }
  int64_t total = (int64_t)end - first;
  for (int32_t j = 0; j < n; j++) {
    WorkerJob record = job;
    setBand(&record, (int32_t)(first + total * j / n), (int32_t)(first + total * (j + 1) / n));
    StartOn(j, record);
  }
  WaitForWorkers(n);
}

bool SubmitToFirstTwoWorkers(const WorkerJob& job) {
  if (g_RunningWorkers < 2) return false;
  StartOn(0, job);
  StartOn(1, job);
  WaitForWorkers(2);
  return true;
}
