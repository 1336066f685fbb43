#include "maintain/dblock.h"

#include "jet/error.h"
#include "jet/permissions.h"
#include "platform/posix/filelocks.h"
#include "platform/posix/pathparts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace tarnwick::jet {

using posix::folderOf;
using posix::nameOf;

namespace {

const std::string kStructure = "file";
constexpr char kInUse[] = "the database is in use";

[[noreturn]] void fail(const std::string& what) {
    throw JetError(kStructure, JetError::noPage, what + ": " + std::strerror(errno));
}

// The name /etc/passwd or /etc/group gives `id` (read directly: the static tools have no
// name services), or "uid N" / "gid N".
std::string nameFromFile(const char* file, unsigned id, const char* kind) {
    std::FILE* f = std::fopen(file, "re");
    const std::string number = std::to_string(id);
    std::string found;
    if (f) {
        char line[1024];
        while (found.empty() && std::fgets(line, sizeof line, f)) {
            // name:password:id:...
            const char* first = std::strchr(line, ':');
            const char* second = first ? std::strchr(first + 1, ':') : nullptr;
            const char* third = second ? std::strchr(second + 1, ':') : nullptr;
            if (third && std::string(second + 1, third) == number)
                found.assign(line, static_cast<std::size_t>(first - line));
        }
        std::fclose(f);
    }
    return found.empty() ? kind + (" " + number) : found;
}

std::string userName(uid_t uid) {
    return nameFromFile("/etc/passwd", uid, "uid");
}

std::string groupName(gid_t gid) {
    return nameFromFile("/etc/group", gid, "gid");
}

bool memberOf(gid_t gid) {
    if (gid == ::getegid()) return true;
    const int n = ::getgroups(0, nullptr);
    if (n < 0) fail("cannot list the groups of " + userName(::geteuid()));
    std::vector<gid_t> groups(static_cast<std::size_t>(n) + 1);
    const int got = ::getgroups(static_cast<int>(groups.size()), groups.data());
    if (got < 0) fail("cannot list the groups of " + userName(::geteuid()));
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    return false;
}

// Every check works on the open file, so that what is judged is what will be replaced.
void requireKeepable(int fd, const struct stat& st, const std::string& path,
                     const std::string& doing) {
    const auto refuse = [&](const std::string& why) {
        throw RewriteRefused(kStructure, JetError::noPage, path + " " + why);
    };
    const uid_t me = ::geteuid();
    const std::string as = " it as " + userName(me);
    if ((st.st_mode & 0222) == 0) refuse("is read-only");
    if (me != 0) {
        if (st.st_uid != me)
            refuse("is owned by " + userName(st.st_uid) + "; " + doing + as + " would make it " +
                   userName(me) + "'s");
        if ((st.st_mode & S_IWUSR) == 0) refuse("is read-only");
        if (!memberOf(st.st_gid))
            refuse("belongs to group " + groupName(st.st_gid) + "; " + doing + as +
                   " would give it to group " + groupName(::getegid()));
    }
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) != 0) fail("cannot look at the file system of " + path);
    if (vfs.f_flag & ST_RDONLY) refuse("lies on a read-only file system");
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)))
        refuse("is marked immutable or append-only");
    const std::string folder = folderOf(path);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        if (errno != EACCES && errno != EPERM) fail("cannot look at the folder of " + path);
        refuse("lies in a folder that " + userName(me) + " cannot write");
    }
    if (me == 0) return;
    // Only root may set attributes outside the user and ACL namespaces (and only root sees
    // the trusted ones, which no other user can list, let alone keep).
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) {
        if (errno == ENOTSUP) return;
        fail("cannot list the extended attributes of " + path);
    }
    std::vector<char> names(static_cast<std::size_t>(size) + 1);
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got < 0) fail("cannot list the extended attributes of " + path);
    for (ssize_t at = 0; at < got;) {
        const std::string attr = names.data() + at;
        at += static_cast<ssize_t>(attr.size()) + 1;
        // (The SELinux label every file carries there is the policy's to allow.)
        if (!attr.starts_with("user.") && !attr.starts_with("system.posix_acl_") &&
            attr != "security.selinux")
            refuse("has the attribute " + attr + ", which " + doing + as + " could not keep");
    }
}

// Says why a database could not be opened; a link (refused by O_NOFOLLOW) is named as one.
[[noreturn]] void failOpen(const std::string& path) {
    if (errno == ELOOP) {
        errno = 0;
        throw JetError(kStructure, JetError::noPage,
                       path + " is a symbolic link; give the database itself");
    }
    fail("cannot open " + path);
}

} // namespace

void requireKeepable(const DatabaseLock& lock, const std::string& doing) {
    requireKeepable(lock.fd(), lock.status(), lock.path(), doing);
}

void requireKeepable(const std::string& path, const std::string& doing) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        failOpen(path);
    }
    try {
        struct stat st {};
        if (::fstat(fd, &st) != 0) fail("cannot look at " + path);
        if (!S_ISREG(st.st_mode))
            throw JetError(kStructure, JetError::noPage, path + " is not a regular file");
        requireKeepable(fd, st, path, doing);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

std::string lockFileOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return path + ".ldb";
    // Access 2007 files keep their lock in ".laccdb".
    const std::string extension = path.substr(dot + 1);
    if (extension.size() >= 3 && (extension[0] | 0x20) == 'a' && (extension[1] | 0x20) == 'c' &&
        (extension[2] | 0x20) == 'c')
        return path.substr(0, dot) + ".laccdb";
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
        failOpen(path);
    }
    try {
        if (::fstat(fd_, &status_) != 0) fail("cannot look at " + path);
        if (!S_ISREG(status_.st_mode))
            throw JetError(kStructure, JetError::noPage, path + " is not a regular file");
        if (posix::lockedByOthers(fd_, false))
            throw DatabaseInUse("database", JetError::noPage,
                                std::string(kInUse) + ": another program holds a lock on " +
                                    nameOf(path));
        // A client may keep the database open without locking it.
        if (const posix::FileUse open = posix::openElsewhere(status_.st_dev, status_.st_ino);
            open.inUse)
            throw DatabaseInUse("database", JetError::noPage,
                                std::string(kInUse) + ": " + nameOf(path) + " is " + open.text());
        const std::string ldb = lockFileOf(path);
        struct stat ls {};
        if (::lstat(ldb.c_str(), &ls) == 0 && S_ISREG(ls.st_mode)) {
            const int lfd = ::open(ldb.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (lfd >= 0) {
                const bool held = posix::lockedByOthers(lfd, false);
                struct stat lockStatus {};
                const bool known = ::fstat(lfd, &lockStatus) == 0;
                ::close(lfd);
                if (held)
                    throw DatabaseInUse("database", JetError::noPage,
                                        std::string(kInUse) +
                                            ": another program holds its lock file " + nameOf(ldb));
                if (const posix::FileUse open =
                        known ? posix::openElsewhere(lockStatus.st_dev, lockStatus.st_ino)
                              : posix::FileUse{};
                    open.inUse)
                    throw DatabaseInUse("database", JetError::noPage,
                                        std::string(kInUse) + ": its lock file " + nameOf(ldb) +
                                            " is " + open.text());
            }
        }
        switch (posix::lockWholeFile(fd_, (flags & O_ACCMODE) == O_RDWR)) {
        case posix::LockResult::Taken:
            break;
        case posix::LockResult::Busy:
            throw DatabaseInUse("database", JetError::noPage,
                                std::string(kInUse) + ": another program holds a lock on " +
                                    nameOf(path));
        case posix::LockResult::Failed:
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
