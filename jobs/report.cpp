#include "jobs/report.h"

#include "platform/notifier.h"
#include "platform/systemlog.h"

namespace tarnwick::jobs {

namespace {
const QString kReason = QStringLiteral("  Reason: ");
} // namespace

QString reasonLine(const QStringList& problems) {
    return kReason + problems.join(QLatin1String("; "));
}

QString warningLine(const QString& warning) {
    return QStringLiteral("  Warning: ") + warning;
}

void logLine(const QString& line, bool failure) {
    SystemLog::current().write(failure ? SystemLog::Error : SystemLog::Info, line);
}

void reportFailure(const QString& summary, const QStringList& problems) {
    for (const QString& p : problems)
        SystemLog::current().write(SystemLog::Error, p);
    Notifier::current().notify(summary, problems.join(u'\n'));
}

} // namespace tarnwick::jobs
