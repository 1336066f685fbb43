#pragma once

#include <QString>
#include <QStringList>

namespace tarnwick::jobs {

// One line of a job's log, and whether it tells of a failure or why one happened (the system
// log's priority). It reads as its text.
struct JobLine {
    QString text;
    bool failure = false;
    operator const QString&() const { return text; }
};

// The line under a failure line that says why, naming each file with its reason:
// "  Reason: /srv/db/x.mdb: the file is missing; /srv/db/y.mdb: ...".
QString reasonLine(const QStringList& problems);
// A warning logged under a job's line: "  Warning: " and the warning.
QString warningLine(const QString& warning);

// Every job line also goes to the system log, so unattended runs can be read with journalctl.
void logLine(const QString& line, bool failure);
// A failed run: its reasons go to the system log and a desktop notification is raised when a
// notification service is there.
void reportFailure(const QString& summary, const QStringList& problems);

} // namespace tarnwick::jobs
