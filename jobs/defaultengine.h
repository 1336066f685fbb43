#pragma once

#include "jobs/compactjob.h"

#include <QString>

#include <memory>

namespace tarnwick::jobs {

// The repair-and-compact engine of a run without the window: the database component with the
// program's design values (dao/programdesign.h), bound to the engine of `version` ("3.5", "3.6"
// or "12.0").
std::unique_ptr<CompactEngine> makeDefaultEngine(const QString& version);

} // namespace tarnwick::jobs
