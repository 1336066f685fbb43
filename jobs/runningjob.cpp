#include "jobs/runningjob.h"

#include <QThread>

namespace tarnwick::jobs {

RunningJob::RunningJob(const QString& job, const QString& why, int waitMs,
                       const std::function<void()>& waiting)
    : m_job(job), m_lock(job) {
    bool held = m_lock.tryLock();
    if (!held && waitMs > 0 && m_lock.isOpen()) {
        if (waiting) waiting();
        held = m_lock.lock(waitMs);
    }
    if (held) m_inhibitor.emplace(why);
}

bool RunningJob::takeFileLock() {
    if (!started()) return false;
    if (!m_files.tryLock()) {
        if (!m_files.isOpen()) m_error = m_files.error();
        return false;
    }
    m_files.setHolder(m_job); // only a hint for those who wait: the lock holds without it
    return true;
}

bool RunningJob::waitForOtherJobs(const std::function<void(const QString&)>& waiting,
                                  const std::function<bool()>& stopped) {
    if (!started()) return false;
    bool said = false;
    while (!takeFileLock()) {
        if (!m_error.isEmpty()) return false;
        if (stopped && stopped()) {
            m_error = QStringLiteral("stopped while waiting for another job");
            return false;
        }
        if (!said && waiting) waiting(m_files.holder());
        said = true;
        QThread::msleep(100);
    }
    return true;
}

QString jobTitle(const QString& job) {
    if (job == QLatin1String("backup")) return QStringLiteral("the backup");
    if (job == QLatin1String("compact")) return QStringLiteral("the repair and compaction");
    if (job == QLatin1String("restore")) return QStringLiteral("the restore");
    return QStringLiteral("another file job");
}

} // namespace tarnwick::jobs
