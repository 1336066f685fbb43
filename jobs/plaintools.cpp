#include "jobs/plaintools.h"

#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jobs {

namespace {

QString sysError() {
    return QString::fromLocal8Bit(strerror(errno));
}

// Copies the open `in` into `out` and syncs it.
bool copyData(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return false;
            done += put;
        }
    }
    return ::fsync(out) == 0;
}

// `name` in `folder`, or "stem (n).ext" for the first free n.
QString candidate(const QString& folder, const QFileInfo& source, int n) {
    if (n < 2) return folder + u'/' + source.fileName();
    const QString suffix = source.suffix();
    return folder + u'/' + source.completeBaseName() + QStringLiteral(" (%1)").arg(n) +
           (suffix.isEmpty() ? QString() : u'.' + suffix);
}

} // namespace

BackupTools::CopyResult PlainBackupTools::copyFiles(const QStringList& files,
                                                    const QString& folder) {
    CopyResult result;
    lastErrors.clear();
    const QByteArray dir = QFile::encodeName(folder);
    for (const QString& file : files) {
        auto fail = [&](const QString& why) {
            ++result.failures;
            lastErrors << file + QStringLiteral(": ") + why;
        };
        const int in = ::open(QFile::encodeName(file).constData(),
                              O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (in < 0) {
            fail(sysError());
            continue;
        }
        struct stat st {};
        if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(in);
            fail(QStringLiteral("not a regular file"));
            continue;
        }
        QByteArray temp = dir + "/.tarnwick-copy-XXXXXX";
        const int out = ::mkostemp(temp.data(), O_CLOEXEC);
        if (out < 0) {
            ::close(in);
            fail(sysError());
            continue;
        }
        const bool copied = copyData(in, out) && ::fchmod(out, st.st_mode & 0666) == 0;
        ::close(in);
        if (::close(out) != 0 || !copied) {
            fail(sysError());
            ::unlink(temp.constData());
            continue;
        }
        // Never replace an existing file: link under a free name, then drop the temporary one.
        QString target;
        for (int n = 1; n < 1000 && target.isEmpty(); ++n) {
            const QString name = candidate(folder, QFileInfo(file), n);
            if (::link(temp.constData(), QFile::encodeName(name).constData()) == 0)
                target = name;
            else if (errno != EEXIST)
                break;
        }
        const int linkError = errno;
        ::unlink(temp.constData());
        if (target.isEmpty()) {
            errno = linkError;
            fail(sysError());
            continue;
        }
        result.written << target;
    }
    const int d = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        if (::fsync(d) != 0) lastErrors << folder + QStringLiteral(": ") + sysError();
        ::close(d);
    }
    return result;
}

QStringList PlainBackupTools::zipFile(const QString& file, const QString& archive) {
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(archive).constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!z) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString why = QString::fromUtf8(zip_error_strerror(&e));
        zip_error_fini(&e);
        return {QStringLiteral("the archive cannot be made (%1)").arg(why)};
    }
    auto failed = [&] {
        const QString why = QString::fromUtf8(zip_strerror(z));
        zip_discard(z);
        return QStringList{why};
    };
    zip_source_t* src = zip_source_file(z, QFile::encodeName(file).constData(), 0, -1);
    if (!src) return failed();
    const zip_int64_t index =
        zip_file_add(z, QFileInfo(file).fileName().toUtf8().constData(), src, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(src);
        return failed();
    }
    if (zip_set_file_compression(z, zip_uint64_t(index), ZIP_CM_DEFLATE, 9) != 0) return failed();
    if (zip_close(z) != 0) return failed();
    return {};
}

} // namespace tarnwick::jobs
