#include "jobs/joblock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jobs {

namespace {

// The user's runtime folder, else a private folder in /tmp.
QString lockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) return runtime + QStringLiteral("/tarnwick");
    return QStringLiteral("/tmp/tarnwick-%1").arg(::getuid());
}

} // namespace

JobLock::JobLock(const QString& job)
    : m_path(lockFolder() + QStringLiteral("/") + job + QStringLiteral(".lock")) {}

JobLock::~JobLock() {
    unlock();
}

void JobLock::unlock() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_held = false;
}

bool JobLock::open() {
    if (m_fd >= 0) return true;
    const QByteArray folder = QFile::encodeName(lockFolder());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        m_error = QStringLiteral("cannot make %1: %2")
                      .arg(QString::fromLocal8Bit(folder), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // The folder must be ours and private: anyone else could hold our locks.
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        m_error = QStringLiteral("%1 is not a private folder of this user")
                      .arg(QString::fromLocal8Bit(folder));
        return false;
    }
    m_fd = ::open(QFile::encodeName(m_path).constData(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (m_fd < 0) {
        m_error = QStringLiteral("cannot open %1: %2")
                      .arg(m_path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
}

bool JobLock::tryLock() {
    if (m_held) return true;
    if (!open()) return false;
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_held = true;
        return true;
    }
    m_error = errno == EWOULDBLOCK ? QStringLiteral("the job is already running")
                                   : QString::fromLocal8Bit(strerror(errno));
    return false;
}

bool JobLock::lock(int ms) {
    QDeadlineTimer deadline(ms);
    for (;;) {
        if (tryLock()) return true;
        if (m_fd < 0 || deadline.hasExpired()) return false;
        QThread::msleep(100);
    }
}

bool JobLock::setHolder(const QString& holder) {
    if (!m_held) return false;
    const QByteArray text = holder.toUtf8();
    return ::ftruncate(m_fd, 0) == 0 &&
           ::pwrite(m_fd, text.constData(), size_t(text.size()), 0) == text.size();
}

QString JobLock::holder() const {
    if (m_fd < 0) return {};
    char buffer[64];
    const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, 0);
    return n > 0 ? QString::fromUtf8(buffer, n) : QString();
}

} // namespace tarnwick::jobs
