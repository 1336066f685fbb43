#include "jet/compact.h"

#include "jet/database.h"
#include "jet/header.h"
#include "jet/pagefile.h"
#include "maintain/dblock.h"
#include "maintain/target.h"
#include "maintain/toace.h"
#include "maintain/verify.h"
#include "platform/posix/durablereplace.h"
#include "platform/posix/faults.h"
#include "platform/posix/pathparts.h"
#include "write/rebuild.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tarnwick::jet {

using posix::folderOf;
using posix::nameOf;

namespace {

const std::string kStructure = "compaction";

void checkOptions(const CompactOptions& options) {
    if (options.sortOrder != 0)
        throw JetError(kStructure, JetError::noPage,
                       "sort order " + std::to_string(options.sortOrder) +
                           " cannot be written; only the General sort order is available");
    if (options.formatVersion != 0 && options.formatVersion != 32 && options.formatVersion != 64 &&
        options.formatVersion != 128)
        throw JetError(kStructure, JetError::noPage,
                       "format version " + std::to_string(options.formatVersion) +
                           " is not supported: 32 (Jet 3), 64 (Jet 4) or 128 (ACE 12)");
}

// The format the rebuild writes for `db`; throws before anything is written when it is refused.
// `newFile`: the result goes to a new file, not over the source.
TargetFormat checkTarget(const Database& db, const CompactOptions& options, bool newFile) {
    const TargetFormat target = targetFormat(db.header(), options.formatVersion);
    if (target == TargetFormat::Ace12) checkAceConversion(options, newFile);
    return target;
}

[[noreturn]] void destinationTaken(const std::string& destination) {
    throw RewriteRefused("file", JetError::noPage,
                         destination + " already exists; nothing was written");
}

Format outputFormat(const Database& db, TargetFormat target) {
    return target == TargetFormat::Jet4 ? Format::forVersion(Version::Jet4) : db.format();
}

// What a conversion replaced, from every table, and a line saying what was done; Access's own
// objects are named, since Jet 4 keeps them as Access 97 stored them.
void addConversionLines(CompactReport& report, const Database& db, const RebuildResult& r,
                        TargetFormat target) {
    if (target == TargetFormat::Ace12) reportAceConversion(db, report);
    if (target != TargetFormat::Jet4) return;
    for (const auto& t : r.tables)
        report.losses.insert(report.losses.end(), t.replaced.begin(), t.replaced.end());
    for (const CatalogEntry& e : db.catalog()) {
        const char* kind = e.type == -32768   ? "form"
                           : e.type == -32766 ? "report"
                           : e.type == -32764 ? "macro"
                           : e.type == -32761 ? "module"
                                              : nullptr;
        if (kind)
            report.lines.push_back(std::string(kind) + " \"" + e.name +
                                   "\" kept as Access 97 stored it");
    }
    report.lines.push_back("converted from Jet 3 (Access 97) to Jet 4 (Access 2000); " +
                           std::to_string(report.losses.size()) +
                           (report.losses.size() == 1 ? " loss" : " losses") + " reported");
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

// The part of the budget index entries may take (three eighths): the rest holds their sorting
// and merging, pages on their way to disk and the pages of the mapped files in memory.
RebuildOptions rebuildOptions(const CompactOptions& options, std::uint32_t key,
                              const std::string& beside, TargetFormat target) {
    RebuildOptions ro;
    ro.databaseKey = key;
    ro.toJet4 = target == TargetFormat::Jet4;
    if (target == TargetFormat::Ace12) {
        ro.aceVersion = 12;
        ro.databaseKey = 0; // ACE files are never encoded
    }
    ro.entryMemory =
        (std::size_t{std::max(options.memoryMiB, CompactOptions::kMinMemoryMiB)} << 20) / 8 * 3;
    ro.spillFolder = folderOf(beside);
    return ro;
}

std::string mib(std::uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return buf;
}

void addSizeLines(CompactReport& report) {
    const auto line = [](const char* what, std::uint64_t bytes, std::uint32_t pages) {
        return std::string(what) + ": " + std::to_string(bytes) + " bytes (" + mib(bytes) + ", " +
               std::to_string(pages) + " pages)";
    };
    report.lines.push_back(line("size before", report.sizeBefore, report.pagesBefore));
    report.lines.push_back(line("size after", report.sizeAfter, report.pagesAfter));
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

// Writes `db` into the empty file `fd` and verifies it from disk; `destination` names it in
// messages.
CompactReport compactOpened(const Database& db, int fd, const std::string& destination,
                            const CompactOptions& options) {
    const TargetFormat target = checkTarget(db, options, true);
    CompactReport report;
    report.sizeBefore = db.file().fileSize();
    report.pagesBefore = db.file().pageCount();
    const RebuildOptions ro =
        rebuildOptions(options, keyFor(db.header(), options.encoding), destination, target);
    RebuildResult r;
    {
        PageWriter out(fd, destination, outputFormat(db, target), ro.databaseKey);
        r = rebuildDatabase(db, out, ro);
    }
    db.file().releaseCache();
    auto rebuilt = Database::open(openMappedSource(fd, destination));
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
    addConversionLines(report, db, r, target);
    if (options.encoding == PageEncoding::Encrypt)
        report.lines.push_back("pages encoded with a new database key");
    if (options.encoding == PageEncoding::Decrypt && db.header().databaseKey != 0)
        report.lines.push_back("pages decoded");
    addSizeLines(report);
    return report;
}

} // namespace detail

CompactReport compact(const std::string& source, const std::string& destination,
                      const CompactOptions& options) {
    checkOptions(options);
    DatabaseLock lock(source);
    auto db = detail::openSource(lock.fd(), source, options.password);
    // Written beside its destination and named only once verified and synced, and only if the
    // name is still free: nobody finds a half-written database under it.
    struct stat st {};
    if (::lstat(destination.c_str(), &st) == 0) destinationTaken(destination);
    posix::ReplaceOptions ro;
    ro.followSymlink = false;
    ro.keepOwner = false;
    ro.newNameOnly = true;
    posix::DurableReplace out;
    if (!out.open(destination, ro)) throw JetError("file", JetError::noPage, out.errorMessage());
    CompactReport report = detail::compactOpened(*db, out.fd(), destination, options);
    if (!out.commitAsNew(nameOf(destination))) {
        if (out.errorCode() == EEXIST) destinationTaken(destination);
        throw JetError("file", JetError::noPage, out.errorMessage());
    }
    return report;
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

// Gives `fd` the extended attributes (ACLs included) of the locked original, and makes sure
// it has the original's owner, group and mode, whatever a step silently could not do.
void keepAttributes(int fd, const DatabaseLock& lock) {
    copyExtendedAttributes(lock.fd(), fd, lock.path());
    // A folder's default ACL gives a new file an access ACL the original may not have had.
    constexpr const char* kAcl = "system.posix_acl_access";
    if (::fgetxattr(lock.fd(), kAcl, nullptr, 0) < 0 && (errno == ENODATA || errno == ENOTSUP) &&
        ::fremovexattr(fd, kAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
        throw JetError("file", JetError::noPage,
                       "cannot drop the inherited ACL of the new file for " + lock.path() + ": " +
                           std::strerror(errno));
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        throw JetError("file", JetError::noPage,
                       "cannot look at the new file for " + lock.path() + ": " +
                           std::strerror(errno));
    const struct stat& was = lock.status();
    if (now.st_uid != was.st_uid || now.st_gid != was.st_gid ||
        (now.st_mode & 07777) != (was.st_mode & 07777))
        throw RewriteRefused("file", JetError::noPage,
                             "the new file for " + lock.path() +
                                 " cannot get its owner, group and permissions");
    if (::fsync(fd) != 0)
        throw JetError("file", JetError::noPage,
                       "cannot flush the new file for " + lock.path() + ": " +
                           std::strerror(errno));
}

// Readies the verified temporary file to take the original's place: the original's owner,
// group, mode, ACLs and extended attributes, on disk.
void prepareBeside(posix::DurableReplace& temp, const DatabaseLock& lock) {
    if (!temp.sync()) throw JetError("file", JetError::noPage, temp.errorMessage());
    keepAttributes(temp.fd(), lock);
}

// Moves the verified temporary file over the original in one step.
void commitBeside(posix::DurableReplace& temp, const DatabaseLock& lock) {
    prepareBeside(temp, lock);
    if (!temp.commit()) throw JetError("file", JetError::noPage, temp.errorMessage());
}

} // namespace detail

namespace {

[[noreturn]] void failFile(const std::string& what, int error) {
    throw JetError("file", JetError::noPage, what + ": " + std::strerror(error));
}

// A replacement in another folder is copied beside the original first.
void copyBeside(const DatabaseLock& lock, int in, const std::string& replacement) {
    posix::DurableReplace temp;
    detail::openBeside(temp, lock);
    std::vector<char> buf(1 << 20);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(in, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failFile("cannot read " + replacement, errno);
        if (n == 0) break;
        if (!temp.write(buf.data(), static_cast<std::size_t>(n)))
            throw JetError("file", JetError::noPage, temp.errorMessage());
        at += n;
    }
    detail::commitBeside(temp, lock);
}

} // namespace

void replaceDatabase(const std::string& original, const std::string& replacement) {
    // Whatever happens, the replacement does not stay behind under its own name. A removal that
    // fails leaves a temporary name the next writer in the folder sweeps; the error already
    // said is the one that counts.
    struct Remove {
        const std::string& path;
        bool armed = true;
        ~Remove() {
            if (armed) (void)::unlink(path.c_str());
        }
    } remove{replacement};
    DatabaseLock lock(original);
    requireKeepable(lock, "compacting");
    posix::UniqueFd in(
        ::open(replacement.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!in) failFile("cannot open " + replacement, errno);
    struct stat rs {};
    if (::fstat(in.get(), &rs) != 0) failFile("cannot look at " + replacement, errno);
    if (!S_ISREG(rs.st_mode))
        throw JetError("file", JetError::noPage, replacement + " is not a regular file");
    // Held while it is checked, so that a sweep of a folder never takes it from us.
    if (::flock(in.get(), LOCK_EX | LOCK_NB) != 0)
        throw DatabaseInUse("database", JetError::noPage,
                            "another program holds " + nameOf(replacement));
    {
        auto source = Database::open(openMappedSource(lock.fd(), original));
        auto candidate = Database::open(openMappedSource(in.get(), replacement));
        verifyRebuilt(*source, *candidate);
    }

    posix::UniqueFd from(::open(folderOf(replacement).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    posix::UniqueFd to(::open(folderOf(original).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!from) failFile("cannot open the folder of " + replacement, errno);
    if (!to) failFile("cannot open the folder of " + original, errno);
    struct stat fs {
    }, ts{};
    if (::fstat(from.get(), &fs) != 0 || ::fstat(to.get(), &ts) != 0)
        failFile("cannot look at the folder of " + original, errno);
    if (fs.st_dev != ts.st_dev || fs.st_ino != ts.st_ino) {
        copyBeside(lock, in.get(), replacement);
        return;
    }

    // Beside the original: the replacement itself takes its place, so the data is written once.
    const struct stat& was = lock.status();
    if ((rs.st_uid != was.st_uid || rs.st_gid != was.st_gid) &&
        ::fchown(in.get(), was.st_uid, was.st_gid) != 0)
        failFile("cannot give the new file the owner of " + original, errno);
    if (::fchmod(in.get(), was.st_mode & 07777) != 0)
        failFile("cannot give the new file the permissions of " + original, errno);
    detail::keepAttributes(in.get(), lock);
    const std::string name = nameOf(original);
    struct stat now {
    }, placed{};
    if (::fstatat(to.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_dev != was.st_dev || now.st_ino != was.st_ino ||
        ::fstatat(from.get(), nameOf(replacement).c_str(), &placed, AT_SYMLINK_NOFOLLOW) != 0 ||
        placed.st_dev != rs.st_dev || placed.st_ino != rs.st_ino)
        throw JetError("file", JetError::noPage,
                       original + " was replaced by another program meanwhile");
    if (const int e =
            posix::renameAt(from.get(), nameOf(replacement).c_str(), to.get(), name.c_str()))
        failFile("cannot move the new file over " + original, e);
    remove.armed = false;
    if (const int e = posix::syncFolder(to.get()))
        failFile("cannot flush the folder of " + original, e);
}

CompactReport compactInPlace(const std::string& file, const CompactOptions& options) {
    checkOptions(options);
    DatabaseLock lock(file);
    requireKeepable(lock, "compacting");
    auto db = Database::open(openMappedSource(lock.fd(), file));
    if (!passwordMatches(db->header(), options.password))
        throw JetError("database", JetError::noPage,
                       options.password.empty() ? "the database has a password and none was given"
                                                : "the password is wrong");
    const TargetFormat target = checkTarget(*db, options, false);
    posix::DurableReplace temp;
    detail::openBeside(temp, lock);

    CompactReport report;
    report.sizeBefore = db->file().fileSize();
    report.pagesBefore = db->file().pageCount();
    RebuildOptions ro =
        rebuildOptions(options, keyFor(db->header(), options.encoding), file, target);
    ro.sync = false; // synced below while the new file is verified
    SourceRows sourceRows;
    std::uint64_t rebuiltSize = 0;
    {
        PageWriter out(temp.fd(), file, outputFormat(*db, target), ro.databaseKey);
        RebuildResult r = rebuildDatabase(*db, out, ro);
        rebuiltSize = std::uint64_t{out.pageCount()} * out.pageSize();
        sourceRows = r.digests();
        std::uint64_t rows = 0;
        for (const auto& t : r.tables) {
            rows += t.rows;
            report.lines.insert(report.lines.end(), t.notes.begin(), t.notes.end());
        }
        report.lines.push_back("rebuilt " + std::to_string(r.tables.size()) + " tables with " +
                               std::to_string(rows) + " rows; every row and index verified");
        addConversionLines(report, *db, r, target);
    }
    db->file().releaseCache();
    const bool changeAsked = ro.databaseKey != db->header().databaseKey || ro.toJet4;
    {
        // The new file goes to disk while it is read back: both take long on a large file.
        // The futures' destructors wait for them even when verification throws.
        auto synced = std::async(std::launch::async,
                                 [fd = temp.fd()] { return ::fsync(fd) == 0 ? 0 : errno; });
        // The original's cached pages serve nothing once it is replaced, and the system frees
        // them when its last descriptor closes, which takes long on a large file: they are
        // let go meanwhile instead. Only advice: a refusal costs time, never data.
        std::future<void> released;
        if (rebuiltSize < report.sizeBefore || changeAsked)
            released = std::async(std::launch::async, [fd = lock.fd()] {
                (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            });
        auto rebuilt = Database::open(openMappedSource(temp.fd(), file + " (new)"));
        verifyRebuilt(*db, *rebuilt, sourceRows);
        if (const int error = synced.get(); error != 0)
            throw JetError("file", JetError::noPage,
                           "cannot flush the new file for " + file + ": " + std::strerror(error));
        report.sizeAfter = rebuilt->file().fileSize();
        report.pagesAfter = rebuilt->file().pageCount();
    }
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
    addSizeLines(report);
    return report;
}

} // namespace tarnwick::jet
