#pragma once

// Where a backup came from: its source's path, size, modification time and SHA-256, kept in the
// archive's comment and, once the backup is verified, in one line of Tarnwick-backups.log in the
// backup folder. Retention and restore trust only backups these records name.
//
// A record is one line of "key=value" fields separated by one blank. Values are bytes with
// '%', '=', blanks, controls and every byte outside printable ASCII written as %HH, so a line
// is ASCII whatever the names hold and splits at blanks.

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarnwick::jobs {

struct BackupRecord {
    QByteArray made;   // when the backup was verified, UTC, "YYYY-MM-DDTHH:MM:SSZ" (log only)
    QByteArray kind;   // "zip" or "copy" (log only)
    QByteArray backup; // the backup's name in its folder, raw bytes (log only)
    QByteArray source; // the source's full path, raw bytes
    qint64 size = -1;
    QByteArray mtime;  // the source's modification time, UTC, with nanoseconds
    QByteArray sha256; // lower-case hex of the backed-up bytes

    // The fields every record has are present and well formed.
    bool valid() const;
    bool sameSource(const BackupRecord& other) const {
        return source == other.source && size == other.size && mtime == other.mtime &&
               sha256 == other.sha256;
    }
};

inline constexpr char kBackupLogName[] = "Tarnwick-backups.log";

// The archive comment and the log line (without its newline).
QByteArray archiveComment(const BackupRecord& r);
QByteArray logLine(const BackupRecord& r);
// Parses either; false when the text is not a record of ours.
bool parseRecord(const QByteArray& line, BackupRecord& r);

// The source's facts: its absolute path as bytes, size and modification time. SHA-256 is left
// to whoever reads the bytes. Empty string on success, else why not.
QString describeSource(const QString& source, BackupRecord& r);

// Reads `path` to its end (never blocking on a FIFO) and sets `r`'s size and SHA-256 from the
// bytes read. Empty on success, else why not.
QString hashFile(const QString& path, BackupRecord& r);

// Appends `r`'s line to the log in `folder` in one write and flushes it. The log is never
// followed through a link and must be a regular file. Empty on success, else why not.
QString appendBackupLog(const QString& folder, const BackupRecord& r);
// The log's records in the order written (oldest first); a missing log is empty. `error` is
// set when the log exists but cannot be read.
QList<BackupRecord> readBackupLog(const QString& folder, QString* error = nullptr);

// Only the last record of each backup name, in log order: a name a later backup took again
// belongs to that one.
QList<BackupRecord> latestPerBackup(const QList<BackupRecord>& log);

// The archive's comment read through libzip; empty when there is none or it cannot be read.
QByteArray readArchiveComment(const QString& archive);

} // namespace tarnwick::jobs
