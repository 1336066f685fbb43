#pragma once

#include <string>
#include <sys/stat.h>

namespace tarnwick::jet {

// Holds a database while it is compacted or repaired: an exclusive open-file-description lock
// on the whole file, so that no client of ours or of a file server gets in meanwhile. Refuses
// with DatabaseInUse when another process holds any lock on the database or on its lock file
// (".ldb" beside it), which is how clients on a file share show that they have it open, or when
// another process on this machine has either of them open. The lock
// file is only looked at, never removed. Links, folders, devices and FIFOs are refused without
// blocking on them.
class DatabaseLock {
public:
    explicit DatabaseLock(const std::string& path);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

    int fd() const { return fd_; }
    const struct stat& status() const { return status_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    struct stat status_ {};
};

// The lock file Access keeps beside a database: "name.ldb" for "name.mdb", "name.laccdb" for
// "name.accdb".
std::string lockFileOf(const std::string& path);

// requireKeepable (jet/permissions.h) for the database behind `lock`.
void requireKeepable(const DatabaseLock& lock, const std::string& doing);

// Gives the file behind `to` every extended attribute of the one behind `from` (ACLs included:
// they are the attributes system.posix_acl_*). Throws JetError when one cannot be copied.
void copyExtendedAttributes(int from, int to, const std::string& name);

} // namespace tarnwick::jet
