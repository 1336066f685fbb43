#pragma once

// When a timed job last ran and whether a run missed while the machine was off is due:
// [Backup]/[Compact] LastRun (local time, YYYY-MM-DDTHH:MM:SS) and CatchUp in the saved settings.

#include "jobs/timedjob.h"

#include <QDateTime>
#include <QString>
#include <QTime>

namespace tarnwick::jobs {

// The saved LastRun; invalid when none is saved or it cannot be read.
QDateTime lastRun(TimedJob job);
// Saves `when` as LastRun through the settings store. Empty on success, else why not.
QString saveLastRun(TimedJob job, const QDateTime& when);

// The moment the alarm at `alarm` (a time of day) last went off at or before `now`.
QDateTime lastAlarm(QTime alarm, const QDateTime& now);
// Whether the run for the alarm that went off at `due` was made: `last` (LastRun, invalid when
// nothing ran) is at or after it. A LastRun more than a day ahead of `now` was written under a
// wrong clock and holds nothing back.
bool ranFor(const QDateTime& due, const QDateTime& last, const QDateTime& now);

// A job's state as the window shows it, or as saved.
struct CatchUpState {
    bool catchUp = false;  // CatchUp
    bool switchOn = false; // the job's switch
    QTime alarm;           // its alarm time; invalid when none
    QDateTime lastRun;     // LastRun; invalid when nothing ran
};

// Empty when a catch-up run is due at `now`: CatchUp is on, the job's switch is on, and its
// alarm time came after LastRun (or nothing ran yet). Otherwise why not.
QString whyNoCatchUp(TimedJob job, const CatchUpState& state, const QDateTime& now);
// The saved state, and whether a catch-up is due by it.
CatchUpState savedCatchUpState(TimedJob job);
QString whyNoCatchUp(TimedJob job, const QDateTime& now);

} // namespace tarnwick::jobs
