// One run of the batch program: load, rename groups, dedupe and check on the
// desktop's logic, drop, sort, filter, then write the report and the export.
#pragma once

#include <atomic>

#include "cli/uCliOptions.h"

enum : int { exitDone = 0, exitRuntimeError = 1, exitUsage = 2, exitDead = 3 };

// Needs the HTTP and worker modules initialised. AInterrupt (may be null) is
// watched while the checks run; once set, the run stops and nothing is written.
int RunBatch(const TCliOptions& AOptions, const std::atomic<bool>* AInterrupt);
