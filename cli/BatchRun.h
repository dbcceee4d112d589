#pragma once

// Carries out a planned batch for quillon-convert: in this process (one job)
// or with each file converted by a worker, a forked child of this process.
// Standard output gets each file's status text whole and in walk order,
// whatever the number of jobs; each failure is also named on standard error.

#include "batch/BatchWalk.h"

#include <vector>

struct BatchOutcome
{
    int failed = 0;        // files (or directories) that failed
    bool interrupted = false;
};

// The first SIGINT stops between files, the second abandons the running files,
// the third ends the process at once. Call before planning.
void installInterruptHandler();
bool interruptRequested(); // at least one SIGINT seen
// Ends the process by SIGINT, as a shell expects of an interrupted tool.
[[noreturn]] void endByInterrupt();

// Progress "N of M files done" on standard error while it is a terminal.
void enableProgress(int filesToConvert);
// Clears the progress line before other text; every writer calls it.
void clearProgress();

BatchOutcome runBatch(const std::vector<BatchStep>& steps, const ConversionSettings& settings, int jobs);
