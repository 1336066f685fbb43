#pragma once

#include "jet/tabledef.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::jet {

// A system table an ACE 12 file has and a Jet 4 file lacks, defined without rows: the catalog
// of complex columns and the templates their value tables are made from.
struct AceSystemTable {
    std::string name;
    std::uint32_t objectFlags = 0; // its MSysObjects.Flags
    TableDef def;                  // raw bytes and parsed fields; pointers and page left 0
};
std::vector<AceSystemTable> aceSystemTables();

// A row of the catalog (MSysObjects, whose definition is `catalog`) for a table at `id`.
std::vector<std::uint8_t> catalogRow(const TableDef& catalog, std::int32_t id,
                                     const std::string& name, std::uint32_t flags, double date);

} // namespace tarnwick::jet
