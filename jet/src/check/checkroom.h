#pragma once

// How many of a table's rows `check` keeps to look index entries up one by one. A table with
// more keeps only counts and sums while it is read, and an index that disagrees with them is
// compared with the rows read again in windows of that many, so that checking a file of any
// size takes bounded memory.

#include "jet/check.h"

#include <cstddef>

namespace tarnwick::jet {

// About 16 MiB of kept rows for a table with three indexes.
constexpr std::size_t kCheckRowRoom = std::size_t{1} << 19;

// `check` with another room (tests: a small one makes every table use windows).
CheckReport checkWithRowRoom(const Database& db, std::size_t rowRoom);

} // namespace tarnwick::jet
