#include "jobs/inuse.h"

#include "platform/filename.h"
#include "platform/posix/filelocks.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tarnwick::jobs {

bool fileInUse(const QString& path) {
    return !inUseReason(path).isEmpty();
}

QString inUseReason(const QString& path) {
    return QString::fromStdString(posix::fileUse(fileNameToBytes(path).toStdString()).text());
}

QString whyNotAFile(const QString& path) {
    struct stat st {};
    if (::stat(fileNameToBytes(path).constData(), &st) != 0) {
        if (errno == ENOENT) return QStringLiteral("the file is missing");
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISDIR(st.st_mode)) return QStringLiteral("it is a folder");
    if (S_ISFIFO(st.st_mode)) return QStringLiteral("it is a FIFO");
    return QStringLiteral("it is not a regular file");
}

} // namespace tarnwick::jobs
