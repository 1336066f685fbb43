#include "daoengine/dbfile.h"

#include "automation/automationerror.h"
#include "jet/error.h"
#include "jet/header.h"

#include <QDir>
#include <QFile>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::daoengine {

using automation::EAutomationError;

namespace message {
QString notFound(const QString& path) {
    return QStringLiteral("The database file %1 does not exist.")
        .arg(QDir::toNativeSeparators(path));
}
QString notDatabase(const QString& path, const QString& why) {
    return QStringLiteral("%1 is not a database file: %2.")
        .arg(QDir::toNativeSeparators(path), why);
}
QString formatNotRecognised(const QString& path, EngineVersion engine, const FileFormat& format) {
    const QString name =
        engine == EngineVersion::V35 ? QStringLiteral("3.5") : QStringLiteral("3.6");
    if (format.aceVersion != 0)
        return QStringLiteral("The format of %1 is not recognised by the %2 engine: it is an ACE "
                              "%3 (Access 2007 or later) database, which needs the 12.0 engine.")
            .arg(QDir::toNativeSeparators(path), name, QString::number(format.aceVersion));
    return QStringLiteral("The format of %1 is not recognised by the %2 engine: it is a Jet 4 "
                          "(Access 2000) database, which needs the 3.6 engine.")
        .arg(QDir::toNativeSeparators(path), name);
}
QString inUse(const QString& path) {
    return QStringLiteral("%1 is in use by another program or connection.")
        .arg(QDir::toNativeSeparators(path));
}
QString wrongPassword(const QString& path) {
    return QStringLiteral("Not a valid password for %1.").arg(QDir::toNativeSeparators(path));
}
QString encrypted(const QString& path, const std::string& detail) {
    // The Jet engine's own words after the file's name, as every command says them.
    return QDir::toNativeSeparators(path) + QLatin1Char(' ') + QString::fromStdString(detail);
}
} // namespace message

namespace {

// Opens a regular file without blocking on a FIFO or device, which are refused.
int openRegular(const QString& path, int access = O_RDONLY) {
    if (path.isEmpty()) throw EAutomationError(message::notFound(path));
    const int fd = ::open(QFile::encodeName(path).constData(), access | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw EAutomationError(message::notFound(path));
        throw EAutomationError(
            QStringLiteral("%1 cannot be opened: %2")
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno))));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw EAutomationError(message::notDatabase(path, QStringLiteral("not a regular file")));
    }
    return fd;
}

} // namespace

FileFormat probeDatabaseFile(const QString& path) {
    const int fd = openRegular(path);
    std::array<std::uint8_t, 0x20> head{};
    const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
    ::close(fd);
    if (n != static_cast<ssize_t>(head.size()))
        throw EAutomationError(message::notDatabase(path, QStringLiteral("the file is too short")));
    try {
        const jet::Bytes first(head.data(), head.size());
        return {jet::detectVersion(first), jet::detectAceVersion(first)};
    } catch (const jet::JetError& e) {
        throw EAutomationError(message::notDatabase(path, QString::fromStdString(e.detail())));
    }
}

void requireEngineReads(EngineVersion engine, const FileFormat& format, const QString& path) {
    // The 3.5 and 3.6 engines cannot open Access 2007 files, whatever they hold.
    const bool refused = engine == EngineVersion::V35
                             ? format.version == jet::Version::Jet4
                             : engine == EngineVersion::V36 && format.aceVersion != 0;
    if (refused) throw EAutomationError(message::formatNotRecognised(path, engine, format));
}

// Open-file-description locks, as the Jet engine's compaction and repair take them, so that
// either refuses while the other holds the file (also within one process).
FileLock::FileLock(const QString& path, bool exclusive)
    : m_fd(openRegular(path, exclusive ? O_RDWR : O_RDONLY)) {
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(m_fd, F_OFD_SETLK, &fl) != 0) {
        release();
        throw EAutomationError(message::inUse(path));
    }
}

FileLock::~FileLock() {
    release();
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void FileLock::release() {
    if (m_fd >= 0) ::close(m_fd); // closing drops the lock
    m_fd = -1;
}

QString connectValue(const QString& connect, const QString& key) {
    for (const QString& part : connect.split(QLatin1Char(';'))) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq > 0 && part.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return part.mid(eq + 1);
    }
    return {};
}

} // namespace tarnwick::daoengine
