#include "jobs/headless.h"

#include "jobs/backupjob.h"
#include "jobs/compactjob.h"
#include "jobs/defaultengine.h"
#include "jobs/session.h"
#include "jobs/unattendedtools.h"
#include "sysutil/memdefrag.h"

#include <cstdio>

namespace tarnwick::jobs {

namespace {

void out(const JobLine& line) {
    std::printf("%s\n", qPrintable(line.text));
    std::fflush(stdout);
}

void err(const QString& line) {
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

// Said before a run waits for another, so a log shows why it started late.
std::function<void()> waitNotice(TimedJob job, int waitMs) {
    return [job, waitMs] {
        err(QStringLiteral("The %1 job is already running; waiting up to %2 s for it to end")
                .arg(lockName(job))
                .arg(waitMs / 1000));
    };
}

// The job's lock, then the lock of all file jobs, which the window or another run may hold.
bool start(JobSession& session, int waitMs) {
    if (!session.hold(waitMs, waitNotice(session.job(), waitMs))) {
        session.lockRefused();
        return false;
    }
    const QString title = session.job() == TimedJob::Backup
                              ? QStringLiteral("The backup")
                              : QStringLiteral("The repair and compaction");
    if (!session.waitForOtherJobs([title](const QString& running) {
            err(QStringLiteral("%1 waits for %2 to end").arg(title, jobTitle(running)));
        })) {
        session.notStarted(session.error());
        return false;
    }
    return true;
}

int status(const JobSession& session) {
    switch (session.outcome()) {
    case JobOutcome::Succeeded:
        return HeadlessOk;
    case JobOutcome::Busy:
        return HeadlessBusy;
    default:
        return HeadlessFailed;
    }
}

// Settings that cannot be read are not "nothing picked": the run says why, and fails loudly.
bool settingsUnreadable(const SavedSettings& s, TimedJob job) {
    if (s.error.isEmpty()) return false;
    const QString line = QStringLiteral("The saved settings cannot be read: ") + s.error;
    err(line);
    reportFailure(job == TimedJob::Backup
                      ? QStringLiteral("Tarnwick backup not started")
                      : QStringLiteral("Tarnwick repair and compaction not started"),
                  {line});
    return true;
}

} // namespace

int runBackupHeadless(const SavedSettings& s, int waitMs) {
    if (settingsUnreadable(s, TimedJob::Backup)) return HeadlessBadUse;
    if (s.backup.fileName.isEmpty()) {
        err(QStringLiteral("There was no file selected to backup!"));
        return HeadlessBadUse;
    }
    JobSession session(TimedJob::Backup, JobSession::Start::ByRunner, out);
    if (!start(session, waitMs)) return status(session);
    UnattendedBackupTools tools;
    const BackupResult r = runBackup(s.backup, tools);
    session.finish(r);
    for (const QString& p : r.problems + tools.copyMessages())
        err(p);
    return status(session);
}

int runCompactHeadless(const SavedSettings& s, int waitMs, CompactEngine* engine) {
    if (settingsUnreadable(s, TimedJob::Compact)) return HeadlessBadUse;
    if (s.compact.files.isEmpty() || s.compact.version.isEmpty()) {
        err(QStringLiteral("Either a file or Jet Engine was not selected!"));
        return HeadlessBadUse;
    }
    JobSession session(TimedJob::Compact, JobSession::Start::ByRunner, out);
    if (!start(session, waitMs)) return status(session);
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
    callbacks.line = [&session](const JobLine& line) { session.say(line); };
    const CompactResult r = runCompact(s.compact, *engine, callbacks);
    for (const QString& p : r.problems)
        err(p);
    session.finish(r);
    return status(session);
}

} // namespace tarnwick::jobs
