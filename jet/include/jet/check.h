#pragma once

#include "jet/database.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::jet {

// What a compaction's verification passes in; callers outside the engine pass nothing.
struct RowDigest;
struct WrittenTable;

// One thing `check` found: what is wrong and where.
struct Finding {
    std::string structure; // "data page", "index page", "long value", ...
    std::string table;     // empty when not inside a table
    std::string index;     // logical index names, when inside an index
    std::optional<std::uint32_t> page;
    std::optional<unsigned> row;
    std::string message;
    std::uint64_t reclaimableBytes = 0; // notes only: what a compaction would win

    std::string text() const;
};

struct CheckReport {
    std::vector<Finding> problems; // damage
    std::vector<Finding> notes;    // left by Access in sound files; not damage
    std::uint64_t reclaimableBytes = 0;
    bool sound() const { return problems.empty(); }
};

// Walks every structure reachable from the catalog and reports what disagrees. Never throws for
// damage in the file; each unreadable structure becomes a problem and the walk goes on. When
// `rowDigests` is given, it receives by table name the digest (`RowDigester`, no renumbering)
// of every live row read.
// With `written` (from the rebuild that wrote `db`), a table listed there has its rows
// digested bound to their places, and each of its indexes listed is compared with the entries
// written instead of with keys encoded from the rows; a caller that proves the rows equal to
// those the rebuild placed has thereby proved the keys.
// Its memory does not grow with the file: rows kept to look index entries up are bounded
// (`check/checkroom.h`), and an encoded file's decoded pages are given back as it goes.
CheckReport check(const Database& db, std::map<std::string, RowDigest>* rowDigests = nullptr,
                  const std::map<std::string, WrittenTable>* written = nullptr);

} // namespace tarnwick::jet
