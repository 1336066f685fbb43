#pragma once

#include "jet/header.h"

#include <cstdint>
#include <vector>

namespace tarnwick::jet {

// Page 0 of a Jet 3 file in its Jet 4 form, decoded (the caller masks it): version 1, the same
// code page, General Legacy, `databaseKey`, a creation date of `creationDate` (days since
// 1899-12-30) and the password in UCS-2 under that date's mask; the fields nobody reads are
// copied where both formats have them.
std::vector<std::uint8_t> jet4Header(const DatabaseHeader& jet3, std::uint32_t databaseKey,
                                     double creationDate);

} // namespace tarnwick::jet
