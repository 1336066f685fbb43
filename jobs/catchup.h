#pragma once

// When a timed job last ran and whether a run missed while the machine was off is due:
// [Backup]/[Compact] LastRun (local time, YYYY-MM-DDTHH:MM:SS) and CatchUp in the saved settings.

#include "jobs/timedjob.h"

#include <QDateTime>
#include <QString>

namespace tarnwick::jobs {

// The saved LastRun; invalid when none is saved or it cannot be read.
QDateTime lastRun(TimedJob job);
// Saves `when` as LastRun through the settings store. Empty on success, else why not.
QString saveLastRun(TimedJob job, const QDateTime& when);

// Empty when a catch-up run is due at `now`: CatchUp is on, the job's switch is on, and its
// alarm time came after LastRun (or nothing ran yet). Otherwise why not.
QString whyNoCatchUp(TimedJob job, const QDateTime& now);

} // namespace tarnwick::jobs
