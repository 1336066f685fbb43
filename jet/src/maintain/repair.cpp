#include "jet/check.h"
#include "jet/compact.h"
#include "jet/header.h"
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
void prepareBeside(posix::DurableReplace& temp, const DatabaseLock& lock);
void commitBeside(posix::DurableReplace& temp, const DatabaseLock& lock);
} // namespace detail

namespace {

// "name.repaired-20261207-120501.mdb" for "folder/name.mdb": a name in the same folder.
std::string repairedName(const std::string& path, std::time_t when, int attempt) {
    const auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    char stamp[32];
    std::tm tm{};
    ::localtime_r(&when, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
    std::string name = path.substr(from, dot - from) + ".repaired-" + stamp;
    if (attempt > 0) name += "-" + std::to_string(attempt + 1);
    return name + path.substr(dot);
}

// What a salvage dropped, in a few words: table "A"; 3 rows of "B"; an index of "C".
std::string lossSummary(const RebuildResult& r) {
    std::vector<std::string> items;
    for (const auto& d : r.droppedTables)
        items.push_back(d.substr(0, d.find(" was dropped")));
    for (const auto& t : r.tables) {
        if (t.losses.empty()) continue;
        const std::string of = " of \"" + t.name + "\"";
        const auto count = [](std::uint64_t n, const char* what) {
            return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
        };
        if (t.rowsLost) items.push_back(count(t.rowsLost, "row") + of);
        if (t.longValuesLost) items.push_back(count(t.longValuesLost, "long value") + of);
        if (!t.rowsLost && !t.longValuesLost) {
            bool index = false;
            for (const auto& l : t.losses)
                index |= l.find(" was rebuilt empty") != std::string::npos;
            items.push_back((index ? "an index" : "rows") + of);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < items.size() && i < 3; ++i)
        text += (i ? "; " : "") + items[i];
    if (items.size() > 3) text += "; and " + std::to_string(items.size() - 3) + " more";
    return text;
}

} // namespace

RepairReport repair(const std::string& file, const std::string& password) {
    DatabaseLock lock(file);
    requireKeepable(lock, "repairing");
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

    // A repair that would lose something leaves the file as it is: the salvaged copy goes
    // beside it under a free name, for someone to judge.
    if (report.lost) {
        report.lossSummary = lossSummary(r);
        detail::prepareBeside(temp, lock);
        const std::time_t now = std::time(nullptr);
        const auto slash = file.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
        for (int attempt = 0;; ++attempt) {
            const std::string name = repairedName(file, now, attempt);
            if (temp.commitAsNew(name)) {
                report.salvaged = folder + name;
                break;
            }
            if (temp.errorCode() != EEXIST || attempt > 50)
                throw JetError("file", JetError::noPage, temp.errorMessage());
        }
        report.lines.push_back("would lose " + report.lossSummary + "; " + file +
                               " was left as it was, the salvaged copy is " + report.salvaged);
        return report;
    }
    detail::commitBeside(temp, lock);
    report.repaired = true;
    return report;
}

} // namespace tarnwick::jet
