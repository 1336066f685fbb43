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
    int sortOrderVersion = 0; // Jet 4 and ACE: 0 General Legacy, 1 General (Access 2010)
    // ACE files (Access 2007 and later, laid out as Jet 4): 12, 14, 15, 16 or 17 from byte
    // 0x14; 0 for Jet 3 and Jet 4 files.
    int aceVersion = 0;
    std::uint32_t databaseKey = 0;
    std::optional<double> creationDate; // Jet 4 only, days since 1899-12-30
    std::string password;               // UTF-8, empty when there is none
    std::vector<std::uint8_t> decoded;  // the whole decoded page 0
};

// Reads the version from the first bytes of a file (at least 0x15 bytes). ACE files read as
// Jet 4: their pages are laid out the same.
Version detectVersion(Bytes firstBytes);

// The ACE version (12 ... 17) of a file's first bytes, or 0 for Jet 3 and Jet 4 files.
int detectAceVersion(Bytes firstBytes);

// "Jet 3 (Access 97)", "Jet 4 (Access 2000-2003)", "ACE 14 (Access 2010)", ...
std::string formatName(const DatabaseHeader& header);

// Parses a whole page 0 (pageSize bytes). Throws JetError("database definition page", 0, ...)
// when the page is not a Jet 3, Jet 4 or ACE header, and DatabaseEncrypted for an ACE file
// encrypted with a database password.
DatabaseHeader parseHeader(Bytes page0);

// True when `candidate` is the database password; an empty candidate matches a file without one.
bool passwordMatches(const DatabaseHeader& header, const std::string& candidate);

} // namespace tarnwick::jet
