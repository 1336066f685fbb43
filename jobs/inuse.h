#pragma once

#include <QString>

namespace tarnwick::jobs {

// True when another process on this machine has `path` open, or holds a lock on it (a record
// lock or a whole-file lock), as a database engine does on a database and its lock file while it
// has them open. A missing file or anything that is not a regular file is not in use.
bool fileInUse(const QString& path);
// Why `path` is in use ("open in process 1234 (sleep)", "locked by another process"); empty
// when it is not.
QString inUseReason(const QString& path);

// Why `path` is no file to read: "the file is missing", "it is a folder", "it is a FIFO", "it is
// not a regular file" or the system's reason; empty for a regular file (or a link to one).
QString whyNotAFile(const QString& path);

} // namespace tarnwick::jobs
