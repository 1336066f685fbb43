#pragma once

#include "check/rowdigest.h"
#include "jet/database.h"

#include <map>
#include <string>

namespace tarnwick::jet {

// Reads every table of `db` and digests its rows, renumbering ids by `renumber`.
SourceRows tableDigests(const Database& db, const TableIdMap& renumber,
                        TextForm text = TextForm::Stored);

// Proves a rebuilt file from what is on disk: `check` finds no problems (index walks equal
// their rows among them), each table has the new id the digests were renumbered with, and
// every table holds the same rows as the source, whose digests were taken as the rebuild read
// it (each in the place the rebuild put it, for the tables in `sourceRows.written`). Throws
// JetError naming the first difference.
void verifyRebuilt(const Database& source, const Database& rebuilt, const SourceRows& sourceRows);

// As above, reading the source's rows from `source`; with `rowsToo` false only `check` runs. A
// Jet 3 source of a Jet 4 file (a conversion) is compared by the values its text converts to.
void verifyRebuilt(const Database& source, const Database& rebuilt, bool rowsToo = true);

} // namespace tarnwick::jet
