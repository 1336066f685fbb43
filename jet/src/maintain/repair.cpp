#include "jet/check.h"
#include "jet/compact.h"
#include "maintain/dblock.h"
#include "maintain/verify.h"
#include "platform/posix/durablereplace.h"
#include "write/rebuild.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::jet {

namespace detail {
void openBeside(posix::DurableReplace& temp, const DatabaseLock& lock);
void commitBeside(posix::DurableReplace& temp, const DatabaseLock& lock);
} // namespace detail

namespace {

// "folder/name.damaged-20261207-120501.mdb" for "folder/name.mdb".
std::string damagedName(const std::string& path, std::time_t when, int attempt) {
    const auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    char stamp[32];
    std::tm tm{};
    ::localtime_r(&when, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string name = path.substr(0, dot) + ".damaged-" + stamp;
    if (attempt > 0) name += "-" + std::to_string(attempt + 1);
    return name + path.substr(dot);
}

} // namespace

RepairReport repair(const std::string& file, const std::string& password) {
    DatabaseLock lock(file);
    auto db = Database::open(openMappedSource(lock.fd(), file));
    if (!passwordMatches(db->header(), password))
        throw JetError("database", JetError::noPage,
                       password.empty() ? "the database has a password and none was given"
                                        : "the password is wrong");
    RepairReport report;
    const CheckReport found = check(*db);
    db->file().releaseCache();
    if (found.sound()) {
        report.lines.push_back("check found no problems; nothing was written");
        return report;
    }
    report.lines.push_back("check found " + std::to_string(found.problems.size()) +
                           " problems, the first: " + found.problems.front().text());

    posix::DurableReplace temp;
    detail::openBeside(temp, lock);
    RebuildOptions ro;
    ro.databaseKey = db->header().databaseKey;
    ro.salvage = true;
    RebuildResult r;
    {
        PageWriter out(temp.fd(), file, db->format(), ro.databaseKey);
        r = rebuildDatabase(*db, out, ro);
    }
    db->file().releaseCache();
    {
        auto rebuilt = Database::open(openMappedSource(temp.fd(), file + " (repaired)"));
        verifyRebuilt(*db, *rebuilt, false);
    }

    std::uint64_t rows = 0;
    for (const auto& d : r.droppedTables)
        report.lines.push_back(d);
    for (const auto& t : r.tables) {
        rows += t.rows;
        if (!t.losses.empty()) {
            std::string head = "table \"" + t.name + "\": ";
            if (t.rowsLost) head += std::to_string(t.rowsLost) + " rows lost";
            if (t.longValuesLost)
                head += std::string(t.rowsLost ? ", " : "") + std::to_string(t.longValuesLost) +
                        " long values emptied or cut short";
            if (!t.rowsLost && !t.longValuesLost) head += "damaged structures dropped";
            report.lines.push_back(head);
            for (const auto& l : t.losses)
                report.lines.push_back("  " + l);
        }
        for (const auto& n : t.notes)
            report.lines.push_back("table \"" + t.name + "\": " + n);
    }
    report.lines.push_back("rebuilt " + std::to_string(r.tables.size()) + " tables with " +
                           std::to_string(rows) + " rows; the new file checks clean");
    report.lost = r.lost();

    // A repair that lost something keeps the damaged original beside the repaired file.
    if (report.lost) {
        const std::time_t now = std::time(nullptr);
        for (int attempt = 0;; ++attempt) {
            const std::string name = damagedName(file, now, attempt);
            if (::link(file.c_str(), name.c_str()) == 0) {
                report.keptOriginal = name;
                break;
            }
            if (errno != EEXIST || attempt > 50)
                throw JetError("file", JetError::noPage,
                               "cannot keep the damaged original as " + name + ": " +
                                   std::strerror(errno));
        }
    }
    try {
        detail::commitBeside(temp, lock);
    } catch (...) {
        if (!report.keptOriginal.empty()) ::unlink(report.keptOriginal.c_str());
        throw;
    }
    report.repaired = true;
    return report;
}

} // namespace tarnwick::jet
