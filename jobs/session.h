#pragma once

// One run of a file job, as the window and the runner both do it: it holds the job's lock, the
// lock of all file jobs and the sleep inhibitor, says every line (shown by the front end, and
// in the system log), raises the notification of a failure and ends with an outcome.

#include "jobs/backupjob.h"
#include "jobs/compactjob.h"
#include "jobs/report.h"
#include "jobs/runningjob.h"
#include "jobs/timedjob.h"

#include <functional>
#include <memory>

namespace tarnwick::jobs {

enum class JobOutcome {
    Running,    // not ended yet
    Succeeded,  // every file succeeded
    Failed,     // it ran, and some file failed or the run broke off
    Stopped,    // it ran and was asked to stop (the program is ending) before its last file
    Cancelled,  // a person cancelled it
    NotStarted, // nothing to do, stopped, or its locks could not be had
    Busy,       // another run of the same job held its lock
};

// "Backup", "Repair/Compact": how the job's lines begin.
QString lineName(TimedJob job);
// "Backup not started: <why>  <time>".
JobLine notStartedLine(TimedJob job, const QString& why);

class JobSession {
public:
    // Who started it. A person's run may be cancelled by that person; a run by an alarm also
    // logs its problems; the runner's caller learns from its exit status that a run was refused.
    enum class Start { ByPerson, ByAlarm, ByRunner };
    using Show = std::function<void(const JobLine& line)>;

    JobSession(TimedJob job, Start start, Show show);

    TimedJob job() const { return m_job; }
    JobOutcome outcome() const { return m_outcome; }

    // Takes the job's lock and the inhibitor; waits up to `waitMs` when another run holds the
    // lock, calling `waiting` first. False when not held (notStarted() says so).
    bool hold(int waitMs = 0, const std::function<void()>& waiting = {});
    // The lock of all file jobs (RunningJob). The worker of a run may wait for it while lines
    // are said elsewhere.
    bool takeFileLock();
    bool waitForOtherJobs(const std::function<void(const QString& running)>& waiting,
                          const std::function<bool()>& stopped = {});
    // "the backup", ...: the file job that holds the lock of all file jobs.
    QString holderTitle() const;
    QString error() const;
    // Lets go of every lock and the inhibitor: the next job may start.
    void release();

    // Shows a line and writes it to the system log.
    void say(const JobLine& line);
    void startedLate(const QString& why);
    void waitsForHolder();
    // The run did not start: says why, and ends the session so.
    void notStarted(const QString& why);
    // The run did not start because its locks could not be had.
    void lockRefused();
    // Shows the backup's lines, reports a failure and ends the session.
    void finish(const BackupResult& result);
    // The compaction's lines were said as it ran: reports a failure and ends the session.
    void finish(const CompactResult& result);

private:
    QString summary(const QString& what) const;

    TimedJob m_job;
    Start m_start;
    Show m_show;
    JobOutcome m_outcome = JobOutcome::Running;
    std::unique_ptr<RunningJob> m_running;
};

} // namespace tarnwick::jobs
