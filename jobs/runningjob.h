#pragma once

#include "jobs/joblock.h"
#include "platform/sessionend.h"

#include <QString>

#include <functional>
#include <optional>

namespace tarnwick::jobs {

// What a file job holds while it runs: its job lock, so no other run of the same job overlaps
// it in this or another process, and a logind delay inhibitor, so that suspend and shutdown
// wait for it.
class RunningJob {
public:
    // `job` is "backup" or "compact"; waits up to `waitMs` for another run to end, calling
    // `waiting` first when it has to.
    RunningJob(const QString& job, const QString& why, int waitMs = 0,
               const std::function<void()>& waiting = {});
    bool started() const { return m_lock.isHeld(); }
    // Not started because another run of the same job holds its lock.
    bool busy() const { return !started() && m_lock.isBusy(); }
    QString error() const { return m_error.isEmpty() ? m_lock.error() : m_error; }
    bool inhibiting() const { return m_inhibitor && m_inhibitor->isHeld(); }

    // Takes the lock of all file jobs without waiting: false when another file job holds it (or
    // it cannot be made: error() says why, and holder() is empty).
    bool takeFileLock();
    // The file job that holds that lock, when it said.
    QString holder() const { return m_files.holder(); }
    // Waits, for as long as it takes, until no other file job runs in any Tarnwick process of
    // the user, and then holds that lock too, so a backup and a compaction follow one another.
    // `waiting` gets the job that runs ("backup", "compact", "restore", or empty when unknown),
    // once, before the wait. `stopped` is polled while waiting and ends the wait. False when
    // stopped or when the lock cannot be made (error() says why).
    bool waitForOtherJobs(const std::function<void(const QString& running)>& waiting,
                          const std::function<bool()>& stopped = {});

private:
    QString m_job;
    QString m_error;
    JobLock m_lock;
    JobLock m_files{QStringLiteral("files")};
    std::optional<ShutdownInhibitor> m_inhibitor;
};

// "the backup", "the repair and compaction", else "another file job", for log lines.
QString jobTitle(const QString& job);

} // namespace tarnwick::jobs
