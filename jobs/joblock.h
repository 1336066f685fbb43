#pragma once

#include "platform/posix/filelocks.h"

#include <QString>

namespace tarnwick::jobs {

// A lock per job, shared by every Tarnwick process of the user (the window and headless runs),
// so that two runs of one job never overlap: a lock file in the user's runtime folder. Held while
// the object lives.
class JobLock {
public:
    // `job` is "backup" or "compact", or "files" for the lock every file job takes.
    explicit JobLock(const QString& job);
    JobLock(const JobLock&) = delete;
    JobLock& operator=(const JobLock&) = delete;

    // Takes the lock without waiting; false when another run holds it or it cannot be made.
    bool tryLock();
    // Waits up to `ms` milliseconds for the lock.
    bool lock(int ms);
    void unlock() { m_file.unlock(); }
    bool isHeld() const { return m_file.isHeld(); }
    // The lock file is open: a failed tryLock means another run holds it.
    bool isOpen() const { return m_file.isOpen(); }
    // The last tryLock found another run holding it.
    bool isBusy() const { return m_busy; }
    QString error() const { return m_error; }
    QString path() const;
    // Says in the held lock's file who holds it, for those who wait.
    bool setHolder(const QString& holder);
    // What the holder said, read by a waiter; empty when it said nothing.
    QString holder() const;

private:
    posix::LockFile m_file;
    QString m_error;
    bool m_busy = false;
};

} // namespace tarnwick::jobs
