#include "jet/compact.h"

#include "jet/database.h"
#include "jet/rebuild.h"
#include "jet/verify.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jet {

namespace {

const std::string kStructure = "compaction";

void checkOptions(const CompactOptions& options) {
    if (options.sortOrder != 0)
        throw JetError(kStructure, JetError::noPage,
                       "sort order " + std::to_string(options.sortOrder) +
                           " cannot be written; only the General sort order is available");
    if (options.formatVersion != 0)
        throw JetError(kStructure, JetError::noPage,
                       "format version " + std::to_string(options.formatVersion) +
                           " cannot be written; only the source's own format is available");
}

std::uint32_t randomKey() {
    std::random_device rd;
    std::uint32_t k = 0;
    while (k == 0)
        k = rd();
    return k;
}

std::uint32_t keyFor(const DatabaseHeader& h, PageEncoding encoding) {
    switch (encoding) {
    case PageEncoding::Keep:
        return h.databaseKey;
    case PageEncoding::Encrypt:
        return randomKey();
    case PageEncoding::Decrypt:
        return 0;
    }
    return h.databaseKey;
}

std::string mib(std::uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return buf;
}

} // namespace

namespace detail {

// Opens a source database for rebuilding, checking the password when it has one.
std::unique_ptr<Database> openSource(const std::string& path, const std::string& password) {
    auto db = Database::open(path);
    if (!passwordMatches(db->header(), password))
        throw JetError("database", JetError::noPage,
                       password.empty() ? "the database has a password and none was given"
                                        : "the password is wrong");
    return db;
}

// Writes and verifies `destination` from `db`; removes it on any failure.
CompactReport compactOpened(const Database& db, const std::string& destination,
                            const CompactOptions& options) {
    CompactReport report;
    report.sizeBefore = db.file().fileSize();
    report.pagesBefore = db.file().pageCount();
    RebuildOptions ro;
    ro.databaseKey = keyFor(db.header(), options.encoding);
    std::unique_ptr<PageWriter> out =
        std::make_unique<PageWriter>(destination, db.format(), ro.databaseKey);
    try {
        RebuildResult r = rebuildDatabase(db, *out, ro);
        out.reset();
        db.file().releaseCache();
        auto rebuilt = Database::open(destination);
        verifyRebuilt(db, *rebuilt);
        report.sizeAfter = rebuilt->file().fileSize();
        report.pagesAfter = rebuilt->file().pageCount();
        std::uint64_t rows = 0;
        for (const auto& t : r.tables) {
            rows += t.rows;
            report.lines.insert(report.lines.end(), t.notes.begin(), t.notes.end());
        }
        report.lines.push_back("rebuilt " + std::to_string(r.tables.size()) + " tables with " +
                               std::to_string(rows) + " rows; every row and index verified");
    } catch (...) {
        out.reset();
        ::unlink(destination.c_str());
        throw;
    }
    if (options.encoding == PageEncoding::Encrypt)
        report.lines.push_back("pages encoded with a new database key");
    if (options.encoding == PageEncoding::Decrypt && db.header().databaseKey != 0)
        report.lines.push_back("pages decoded");
    report.lines.push_back("size before: " + std::to_string(report.sizeBefore) + " bytes (" +
                           mib(report.sizeBefore) + ", " + std::to_string(report.pagesBefore) +
                           " pages)");
    report.lines.push_back("size after: " + std::to_string(report.sizeAfter) + " bytes (" +
                           mib(report.sizeAfter) + ", " + std::to_string(report.pagesAfter) +
                           " pages)");
    return report;
}

} // namespace detail

CompactReport compact(const std::string& source, const std::string& destination,
                      const CompactOptions& options) {
    checkOptions(options);
    auto db = detail::openSource(source, options.password);
    return detail::compactOpened(*db, destination, options);
}

void replaceDatabase(const std::string&, const std::string&) {
    throw JetError(kStructure, JetError::noPage, "not built yet");
}
CompactReport compactInPlace(const std::string&, const CompactOptions&) {
    throw JetError(kStructure, JetError::noPage, "not built yet");
}
RepairReport repair(const std::string&, const std::string&) {
    throw JetError(kStructure, JetError::noPage, "not built yet");
}

} // namespace tarnwick::jet
