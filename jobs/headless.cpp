#include "jobs/headless.h"

#include "jobs/backupjob.h"
#include "jobs/compactjob.h"
#include "jobs/defaultengine.h"
#include "jobs/report.h"
#include "jobs/runningjob.h"
#include "jobs/unattendedtools.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"
#include "sysutil/memdefrag.h"

#include <cstdio>

namespace tarnwick::jobs {

namespace {

void out(const QString& line, bool failure) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    logLine(line, failure);
}

void err(const QString& line) {
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

QString stamp() {
    return FormatSettings::current().timestamp(TimeSource::current().now());
}

// Said before a run waits for another, so a log shows why it started late.
std::function<void()> waitNotice(const QString& job, int waitMs) {
    return [job, waitMs] {
        err(QStringLiteral("The %1 job is already running; waiting up to %2 s for it to end")
                .arg(job)
                .arg(waitMs / 1000));
    };
}

// Said when a run must wait for the other file job, which the window or another run holds.
std::function<void(const QString&)> otherJobNotice(const QString& title) {
    return [title](const QString& running) {
        err(QStringLiteral("%1 waits for %2 to end").arg(title, jobTitle(running)));
    };
}

int notStarted(const RunningJob& job) {
    return job.error() == QLatin1String("the job is already running") ? HeadlessBusy
                                                                      : HeadlessFailed;
}

// Settings that cannot be read are not "nothing picked": the run says why, and fails loudly.
bool settingsUnreadable(const SavedSettings& s, const QString& summary) {
    if (s.error.isEmpty()) return false;
    const QString line = QStringLiteral("The saved settings cannot be read: ") + s.error;
    err(line);
    reportFailure(summary, {line});
    return true;
}

} // namespace

int runBackupHeadless(const SavedSettings& s, int waitMs) {
    if (settingsUnreadable(s, QStringLiteral("Tarnwick backup not started"))) return HeadlessBadUse;
    if (s.backup.fileName.isEmpty()) {
        err(QStringLiteral("There was no file selected to backup!"));
        return HeadlessBadUse;
    }
    RunningJob job(QStringLiteral("backup"), QStringLiteral("Backing up databases"), waitMs,
                   waitNotice(QStringLiteral("backup"), waitMs));
    if (!job.started()) {
        out(QStringLiteral("Backup not started: %1  ").arg(job.error()) + stamp(), true);
        return notStarted(job);
    }
    if (!job.waitForOtherJobs(otherJobNotice(QStringLiteral("The backup")))) {
        out(QStringLiteral("Backup not started: %1  ").arg(job.error()) + stamp(), true);
        return HeadlessFailed;
    }
    UnattendedBackupTools tools;
    const BackupResult r = runBackup(s.backup, tools);
    const bool failed = r.outcome != BackupResult::Succeeded;
    out(r.line.isEmpty() ? QStringLiteral("Backup Unsuccessful  ") + stamp() : r.line, failed);
    if (!r.reason.isEmpty()) out(r.reason, true);
    for (const QString& line : r.removed)
        out(line, false);
    for (const QString& p : r.problems + tools.copyMessages())
        err(p);
    // A database in use, or something left behind: logged under the job's line.
    for (const QString& w : r.warnings)
        out(warningLine(w), true);
    if (failed) reportFailure(QStringLiteral("Tarnwick backup failed"), r.problems);
    return failed ? HeadlessFailed : HeadlessOk;
}

int runCompactHeadless(const SavedSettings& s, int waitMs, CompactEngine* engine) {
    if (settingsUnreadable(s, QStringLiteral("Tarnwick repair and compaction not started")))
        return HeadlessBadUse;
    if (s.compact.files.isEmpty() || s.compact.version.isEmpty()) {
        err(QStringLiteral("Either a file or Jet Engine was not selected!"));
        return HeadlessBadUse;
    }
    RunningJob job(QStringLiteral("compact"), QStringLiteral("Compacting databases"), waitMs,
                   waitNotice(QStringLiteral("compact"), waitMs));
    if (!job.started()) {
        out(QStringLiteral("Repair/Compact not started: %1  ").arg(job.error()) + stamp(), true);
        return notStarted(job);
    }
    if (!job.waitForOtherJobs(otherJobNotice(QStringLiteral("The repair and compaction")))) {
        out(QStringLiteral("Repair/Compact not started: %1  ").arg(job.error()) + stamp(), true);
        return HeadlessFailed;
    }
    if (s.defragMemory) {
        TMemDefrag defrag;
        defrag.DefragAll();
        const QString line = QStringLiteral("Memory defragmented: %1 MiB taken and given back")
                                 .arg(defrag.LastTaken());
        err(line);
        logLine(line, false);
    }
    std::unique_ptr<CompactEngine> own;
    if (!engine) {
        own = makeDefaultEngine(s.compact.version);
        engine = own.get();
    }
    CompactCallbacks callbacks;
    callbacks.line = [](const QString& line) { out(line, isFailureLine(line)); };
    const CompactResult r = runCompact(s.compact, *engine, callbacks);
    for (const QString& p : r.problems)
        err(p);
    if (!r.ok()) reportFailure(QStringLiteral("Tarnwick repair and compaction failed"), r.problems);
    return r.ok() ? HeadlessOk : HeadlessFailed;
}

} // namespace tarnwick::jobs
