#pragma once

#include "jet/check.h"
#include "jet/database.h"

#include <vector>

namespace tarnwick::jet {

// The ACE complex columns of every table: each names a MSysComplexColumns row that points back
// at its table and at existing flat and template tables; every flat row belongs to a live row;
// no two rows share a complex value id; attachment data decodes; the counters of complex ids,
// complex value ids and flat row ids are ahead of every stored value.
std::vector<Finding> checkComplexColumns(const Database& db);

} // namespace tarnwick::jet
