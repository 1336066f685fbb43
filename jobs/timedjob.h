#pragma once

#include <QString>

namespace tarnwick::jobs {

// The file jobs that run at their alarm: in the window, and from timers through the runner.
enum class TimedJob { Backup, Compact };

// The name of its lock: "backup", "compact".
inline QString lockName(TimedJob job) {
    return job == TimedJob::Backup ? QStringLiteral("backup") : QStringLiteral("compact");
}

} // namespace tarnwick::jobs
