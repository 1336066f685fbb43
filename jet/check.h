#pragma once

#include "jet/database.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::jet {

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

// Sees every live row as `check` reads it: its table, and its fields with long columns carrying
// their whole value.
using RowVisitor =
    std::function<void(const CatalogEntry&, const TableDef&, const std::vector<RawField>&)>;

// Walks every structure reachable from the catalog and reports what disagrees. Never throws for
// damage in the file; each unreadable structure becomes a problem and the walk goes on.
CheckReport check(const Database& db, const RowVisitor& visit = {});

} // namespace tarnwick::jet
