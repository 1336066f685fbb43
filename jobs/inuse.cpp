#include "jobs/inuse.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jobs {

bool fileInUse(const QString& path) {
    // Never block on a FIFO or follow a planted link.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == EACCES || errno == EPERM; // there, but not ours to judge
    struct stat st {};
    bool held = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = 0;
        probe.l_len = 0;
        if (::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) held = true;
        if (!held && ::flock(fd, LOCK_EX | LOCK_NB) != 0) held = errno == EWOULDBLOCK;
        // Closing drops the probe's own lock.
    }
    ::close(fd);
    return held;
}

} // namespace tarnwick::jobs
