#include "jobs/restore.h"

#include "jet/check.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jobs/compactjob.h"
#include "jobs/headless.h"
#include "jobs/inuse.h"
#include "jobs/joblock.h"
#include "jobs/provenance.h"
#include "jobs/report.h"
#include "jobs/runningjob.h"
#include "platform/filename.h"
#include "platform/posix/durablereplace.h"
#include "platform/posix/uniquefd.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace tarnwick::jobs {

namespace {

using Sink = std::function<bool(const char*, qint64)>;

void say(const QString& line) {
    std::printf("%s\n", fileNameToBytes(line).constData());
    std::fflush(stdout);
}

void complain(const QString& why) {
    std::fprintf(stderr, "tarnwick-run: %s\n", fileNameToBytes(why).constData());
    std::fflush(stderr);
}

// A restore that changes a file or is refused is logged as the jobs' lines are.
int refuse(const QString& why) {
    complain(why);
    logLine(QStringLiteral("Restore refused: ") + why, true);
    return HeadlessFailed;
}

int badUse(const QString& why) {
    complain(why);
    return HeadlessBadUse;
}

QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct ArchiveCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct EntryCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// A backup found and what it records.
struct Found {
    QString path;
    BackupRecord record;
    bool zip = false;
};

// Tarnwick's backup at `path`: an archive whose comment records its source, or a copy the log
// beside it names. Empty when it is neither; `why` then says so.
bool identify(const QString& path, Found& found, QString& why) {
    found.path = path;
    struct stat st {};
    if (::lstat(fileNameToBytes(path).constData(), &st) != 0) {
        why = path + QStringLiteral(": ") + sysError();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = path + QStringLiteral(": not a regular file");
        return false;
    }
    if (parseRecord(readArchiveComment(path), found.record)) {
        found.zip = true;
        return true;
    }
    const QByteArray bytes = fileNameToBytes(path);
    const qsizetype slash = bytes.lastIndexOf('/');
    const QList<BackupRecord> log =
        latestPerBackup(readBackupLog(fileNameFromBytes(bytes.left(slash))));
    for (const BackupRecord& r : log) {
        if (r.backup == bytes.mid(slash + 1) && r.kind == "copy") {
            found.record = r;
            return true;
        }
    }
    why = path + QStringLiteral(": not a backup Tarnwick made (no record of its source)");
    return false;
}

// Streams the backed-up bytes to `sink` and proves them: the archive's CRC, then size and
// SHA-256 against the record. Empty when they match, else what is wrong.
QString readBackup(const Found& f, const Sink& sink) {
    const posix::UniqueFd fd(::open(fileNameToBytes(f.path).constData(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return f.path + QStringLiteral(": ") + sysError();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 total = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    auto take = [&](qint64 n) {
        hash.addData(QByteArrayView(buffer.constData(), n));
        total += n;
        return !sink || sink(buffer.constData(), n);
    };
    if (f.zip) {
        const int copy = ::dup(fd.get());
        if (copy < 0) return f.path + QStringLiteral(": ") + sysError();
        int error = 0;
        std::unique_ptr<zip_t, ArchiveCloser> z(
            zip_fdopen(copy, ZIP_RDONLY | ZIP_CHECKCONS, &error));
        if (!z) {
            ::close(copy);
            return f.path + QStringLiteral(": the archive is damaged");
        }
        const QByteArray want = QFileInfo(fileNameFromBytes(f.record.source)).fileName().toUtf8();
        zip_int64_t index = -1;
        for (zip_int64_t i = 0; i < zip_get_num_entries(z.get(), 0); ++i) {
            const QByteArray name =
                zip_get_name(z.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (name == want || name.endsWith('/' + want)) index = i;
        }
        if (index < 0)
            return f.path + QStringLiteral(": the archive holds no entry for its source");
        std::unique_ptr<zip_file_t, EntryCloser> e(
            zip_fopen_index(z.get(), static_cast<zip_uint64_t>(index), 0));
        if (!e)
            return f.path + QStringLiteral(": the entry cannot be read (%1)")
                                .arg(QString::fromUtf8(zip_strerror(z.get())));
        for (;;) {
            // Reading to the end makes libzip check the CRC.
            const zip_int64_t n = zip_fread(e.get(), buffer.data(), buffer.size());
            if (n < 0)
                return f.path + QStringLiteral(": the archive is damaged (%1)")
                                    .arg(QString::fromUtf8(zip_file_strerror(e.get())));
            if (n == 0) break;
            if (!take(n)) return {};
        }
    } else {
        for (;;) {
            const ssize_t n = ::read(fd.get(), buffer.data(), static_cast<size_t>(buffer.size()));
            if (n < 0) {
                if (errno == EINTR) continue;
                return f.path + QStringLiteral(": ") + sysError();
            }
            if (n == 0) break;
            if (!take(n)) return {};
        }
    }
    if (total != f.record.size || hash.result().toHex() != f.record.sha256)
        return f.path + QStringLiteral(": its bytes differ from the recorded checksum");
    return {};
}

bool isDatabase(const QString& name) {
    return name.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".accdb"), Qt::CaseInsensitive);
}

// Empty when the engine finds `file` sound or does not read its format (an .accdb of a later
// engine); else what it found.
QString checkDatabase(const QString& file, const QString& shown) {
    try {
        const auto db = jet::Database::open(fileNameToBytes(file).toStdString());
        const jet::CheckReport report = jet::check(*db);
        if (!report.sound())
            return shown + QStringLiteral(": the restored database is damaged (%1)")
                               .arg(QString::fromStdString(report.problems.front().text()));
    } catch (const jet::JetError& e) {
        if (!shown.endsWith(QLatin1String(".accdb"), Qt::CaseInsensitive))
            return shown + QStringLiteral(": the restored database cannot be read (%1)")
                               .arg(QString::fromStdString(e.what()));
    } catch (const std::exception& e) {
        return shown + QStringLiteral(": the restored database cannot be checked (%1)")
                           .arg(QString::fromLocal8Bit(e.what()));
    }
    return {};
}

QString inUse(const QString& target) {
    QString why = inUseReason(target);
    if (why.isEmpty()) why = inUseReason(lockFileOf(target));
    return why.isEmpty() ? QString()
                         : target + QStringLiteral(": the database is in use (%1)").arg(why);
}

// "NAME.before-restore-YYYYMMDD-HHMMSS.EXT" for `name`.
QByteArray keepName(const QByteArray& name, const QDateTime& when, int n) {
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    QByteArray keep =
        stem + ".before-restore-" + when.toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    if (n > 1) keep += '-' + QByteArray::number(n);
    return keep + ext;
}

// Removes the second name a failed restore made; the file itself stays under its own name.
void dropName(int folderFd, const QByteArray& folder, const QByteArray& name) {
    if (::unlinkat(folderFd, name.constData(), 0) != 0)
        complain(fileNameFromBytes(folder + '/' + name) +
                 QStringLiteral(": this second name of the file could not be removed (%1)")
                     .arg(sysError()));
}

} // namespace

int runRestore(const RestoreRequest& request) {
    Found found;
    QString why;
    if (!identify(absoluteFileName(request.backup), found, why)) return refuse(why);
    const QString target = request.to.isEmpty() ? fileNameFromBytes(found.record.source)
                                                : absoluteFileName(request.to);
    const QByteArray targetBytes = fileNameToBytes(target);
    const qsizetype slash = targetBytes.lastIndexOf('/');
    const QByteArray folderBytes = slash == 0 ? QByteArray("/") : targetBytes.left(slash);
    const QByteArray name = targetBytes.mid(slash + 1);

    struct stat st {};
    const bool exists = ::lstat(targetBytes.constData(), &st) == 0;
    if (!exists && errno != ENOENT) return refuse(target + QStringLiteral(": ") + sysError());
    if (exists && !S_ISREG(st.st_mode))
        return refuse(target + QStringLiteral(": not a regular file; nothing was changed"));
    if (const QString busy = inUse(target); !busy.isEmpty()) return refuse(busy);

    if (request.dryRun) {
        if (const QString wrong = readBackup(found, {}); !wrong.isEmpty()) return refuse(wrong);
        say(QStringLiteral("Would restore %1 (%2, %3 bytes, checksum matches) to %4")
                .arg(found.path, found.zip ? QStringLiteral("zip") : QStringLiteral("copy"))
                .arg(found.record.size)
                .arg(target));
        if (exists)
            say(QStringLiteral("Would keep the current file as %1")
                    .arg(fileNameFromBytes(folderBytes + '/' +
                                           keepName(name, QDateTime::currentDateTime(), 1))));
        return HeadlessOk;
    }

    // A backup or a compaction must not read or rewrite the files while one is put back.
    JobLock files(QStringLiteral("files"));
    for (bool said = false; !files.tryLock(); said = true) {
        if (!files.isOpen()) return refuse(files.error());
        if (!said)
            complain(
                QStringLiteral("The restore waits for %1 to end").arg(jobTitle(files.holder())));
        QThread::msleep(100);
    }
    files.setHolder(QStringLiteral("restore"));
    if (const QString busy = inUse(target); !busy.isEmpty()) return refuse(busy);

    posix::ReplaceOptions options;
    options.followSymlink = false;
    options.displayName = targetBytes.toStdString();
    posix::DurableReplace out;
    if (!out.open(targetBytes.toStdString(), options))
        return refuse(QString::fromStdString(out.errorMessage()));
    QString writeError;
    if (const QString wrong = readBackup(found,
                                         [&](const char* data, qint64 n) {
                                             if (out.write(data, static_cast<size_t>(n)))
                                                 return true;
                                             writeError =
                                                 QString::fromStdString(out.errorMessage());
                                             return false;
                                         });
        !wrong.isEmpty() || !writeError.isEmpty())
        return refuse(writeError.isEmpty() ? wrong : writeError);
    if (!out.sync()) return refuse(QString::fromStdString(out.errorMessage()));
    if (isDatabase(target)) {
        const QString temp =
            fileNameFromBytes(folderBytes + '/' + QByteArray::fromStdString(out.tempName()));
        if (const QString damaged = checkDatabase(temp, target); !damaged.isEmpty())
            return refuse(damaged);
    }
    // Asked again just before the switch: the check above took a while.
    if (const QString busy = inUse(target); !busy.isEmpty()) return refuse(busy);

    const posix::UniqueFd folder(
        ::open(folderBytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return refuse(fileNameFromBytes(folderBytes) + QStringLiteral(": ") + sysError());
    QByteArray kept;
    if (out.targetExisted()) {
        // A second name for the old file keeps its owner, mode, ACLs and attributes exactly.
        const QDateTime when = QDateTime::currentDateTime();
        for (int n = 1; kept.isEmpty() && n < 100; ++n) {
            const QByteArray candidate = keepName(name, when, n);
            if (::linkat(folder.get(), name.constData(), folder.get(), candidate.constData(), 0) ==
                0)
                kept = candidate;
            else if (errno != EEXIST)
                return refuse(target + QStringLiteral(": the current file cannot be kept (%1); "
                                                      "nothing was changed")
                                           .arg(sysError()));
        }
        if (kept.isEmpty()) return refuse(target + QStringLiteral(": no free name to keep it"));
        struct stat linked {};
        if (::fstatat(folder.get(), kept.constData(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
            linked.st_ino != out.targetStat().st_ino || linked.st_dev != out.targetStat().st_dev) {
            dropName(folder.get(), folderBytes, kept);
            return refuse(target + QStringLiteral(": the file changed while it was restored; "
                                                  "nothing was changed"));
        }
    }
    // A target that did not exist is never replaced by one that appeared meanwhile.
    if (!(out.targetExisted() ? out.commit() : out.commitAsNew(name.toStdString()))) {
        if (!kept.isEmpty()) dropName(folder.get(), folderBytes, kept);
        return refuse(QString::fromStdString(out.errorMessage()));
    }
    QString done = QStringLiteral("Restored %1 from %2").arg(target, found.path);
    if (!kept.isEmpty())
        done += QStringLiteral("; the file it replaced is kept as %1")
                    .arg(fileNameFromBytes(folderBytes + '/' + kept));
    say(done);
    logLine(done, false);
    if (!out.warning().empty()) complain(QString::fromStdString(out.warning()));
    return HeadlessOk;
}

int listBackups(const SavedSettings& settings, const QString& database) {
    if (!settings.error.isEmpty())
        return badUse(QStringLiteral("The saved settings cannot be read: ") + settings.error);
    const QString folder = settings.backup.folder;
    if (folder.trimmed().isEmpty()) return badUse(QStringLiteral("no backup folder is set"));
    QStringList databases;
    if (!database.isEmpty())
        databases << absoluteFileName(database);
    else if (settings.backup.dialogFiles.size() > 1)
        databases = settings.backup.dialogFiles;
    else if (!settings.backup.fileName.isEmpty())
        databases << settings.backup.fileName;
    if (databases.isEmpty()) return badUse(QStringLiteral("no database is picked"));
    QString error;
    const QList<BackupRecord> log = latestPerBackup(readBackupLog(folder, &error));
    if (!error.isEmpty()) {
        complain(error);
        return HeadlessFailed;
    }
    const QByteArray folderBytes = fileNameToBytes(folder);
    for (const QString& db : databases) {
        say(db + u':');
        const QByteArray source = fileNameToBytes(absoluteFileName(db));
        int listed = 0;
        for (auto it = log.crbegin(); it != log.crend(); ++it) {
            if (it->source != source) continue;
            Found f;
            f.path = fileNameFromBytes(folderBytes + '/' + it->backup);
            f.record = *it;
            f.zip = it->kind == "zip";
            struct stat st {};
            if (::lstat(fileNameToBytes(f.path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            const QString state =
                readBackup(f, {}).isEmpty() ? QStringLiteral("ok") : QStringLiteral("CHANGED");
            const QDateTime made =
                QDateTime::fromString(QString::fromLatin1(it->made), Qt::ISODate);
            ++listed;
            say(QStringLiteral("  %1  %2  %3  %4  %5")
                    .arg(made.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                    .arg(st.st_size, 12)
                    .arg(QString::fromLatin1(it->kind), -4)
                    .arg(state, -7)
                    .arg(f.path));
        }
        if (listed == 0) say(QStringLiteral("  no backups"));
    }
    return HeadlessOk;
}

} // namespace tarnwick::jobs
