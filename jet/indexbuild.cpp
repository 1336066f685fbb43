#include "jet/indexbuild.h"

#include "jet/error.h"

#include <algorithm>

namespace tarnwick::jet {

namespace {

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

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

std::size_t commonPrefix(const KeyBytes& a, const KeyBytes& b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

struct Node {
    std::uint32_t page = 0;
    IndexEntry last; // greatest leaf entry below this page
};

// Splits leaf entries into page groups: [begin, end) ranges. A group stores all its entries,
// sharing the prefix of its first and last key.
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

std::vector<std::uint8_t> makePage(const Format& f, bool leaf, std::uint32_t owner,
                                   const std::vector<IndexEntry>& entries, std::size_t begin,
                                   std::size_t end, std::uint32_t prev, std::uint32_t next,
                                   std::uint32_t tail, std::size_t maxPrefix) {
    std::vector<std::uint8_t> page(f.pageSize, 0);
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
        page[f.indexPrefixOffset] = static_cast<std::uint8_t>(prefix);
        page[f.indexPrefixOffset + 1] = static_cast<std::uint8_t>(prefix >> 8);
        page[26] = leaf ? 0 : 1;
    } else {
        page[f.indexPrefixOffset] = static_cast<std::uint8_t>(prefix);
        page[21] = leaf ? 0 : 1;
    }
    std::size_t pos = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const std::size_t skip = i == begin ? 0 : prefix;
        const IndexEntry& e = entries[i];
        std::uint8_t* to = page.data() + f.indexFirstEntry + pos;
        std::copy(e.key.begin() + skip, e.key.end(), to);
        pos += e.key.size() - skip;
        pos += writeTail(page.data() + f.indexFirstEntry + pos, e, !leaf);
        page[f.indexMaskOffset + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
    const std::size_t free = f.pageSize - f.indexFirstEntry - pos;
    page[2] = static_cast<std::uint8_t>(free);
    page[3] = static_cast<std::uint8_t>(free >> 8);
    return page;
}

} // namespace

BuiltIndex buildIndex(PageWriter& out, std::uint32_t owner, std::vector<IndexEntry>&& sorted) {
    const Format& f = out.format();
    const std::size_t capacity = f.pageSize - f.indexFirstEntry;
    const std::size_t maxPrefix = f.jet4() ? 0xFFFF : 0xFF;
    BuiltIndex built;
    built.entries = static_cast<std::uint32_t>(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (i == 0 || sorted[i].key != sorted[i - 1].key) ++built.distinctKeys;

    if (sorted.empty()) {
        built.root = out.allocate();
        out.write(built.root, makePage(f, true, owner, {}, 0, 0, 0, 0, 0, 0));
        built.pages.push_back(built.root);
        return built;
    }

    // Leaves, filled left to right and chained.
    auto groups = groupEntries(sorted, capacity, maxPrefix);
    std::uint32_t first = out.allocate(static_cast<std::uint32_t>(groups.size()));
    std::vector<Node> level;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const std::uint32_t page = first + static_cast<std::uint32_t>(g);
        const std::uint32_t prev = g ? page - 1 : 0;
        const std::uint32_t next = g + 1 < groups.size() ? page + 1 : 0;
        out.write(page, makePage(f, true, owner, sorted, groups[g].first, groups[g].second, prev,
                                 next, 0, maxPrefix));
        built.pages.push_back(page);
        level.push_back({page, sorted[groups[g].second - 1]});
    }
    std::vector<IndexEntry>().swap(sorted);

    // Intermediate levels: every child but the last is an entry, the last is the tail.
    while (level.size() > 1) {
        std::vector<IndexEntry> children;
        children.reserve(level.size());
        for (const auto& n : level) {
            IndexEntry& e = children.emplace_back(n.last);
            e.child = n.page;
        }
        // Group children so that the stored entries (all but the tail) fit a page.
        std::vector<std::pair<std::size_t, std::size_t>> nodeGroups;
        std::size_t i = 0;
        while (i < level.size()) {
            const std::size_t begin = i;
            std::size_t sum = 0;
            ++i; // the first child is at least the tail
            while (i < level.size() && sum + storedSize(children[i - 1], true) <= capacity) {
                sum += storedSize(children[i - 1], true);
                ++i;
            }
            nodeGroups.emplace_back(begin, i);
        }
        // A last page with a single child borrows one from its neighbour.
        if (nodeGroups.size() > 1 && nodeGroups.back().second - nodeGroups.back().first == 1) {
            auto& prev = nodeGroups[nodeGroups.size() - 2];
            if (prev.second - prev.first > 2) {
                --prev.second;
                --nodeGroups.back().first;
            }
        }
        first = out.allocate(static_cast<std::uint32_t>(nodeGroups.size()));
        std::vector<Node> upper;
        for (std::size_t g = 0; g < nodeGroups.size(); ++g) {
            const auto [begin, end] = nodeGroups[g];
            const std::uint32_t page = first + static_cast<std::uint32_t>(g);
            const std::uint32_t prev = g ? page - 1 : 0;
            const std::uint32_t next = g + 1 < nodeGroups.size() ? page + 1 : 0;
            const bool single = end - begin == 1;
            const std::size_t stored = single ? end : end - 1;
            const std::uint32_t tail = single ? 0 : level[end - 1].page;
            out.write(page,
                      makePage(f, false, owner, children, begin, stored, prev, next, tail, 0));
            built.pages.push_back(page);
            upper.push_back({page, level[end - 1].last});
        }
        level = std::move(upper);
    }
    built.root = level.front().page;
    std::sort(built.pages.begin(), built.pages.end());
    return built;
}

} // namespace tarnwick::jet
