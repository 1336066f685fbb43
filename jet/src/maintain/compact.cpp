#include "jet/compact.h"

#include "jet/database.h"
#include "maintain/dblock.h"
#include "maintain/verify.h"
#include "platform/posix/durablereplace.h"
#include "write/rebuild.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
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

// Opens a locked source database for rebuilding, checking the password when it has one.
std::unique_ptr<Database> openSource(int fd, const std::string& path, const std::string& password) {
    auto db = Database::open(openMappedSource(fd, path));
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
        const int fd = ::open(destination.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            throw JetError("file", JetError::noPage,
                           "cannot read back " + destination + ": " + std::strerror(errno));
        std::unique_ptr<ByteSource> written;
        try {
            written = openMappedSource(fd, destination);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
        auto rebuilt = Database::open(std::move(written));
        verifyRebuilt(db, *rebuilt, r.digests());
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
    DatabaseLock lock(source);
    auto db = detail::openSource(lock.fd(), source, options.password);
    return detail::compactOpened(*db, destination, options);
}

namespace detail {

// Prepares the temporary file beside a locked database: same folder, never through a link,
// and still the file that was locked.
void openBeside(posix::DurableReplace& temp, const DatabaseLock& lock) {
    posix::ReplaceOptions ro;
    ro.followSymlink = false;
    ro.keepOwner = true;
    if (!temp.open(lock.path(), ro)) throw JetError("file", JetError::noPage, temp.errorMessage());
    if (!temp.targetExisted() || temp.targetStat().st_ino != lock.status().st_ino ||
        temp.targetStat().st_dev != lock.status().st_dev)
        throw JetError("file", JetError::noPage,
                       lock.path() + " was replaced by another program meanwhile");
}

// Gives the verified temporary file the original's owner, group, mode, ACLs and extended
// attributes, and moves it over the original in one step.
void commitBeside(posix::DurableReplace& temp, const DatabaseLock& lock) {
    if (!temp.sync()) throw JetError("file", JetError::noPage, temp.errorMessage());
    copyExtendedAttributes(lock.fd(), temp.fd(), lock.path());
    if (::fsync(temp.fd()) != 0)
        throw JetError("file", JetError::noPage,
                       "cannot flush the new file for " + lock.path() + ": " +
                           std::strerror(errno));
    if (!temp.commit()) throw JetError("file", JetError::noPage, temp.errorMessage());
}

} // namespace detail

void replaceDatabase(const std::string& original, const std::string& replacement) {
    // Whatever happens, the replacement does not stay behind.
    struct Remove {
        const std::string& path;
        ~Remove() { ::unlink(path.c_str()); }
    } remove{replacement};
    DatabaseLock lock(original);
    auto source = Database::open(openMappedSource(lock.fd(), original));
    auto candidate = Database::open(replacement);
    verifyRebuilt(*source, *candidate);
    source.reset();
    candidate.reset();

    posix::DurableReplace temp;
    detail::openBeside(temp, lock);
    const int in = ::open(replacement.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        throw JetError("file", JetError::noPage,
                       "cannot read " + replacement + ": " + std::strerror(errno));
    std::vector<char> buf(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!temp.write(buf.data(), static_cast<std::size_t>(n))) break;
    }
    ::close(in);
    if (!ok) throw JetError("file", JetError::noPage, "cannot read " + replacement);
    if (temp.fd() < 0) throw JetError("file", JetError::noPage, temp.errorMessage());
    detail::commitBeside(temp, lock);
}

CompactReport compactInPlace(const std::string& file, const CompactOptions& options) {
    checkOptions(options);
    DatabaseLock lock(file);
    auto db = Database::open(openMappedSource(lock.fd(), file));
    if (!passwordMatches(db->header(), options.password))
        throw JetError("database", JetError::noPage,
                       options.password.empty() ? "the database has a password and none was given"
                                                : "the password is wrong");
    posix::DurableReplace temp;
    detail::openBeside(temp, lock);

    CompactReport report;
    report.sizeBefore = db->file().fileSize();
    report.pagesBefore = db->file().pageCount();
    RebuildOptions ro;
    ro.databaseKey = keyFor(db->header(), options.encoding);
    ro.sync = false; // synced below while the new file is verified
    SourceRows sourceRows;
    {
        PageWriter out(temp.fd(), file, db->format(), ro.databaseKey);
        RebuildResult r = rebuildDatabase(*db, out, ro);
        sourceRows = r.digests();
        std::uint64_t rows = 0;
        for (const auto& t : r.tables) {
            rows += t.rows;
            report.lines.insert(report.lines.end(), t.notes.begin(), t.notes.end());
        }
        report.lines.push_back("rebuilt " + std::to_string(r.tables.size()) + " tables with " +
                               std::to_string(rows) + " rows; every row and index verified");
    }
    db->file().releaseCache();
    {
        // The new file goes to disk while it is read back: both take long on a large file.
        // The future's destructor waits for the sync even when verification throws.
        auto synced = std::async(std::launch::async,
                                 [fd = temp.fd()] { return ::fsync(fd) == 0 ? 0 : errno; });
        auto rebuilt = Database::open(openMappedSource(temp.fd(), file + " (new)"));
        verifyRebuilt(*db, *rebuilt, sourceRows);
        if (const int error = synced.get(); error != 0)
            throw JetError("file", JetError::noPage,
                           "cannot flush the new file for " + file + ": " + std::strerror(error));
        report.sizeAfter = rebuilt->file().fileSize();
        report.pagesAfter = rebuilt->file().pageCount();
    }
    const bool changeAsked = ro.databaseKey != db->header().databaseKey;
    if (report.sizeAfter >= report.sizeBefore && !changeAsked) {
        temp.discard();
        report.alreadyCompact = true;
        report.sizeAfter = report.sizeBefore;
        report.pagesAfter = report.pagesBefore;
        report.lines = {"already compact: a rebuilt file would not be smaller (" +
                        std::to_string(report.sizeBefore) +
                        " bytes); the database was left as it was"};
        return report;
    }
    detail::commitBeside(temp, lock);
    if (options.encoding == PageEncoding::Encrypt)
        report.lines.push_back("pages encoded with a new database key");
    if (options.encoding == PageEncoding::Decrypt && changeAsked)
        report.lines.push_back("pages decoded");
    report.lines.push_back("size before: " + std::to_string(report.sizeBefore) + " bytes (" +
                           mib(report.sizeBefore) + ", " + std::to_string(report.pagesBefore) +
                           " pages)");
    report.lines.push_back("size after: " + std::to_string(report.sizeAfter) + " bytes (" +
                           mib(report.sizeAfter) + ", " + std::to_string(report.pagesAfter) +
                           " pages)");
    return report;
}

} // namespace tarnwick::jet
