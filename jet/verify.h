#pragma once

#include "jet/database.h"

#include <string>
#include <vector>

namespace tarnwick::jet {

// Proves a rebuilt file from what is on disk: `check` finds no problems (index walks equal
// their rows among them) and, unless `rowsToo` is false, every table holds the same rows as the
// source (values compared order-free, table ids through the mapping by table name). Throws
// JetError naming the first difference.
void verifyRebuilt(const Database& source, const Database& rebuilt, bool rowsToo = true);

// Order-free fingerprints of one table's rows; `idMap` renumbers table ids in the catalog and
// permission tables. Exposed for the tests.
std::vector<std::uint64_t> rowFingerprints(const Database& db, const CatalogEntry& table,
                                           const std::map<std::int64_t, std::int64_t>& idMap);

} // namespace tarnwick::jet
