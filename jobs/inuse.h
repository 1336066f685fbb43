#pragma once

#include <QString>

namespace tarnwick::jobs {

// True when another process holds a lock on `path` (a record lock or a whole-file lock), as a
// database engine does on a database and its lock file while it has them open. A missing file
// or anything that is not a regular file is not in use.
bool fileInUse(const QString& path);

} // namespace tarnwick::jobs
