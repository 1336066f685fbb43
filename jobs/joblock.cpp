#include "jobs/joblock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <unistd.h>

namespace tarnwick::jobs {

namespace {

// The user's runtime folder, else a private folder in /tmp.
std::string lockFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QFile::encodeName(runtime + QStringLiteral("/tarnwick")).toStdString();
    return "/tmp/tarnwick-" + std::to_string(::getuid());
}

} // namespace

JobLock::JobLock(const QString& job)
    : m_file(lockFolder(), QFile::encodeName(job + QStringLiteral(".lock")).toStdString()) {}

QString JobLock::path() const {
    return QFile::decodeName(QByteArray::fromStdString(m_file.path()));
}

bool JobLock::tryLock() {
    const posix::LockResult result = m_file.tryLock();
    m_busy = result == posix::LockResult::Busy;
    switch (result) {
    case posix::LockResult::Taken:
        return true;
    case posix::LockResult::Busy:
        m_error = QStringLiteral("the job is already running");
        return false;
    case posix::LockResult::Failed:
        break;
    }
    m_error = QString::fromLocal8Bit(QByteArray::fromStdString(m_file.error()));
    return false;
}

bool JobLock::lock(int ms) {
    QDeadlineTimer deadline(ms);
    for (;;) {
        if (tryLock()) return true;
        if (!isOpen() || deadline.hasExpired()) return false;
        QThread::msleep(100);
    }
}

bool JobLock::setHolder(const QString& holder) {
    return m_file.setNote(holder.toUtf8().toStdString());
}

QString JobLock::holder() const {
    return QString::fromUtf8(QByteArray::fromStdString(m_file.note()));
}

} // namespace tarnwick::jobs
