#pragma once

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

} // namespace tarnwick::posix
