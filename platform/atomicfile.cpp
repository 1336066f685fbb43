#include "platform/atomicfile.h"

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

// A temporary file untouched for this long whose writer holds no lock is an orphan.
constexpr time_t kOrphanAgeSeconds = 10;

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
    ::chmod(p.constData(), mode);
    return true;
}

bool writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
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

void removeOrphans(const QString& folder, const QString& prefix) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) return;
    const QByteArray pre = QFile::encodeName(prefix);
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, pre.constData(), size_t(pre.size())) != 0) continue;
        const int fd = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        // A writer keeps its temporary file locked until it is renamed; a dead one cannot.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > kOrphanAgeSeconds &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), e->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
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

    QString target = path;
    QFileInfo info(path);
    if (info.isSymLink()) {
        // Replace what the link points at, not the link (dotfile managers link these files).
        target = info.symLinkTarget();
        info = QFileInfo(target);
    }
    const QString folder = info.absolutePath();
    if (!makeFolders(folder, modes.folder, &err)) return false;

    mode_t mode = modes.file;
    struct stat old {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            errno = EISDIR;
            err = errnoText("not a regular file", target);
            return false;
        }
        mode = old.st_mode & 07777;
    }

    const QString prefix = atomicTempPrefix(target);
    removeOrphans(folder, prefix);

    QByteArray tmpl = QFile::encodeName(folder + QLatin1Char('/') + prefix) + "XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        err = errnoText("cannot create a temporary file in", folder);
        return false;
    }
    const QString tmpName = QFile::decodeName(tmpl);
    auto fail = [&](const char* what) {
        err = errnoText(what, tmpName);
        ::close(fd);
        ::unlink(tmpl.constData());
        return false;
    };
    ::flock(fd, LOCK_EX);
    if (::fchmod(fd, mode) != 0) return fail("cannot set permissions of");
    if (!writeAll(fd, data)) return fail("cannot write");
    if (::fsync(fd) != 0) return fail("cannot flush");
    if (!readBackEquals(fd, data)) {
        errno = EIO;
        return fail("read-back differs for");
    }
    if (::rename(tmpl.constData(), QFile::encodeName(target).constData()) != 0)
        return fail("cannot rename");
    ::close(fd);

    const int dfd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

} // namespace tarnwick
