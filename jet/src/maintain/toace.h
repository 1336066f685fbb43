#pragma once

#include "jet/compact.h"
#include "jet/database.h"

namespace tarnwick::jet {

// Refuses, before anything is written, what a conversion of a Jet 4 file to ACE 12 cannot do:
// write over the source (the file name changes) or encode pages (Access encrypts ACE files
// with a password instead). Which sources may become ACE 12 is decided by targetFormat.
void checkAceConversion(const CompactOptions& options, bool newFile);

// What a conversion to ACE 12 did beyond the rebuild, as lines of the report.
void reportAceConversion(const Database& source, CompactReport& report);

} // namespace tarnwick::jet
