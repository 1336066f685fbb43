#include "jobs/compactjob.h"

#include "jobs/inuse.h"
#include "jobs/report.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jobs {

namespace {

QString now() {
    return FormatSettings::current().timestamp(TimeSource::current().now());
}

QString startLine(const QString& v, const QString& p) {
    return QStringLiteral("Repair/Compact %1 was started for %2 at  ").arg(v, p) + now();
}
QString successLine(const QString& v, const QString& p) {
    return QStringLiteral("Repair/Compact %1 was Completed Successful for %2 at  ").arg(v, p) +
           now();
}
QString failureLine(const QString& v, const QString& p) {
    return QStringLiteral("Repair/Compact %1 was Unsuccessful for %2  ").arg(v, p) + now();
}

// Removes a stale lock file; a link or anything but a regular file is left alone.
void removeLockFile(const QString& lock) {
    const QByteArray name = QFile::encodeName(lock);
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        if (::unlink(name.constData()) == 0 || errno == ENOENT) return;
    }
}

} // namespace

QString lockFileOf(const QString& database) {
    const QFileInfo info(database);
    QString base = info.fileName();
    QString extension;
    if (const qsizetype dot = base.lastIndexOf(u'.'); dot >= 0) {
        extension = base.mid(dot + 1);
        base.truncate(dot);
    }
    const QDir dir = info.dir();
    // Access 2007 files keep their lock in ".laccdb", older ones in ".ldb".
    if (extension.startsWith(QLatin1String("acc"), Qt::CaseInsensitive))
        return dir.filePath(base + QStringLiteral(".laccdb"));
    const QString lower = dir.filePath(base + QStringLiteral(".ldb"));
    if (QFileInfo::exists(lower)) return lower;
    return dir.filePath(base + QStringLiteral(".LDB"));
}

CompactResult runCompact(const CompactRequest& request, CompactEngine& engine,
                         const CompactCallbacks& callbacks) {
    CompactResult result;
    const QString& v = request.version;
    auto say = [&](const QString& line, bool failure) {
        if (callbacks.line) callbacks.line({line, failure});
    };
    auto log = [&](const QString& line) { say(line, false); };
    auto fail = [&](const QString& line) { say(line, true); };
    if (v != QLatin1String("3.6") && v != QLatin1String("3.5") && v != QLatin1String("12.0")) {
        result.unknownVersion = true;
        result.problems << QStringLiteral("unknown engine version %1").arg(v);
        fail(QStringLiteral("Repair/Compact was not started: the Jet Engine version '%1' is "
                            "unknown  ")
                 .arg(v) +
             now());
        return result;
    }
    QString current;
    try {
        for (qsizetype i = request.files.size() - 1; i >= 0; --i) {
            current = request.files[i];
            const QString& p = current;
            if (callbacks.processing) callbacks.processing(p);
            const QString lock = lockFileOf(p);
            QString problem;
            if (const QString notFile = whyNotAFile(p); !notFile.isEmpty())
                problem = p + QStringLiteral(": ") + notFile;
            else if (const QString why = inUseReason(p); !why.isEmpty())
                problem = p + QStringLiteral(": the database is ") + why;
            else if (const QString lockWhy = inUseReason(lock); !lockWhy.isEmpty())
                problem = p + QStringLiteral(": its lock file %1 is ").arg(lock) + lockWhy;
            if (!problem.isEmpty()) {
                // No file, or another program has it: neither it nor its lock file is touched.
                log(startLine(v, p));
                fail(failureLine(v, p));
                fail(reasonLine({problem}));
                result.problems << problem;
                ++result.failed;
                continue;
            }
            removeLockFile(lock);
            engine.SetDatabase(p);
            log(startLine(v, p));
            bool done = false;
            try {
                engine.SetExclusive(true);
                if (request.memoryMiB > 0) engine.SetMemoryBudget(request.memoryMiB);
                // The 3.5 engine repairs on its own; the later ones repair as they compact.
                if (v == QLatin1String("3.5")) {
                    engine.RepairDatabaseFile(p, QString());
                    engine.CompactDatabaseFile(p, QString());
                } else {
                    engine.CompactDatabaseFileWithOptions(p, QString(), false, false, 0, QString());
                }
                done = true;
            } catch (const std::exception& e) {
                // The engine's messages mostly name the file already.
                const QString what = QString::fromLocal8Bit(e.what());
                problem = what.startsWith(p) ? what : p + QStringLiteral(": ") + what;
            } catch (...) {
                problem = p + QStringLiteral(": unknown error");
            }
            say(done ? successLine(v, p) : failureLine(v, p), !done);
            if (!done) {
                fail(reasonLine({problem}));
                result.problems << problem;
            }
            ++(done ? result.succeeded : result.failed);
        }
    } catch (...) {
        QString why = QStringLiteral("the run ended early");
        try {
            throw;
        } catch (const JobStopped& e) {
            result.stopped = true;
            why += QStringLiteral(": ") + QString::fromLocal8Bit(e.what());
        } catch (const std::exception& e) {
            result.broken = true;
            why += QStringLiteral(": ") + QString::fromLocal8Bit(e.what());
        } catch (...) {
            result.broken = true;
        }
        result.problems << (current.isEmpty() ? why : current + QStringLiteral(": ") + why);
        try {
            fail(current.isEmpty()
                     ? QStringLiteral("Repair/Compact %1 was Unsuccessful  ").arg(v) + now()
                     : failureLine(v, current));
            fail(reasonLine({result.problems.last()}));
        } catch (...) {
            // The log itself failed; the result still says so.
        }
    }
    return result;
}

} // namespace tarnwick::jobs
