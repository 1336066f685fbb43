#include "jobs/runningjob.h"

namespace tarnwick::jobs {

RunningJob::RunningJob(const QString& job, const QString& why, int waitMs,
                       const std::function<void()>& waiting)
    : m_lock(job) {
    bool held = m_lock.tryLock();
    if (!held && waitMs > 0 && m_lock.isOpen()) {
        if (waiting) waiting();
        held = m_lock.lock(waitMs);
    }
    if (held) m_inhibitor.emplace(why);
}

} // namespace tarnwick::jobs
