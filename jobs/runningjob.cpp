#include "jobs/runningjob.h"

namespace tarnwick::jobs {

RunningJob::RunningJob(const QString& job, const QString& why, int waitMs) : m_lock(job) {
    if (waitMs > 0 ? m_lock.lock(waitMs) : m_lock.tryLock()) m_inhibitor.emplace(why);
}

} // namespace tarnwick::jobs
