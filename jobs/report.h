#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick::jobs {

// Every job line also goes to the system log, so unattended runs can be read with journalctl.
void logLine(const QString& line, bool failure);
// A failed run: its reasons go to the system log and a desktop notification is raised when a
// notification service is there.
void reportFailure(const QString& summary, const QStringList& problems);

} // namespace tarnwick::jobs
