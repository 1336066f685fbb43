#include "write/pagebuild.h"

#include "jet/error.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tarnwick::jet {

DataPageBuilder::DataPageBuilder(const Format& format, std::uint32_t owner, PageWriter* pages)
    : format_(format), owner_(owner), pages_(pages), low_(format.pageSize) {}

// The page's bytes are made when the first row comes: a builder often ends with its page taken.
std::uint8_t* DataPageBuilder::bytes() {
    if (page_.empty()) {
        if (pages_)
            page_ = pages_->blankPage();
        else
            page_.assign(format_.pageSize, 0);
    }
    return page_.data();
}

std::size_t DataPageBuilder::freeSpace() const {
    return low_ - (format_.dataHeaderLength + 2 * offsets_.size());
}

bool DataPageBuilder::fits(std::size_t rowLength) const {
    return offsets_.size() < 255 && rowLength + 2 <= freeSpace();
}

std::uint8_t DataPageBuilder::add(Bytes row, std::uint16_t flags) {
    if (!fits(row.size()))
        throw JetError("data page", JetError::noPage, "internal: row does not fit");
    low_ -= row.size();
    std::uint8_t* page = bytes();
    if (!row.empty()) std::memcpy(page + low_, row.data(), row.size());
    offsets_.push_back(static_cast<std::uint16_t>(low_ | flags));
    return static_cast<std::uint8_t>(offsets_.size() - 1);
}

std::span<std::uint8_t> DataPageBuilder::append(std::size_t length) {
    if (!fits(length)) throw JetError("data page", JetError::noPage, "internal: row does not fit");
    low_ -= length;
    offsets_.push_back(static_cast<std::uint16_t>(low_));
    return {bytes() + low_, length};
}

std::vector<std::uint8_t> DataPageBuilder::take() {
    bytes();
    std::vector<std::uint8_t> page = std::exchange(page_, {});
    page[0] = 0x01;
    page[1] = 0x01;
    put16(page.data() + 2, static_cast<std::uint32_t>(freeSpace()));
    put32(page.data() + 4, owner_);
    put16(page.data() + format_.dataRowCountOffset, static_cast<std::uint32_t>(offsets_.size()));
    for (std::size_t i = 0; i < offsets_.size(); ++i)
        put16(page.data() + format_.dataHeaderLength + 2 * i, offsets_[i]);
    offsets_.clear();
    low_ = format_.pageSize;
    return page;
}

std::vector<std::uint8_t> buildUsageMap(PageWriter& out, const std::vector<std::uint32_t>& pages,
                                        std::size_t rowLength, std::uint32_t freeFrom) {
    std::vector<std::uint8_t> row(rowLength, 0);
    const std::uint64_t window = 8 * static_cast<std::uint64_t>(rowLength - 5);
    const std::uint32_t start = pages.empty() ? 0 : (pages.front() & ~7u);
    const std::uint64_t end = freeFrom ? freeFrom : (pages.empty() ? 0 : pages.back() + 1ull);
    if (end - start <= window) {
        row[0] = 0x00;
        put32(row.data() + 1, start);
        auto set = [&](std::uint64_t p) { row[5 + (p - start) / 8] |= 1u << ((p - start) % 8); };
        for (std::uint32_t p : pages)
            set(p);
        if (freeFrom)
            for (std::uint64_t p = freeFrom; p < start + window; ++p)
                set(p);
        return row;
    }
    // Reference map: slot k names a bitmap page for pages k*P .. (k+1)*P-1.
    row[0] = 0x01;
    const std::uint64_t per = 8 * static_cast<std::uint64_t>(out.pageSize() - 4);
    const std::size_t slots = (rowLength - 1) / 4;
    std::size_t i = 0;
    for (std::size_t k = 0; k < slots; ++k) {
        const std::uint64_t lo = k * per, hi = lo + per;
        const bool anyListed = i < pages.size() && pages[i] < hi;
        const bool anyFree = freeFrom && freeFrom >= lo && freeFrom < hi;
        if (!anyListed && !anyFree) continue;
        std::vector<std::uint8_t> bitmap(out.pageSize(), 0);
        bitmap[0] = 0x05;
        bitmap[1] = 0x01;
        auto set = [&](std::uint64_t p) { bitmap[4 + (p - lo) / 8] |= 1u << ((p - lo) % 8); };
        for (; i < pages.size() && pages[i] < hi; ++i)
            set(pages[i]);
        if (freeFrom)
            for (std::uint64_t p = std::max<std::uint64_t>(freeFrom, lo); p < hi; ++p)
                set(p);
        const std::uint32_t at = out.allocate();
        out.write(at, std::move(bitmap));
        put32(row.data() + 1 + 4 * k, at);
    }
    if (i < pages.size())
        throw JetError("usage map", JetError::noPage,
                       "page " + std::to_string(pages[i]) + " lies beyond what a map can describe");
    return row;
}

} // namespace tarnwick::jet
