#pragma once

#include "jet/bytes.h"
#include "jet/pagefile.h"

#include <string>
#include <vector>

namespace tarnwick::jet {

namespace rowflag {
constexpr std::uint16_t hidden = 0x8000;  // deleted, or the target of a forwarding row
constexpr std::uint16_t forward = 0x4000; // first four bytes point at the row's real place
constexpr std::uint16_t deleted = 0xC000;
constexpr std::uint16_t offsetMask = 0x1FFF;
} // namespace rowflag

struct RowSlot {
    std::uint16_t raw = 0;
    std::uint16_t start = 0; // offset of the first byte in the page
    std::uint16_t end = 0;   // one past the last byte
    bool valid = true;       // false when the offset lies outside the page's data area
    std::uint16_t flags() const { return raw & 0xE000; }
    bool isDeleted() const { return (raw & rowflag::deleted) == rowflag::deleted; }
    bool isHidden() const { return raw & rowflag::hidden; }
    bool isForward() const { return (raw & rowflag::deleted) == rowflag::forward; }
    bool isVisible() const { return !(raw & rowflag::hidden); }
    std::uint16_t length() const { return static_cast<std::uint16_t>(end - start); }
};

// A data page (type 0x01): owner, free-space figure and the row-offset table with each slot's
// extent. Rows are packed downwards from the end of the page; a slot ends where the next higher
// slot starts.
struct DataPage {
    std::uint32_t number = 0;
    std::uint32_t owner = 0;
    std::uint16_t freeSpace = 0;
    std::vector<RowSlot> slots;
    Bytes bytes;

    Bytes row(std::size_t slot) const {
        return bytes.subspan(slots[slot].start, slots[slot].length());
    }
    // The free space the page's contents imply.
    std::uint32_t computedFreeSpace(const Format& f) const;
};

// Throws JetError naming `structure` when the page is not a data page or its row table does not
// fit. Individual slots with impossible offsets are kept but marked invalid.
DataPage readDataPage(const PageFile& file, std::uint32_t page, const std::string& structure);

// The bytes of one row, by row pointer; throws when the slot does not exist or is invalid.
Bytes rowAt(const PageFile& file, RowPointer rp, const std::string& structure,
            RowSlot* slotOut = nullptr);

} // namespace tarnwick::jet
