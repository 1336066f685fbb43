#include "platform/tempfilename.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace tarnwick {

namespace {
TempFileNames* installed = nullptr;
} // namespace

TempFileNames& TempFileNames::current() {
    static SystemTempFileNames system;
    return installed ? *installed : system;
}

void TempFileNames::install(TempFileNames* names) {
    installed = names;
}

QString SystemTempFileNames::create(const QString& folder, const QString& prefix, QString* error) {
    const QString dir = folder.isEmpty() ? QDir::currentPath() : folder;
    const QString stem = prefix.left(3);
    // Start anywhere, so that concurrent callers rarely collide, then walk all 65535 numbers.
    std::random_device rd;
    const unsigned start = rd() % 0xFFFFu;
    int lastErrno = 0;
    for (unsigned i = 0; i < 0xFFFFu; ++i) {
        const unsigned n = (start + i) % 0xFFFFu + 1;
        const QString path = QDir(dir).filePath(
            stem + QStringLiteral("%1").arg(n, 4, 16, QLatin1Char('0')).toUpper() +
            QStringLiteral(".tmp"));
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (::close(fd) != 0) {
                lastErrno = errno;
                ::unlink(QFile::encodeName(path).constData());
                break;
            }
            return path;
        }
        lastErrno = errno;
        if (lastErrno != EEXIST) break;
    }
    if (error)
        *error = QStringLiteral("No temporary file name can be created in %1: %2")
                     .arg(QDir::toNativeSeparators(dir),
                          QString::fromLocal8Bit(std::strerror(lastErrno)));
    return {};
}

} // namespace tarnwick
