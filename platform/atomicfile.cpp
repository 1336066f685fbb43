#include "platform/atomicfile.h"

#include "platform/posix/durablereplace.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

QString errnoText(const char* what, const QString& path) {
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(what), path, QString::fromLocal8Bit(strerror(errno)));
}

bool makeFolders(const QString& folder, mode_t mode, QString* error) {
    const QByteArray p = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(p.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
        *error = errnoText("cannot use folder", folder);
        return false;
    }
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !makeFolders(parent, mode, error)) return false;
    if (::mkdir(p.constData(), mode) != 0 && errno != EEXIST) {
        *error = errnoText("cannot create folder", folder);
        return false;
    }
    // The umask may have taken bits away; a folder we create gets exactly what was asked.
    if (::chmod(p.constData(), mode) != 0) {
        *error = errnoText("cannot set permissions of folder", folder);
        return false;
    }
    return true;
}

bool readBackEquals(int fd, const QByteArray& data) {
    QByteArray back(data.size() + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < back.size()) {
        const ssize_t n = ::pread(fd, back.data() + got, size_t(back.size() - got), off_t(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += n;
    }
    return got == data.size() && std::memcmp(back.constData(), data.constData(), size_t(got)) == 0;
}

} // namespace

FolderLock::FolderLock(const QString& folder, mode_t newFolderMode) {
    if (!makeFolders(folder, newFolderMode, &m_error)) return;
    m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errnoText("cannot open folder", folder);
        return;
    }
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        m_error = errnoText("cannot lock folder", folder);
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

FolderLock::~FolderLock() {
    if (m_fd >= 0) ::close(m_fd);
}

QString atomicTempPrefix(const QString& path) {
    return QLatin1Char('.') + QFileInfo(path).fileName() + QLatin1String(".tmp-");
}

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error,
                         NewFileModes modes) {
    QString ignored;
    QString& err = error ? *error : ignored;
    err.clear();

    // The folder of the file itself: through a link, that is where the temporary file goes.
    QFileInfo info(path);
    if (info.isSymLink()) info = QFileInfo(info.symLinkTarget());
    if (!makeFolders(info.absolutePath(), modes.folder, &err)) return false;

    posix::ReplaceOptions options;
    options.newFileMode = modes.file;
    options.naming.prefix = QFile::encodeName(atomicTempPrefix(info.fileName())).toStdString();
    options.naming.suffix.clear();
    posix::DurableReplace file;
    const auto failed = [&] {
        err = QFile::decodeName(QByteArray::fromStdString(file.errorMessage()));
        return false;
    };
    if (!file.open(QFile::encodeName(path).toStdString(), options)) return failed();
    if (!file.write(data.constData(), size_t(data.size()))) return failed();
    if (!readBackEquals(file.fd(), data)) {
        err = QStringLiteral("read-back differs for %1").arg(path);
        return false;
    }
    return file.commit() || failed();
}

} // namespace tarnwick
