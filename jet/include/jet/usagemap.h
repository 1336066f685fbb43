#pragma once

#include "jet/bytes.h"
#include "jet/pagefile.h"

#include <string>
#include <vector>

namespace tarnwick::jet {

// A set of pages stored as one row: inline (type 0, a window with a start page) or by
// reference (type 1, slots naming 0x05 bitmap pages).
struct UsageMap {
    enum class Kind { Inline, Reference };
    Kind kind = Kind::Inline;
    std::uint32_t start = 0;                // inline maps only
    std::uint64_t capacityEnd = 0;          // first page number the map cannot describe
    std::vector<std::uint32_t> pages;       // pages in the file whose bit is set, ascending
    std::uint64_t bitsBeyondFile = 0;       // set bits naming pages past the end of the file
    std::vector<std::uint32_t> bitmapPages; // 0x05 pages of a reference map
    // Slots of a reference map that could not be followed (outside the file or not a 0x05 page),
    // with the first page each slot would describe. Only meaningful for reference maps.
    struct BadSlot {
        std::size_t slot;
        std::uint32_t target;
        std::uint64_t firstPage;
        std::string why;
    };
    std::vector<BadSlot> badSlots;

    bool contains(std::uint32_t page) const;
};

// Parses a map row. `structure` names the map in errors. A bad slot in a reference map is
// recorded rather than thrown, so a caller can decide whether it matters.
UsageMap parseUsageMap(const PageFile& file, Bytes row, const std::string& structure,
                       std::uint32_t hostPage);

} // namespace tarnwick::jet
