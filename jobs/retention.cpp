#include "jobs/retention.h"

#include "jobs/provenance.h"
#include "platform/filename.h"
#include "platform/formatsettings.h"
#include "platform/posix/uniquefd.h"
#include "platform/timesource.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jobs {

namespace {

QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// "stem (n)" back to "stem", as a collision renames.
QString withoutCollision(const QString& stem) {
    static const QRegularExpression numbered(QStringLiteral("^(.*) \\(\\d{1,9}\\)$"));
    const QRegularExpressionMatch m = numbered.match(stem);
    return m.hasMatch() ? m.captured(1) : stem;
}

} // namespace

bool backupNameFits(const QString& name, const QString& source, const QByteArray& kind) {
    const QString sourceName = QFileInfo(source).fileName();
    if (kind == "zip") {
        // "<base> <time>.Zip" or "<base> <time> (n).Zip".
        QString base = sourceName;
        if (const qsizetype dot = base.lastIndexOf(u'.'); dot >= 0) base.truncate(dot);
        if (!name.endsWith(QLatin1String(".Zip"))) return false;
        const QString stem = withoutCollision(name.chopped(4));
        return stem.size() > base.size() + 1 && stem.startsWith(base + u' ');
    }
    if (kind != "copy") return false;
    if (name == sourceName) return true;
    // The copy's collision name: "stem (n).ext".
    const qsizetype dot = sourceName.lastIndexOf(u'.');
    const QString ext = dot > 0 ? sourceName.mid(dot) : QString();
    const QString stem = dot > 0 ? sourceName.left(dot) : sourceName;
    if (!name.endsWith(ext)) return false;
    const QString named = name.chopped(ext.size());
    return named != stem && withoutCollision(named) == withoutCollision(stem);
}

PruneResult pruneBackups(const QString& folder, const QStringList& sources, int keep,
                         const QStringList& made) {
    PruneResult result;
    if (keep <= 0) return result;
    QString error;
    const QList<BackupRecord> log = latestPerBackup(readBackupLog(folder, &error));
    if (!error.isEmpty()) {
        result.warnings << error + QStringLiteral("; no old backup was removed");
        return result;
    }
    const QByteArray folderBytes = fileNameToBytes(folder);
    posix::UniqueFd dir(::open(folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        result.warnings << folder + QStringLiteral(": ") + sysError();
        return result;
    }
    QSet<QByteArray> protect;
    for (const QString& m : made)
        protect << fileNameToBytes(QFileInfo(m).fileName());
    bool removedAny = false;
    for (const QString& source : sources) {
        const QByteArray sourceBytes = fileNameToBytes(absoluteFileName(source));
        int counted = 0;
        // Newest first: the log is written in the order backups were verified.
        for (auto it = log.crbegin(); it != log.crend(); ++it) {
            const BackupRecord& r = *it;
            if (r.source != sourceBytes) continue;
            const QString name = fileNameFromBytes(r.backup);
            if (!backupNameFits(name, fileNameFromBytes(sourceBytes), r.kind)) continue;
            struct stat st {};
            if (::fstatat(dir.get(), r.backup.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(st.st_mode))
                continue;
            const QString path = fileNameFromBytes(folderBytes + '/' + r.backup);
            if (r.kind == "copy" && st.st_size != r.size) continue;
            if (r.kind == "zip") {
                BackupRecord own;
                if (!parseRecord(readArchiveComment(path), own) || !own.sameSource(r)) continue;
            }
            if (++counted <= keep || protect.contains(r.backup)) continue;
            // A copy's name and size could be anyone's: its bytes decide before it goes. (An
            // archive's comment already carries the record, down to the nanosecond.)
            if (r.kind == "copy") {
                BackupRecord now;
                if (!hashFile(path, now).isEmpty() || now.sha256 != r.sha256) continue;
            }
            // unlinkat removes the name itself, never what a link would point at.
            if (::unlinkat(dir.get(), r.backup.constData(), 0) != 0) {
                result.warnings << path + QStringLiteral(": the old backup cannot be removed (%1)")
                                              .arg(sysError());
                continue;
            }
            removedAny = true;
            result.removed << QStringLiteral("Removed old backup %1  ").arg(path) +
                                  FormatSettings::current().timestamp(TimeSource::current().now());
        }
    }
    if (removedAny && ::fsync(dir.get()) != 0)
        result.warnings << folder + QStringLiteral(": ") + sysError();
    return result;
}

} // namespace tarnwick::jobs
