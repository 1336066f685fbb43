#pragma once

#include "jobs/compactjob.h"

#include <memory>

namespace tarnwick::jobs {

// The database engine the repair-and-compact job runs when nobody chose another.
std::unique_ptr<CompactEngine> makeDefaultEngine();

} // namespace tarnwick::jobs
