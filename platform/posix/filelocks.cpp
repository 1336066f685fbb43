#include "platform/posix/filelocks.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

bool lockedByOthers(int fd, bool wholeFileLocks) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
    return wholeFileLocks && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

LockResult lockWholeFile(int fd, bool write) {
    struct flock fl {};
    fl.l_type = write ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return LockResult::Taken;
    return errno == EAGAIN || errno == EACCES ? LockResult::Busy : LockResult::Failed;
}

LockFile::LockFile(std::string folder, const std::string& name)
    : m_folder(std::move(folder)), m_path(m_folder + "/" + name) {}

bool LockFile::open() {
    if (m_fd) return true;
    if (::mkdir(m_folder.c_str(), 0700) != 0 && errno != EEXIST) {
        m_error = reason("cannot make " + m_folder);
        return false;
    }
    // The folder must be ours and private: anyone else could hold our locks.
    struct stat st {};
    if (::lstat(m_folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        m_error = m_folder + " is not a private folder of this user";
        return false;
    }
    m_fd.reset(
        ::open(m_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!m_fd) {
        m_error = reason("cannot open " + m_path);
        return false;
    }
    return true;
}

LockResult LockFile::tryLock() {
    if (m_held) return LockResult::Taken;
    if (!open()) return LockResult::Failed;
    if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0) {
        m_held = true;
        return LockResult::Taken;
    }
    if (errno == EWOULDBLOCK) return LockResult::Busy;
    m_error = std::strerror(errno);
    return LockResult::Failed;
}

bool LockFile::setNote(const std::string& note) {
    if (!m_held) return false;
    return ::ftruncate(m_fd.get(), 0) == 0 &&
           ::pwrite(m_fd.get(), note.data(), note.size(), 0) == static_cast<ssize_t>(note.size());
}

std::string LockFile::note() const {
    if (!m_fd) return {};
    char buffer[64];
    const ssize_t n = ::pread(m_fd.get(), buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

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
        if (lockedByOthers(fd.get(), true)) use.inUse = true;
    } else if (errno != EACCES && errno != EPERM) {
        return use;
    }
    FileUse open = openElsewhere(st.st_dev, st.st_ino);
    if (open.inUse) return open;
    if (!fd) use.inUse = use.unreadable = true; // there, but not ours to judge
    return use;
}

} // namespace tarnwick::posix
