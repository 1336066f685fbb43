#pragma once

// One table's rebuild, in three steps: its rows are copied (rowcopy.cpp), its indexes built
// (tableindexes.cpp) and its definition written (tabledefwrite.cpp), in that order, which is
// the order their pages are handed out in.

#include "check/rowdigest.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/tabledef.h"
#include "keys/entryhash.h"
#include "write/entryspill.h"
#include "write/indexbuild.h"
#include "write/pagebuild.h"
#include "write/rebuild.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarnwick::jet {

constexpr std::uint32_t kCatalogPage = 2;

// What the steps of one table's rebuild work with.
struct TableJob {
    const Database& src;
    PageWriter& out;
    const RebuildOptions& options;
    const TableIdMap& tableIds;             // old TDEF page -> new TDEF page
    const std::set<std::uint32_t>& dropped; // salvage: tables whose definition could not be read
    const TableDef& def;                    // as the source holds it
    const TableDef& outDef;                 // as the new file holds it: `def`, or its Jet 4 form
    const std::string& name;
    std::uint32_t oldPage = 0, newPage = 0;
    TableRebuild& report;
    // A table the rebuild adds: it has no rows in the source.
    bool added = false;
    // Rows placed ahead of the source's (the catalog rows of added tables), each read as if it
    // stood at slot i of page 0.
    std::span<const std::vector<std::uint8_t>> addedRows = {};

    const Format& format() const { return src.format(); }
    const Format& outFormat() const { return out.format(); }
    bool converting() const { return options.toJet4; }
    void lose(const std::string& what) const { report.losses.push_back(what); }
};

// The long values of one column, on pages of their own.
struct LongValueColumn {
    std::uint16_t column = 0;
    DataPageBuilder builder;
    std::uint32_t current = 0;
    std::vector<std::uint32_t> pages, freePages;
    LongValueColumn(const Format& f, std::uint16_t c, PageWriter& out)
        : column(c), builder(f, lvalOwner, &out) {}
};

// An index's entries, encoded from each row's values as it is copied; an index whose keys
// cannot all be encoded is rebuilt from the source's key bytes instead.
struct KeyedIndex {
    std::vector<IndexEntry> entries;   // those not spilled, sorted once all are gathered
    std::vector<EntrySpill::Run> runs; // sorted runs spilled when `entries` reached its room
    EntrySum sum;                      // of every entry, spilled or not
    bool encoded = true;
    std::string why;
};

// Old header slot -> id values rewritten in that row (old, new).
using IdChanges =
    std::unordered_map<std::uint32_t, std::vector<std::pair<std::int32_t, std::int32_t>>>;

// What copying a table's rows leaves for its indexes and its definition.
struct CopiedRows {
    std::vector<std::uint32_t> dataPages, dataFree;
    std::vector<std::unique_ptr<LongValueColumn>> longValues;
    // Old header slot -> new slot, in ascending old order (rows are read in page and slot order).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> moved;
    IdChanges idChanges;
    std::set<std::uint16_t> idColumns; // columns whose ids follow the mapping
    std::vector<KeyedIndex> keyed;     // by real index
    std::unique_ptr<EntrySpill> spill; // made on the first run to spill
};

// Copies the table's rows, in the source's page and slot order, with their long values.
CopiedRows copyRows(const TableJob& job);

// Writes every real index of the table, in order.
std::vector<BuiltIndex> buildIndexes(const TableJob& job, CopiedRows& rows);

// Map rows of consecutive tables share host pages, as in files Access writes.
struct MapHost {
    DataPageBuilder builder;
    std::uint32_t page = 0;
};

// Writes the table's usage maps and its definition, with its pointers and figures renewed, on
// `tdefPages`.
void writeTableDefinition(const TableJob& job, CopiedRows& rows,
                          const std::vector<BuiltIndex>& built,
                          std::span<const std::uint32_t> tdefPages, MapHost& host);

} // namespace tarnwick::jet
