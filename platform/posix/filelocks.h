#pragma once

// Locks on files, in one place: who else has or locks a file (the jobs' in-use check and the
// engine's database lock ask here), the lock the engine holds on a database, and the lock files
// that keep two runs of a job apart.

#include "platform/posix/uniquefd.h"

#include <string>
#include <sys/types.h>

namespace tarnwick::posix {

// Who else has a file: another process on this machine with it open (any descriptor, seen in
// /proc/<pid>/fd), or a record, open-file-description or whole-file lock held on it. A database
// client that keeps a file open without locking it still counts as using it.
struct FileUse {
    bool inUse = false;
    pid_t pid = 0;           // a process that has it open; 0 when only a lock shows the use
    std::string program;     // that process's name, when it could be read
    bool unreadable = false; // taken as in use: this user may not open the file to tell

    // "open in process 1234 (sleep)", "locked by another process" or "not readable by this
    // user"; empty when not in use.
    std::string text() const;
};

// The use of the regular file at `path`. A missing file, a link (never followed) and anything
// that is not a regular file are not in use; FIFOs and devices are never opened. This process's
// own descriptors do not count: what it opens itself it also closes before replacing a file.
// Processes that end during the scan and those whose descriptors this user may not read are
// passed over.
FileUse fileUse(const std::string& path);

// The first process other than this one that has the file (st_dev, st_ino) open.
FileUse openElsewhere(dev_t device, ino_t inode);

// Whether another open file description holds a record or open-file-description lock anywhere on
// the file behind `fd`; with `wholeFileLocks`, a whole-file (flock) lock counts too. Probing for
// that one takes it for `fd` when it is free: it goes when `fd` is closed.
bool lockedByOthers(int fd, bool wholeFileLocks);

enum class LockResult {
    Taken,
    Busy,   // another holds it
    Failed, // errno says why
};

// An open-file-description lock on the whole file behind `fd`, for writing or for reading,
// without waiting. Held until every descriptor of that open file description is closed.
LockResult lockWholeFile(int fd, bool write);

// A lock file of this user: `name` in `folder`, a folder only this user may enter, made when
// missing. Two objects (in any processes of the user) on one name exclude each other; the lock
// goes with the object. The file is never replaced and no link is followed.
class LockFile {
public:
    LockFile(std::string folder, const std::string& name);

    // Opens the file; false with error() when the folder is not this user's private folder or
    // the file cannot be opened.
    bool open();
    bool isOpen() const { return m_fd.valid(); }
    // Takes the lock without waiting (opening the file first).
    LockResult tryLock();
    bool isHeld() const { return m_held; }
    void unlock() {
        m_fd.reset();
        m_held = false;
    }
    const std::string& path() const { return m_path; }
    const std::string& error() const { return m_error; }
    // A short text in the held lock's file, for those who wait; what its holder wrote, else "".
    bool setNote(const std::string& note);
    std::string note() const;

private:
    std::string m_folder;
    std::string m_path;
    std::string m_error;
    UniqueFd m_fd;
    bool m_held = false;
};

} // namespace tarnwick::posix
