#include "maintain/dblock.h"

#include "jet/error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace tarnwick::jet {

namespace {

const std::string kStructure = "file";
constexpr char kInUse[] = "the database is in use";

[[noreturn]] void fail(const std::string& what) {
    throw JetError(kStructure, JetError::noPage, what + ": " + std::strerror(errno));
}

// Whether another process holds a lock anywhere on the file.
bool lockedByOthers(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string lockFileOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return path + ".ldb";
    return path.substr(0, dot) + ".ldb";
}

DatabaseLock::DatabaseLock(const std::string& path) : path_(path) {
    // Non-blocking open: a FIFO planted under the name must not hang us.
    int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    fd_ = ::open(path.c_str(), flags);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS)) {
        flags = (flags & ~O_RDWR) | O_RDONLY;
        fd_ = ::open(path.c_str(), flags);
    }
    if (fd_ < 0) {
        if (errno == ELOOP) {
            errno = 0;
            throw JetError(kStructure, JetError::noPage,
                           path + " is a symbolic link; give the database itself");
        }
        fail("cannot open " + path);
    }
    try {
        if (::fstat(fd_, &status_) != 0) fail("cannot look at " + path);
        if (!S_ISREG(status_.st_mode))
            throw JetError(kStructure, JetError::noPage, path + " is not a regular file");
        if (lockedByOthers(fd_))
            throw DatabaseInUse("database", JetError::noPage,
                                std::string(kInUse) + ": another program holds a lock on " +
                                    baseName(path));
        const std::string ldb = lockFileOf(path);
        struct stat ls {};
        if (::lstat(ldb.c_str(), &ls) == 0 && S_ISREG(ls.st_mode)) {
            const int lfd = ::open(ldb.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (lfd >= 0) {
                const bool held = lockedByOthers(lfd);
                ::close(lfd);
                if (held)
                    throw DatabaseInUse("database", JetError::noPage,
                                        std::string(kInUse) +
                                            ": another program holds its lock file " +
                                            baseName(ldb));
            }
        }
        struct flock fl {};
        fl.l_type = (flags & O_ACCMODE) == O_RDWR ? F_WRLCK : F_RDLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
            if (errno == EAGAIN || errno == EACCES)
                throw DatabaseInUse("database", JetError::noPage,
                                    std::string(kInUse) + ": another program holds a lock on " +
                                        baseName(path));
            fail("cannot lock " + path);
        }
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

DatabaseLock::~DatabaseLock() {
    if (fd_ >= 0) ::close(fd_);
}

void copyExtendedAttributes(int from, int to, const std::string& name) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0) {
        if (errno == ENOTSUP) return; // the file system keeps none
        fail("cannot list the extended attributes of " + name);
    }
    std::vector<char> names(static_cast<std::size_t>(size) + 1);
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0) fail("cannot list the extended attributes of " + name);
    std::vector<char> value;
    for (ssize_t at = 0; at < size;) {
        const char* attr = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(attr)) + 1;
        ssize_t len = ::fgetxattr(from, attr, nullptr, 0);
        if (len < 0) fail(std::string("cannot read the attribute ") + attr + " of " + name);
        value.resize(static_cast<std::size_t>(len) + 1);
        len = ::fgetxattr(from, attr, value.data(), value.size());
        if (len < 0) fail(std::string("cannot read the attribute ") + attr + " of " + name);
        if (::fsetxattr(to, attr, value.data(), static_cast<std::size_t>(len), 0) != 0)
            fail(std::string("cannot give the new file the attribute ") + attr + " of " + name);
    }
}

} // namespace tarnwick::jet
