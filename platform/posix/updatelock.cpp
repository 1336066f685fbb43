#include "platform/posix/updatelock.h"

#include "platform/posix/faults.h"
#include "platform/posix/pathparts.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace tarnwick::posix {

namespace {

int lockWaiting(int fd, bool* waited) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK) return errno;
    *waited = true;
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

} // namespace

bool UpdateLock::lock(const std::string& path) {
    m_fd.reset();
    m_error.clear();
    const auto fail = [&](int err, const std::string& what) {
        m_fd.reset();
        m_error = what + " " + path + (err ? std::string(": ") + errorText(err) : std::string());
        return false;
    };
    for (int attempt = 0; attempt < 1000; ++attempt) {
        // Looked at before it is opened: a socket or device is not even opened.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return fail(0, "not a regular file:");
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (fd) {
            if (::fstat(fd.get(), &st) != 0) return fail(errno, "cannot look at");
            if (!S_ISREG(st.st_mode)) return fail(0, "not a regular file:");
            if (const int e = lockWaiting(fd.get(), &m_waited)) return fail(e, "cannot lock");
            // Still the file under that name? A finished run may have replaced it meanwhile.
            struct stat now {};
            if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
                now.st_ino == st.st_ino) {
                m_fd = std::move(fd);
                return true;
            }
            continue;
        }
        if (errno != ENOENT) return fail(errno, "cannot open");
        // Not there yet: the folder stands in for it until the first run has created it.
        UniqueFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder) return fail(errno, "cannot open the folder of");
        if (const int e = lockWaiting(folder.get(), &m_waited))
            return fail(e, "cannot lock the folder of");
        if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
            m_fd = std::move(folder);
            return true;
        }
    }
    return fail(EAGAIN, "cannot lock");
}

} // namespace tarnwick::posix
