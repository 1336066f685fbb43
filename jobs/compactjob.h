#pragma once

// The repair-and-compact job: runs the engine over each picked database, last picked first,
// skipping any database that another process holds, and logs a start line and an outcome line
// for each.

#include "jobs/report.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace tarnwick::jobs {

// Thrown by an engine to end the run before its next database because the run was asked to
// stop (the program is ending); the run counts as stopped, not failed.
class JobStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database component's operations the job uses. Each throws when the engine fails.
class CompactEngine {
public:
    virtual ~CompactEngine() = default;
    virtual void SetDatabase(const QString& path) = 0;
    virtual void SetExclusive(bool exclusive) = 0;
    virtual void RepairDatabaseFile(const QString& path, const QString& password) = 0;
    virtual void CompactDatabaseFile(const QString& path, const QString& password) = 0;
    virtual void CompactDatabaseFileWithOptions(const QString& path, const QString& locale,
                                                bool encrypt, bool decrypt, int version,
                                                const QString& password) = 0;
    // Memory a compaction may take, in MiB; engines without such a bound ignore it.
    virtual void SetMemoryBudget(int mib) { (void)mib; }
};

struct CompactRequest {
    QStringList files; // processed from the last to the first
    QString version;   // "3.6", "3.5" or "12.0"
    int memoryMiB = 0; // the compaction's memory budget; 0: the engine's own
};

struct CompactCallbacks {
    std::function<void(const JobLine& line)> line;       // each log line, as it happens
    std::function<void(const QString& path)> processing; // before each database
};

struct CompactResult {
    int succeeded = 0;
    int failed = 0;
    bool unknownVersion = false;
    bool broken = false;  // the run ended early on an error outside one database
    bool stopped = false; // the run was asked to stop and ended before its next database
    QStringList problems; // why, database by database
    bool ok() const { return failed == 0 && !unknownVersion && !broken && !stopped; }
};

// The lock file of `database`: beside it, named after it without its extension, with ".laccdb"
// for an ".accdb" database, else ".LDB" (or an existing ".ldb").
QString lockFileOf(const QString& database);

CompactResult runCompact(const CompactRequest& request, CompactEngine& engine,
                         const CompactCallbacks& callbacks);

} // namespace tarnwick::jobs
