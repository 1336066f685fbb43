#pragma once

#include "jet/bytes.h"
#include "jet/format.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::jet {

// Page 0, decoded.
struct DatabaseHeader {
    Version version = Version::Jet4;
    std::uint32_t pageSize = 4096;
    int codePage = 1252;
    int sortOrder = 0;        // collation LCID (1033 = General)
    int sortOrderVersion = 0; // Jet 4 only
    std::uint32_t databaseKey = 0;
    std::optional<double> creationDate; // Jet 4 only, days since 1899-12-30
    std::string password;               // UTF-8, empty when there is none
    std::vector<std::uint8_t> decoded;  // the whole decoded page 0
};

// Reads the version from the first bytes of a file (at least 0x15 bytes).
Version detectVersion(Bytes firstBytes);

// Parses a whole page 0 (pageSize bytes). Throws JetError("database definition page", 0, ...)
// when the page is not a Jet 3 or Jet 4 header.
DatabaseHeader parseHeader(Bytes page0);

// True when `candidate` is the database password; an empty candidate matches a file without one.
bool passwordMatches(const DatabaseHeader& header, const std::string& candidate);

} // namespace tarnwick::jet
