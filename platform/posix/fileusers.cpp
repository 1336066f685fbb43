#include "platform/posix/fileusers.h"

#include "platform/posix/uniquefd.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::posix {

namespace {

bool isNumber(const char* s) {
    if (!*s) return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

// Owns an open directory stream.
struct Dir {
    explicit Dir(DIR* d) : d(d) {}
    ~Dir() {
        if (d) ::closedir(d);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    DIR* d;
};

std::string programOf(const std::string& pid) {
    const UniqueFd fd(::open(("/proc/" + pid + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    char buf[64];
    const ssize_t n = ::read(fd.get(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string name(buf, static_cast<std::size_t>(n));
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// Whether a process holds a lock on the file behind `fd` that keeps others out.
bool lockedByOthers(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
    // The probe's own lock goes when the descriptor is closed.
    return ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

} // namespace

std::string FileUse::text() const {
    if (!inUse) return {};
    if (unreadable) return "not readable by this user";
    if (pid == 0) return "locked by another process";
    std::string t = "open in process " + std::to_string(pid);
    if (!program.empty()) t += " (" + program + ")";
    return t;
}

FileUse openElsewhere(dev_t device, ino_t inode) {
    FileUse use;
    const Dir proc(::opendir("/proc"));
    if (!proc.d) return use;
    const std::string self = std::to_string(::getpid());
    while (const dirent* e = ::readdir(proc.d)) {
        if (!isNumber(e->d_name) || e->d_name == self) continue;
        const std::string pid = e->d_name;
        // A process may end at any point here; one of another user cannot be looked into.
        const int dirFd =
            ::open(("/proc/" + pid + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) continue;
        const Dir fds(::fdopendir(dirFd));
        if (!fds.d) {
            ::close(dirFd);
            continue;
        }
        while (const dirent* f = ::readdir(fds.d)) {
            if (!isNumber(f->d_name)) continue;
            struct stat st {};
            // Follows the descriptor's link to what it has open, without opening it.
            if (::fstatat(dirFd, f->d_name, &st, 0) != 0) continue;
            if (st.st_dev == device && st.st_ino == inode) {
                use.inUse = true;
                use.pid = static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
                use.program = programOf(pid);
                return use;
            }
        }
    }
    return use;
}

FileUse fileUse(const std::string& path) {
    FileUse use;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return use;
    const UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd) {
        struct stat opened {};
        if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) return use;
        st = opened; // the file itself, should the name have been replaced meanwhile
        if (lockedByOthers(fd.get())) use.inUse = true;
    } else if (errno != EACCES && errno != EPERM) {
        return use;
    }
    FileUse open = openElsewhere(st.st_dev, st.st_ino);
    if (open.inUse) return open;
    if (!fd) use.inUse = use.unreadable = true; // there, but not ours to judge
    return use;
}

} // namespace tarnwick::posix
