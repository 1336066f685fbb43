#pragma once

#include <QString>

namespace tarnwick::jobs {

// A lock per job, shared by every Tarnwick process of the user (the window and headless runs),
// so that two runs of one job never overlap. Held while the object lives.
class JobLock {
public:
    // `job` is "backup" or "compact", or "files" for the lock every file job takes.
    explicit JobLock(const QString& job);
    ~JobLock();
    JobLock(const JobLock&) = delete;
    JobLock& operator=(const JobLock&) = delete;

    // Takes the lock without waiting; false when another run holds it or it cannot be made.
    bool tryLock();
    // Waits up to `ms` milliseconds for the lock.
    bool lock(int ms);
    void unlock();
    bool isHeld() const { return m_held; }
    // The lock file is open: a failed tryLock means another run holds it.
    bool isOpen() const { return m_fd >= 0; }
    QString error() const { return m_error; }
    QString path() const { return m_path; }
    // Says in the held lock's file who holds it, for those who wait.
    bool setHolder(const QString& holder);
    // What the holder said, read by a waiter; empty when it said nothing.
    QString holder() const;

private:
    bool open();
    QString m_path;
    QString m_error;
    int m_fd = -1;
    bool m_held = false;
};

} // namespace tarnwick::jobs
