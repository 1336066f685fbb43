#pragma once

// Keeps the newest backups of each database in a backup folder and removes older ones. Only
// files the log of verified backups names for that database count, each still a regular file of
// the recorded size under a name the backup gives (an archive also carries the same record in
// its comment); anything else in the folder is never touched.

#include <QString>
#include <QStringList>

namespace tarnwick::jobs {

struct PruneResult {
    QStringList removed;  // "Removed old backup <path>  <time>"
    QStringList warnings; // "path: why it could not be removed"
};

// Keeps the newest `keep` (at least one) backups of each of `sources` in `folder`; `made` are
// never removed.
PruneResult pruneBackups(const QString& folder, const QStringList& sources, int keep,
                         const QStringList& made);

// Whether `name` is one the backup gives `source`'s backups of `kind` ("zip" or "copy").
bool backupNameFits(const QString& name, const QString& source, const QByteArray& kind);

} // namespace tarnwick::jobs
