#pragma once

#include "jet/compact.h"
#include "jet/database.h"

namespace tarnwick::jet {

// CompactOptions::formatVersion asking for an ACE 12 (Access 2007) file.
constexpr int kAce12FormatVersion = 128;

// Whether `source` needs converting to be an ACE 12 file: false for an ACE 12 file, which is
// compacted as it is. Refuses, before anything is written, a source that cannot become one: a
// Jet 3 file (it goes through Jet 4 first), a newer ACE file, or options that ACE cannot hold
// (page encryption).
bool needsAceConversion(const Database& source, const CompactOptions& options);

// What a conversion to ACE 12 did beyond the rebuild, as lines of the report.
void reportAceConversion(const Database& source, CompactReport& report);

} // namespace tarnwick::jet
