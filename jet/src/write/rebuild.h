#pragma once

#include "check/rowdigest.h"
#include "jet/database.h"
#include "write/pagewriter.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::jet {

// What happened to one table during a rebuild.
struct TableRebuild {
    std::string name;
    std::uint32_t oldPage = 0, newPage = 0;
    std::uint64_t rows = 0;
    // Salvage only: what could not be carried over, each with its reason.
    std::uint64_t rowsLost = 0, longValuesLost = 0;
    std::vector<std::string> losses;
    std::vector<std::string> notes; // e.g. an index rebuilt from its stored keys
    // Conversion: what was replaced in this table, one line per column.
    std::vector<std::string> replaced;
    // The rows carried over, as read from the source, each where it was placed; and the
    // entries of the indexes encoded from them.
    WrittenTable written;
};

struct RebuildResult {
    std::map<std::uint32_t, std::uint32_t> tableIds; // old TDEF page -> new TDEF page
    std::vector<TableRebuild> tables;
    std::vector<std::string> droppedTables; // salvage: tables whose definition could not be read
    std::uint32_t pages = 0;
    bool lost() const;
    // The digests of the rows read, for verifying the new file.
    SourceRows digests() const;
};

struct RebuildOptions {
    std::uint32_t databaseKey = 0; // key of the new file, 0 for plain pages
    // 12: a Jet 4 source is written as an ACE 12 (Access 2007) file; 0 keeps its format.
    int aceVersion = 0;
    // Salvage (repair): rows, long values and tables that cannot be read are dropped and listed
    // instead of failing the rebuild; every index is built from its rows.
    bool salvage = false;
    // False leaves syncing the file to the caller, who may overlap it with other work.
    bool sync = true;
    // Bytes of index entries one table may hold in memory; beyond them sorted runs go to a
    // temporary file in `spillFolder`. 0: no limit. The file written is the same either way.
    std::size_t entryMemory = 0;
    std::string spillFolder;
    // Write a Jet 3 source as Jet 4 (the writer's format): text, rows, definitions, property
    // blobs and page 0 re-encoded, index keys in General Legacy.
    bool toJet4 = false;
};

// Writes every object of `source` into the new file behind `out` (created with the options'
// key):
// catalog and system tables, table definitions on new pages, rows packed densely, long values
// rewritten, indexes rebuilt bottom-up, usage maps, the global map and page 0. Throws JetError
// on anything it cannot carry over (unless salvaging); the caller removes the partial file.
// The file is complete (and synced, unless the options say otherwise) when this returns.
RebuildResult rebuildDatabase(const Database& source, PageWriter& out,
                              const RebuildOptions& options);

} // namespace tarnwick::jet
