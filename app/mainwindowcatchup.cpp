// When the window's file jobs run by the clock: one run per alarm, LastRun recorded, and runs
// missed while the window was not running caught up at its start. A resume or a step of the
// clock while it runs reaches the alarm clocks, which fire a passed alarm late.
#include "app/mainwindow.h"

#include "jobs/catchup.h"
#include "jobs/report.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"

namespace jobs = tarnwick::jobs;

namespace {

QTime alarmOf(const TAlarmClock* clock) {
    return QTime(clock->AlarmHour(), clock->AlarmMinute(), clock->AlarmSecond());
}

QString catchUpReason(const QDateTime& missed) {
    return QStringLiteral("catch-up of the run missed at %1")
        .arg(tarnwick::FormatSettings::current().timestamp(missed));
}

} // namespace

void MainWindow::timedRun(FileJob job) {
    const bool backup = job == FileJob::Backup;
    TAlarmClock* clock = backup ? backupClock : compactClock;
    const QDateTime now = tarnwick::TimeSource::current().now();
    const QDateTime due = jobs::lastAlarm(alarmOf(clock), now);
    // The clock set back over the alarm, this window restarted since, or tarnwick-run ran the
    // job meanwhile: the alarm has its run.
    if (jobs::ranFor(due, jobs::lastRun(timedJob(job)), now)) return;
    QString late;
    if (clock->AlarmLate())
        late = (backup ? catchUpBackups : catchUpCompactions)->isChecked()
                   ? catchUpReason(due)
                   : QStringLiteral("the clock jumped past its time");
    requestFileJob(job, true, late);
}

void MainWindow::CatchUpMissedRuns() {
    const QDateTime now = tarnwick::TimeSource::current().now();
    for (const bool backup : {true, false}) {
        const FileJob job = backup ? FileJob::Backup : FileJob::Compact;
        TAlarmClock* clock = backup ? backupClock : compactClock;
        jobs::CatchUpState state;
        state.catchUp = (backup ? catchUpBackups : catchUpCompactions)->isChecked();
        state.switchOn =
            (backup ? backupSwitch : compactSwitch)->StateOn() && clock->AlarmEnabled();
        state.alarm = alarmOf(clock);
        state.lastRun = jobs::lastRun(timedJob(job));
        if (!jobs::whyNoCatchUp(timedJob(job), state, now).isEmpty()) continue;
        // The second one waits for the first in the queue, with its own reason.
        requestFileJob(job, true, catchUpReason(jobs::lastAlarm(state.alarm, now)));
    }
}

void MainWindow::recordLastRun(FileJob job) {
    const QString why = jobs::saveLastRun(timedJob(job), tarnwick::TimeSource::current().now());
    if (!why.isEmpty())
        addJobLine(job, {jobs::warningLine(QStringLiteral("LastRun was not saved: ") + why), true});
}
