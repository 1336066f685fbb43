#include "write/indexbuild.h"

#include "jet/error.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tarnwick::jet {

namespace {

// Entries are stored as their key, the 3-byte big-endian page and the row, and on intermediate
// pages the child's page (4 bytes, big-endian).
std::size_t storedSize(const IndexEntry& e, bool withChild) {
    return e.key.size() + (withChild ? 8 : 4);
}

std::size_t writeTail(std::uint8_t* to, const IndexEntry& e, bool withChild) {
    to[0] = static_cast<std::uint8_t>(e.page >> 16);
    to[1] = static_cast<std::uint8_t>(e.page >> 8);
    to[2] = static_cast<std::uint8_t>(e.page);
    to[3] = e.row;
    if (!withChild) return 4;
    for (int i = 0; i < 4; ++i)
        to[4 + i] = static_cast<std::uint8_t>(e.child >> (8 * (3 - i)));
    return 8;
}

// A word at a time: the first differing byte is the lowest set one of the words' difference.
std::size_t commonPrefix(const KeyBytes& a, const KeyBytes& b) {
    const std::size_t n = std::min(a.size(), b.size());
    const std::uint8_t *x = a.data(), *y = b.data();
    std::size_t i = 0;
    for (; i < n; i += 8) {
        const std::size_t m = std::min<std::size_t>(8, n - i);
        const std::uint64_t d = loadPadded(x + i, m) ^ loadPadded(y + i, m);
        if (d) return i + static_cast<std::size_t>(std::countr_zero(d)) / 8;
    }
    return n;
}

std::vector<std::pair<std::size_t, std::size_t>>
groupEntries(const std::vector<IndexEntry>& entries, std::size_t capacity, std::size_t maxPrefix) {
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    std::size_t i = 0;
    while (i < entries.size()) {
        const std::size_t begin = i;
        std::size_t sum = storedSize(entries[i], false), minKey = entries[i].key.size();
        ++i;
        while (i < entries.size()) {
            const std::size_t size = storedSize(entries[i], false);
            const std::size_t k = std::min(minKey, entries[i].key.size());
            const std::size_t p =
                std::min({commonPrefix(entries[begin].key, entries[i].key), k, maxPrefix});
            const std::size_t n = i - begin + 1;
            if (sum + size - (n - 1) * p > capacity) break;
            sum += size;
            minKey = k;
            ++i;
        }
        if (storedSize(entries[begin], false) > capacity)
            throw JetError("index", JetError::noPage, "an index entry is larger than a page");
        groups.emplace_back(begin, i);
    }
    return groups;
}

std::vector<std::uint8_t> makePage(PageWriter& out, bool leaf, std::uint32_t owner,
                                   const std::vector<IndexEntry>& entries, std::size_t begin,
                                   std::size_t end, std::uint32_t prev, std::uint32_t next,
                                   std::uint32_t tail, std::size_t maxPrefix) {
    const Format& f = out.format();
    std::vector<std::uint8_t> page = out.blankPage();
    page[0] = leaf ? 0x04 : 0x03;
    page[1] = 0x01;
    put32(page.data() + 4, owner);
    put32(page.data() + f.indexPrevOffset, prev);
    put32(page.data() + f.indexNextOffset, next);
    put32(page.data() + f.indexTailOffset, tail);
    std::size_t prefix = 0;
    if (end - begin > 1) {
        std::size_t minKey = entries[begin].key.size();
        for (std::size_t i = begin; i < end; ++i)
            minKey = std::min(minKey, entries[i].key.size());
        prefix =
            std::min({commonPrefix(entries[begin].key, entries[end - 1].key), minKey, maxPrefix});
    }
    if (f.jet4()) {
        put16(page.data() + f.indexPrefixOffset, static_cast<std::uint32_t>(prefix));
        page[26] = leaf ? 0 : 1;
    } else {
        page[f.indexPrefixOffset] = static_cast<std::uint8_t>(prefix);
        page[21] = leaf ? 0 : 1;
    }
    std::size_t pos = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const std::size_t skip = i == begin ? 0 : prefix;
        const IndexEntry& e = entries[i];
        if (e.key.size() > skip)
            std::memcpy(page.data() + f.indexFirstEntry + pos, e.key.data() + skip,
                        e.key.size() - skip);
        pos += e.key.size() - skip;
        pos += writeTail(page.data() + f.indexFirstEntry + pos, e, !leaf);
        page[f.indexMaskOffset + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
    const std::size_t free = f.pageSize - f.indexFirstEntry - pos;
    put16(page.data() + 2, static_cast<std::uint32_t>(free));
    return page;
}

} // namespace

std::uint32_t IndexLayout::pages() const {
    std::size_t n = std::max<std::size_t>(leaves.size(), 1); // an empty index has an empty leaf
    for (const auto& level : levels)
        n += level.size();
    return static_cast<std::uint32_t>(n);
}

IndexLayout layoutIndex(const Format& f, const std::vector<IndexEntry>& sorted) {
    const std::size_t capacity = f.pageSize - f.indexFirstEntry;
    IndexLayout layout;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (i == 0 || sorted[i].key != sorted[i - 1].key) ++layout.distinctKeys;
    layout.leaves = groupEntries(sorted, capacity, f.jet4() ? 0xFFFF : 0xFF);
    // Each page of a level, as an entry of the level above, is the greatest entry below it.
    std::vector<std::size_t> last;
    for (const auto& leaf : layout.leaves)
        last.push_back(leaf.second - 1);
    while (last.size() > 1) {
        // Every child but the last is a stored entry (with its child's page), the last is the
        // tail; the stored entries must fit a page.
        auto stored = [&](std::size_t child) { return sorted[last[child]].key.size() + 8; };
        std::vector<IndexLayout::Range> groups;
        std::size_t i = 0;
        while (i < last.size()) {
            const std::size_t begin = i;
            std::size_t sum = 0;
            ++i; // the first child is at least the tail
            while (i < last.size() && sum + stored(i - 1) <= capacity) {
                sum += stored(i - 1);
                ++i;
            }
            groups.emplace_back(begin, i);
        }
        // A last page with a single child borrows one from its neighbour.
        if (groups.size() > 1 && groups.back().second - groups.back().first == 1) {
            auto& prev = groups[groups.size() - 2];
            if (prev.second - prev.first > 2) {
                --prev.second;
                --groups.back().first;
            }
        }
        std::vector<std::size_t> upper;
        for (const auto& g : groups)
            upper.push_back(last[g.second - 1]);
        last = std::move(upper);
        layout.levels.push_back(std::move(groups));
    }
    return layout;
}

BuiltIndex writeIndex(PageWriter& out, std::uint32_t owner, const IndexLayout& layout,
                      std::vector<IndexEntry>&& sorted) {
    const Format& f = out.format();
    BuiltIndex built;
    built.entries = static_cast<std::uint32_t>(sorted.size());
    built.distinctKeys = layout.distinctKeys;
    std::uint32_t first = out.allocate(layout.pages());
    for (std::uint32_t i = 0; i < layout.pages(); ++i)
        built.pages.push_back(first + i);
    if (sorted.empty()) {
        built.root = first;
        out.write(first, makePage(out, true, owner, {}, 0, 0, 0, 0, 0, 0));
        return built;
    }

    // Leaves, chained left to right.
    const std::size_t leaves = layout.leaves.size();
    for (std::size_t g = 0; g < leaves; ++g) {
        const std::uint32_t page = first + static_cast<std::uint32_t>(g);
        const std::uint32_t prev = g ? page - 1 : 0;
        const std::uint32_t next = g + 1 < leaves ? page + 1 : 0;
        out.write(page, makePage(out, true, owner, sorted, layout.leaves[g].first,
                                 layout.leaves[g].second, prev, next, 0, f.jet4() ? 0xFFFF : 0xFF));
    }

    // Intermediate levels, each on the pages after the level below.
    std::vector<std::size_t> last; // per page of the level below: its greatest entry
    for (const auto& leaf : layout.leaves)
        last.push_back(leaf.second - 1);
    std::uint32_t below = first;
    first += static_cast<std::uint32_t>(leaves);
    for (const auto& groups : layout.levels) {
        std::vector<IndexEntry> children;
        children.reserve(last.size());
        for (std::size_t c = 0; c < last.size(); ++c) {
            IndexEntry& e = children.emplace_back(sorted[last[c]]);
            e.child = below + static_cast<std::uint32_t>(c);
        }
        std::vector<std::size_t> upper;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const auto [begin, end] = groups[g];
            const std::uint32_t page = first + static_cast<std::uint32_t>(g);
            const std::uint32_t prev = g ? page - 1 : 0;
            const std::uint32_t next = g + 1 < groups.size() ? page + 1 : 0;
            const bool single = end - begin == 1;
            const std::size_t stored = single ? end : end - 1;
            const std::uint32_t tail = single ? 0 : below + static_cast<std::uint32_t>(end - 1);
            out.write(page,
                      makePage(out, false, owner, children, begin, stored, prev, next, tail, 0));
            upper.push_back(last[end - 1]);
        }
        last = std::move(upper);
        below = first;
        first += static_cast<std::uint32_t>(groups.size());
    }
    built.root = first - 1;
    std::vector<IndexEntry>().swap(sorted);
    return built;
}

BuiltIndex buildIndex(PageWriter& out, std::uint32_t owner, std::vector<IndexEntry>&& sorted) {
    const IndexLayout layout = layoutIndex(out.format(), sorted);
    return writeIndex(out, owner, layout, std::move(sorted));
}

} // namespace tarnwick::jet
