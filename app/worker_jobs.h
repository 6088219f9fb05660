// The job bodies of the pixel workers, looked up by job code (internal to the pool).
#pragma once

#include "app/workers.h"

// Runs the body that the record's job code names; an unknown code does nothing.
void RunWorkerJobBody(WorkerJob* job);
