#include "jobs/session.h"

#include "platform/formatsettings.h"
#include "platform/timesource.h"

namespace tarnwick::jobs {

namespace {

QString stamp() {
    return FormatSettings::current().timestamp(TimeSource::current().now());
}

} // namespace

QString lineName(TimedJob job) {
    return job == TimedJob::Backup ? QStringLiteral("Backup") : QStringLiteral("Repair/Compact");
}

JobLine notStartedLine(TimedJob job, const QString& why) {
    return {lineName(job) + QStringLiteral(" not started: %1  ").arg(why) + stamp(), true};
}

JobSession::JobSession(TimedJob job, Start start, Show show)
    : m_job(job), m_start(start), m_show(std::move(show)) {}

bool JobSession::hold(int waitMs, const std::function<void()>& waiting) {
    m_running = std::make_unique<RunningJob>(lockName(m_job),
                                             m_job == TimedJob::Backup
                                                 ? QStringLiteral("Backing up databases")
                                                 : QStringLiteral("Compacting databases"),
                                             waitMs, waiting);
    return m_running->started();
}

bool JobSession::takeFileLock() {
    return m_running && m_running->takeFileLock();
}

bool JobSession::waitForOtherJobs(const std::function<void(const QString&)>& waiting,
                                  const std::function<bool()>& stopped) {
    return m_running && m_running->waitForOtherJobs(waiting, stopped);
}

QString JobSession::holderTitle() const {
    return jobTitle(m_running ? m_running->holder() : QString());
}

QString JobSession::error() const {
    return m_running ? m_running->error() : QString();
}

void JobSession::release() {
    m_running.reset();
}

void JobSession::say(const JobLine& line) {
    if (m_show) m_show(line);
    logLine(line.text, line.failure);
}

void JobSession::startedLate(const QString& why) {
    say({lineName(m_job) + QStringLiteral(" started late: %1  ").arg(why) + stamp(), false});
}

void JobSession::waitsForHolder() {
    say({lineName(m_job) + QStringLiteral(" waits for %1 to end  ").arg(holderTitle()) + stamp(),
         false});
}

void JobSession::notStarted(const QString& why) {
    say(notStartedLine(m_job, why));
    if (m_outcome == JobOutcome::Running) m_outcome = JobOutcome::NotStarted;
}

void JobSession::lockRefused() {
    const QString why = error();
    if (m_running && m_running->busy()) m_outcome = JobOutcome::Busy;
    notStarted(why);
    if (m_start != Start::ByRunner) reportFailure(summary(QStringLiteral("not started")), {why});
}

void JobSession::finish(const BackupResult& r) {
    const bool cancelled = r.outcome == BackupResult::Aborted && m_start == Start::ByPerson;
    const bool failed = r.outcome != BackupResult::Succeeded && !cancelled;
    if (!r.line.isEmpty())
        say({r.line, failed});
    else if (failed)
        say({QStringLiteral("Backup Unsuccessful  ") + stamp(), true});
    if (!r.reason.isEmpty()) say({r.reason, true});
    for (const QString& line : r.removed)
        say({line, false});
    // A database in use, or something left behind: logged under the job's line.
    for (const QString& w : r.warnings)
        say({warningLine(w), true});
    m_outcome = cancelled ? JobOutcome::Cancelled
                : failed  ? JobOutcome::Failed
                          : JobOutcome::Succeeded;
    if (!failed) return;
    if (m_start == Start::ByAlarm)
        for (const QString& p : r.problems)
            logLine(QStringLiteral("Backup: ") + p, true);
    reportFailure(summary(QStringLiteral("failed")), r.problems);
}

void JobSession::finish(const CompactResult& r) {
    m_outcome = r.ok()      ? JobOutcome::Succeeded
                : r.stopped ? JobOutcome::Stopped
                            : JobOutcome::Failed;
    // A stop leaves databases not compacted: said as a stop, not as a failure.
    if (!r.ok())
        reportFailure(summary(r.stopped ? QStringLiteral("stopped") : QStringLiteral("failed")),
                      r.problems);
}

QString JobSession::summary(const QString& what) const {
    return (m_job == TimedJob::Backup ? QStringLiteral("Tarnwick backup ")
                                      : QStringLiteral("Tarnwick repair and compaction ")) +
           what;
}

} // namespace tarnwick::jobs
