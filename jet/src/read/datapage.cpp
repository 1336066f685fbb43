#include "read/datapage.h"

#include "jet/format.h"

#include <algorithm>
#include <array>
#include <functional>

namespace tarnwick::jet {

std::uint32_t DataPage::computedFreeSpace(const Format& f) const {
    std::uint32_t low = f.pageSize;
    for (const auto& s : slots)
        if (s.valid) low = std::min<std::uint32_t>(low, s.start);
    const std::uint32_t table = static_cast<std::uint32_t>(f.dataHeaderLength + 2 * slots.size());
    return low > table ? low - table : 0;
}

DataPage readDataPage(const PageFile& file, std::uint32_t page, const std::string& structure) {
    const Format& f = file.format();
    ByteReader r = file.reader(page, structure);
    if (r.u8(0) != pagetype::data)
        r.fail("expected a data page, found page type " + std::to_string(r.u8(0)));
    DataPage dp;
    dp.number = page;
    dp.bytes = r.data();
    dp.freeSpace = r.u16(2);
    dp.owner = r.u32(4);
    const std::size_t count = r.u16(f.dataRowCountOffset);
    const std::size_t tableEnd = f.dataHeaderLength + 2 * count;
    if (count > 255 || tableEnd > f.pageSize)
        r.fail("row count " + std::to_string(count) + " does not fit the page");
    dp.slots.resize(count);
    // Valid slots by start, then by number.
    std::array<std::pair<std::uint16_t, std::uint8_t>, 256> order;
    std::size_t valid = 0;
    for (std::size_t i = 0; i < count; ++i) {
        RowSlot& s = dp.slots[i];
        s.raw = r.u16(f.dataHeaderLength + 2 * i);
        s.start = s.raw & rowflag::offsetMask;
        if (s.start < tableEnd || s.start > f.pageSize) {
            s.valid = false;
            s.start = s.end = 0;
        } else {
            order[valid++] = {s.start, static_cast<std::uint8_t>(i)};
        }
    }
    // Rows are mostly stored down from the page's end in slot order: reversed, they are sorted.
    const auto last = order.begin() + static_cast<std::ptrdiff_t>(valid);
    if (std::is_sorted(order.begin(), last, std::greater<>()))
        std::reverse(order.begin(), last);
    else
        std::sort(order.begin(), last);
    // A row ends where the next row above it starts. A zero-length (deleted) slot shares its
    // start with the slot before it, so an earlier slot at the same offset also ends it.
    for (std::size_t k = 0; k < valid; ++k) {
        const auto [start, slot] = order[k];
        RowSlot& s = dp.slots[slot];
        if (k > 0 && order[k - 1].first == start) {
            s.end = start;
            continue;
        }
        std::size_t above = k + 1;
        while (above < valid && order[above].first == start)
            ++above;
        s.end = above < valid ? order[above].first : static_cast<std::uint16_t>(f.pageSize);
    }
    return dp;
}

Bytes rowAt(const PageFile& file, RowPointer rp, const std::string& structure, RowSlot* slotOut) {
    DataPage dp = readDataPage(file, rp.page, structure);
    if (rp.row >= dp.slots.size())
        throw JetError(structure, rp.page,
                       "row " + std::to_string(rp.row) + " does not exist (page has " +
                           std::to_string(dp.slots.size()) + " rows)");
    const RowSlot& s = dp.slots[rp.row];
    if (!s.valid)
        throw JetError(structure, rp.page,
                       "row " + std::to_string(rp.row) + " has an impossible offset");
    if (slotOut) *slotOut = s;
    return dp.row(rp.row);
}

} // namespace tarnwick::jet
