#pragma once

#include "jet/bytes.h"
#include "jet/format.h"
#include "write/pagewriter.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::jet {

// Fills one data page (table rows, long-value rows or map rows): rows packed down from the end
// in slot order, at most 255 slots, free-space figure exact.
class DataPageBuilder {
public:
    // Pages come from `pages` when given (see PageWriter::blankPage).
    DataPageBuilder(const Format& format, std::uint32_t owner, PageWriter* pages = nullptr);

    bool empty() const { return offsets_.empty(); }
    std::size_t slots() const { return offsets_.size(); }
    std::size_t freeSpace() const;
    bool fits(std::size_t rowLength) const;
    // Appends a row and returns its slot; the caller checked fits().
    std::uint8_t add(Bytes row, std::uint16_t flags = 0);
    // Appends a row of `length` bytes for the caller to fill in place.
    std::span<std::uint8_t> append(std::size_t length);
    // The finished page; the builder starts over empty.
    std::vector<std::uint8_t> take();

private:
    std::uint8_t* bytes();

    const Format& format_;
    std::uint32_t owner_;
    PageWriter* pages_;
    std::vector<std::uint8_t> page_; // empty until a row comes
    std::vector<std::uint16_t> offsets_;
    std::size_t low_; // lowest row start
};

// Bytes free on an empty data page for rows and their slots.
inline std::size_t emptyDataPageRoom(const Format& f) {
    return f.pageSize - f.dataHeaderLength;
}

// Standard length of a usage-map row: 5 + 64 bytes (Jet 4), 5 + 128 (Jet 3).
inline std::size_t usageMapRowLength(const Format& f) {
    return f.jet4() ? 69 : 133;
}

// The map row for a set of pages (ascending, no duplicates): an inline map when they fit one
// window starting at a multiple of 8, otherwise a reference map whose bitmap pages are
// allocated and written through `out`. `freeFrom` > 0 marks every position from there to the
// end of the bitmap as well (the global map's "past the end of the file").
std::vector<std::uint8_t> buildUsageMap(PageWriter& out, const std::vector<std::uint32_t>& pages,
                                        std::size_t rowLength, std::uint32_t freeFrom = 0);

} // namespace tarnwick::jet
