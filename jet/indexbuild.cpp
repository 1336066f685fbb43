#include "jet/indexbuild.h"

#include "jet/error.h"

#include <algorithm>

namespace tarnwick::jet {

namespace {

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An entry as stored: key, 3-byte big-endian page, row, and for intermediate entries the child.
std::vector<std::uint8_t> entryBytes(const IndexEntry& e, bool withChild) {
    std::vector<std::uint8_t> b = e.key;
    b.push_back(static_cast<std::uint8_t>(e.page >> 16));
    b.push_back(static_cast<std::uint8_t>(e.page >> 8));
    b.push_back(static_cast<std::uint8_t>(e.page));
    b.push_back(e.row);
    if (withChild)
        for (int i = 3; i >= 0; --i)
            b.push_back(static_cast<std::uint8_t>(e.child >> (8 * i)));
    return b;
}

std::size_t commonPrefix(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
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

// Splits items (stored forms) into page groups: [begin, end) ranges. A group stores all its
// items, sharing the prefix of its first and last item (kept inside the key bytes).
std::vector<std::pair<std::size_t, std::size_t>>
groupItems(const std::vector<std::vector<std::uint8_t>>& items,
           const std::vector<std::size_t>& keyLen, std::size_t capacity, std::size_t maxPrefix) {
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    std::size_t i = 0;
    while (i < items.size()) {
        const std::size_t begin = i;
        std::size_t sum = items[i].size(), minKey = keyLen[i], prefix = 0;
        ++i;
        while (i < items.size()) {
            const std::size_t k = std::min(minKey, keyLen[i]);
            const std::size_t p = std::min({commonPrefix(items[begin], items[i]), k, maxPrefix});
            const std::size_t n = i - begin + 1;
            const std::size_t total = sum + items[i].size() - (n - 1) * p;
            if (total > capacity) break;
            sum += items[i].size();
            minKey = k;
            prefix = p;
            ++i;
        }
        (void)prefix;
        if (items[begin].size() > capacity)
            throw JetError("index", JetError::noPage, "an index entry is larger than a page");
        groups.emplace_back(begin, i);
    }
    return groups;
}

std::vector<std::uint8_t> makePage(const Format& f, bool leaf, std::uint32_t owner,
                                   const std::vector<std::vector<std::uint8_t>>& items,
                                   const std::vector<std::size_t>& keyLen, std::size_t begin,
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
        std::size_t minKey = keyLen[begin];
        for (std::size_t i = begin; i < end; ++i)
            minKey = std::min(minKey, keyLen[i]);
        prefix = std::min({commonPrefix(items[begin], items[end - 1]), minKey, maxPrefix});
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
        const auto& b = items[i];
        std::copy(b.begin() + static_cast<std::ptrdiff_t>(skip), b.end(),
                  page.begin() + static_cast<std::ptrdiff_t>(f.indexFirstEntry + pos));
        pos += b.size() - skip;
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
        out.write(built.root, makePage(f, true, owner, {}, {}, 0, 0, 0, 0, 0, 0));
        built.pages.push_back(built.root);
        return built;
    }

    // Leaves. Each entry's key becomes its stored form in place, so entries are held once.
    std::vector<std::vector<std::uint8_t>> items;
    std::vector<std::size_t> keyLen;
    items.reserve(sorted.size());
    keyLen.reserve(sorted.size());
    for (auto& e : sorted) {
        keyLen.push_back(e.key.size());
        e.key.push_back(static_cast<std::uint8_t>(e.page >> 16));
        e.key.push_back(static_cast<std::uint8_t>(e.page >> 8));
        e.key.push_back(static_cast<std::uint8_t>(e.page));
        e.key.push_back(e.row);
        items.push_back(std::move(e.key));
    }
    std::vector<IndexEntry>().swap(sorted);
    auto entryOf = [&](std::size_t i) {
        IndexEntry e;
        const auto& b = items[i];
        e.key.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(keyLen[i]));
        e.page = (static_cast<std::uint32_t>(b[keyLen[i]]) << 16) |
                 (static_cast<std::uint32_t>(b[keyLen[i] + 1]) << 8) | b[keyLen[i] + 2];
        e.row = b[keyLen[i] + 3];
        return e;
    };
    auto groups = groupItems(items, keyLen, capacity, maxPrefix);
    std::uint32_t first = out.allocate(static_cast<std::uint32_t>(groups.size()));
    std::vector<Node> level;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const std::uint32_t page = first + static_cast<std::uint32_t>(g);
        const std::uint32_t prev = g ? page - 1 : 0;
        const std::uint32_t next = g + 1 < groups.size() ? page + 1 : 0;
        out.write(page, makePage(f, true, owner, items, keyLen, groups[g].first, groups[g].second,
                                 prev, next, 0, maxPrefix));
        built.pages.push_back(page);
        level.push_back({page, entryOf(groups[g].second - 1)});
    }
    std::vector<std::vector<std::uint8_t>>().swap(items);
    std::vector<std::size_t>().swap(keyLen);

    // Intermediate levels: every child but the last is an entry, the last is the tail.
    while (level.size() > 1) {
        std::vector<std::vector<std::uint8_t>> childItems;
        std::vector<std::size_t> childKeys;
        for (const auto& n : level) {
            IndexEntry e = n.last;
            e.child = n.page;
            childItems.push_back(entryBytes(e, true));
            childKeys.push_back(e.key.size());
        }
        // Group children so that the stored entries (all but the tail) fit a page.
        std::vector<std::pair<std::size_t, std::size_t>> nodeGroups;
        std::size_t i = 0;
        while (i < level.size()) {
            const std::size_t begin = i;
            std::size_t sum = 0;
            ++i; // the first child is at least the tail
            while (i < level.size() && sum + childItems[i - 1].size() <= capacity) {
                sum += childItems[i - 1].size();
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
            out.write(page, makePage(f, false, owner, childItems, childKeys, begin, stored, prev,
                                     next, tail, 0));
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
