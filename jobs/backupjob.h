#pragma once

// The backup job: copies the picked databases into the backup folder, as plain copies or as one
// zip archive per file, checks what it made, and says in one line what it did.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace tarnwick::jobs {

// How files get copied and archived: the window's copy (progress window, questions) and
// archiver, or the same components unattended (jobs/componenttools.h, jobs/unattendedtools.h).
class BackupTools {
public:
    struct CopyResult {
        bool aborted = false; // the user cancelled some part of the copy
        QStringList written;  // full paths of the copies made
        int failures = 0;     // files left out after an error the user skipped
        QStringList warnings; // what copies that were made left behind, "path: what"
    };
    virtual ~BackupTools() = default;
    virtual CopyResult copyFiles(const QStringList& files, const QString& folder) = 0;
    // Adds `file` to the archive at `archive` (which does not exist yet). Returns what went
    // wrong, empty when nothing was reported.
    virtual QStringList zipFile(const QString& file, const QString& archive) = 0;
    // The comment the next archive gets (ASCII); tools that cannot set one keep none.
    virtual void setArchiveComment(const QByteArray& comment) { (void)comment; }
};

struct BackupRequest {
    QString fileName;        // the picker's file
    QStringList dialogFiles; // the picker's last multi-selection
    QString folder;          // where the backups go
    bool zip = false;
    int keep = 0; // newest backups kept per database after a run that succeeded; 0 keeps all
};

struct BackupResult {
    enum Outcome { Succeeded, Aborted, Failed };
    Outcome outcome = Failed;
    QString line;         // the log line; empty when aborted
    QString reason;       // when failed, the line to log under it that says why
    QStringList problems; // why it failed, file by file (for the system log and notifications)
    QStringList made;     // archives or copies made
    QStringList warnings; // worth logging under the line: a database in use, a file left behind
    QStringList removed;  // lines for old backups removed to keep request.keep
};

// The archive's name for `file` at `when`: the name without its extension, a blank,
// the timestamp with "-" for both separators, ".Zip".
QString archiveName(const QString& file, const QDateTime& when);
// `folder` joined with `name`, a separator added when the folder text lacks one.
QString joinFolder(const QString& folder, const QString& name);
// `path`, or the first of "name (2).Zip", "name (3).Zip", ... that names nothing yet.
QString freeArchivePath(const QString& path);

// Runs one backup. Reads the time from TimeSource and the formats from FormatSettings.
BackupResult runBackup(const BackupRequest& request, BackupTools& tools);

} // namespace tarnwick::jobs
