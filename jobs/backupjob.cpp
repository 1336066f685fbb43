#include "jobs/backupjob.h"

#include "jobs/compactjob.h"
#include "jobs/inuse.h"
#include "jobs/provenance.h"
#include "jobs/report.h"
#include "jobs/retention.h"
#include "jobs/verify.h"
#include "platform/filename.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tarnwick::jobs {

namespace {

QString now() {
    return FormatSettings::current().timestamp(TimeSource::current().now());
}

// Names anything, a dangling link included.
bool pathTaken(const QString& path) {
    struct stat st {};
    return ::lstat(fileNameToBytes(path).constData(), &st) == 0;
}

// Once a backup is verified, the log in its folder says so; retention and restore trust only
// what it names. A backup that cannot be logged stays, but is never removed.
void recordBackup(const QString& folder, const QString& backup, const QByteArray& kind,
                  BackupRecord r, BackupResult& result) {
    r.made = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1();
    r.kind = kind;
    r.backup = fileNameToBytes(QFileInfo(backup).fileName());
    if (const QString why = appendBackupLog(folder, r); !why.isEmpty())
        result.warnings << why + QStringLiteral(": the backup %1 is not recorded").arg(backup);
}

void zipAll(const QStringList& files, const QString& folder, BackupTools& tools,
            BackupResult& result) {
    // The last picked file first, each archive named with the time it was made at.
    for (qsizetype i = files.size() - 1; i >= 0; --i) {
        const QString& file = files[i];
        BackupRecord record;
        QString why = describeSource(file, record);
        if (why.isEmpty()) why = hashFile(file, record);
        if (!why.isEmpty()) {
            result.problems << why;
            continue;
        }
        tools.setArchiveComment(archiveComment(record));
        const QString archive =
            freeArchivePath(joinFolder(folder, archiveName(file, TimeSource::current().now())));
        const QStringList messages = tools.zipFile(file, archive);
        for (const QString& m : messages)
            result.problems << file + QStringLiteral(": ") + m;
        if (!messages.isEmpty()) continue;
        QByteArray sha256;
        if (const QString wrong = checkArchive(archive, file, &sha256); !wrong.isEmpty()) {
            result.problems << archive + QStringLiteral(": ") + wrong;
        } else if (sha256 != record.sha256) {
            result.problems << file + QStringLiteral(": the file changed while it was archived");
        } else {
            result.made << archive;
            recordBackup(folder, archive, "zip", record, result);
        }
    }
}

// A database another program has open may change while it is read: its backup is made, but the
// log says it may not be consistent.
void warnInUse(const QStringList& files, BackupResult& result) {
    for (const QString& file : files) {
        QString why = inUseReason(file);
        if (why.isEmpty()) why = inUseReason(lockFileOf(file));
        if (!why.isEmpty())
            result.warnings << file + QStringLiteral(": the database is in use (%1); its backup "
                                                     "may not be consistent")
                                          .arg(why);
    }
}

// Every source must have a copy with its bytes among those written.
void checkCopies(const QStringList& files, const QString& folder,
                 const BackupTools::CopyResult& copy, BackupResult& result) {
    QStringList unmatched = copy.written;
    for (const QString& file : files) {
        BackupRecord record;
        if (const QString why = describeSource(file, record); !why.isEmpty()) {
            result.problems << why;
            continue;
        }
        bool found = false;
        for (qsizetype i = 0; i < unmatched.size() && !found; ++i) {
            // The copy may have another name (a collision is renamed); its bytes decide.
            if (compareFiles(file, unmatched[i], &record.sha256).isEmpty()) {
                const QString made = unmatched.takeAt(i);
                result.made << made;
                struct stat st {};
                if (::lstat(fileNameToBytes(made).constData(), &st) != 0) {
                    result.warnings
                        << made + QStringLiteral(": the backup is not recorded (%1)")
                                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
                } else {
                    record.size = st.st_size;
                    recordBackup(folder, made, "copy", record, result);
                }
                found = true;
            }
        }
        if (!found) result.problems << file + QStringLiteral(": no identical copy was made");
    }
}

} // namespace

QString archiveName(const QString& file, const QDateTime& when) {
    QString base = QFileInfo(file).fileName();
    // Only the extension goes: "Sales.accdb" keeps all of "Sales".
    if (const qsizetype dot = base.lastIndexOf(u'.'); dot >= 0) base.truncate(dot);
    return base + u' ' +
           FormatSettings::current()
               .withSeparators(QStringLiteral("-"), QStringLiteral("-"))
               .timestamp(when) +
           QStringLiteral(".Zip");
}

QString joinFolder(const QString& folder, const QString& name) {
    if (folder.endsWith(u'/') || folder.endsWith(u'\\')) return folder + name;
    return folder + u'/' + name;
}

QString freeArchivePath(const QString& path) {
    if (!pathTaken(path)) return path;
    const QString stem = path.endsWith(QLatin1String(".Zip")) ? path.chopped(4) : path;
    for (int n = 2;; ++n) {
        const QString candidate = stem + QStringLiteral(" (%1).Zip").arg(n);
        if (!pathTaken(candidate)) return candidate;
    }
}

BackupResult runBackup(const BackupRequest& request, BackupTools& tools) {
    BackupResult result;
    const qsizetype n = request.dialogFiles.size();
    QStringList files;
    for (const QString& file : n > 1 ? request.dialogFiles : QStringList{request.fileName}) {
        if (const QString why = whyNotAFile(file); !why.isEmpty())
            result.problems << file + QStringLiteral(": ") + why;
        else
            files << file;
    }
    try {
        if (files.isEmpty()) {
            // Nothing to back up; the problems say why.
        } else if (request.folder.trimmed().isEmpty()) {
            result.problems << QStringLiteral("no backup folder is set");
        } else if (request.zip) {
            warnInUse(files, result);
            zipAll(files, request.folder, tools, result);
        } else {
            warnInUse(files, result);
            const BackupTools::CopyResult copy = tools.copyFiles(files, request.folder);
            result.warnings << copy.warnings;
            if (copy.aborted) {
                result.outcome = BackupResult::Aborted;
                return result;
            }
            checkCopies(files, request.folder, copy, result);
        }
    } catch (const std::exception& e) {
        result.problems << QString::fromLocal8Bit(e.what());
    } catch (...) {
        result.problems << QStringLiteral("unknown error");
    }
    const QString s = now();
    if (!result.problems.isEmpty()) {
        result.outcome = BackupResult::Failed;
        result.line = QStringLiteral("Backup Unsuccessful  ") + s;
        result.reason = reasonLine(result.problems);
        return result;
    }
    result.outcome = BackupResult::Succeeded;
    if (request.keep > 0) {
        PruneResult pruned = pruneBackups(request.folder, files, request.keep, result.made);
        result.removed = pruned.removed;
        result.warnings << pruned.warnings;
    }
    if (request.zip)
        result.line = n > 1 ? QStringLiteral("Backup Successfully Zipped %1 Files  ").arg(n) + s
                            : QStringLiteral("Backup Successfully Zipped 1 File  ") + s;
    else
        result.line = n > 1 ? QStringLiteral("Backup Successful! for %1 Files  ").arg(n) + s
                            : QStringLiteral("Backup Successful  ") + s;
    return result;
}

} // namespace tarnwick::jobs
