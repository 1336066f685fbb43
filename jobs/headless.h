#pragma once

// The file jobs run without a window (tarnwick-run): the saved settings, the window's own job
// code and components with nobody to ask, each job line on standard output and in the system
// log, problems on standard error.

#include "jobs/savedsettings.h"

namespace tarnwick::jobs {

class CompactEngine;

// Exit statuses.
enum HeadlessStatus {
    HeadlessOk = 0,     // every file succeeded
    HeadlessFailed = 1, // some file failed
    HeadlessBadUse = 2, // nothing picked (or no engine version)
    HeadlessBusy = 75,  // the same job is already running (EX_TEMPFAIL)
};

// Waits up to `waitMs` for a run of the same job elsewhere to end.
int runBackupHeadless(const SavedSettings& settings, int waitMs);
// `engine` null: the engine of the saved version. Frees memory first when the saved settings
// ask for it, as the window does.
int runCompactHeadless(const SavedSettings& settings, int waitMs, CompactEngine* engine = nullptr);

} // namespace tarnwick::jobs
