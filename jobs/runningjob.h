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
    QString error() const { return m_lock.error(); }
    bool inhibiting() const { return m_inhibitor && m_inhibitor->isHeld(); }

private:
    JobLock m_lock;
    std::optional<ShutdownInhibitor> m_inhibitor;
};

} // namespace tarnwick::jobs
