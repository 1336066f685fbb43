#pragma once

#include "jet/error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::jet {

// What to do with the database key of the pages (page 0 keeps its own fixed mask).
enum class PageEncoding { Keep, Encrypt, Decrypt };

struct CompactOptions {
    PageEncoding encoding = PageEncoding::Keep;
    int sortOrder = 0; // 0 keeps the source's (General) order; any other: JetError before writing
    // 0 keeps the source's format; 64 converts Jet 3 to Jet 4, 128 Jet 4 to ACE 12; anything
    // that would go to an older format or lose data throws JetError before writing.
    int formatVersion = 0;
    std::string password; // the source's database password, checked when it has one
    // Memory the rebuild may hold, in MiB, beyond a small fixed part; what does not fit (the
    // index entries of a large table) goes to a temporary file beside the new one. The file
    // written does not depend on it.
    unsigned memoryMiB = kDefaultMemoryMiB;
    static constexpr unsigned kDefaultMemoryMiB = 256;
    static constexpr unsigned kMinMemoryMiB = 16;
};

struct CompactReport {
    std::uint64_t sizeBefore = 0, sizeAfter = 0;
    std::uint32_t pagesBefore = 0, pagesAfter = 0;
    bool alreadyCompact = false;    // in-place only: the original was kept untouched
    std::vector<std::string> lines; // what was done, for logs and the command line
    // A conversion: one line per table and column where something was replaced (bytes the code
    // page does not define became U+FFFD) or per object left out, naming it and saying why.
    std::vector<std::string> losses;
};

class Database;

// What a compaction would win back, estimated without writing: the rebuild's packing of the
// rows, long values and index entries a file holds is followed page by page.
struct CompactEstimate {
    std::uint64_t sizeBefore = 0, sizeAfter = 0; // sizeAfter estimated
    // Where the difference lies, in bytes of the file (roughly; the parts need not add up):
    std::uint64_t freePages = 0;   // pages nothing uses
    std::uint64_t deletedRows = 0; // rows marked deleted, still on their pages
    std::uint64_t rowRoom = 0;     // other room on data pages: free space, unreferenced long values
    std::uint64_t indexSlack = 0;  // index pages beyond what their entries fill
    std::uint64_t reclaimable() const {
        return sizeBefore > sizeAfter ? sizeBefore - sizeAfter : 0;
    }
};
CompactEstimate estimateCompaction(const Database& db);

// Writes a compacted copy of `source` as `destination` (which must not exist), verified from
// disk.
CompactReport compact(const std::string& source, const std::string& destination,
                      const CompactOptions& options = {});

// Where a conversion to ACE 12 goes when no name is given: NAME.accdb beside NAME.mdb, or beside
// a name without an extension.
std::string accdbBeside(const std::string& path);

// Verifies `replacement` against `original` (check clean, same rows, index walks equal rows),
// gives it the original's owner, group, mode, ACLs and xattrs, renames it over `original` in one
// step and syncs the folder. On any failure `original` is untouched, `replacement` removed, and
// a JetError says why.
void replaceDatabase(const std::string& original, const std::string& replacement);

// Compacts `file` in place through a temporary file beside it (locked, verified, atomic).
CompactReport compactInPlace(const std::string& file, const CompactOptions& options = {});

struct RepairReport {
    bool repaired = false;   // the file was replaced by its repaired copy
    bool lost = false;       // a repair would lose something (listed in lines): file untouched
    std::string salvaged;    // when lost: the salvaged copy, beside the file under a free name
    std::string lossSummary; // when lost: what, in a few words (table "A"; 3 rows of "B")
    std::vector<std::string> lines;
};

// Rebuilds a file that check finds damaged, keeping whatever can be read. When nothing is lost
// the repaired copy replaces the file; otherwise the file stays as it is and the repaired copy
// is written beside it as "name.repaired-YYYYMMDD-HHMMSS.ext".
RepairReport repair(const std::string& file, const std::string& password = {});

} // namespace tarnwick::jet
