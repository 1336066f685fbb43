#include "platform/posix/durablereplace.h"

#include "platform/posix/faults.h"
#include "platform/posix/pathparts.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnwick::posix {

namespace {

// Gives `fd` the owner and group of `target` as far as we are allowed: a user who may not give
// files away keeps at least the group where it can. Returns 0 or an errno other than EPERM.
int giveOwner(int fd, const struct stat& target) {
    if (target.st_uid == ::geteuid() && target.st_gid == ::getegid()) return 0;
    if (::fchown(fd, target.st_uid, target.st_gid) == 0) return 0;
    if (::fchown(fd, uid_t(-1), target.st_gid) == 0 || errno == EPERM) return 0;
    return errno;
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

} // namespace

bool DurableReplace::fail(int err, const std::string& what, const std::string& path,
                          bool withReason) {
    m_error = err ? err : EIO;
    m_message = what + " " + path;
    if (withReason) m_message += std::string(": ") + errorText(m_error);
    return false;
}

bool DurableReplace::open(const std::string& path, const ReplaceOptions& options) {
    return openAt(AT_FDCWD, path, options);
}

bool DurableReplace::openAt(int folderFd, const std::string& path, const ReplaceOptions& options) {
    discard();
    m_options = options;
    m_display = options.displayName.empty() ? path : options.displayName;
    m_error = 0;
    m_message.clear();
    m_warning.clear();
    m_existed = false;
    m_prepared = false;
    m_refused = false;

    std::string folder = folderOf(path);
    m_name = nameOf(path);
    if (m_name.empty() || m_name == "." || m_name == "..")
        return fail(EISDIR, "cannot replace", m_display);

    struct stat st {};
    if (!m_options.newNameOnly &&
        ::fstatat(folderFd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        if (!m_options.followSymlink) {
            m_refused = true;
            return fail(ELOOP, "will not write through the symbolic link", m_display, false);
        }
        // Through the link to its file: that file is replaced, the link stays as it is.
        std::string viaFd = folderFd == AT_FDCWD || path.starts_with('/')
                                ? path
                                : "/proc/self/fd/" + std::to_string(folderFd) + "/" + path;
        char* real = ::realpath(viaFd.c_str(), nullptr);
        if (!real) {
            if (errno != ENOENT) return fail(errno, "cannot follow the link", m_display);
            // A dangling link: the file it names is created.
            char buf[PATH_MAX];
            const ssize_t n = ::readlinkat(folderFd, path.c_str(), buf, sizeof buf - 1);
            if (n < 0) return fail(errno, "cannot read the link", m_display);
            std::string to(buf, size_t(n));
            if (!to.starts_with('/')) to = folderOf(viaFd) + "/" + to;
            char* realFolder = ::realpath(folderOf(to).c_str(), nullptr);
            if (!realFolder) return fail(errno, "cannot follow the link", m_display);
            folder = realFolder;
            std::free(realFolder);
            m_name = nameOf(to);
        } else {
            folder = folderOf(real);
            m_name = nameOf(real);
            std::free(real);
        }
        folderFd = AT_FDCWD;
    }

    m_folder.reset(::openat(folderFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_folder) return fail(errno, "cannot open the folder of", m_display);

    if (m_options.newNameOnly) {
        m_mode = m_options.newFileMode & 07777;
    } else if (::fstatat(m_folder.get(), m_name.c_str(), &m_target, AT_SYMLINK_NOFOLLOW) == 0) {
        m_refused = !S_ISREG(m_target.st_mode);
        if (S_ISLNK(m_target.st_mode))
            return fail(ELOOP, "will not write through the symbolic link", m_display, false);
        if (m_refused)
            return fail(EEXIST, std::string("will not replace ") + kindOf(m_target.st_mode) + ":",
                        m_display, false);
        m_existed = true;
        m_mode = m_target.st_mode & 07777;
    } else if (errno != ENOENT) {
        return fail(errno, "cannot look at", m_display);
    } else {
        m_mode = m_options.newFileMode & 07777;
    }

    m_scratchFd = m_options.scratchFolderFd >= 0 ? m_options.scratchFolderFd : m_folder.get();
    if (m_options.sweep) {
        sweepOrphans(m_folder.get(), m_options.naming);
        if (m_scratchFd != m_folder.get()) sweepOrphans(m_scratchFd, m_options.naming);
    }
    m_temp = createTemp(m_scratchFd, m_options.naming, &m_tempName, &m_cleanup);
    if (!m_temp && m_scratchFd != m_folder.get()) {
        // An unusable scratch folder is no reason to fail: the target's own folder will do.
        m_scratchFd = m_folder.get();
        m_temp = createTemp(m_scratchFd, m_options.naming, &m_tempName, &m_cleanup);
    }
    if (!m_temp) return fail(errno, "cannot create a temporary file beside", m_display);
    return true;
}

bool DurableReplace::write(const void* data, size_t size) {
    if (!m_temp) return fail(EBADF, "cannot write", m_display);
    if (const int e = writeAll(m_temp.get(), data, size)) {
        discard();
        return fail(e, "cannot write", m_display);
    }
    return true;
}

bool DurableReplace::sync() {
    if (!m_temp) return fail(EBADF, "cannot write", m_display);
    if (m_prepared) return true;
    // An existing file's owner stays; without the right to give files away, what can be kept is.
    if (m_existed && m_options.keepOwner)
        if (const int e = giveOwner(m_temp.get(), m_target))
            return fail(e, "cannot set the owner of", m_display);
    if (::fchmod(m_temp.get(), m_mode) != 0)
        return fail(errno, "cannot set the permissions of", m_display);
    if (const int e = syncFile(m_temp.get())) return fail(e, "cannot flush", m_display);
    m_prepared = true;
    return true;
}

bool DurableReplace::moveAcross(const std::string& name, unsigned flags) {
    // The scratch file lies on another file system: copy it beside the target, then move that.
    std::string besideName;
    SignalCleanup cleanup;
    UniqueFd beside = createTemp(m_folder.get(), m_options.naming, &besideName, &cleanup);
    if (!beside) return fail(errno, "cannot create a temporary file beside", m_display);
    const auto drop = [&](int err, const char* what) {
        ::unlinkat(m_folder.get(), besideName.c_str(), 0);
        return fail(err, what, m_display);
    };
    std::vector<char> buf(1 << 20);
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(m_temp.get(), buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return drop(errno, "cannot read back the temporary file for");
        if (n == 0) break;
        if (const int e = writeAll(beside.get(), buf.data(), size_t(n)))
            return drop(e, "cannot write");
        at += n;
    }
    if (::fchmod(beside.get(), m_mode) != 0) return drop(errno, "cannot set the permissions of");
    if (m_existed && m_options.keepOwner)
        if (const int e = giveOwner(beside.get(), m_target))
            return drop(e, "cannot set the owner of");
    if (const int e = syncFile(beside.get())) return drop(e, "cannot flush");
    if (const int e = beside.close()) return drop(e, "cannot write");
    if (const int e =
            renameAt(m_folder.get(), besideName.c_str(), m_folder.get(), name.c_str(), flags)) {
        if (e == EEXIST) {
            ::unlinkat(m_folder.get(), besideName.c_str(), 0);
            m_error = EEXIST;
            m_message = "already exists: " + name;
            return false;
        }
        return drop(e, "cannot move into place");
    }
    cleanup.disarm();
    dropTempName(m_scratchFd, m_tempName);
    return true;
}

void DurableReplace::dropTempName(int folderFd, const std::string& name) {
    if (const int e = unlinkAt(folderFd, name.c_str()))
        m_warning =
            "cannot remove the temporary file " + name + " of " + m_display + ": " + errorText(e);
}

bool DurableReplace::finish(const std::string& name, unsigned flags) {
    if (!sync()) return false;
    int e = renameAt(m_scratchFd, m_tempName.c_str(), m_folder.get(), name.c_str(), flags);
    if (flags && (e == EINVAL || e == ENOSYS)) {
        // No RENAME_NOREPLACE on this file system: a hard link refuses an existing name too.
        e = ::linkat(m_scratchFd, m_tempName.c_str(), m_folder.get(), name.c_str(), 0) == 0 ? 0
                                                                                            : errno;
        if (e == 0) dropTempName(m_scratchFd, m_tempName);
    }
    if (e == EXDEV) {
        if (!moveAcross(name, flags)) return false;
        e = 0;
    } else if (e == EEXIST && flags) {
        m_error = EEXIST;
        m_message = "already exists: " + name;
        return false;
    } else if (e) {
        return fail(e, "cannot move into place", m_display);
    }
    // In place: nothing of ours to remove any more, whatever happens next.
    m_cleanup.disarm();
    m_temp.reset();
    m_tempName.clear();
    m_name = name;
    if (const int se = syncFolder(m_folder.get()))
        return fail(se, "cannot flush the folder of", m_display);
    return true;
}

bool DurableReplace::commit() {
    const bool ok = finish(m_name, 0);
    if (!ok) discard();
    return ok;
}

bool DurableReplace::commitAsNew(const std::string& name) {
    const bool ok = finish(name, RENAME_NOREPLACE);
    if (!ok && m_error != EEXIST) discard();
    return ok;
}

void DurableReplace::discard() {
    if (!m_tempName.empty()) ::unlinkat(m_scratchFd, m_tempName.c_str(), 0);
    m_cleanup.disarm();
    m_temp.reset();
    m_tempName.clear();
    m_prepared = false;
}

} // namespace tarnwick::posix
