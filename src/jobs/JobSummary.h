#pragma once

#include <string>

// What became of the files of one job, counted by its worker, and what the
// dialog makes of it once the job has ended. No window is needed for that.
struct JobTally {
    int done = 0;     // added to the archive, or extracted
    int refused = 0;  // input the archive does not take (version, no points, ...)
    int failed = 0;   // every other error
    int skipped = 0;  // the user declined to overwrite
};

// A job that refused or failed anything keeps its dialog open at the end, so
// the user can read in the log which files went in and which did not.
bool KeepsLogOpen(const JobTally& tally);

// "3 files added, 1 refused": the count of done files with doneVerb, then each
// other count that is not zero.
std::string JobSummary(const JobTally& tally, const char* doneVerb);
