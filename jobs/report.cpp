#include "jobs/report.h"

#include "platform/notifier.h"
#include "platform/systemlog.h"

namespace tarnwick::jobs {

void logLine(const QString& line, bool failure) {
    SystemLog::current().write(failure ? SystemLog::Error : SystemLog::Info, line);
}

void reportFailure(const QString& summary, const QStringList& problems) {
    for (const QString& p : problems)
        SystemLog::current().write(SystemLog::Error, p);
    Notifier::current().notify(summary, problems.join(u'\n'));
}

} // namespace tarnwick::jobs
