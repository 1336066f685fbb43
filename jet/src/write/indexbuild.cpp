#include "write/indexbuild.h"

#include "jet/error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

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

std::vector<std::uint8_t> makePage(PageWriter& out, bool leaf, std::uint32_t owner,
                                   std::span<const IndexEntry> entries, std::uint32_t prev,
                                   std::uint32_t next, std::uint32_t tail, std::size_t maxPrefix) {
    const std::size_t begin = 0, end = entries.size();
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

IndexWriter::IndexWriter(PageWriter& out, std::uint32_t owner)
    : out_(out), owner_(owner), capacity_(out.format().pageSize - out.format().indexFirstEntry),
      maxPrefix_(out.format().jet4() ? 0xFFFF : 0xFF) {}

// A leaf takes entries while they fit with the prefix all of them share with its first.
void IndexWriter::add(IndexEntry&& e) {
    if (built_.entries == 0 || e.key != (leaf_.empty() ? lasts_.back().key : leaf_.back().key))
        ++built_.distinctKeys;
    ++built_.entries;
    const std::size_t size = storedSize(e, false);
    if (size > capacity_)
        throw JetError("index", JetError::noPage, "an index entry is larger than a page");
    if (!leaf_.empty()) {
        const std::size_t k = std::min(minKey_, e.key.size());
        const std::size_t p = std::min({commonPrefix(leaf_.front().key, e.key), k, maxPrefix_});
        if (sum_ + size - leaf_.size() * p <= capacity_) {
            sum_ += size;
            minKey_ = k;
            leaf_.push_back(std::move(e));
            return;
        }
        writeLeaf(true);
    }
    sum_ = size;
    minKey_ = e.key.size();
    leaf_.push_back(std::move(e));
}

void IndexWriter::writeLeaf(bool more) {
    const std::uint32_t page = out_.allocate();
    if (built_.pages.empty()) firstLeaf_ = page;
    built_.pages.push_back(page);
    out_.write(page,
               makePage(out_, true, owner_, leaf_, prevLeaf_, more ? page + 1 : 0, 0, maxPrefix_));
    prevLeaf_ = page;
    if (!leaf_.empty()) lasts_.push_back(std::move(leaf_.back()));
    leaf_.clear();
}

// Each page of a level, as an entry of the level above, is the greatest entry below it.
void IndexWriter::writeLevels() {
    std::vector<IndexEntry> below = std::move(lasts_);
    std::uint32_t belowFirst = firstLeaf_;
    while (below.size() > 1) {
        // Every child but the last is a stored entry (with its child's page), the last is the
        // tail; the stored entries must fit a page.
        auto stored = [&](std::size_t child) { return below[child].key.size() + 8; };
        std::vector<std::pair<std::size_t, std::size_t>> groups;
        for (std::size_t i = 0; i < below.size();) {
            const std::size_t begin = i;
            std::size_t sum = 0;
            ++i; // the first child is at least the tail
            while (i < below.size() && sum + stored(i - 1) <= capacity_) {
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
        for (std::size_t c = 0; c < below.size(); ++c)
            below[c].child = belowFirst + static_cast<std::uint32_t>(c);
        const std::uint32_t first = out_.allocate(static_cast<std::uint32_t>(groups.size()));
        std::vector<IndexEntry> upper;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            const auto [begin, end] = groups[g];
            const std::uint32_t page = first + static_cast<std::uint32_t>(g);
            built_.pages.push_back(page);
            const std::uint32_t prev = g ? page - 1 : 0;
            const std::uint32_t next = g + 1 < groups.size() ? page + 1 : 0;
            const bool single = end - begin == 1;
            const std::size_t storedEnd = single ? end : end - 1;
            const std::uint32_t tail =
                single ? 0 : belowFirst + static_cast<std::uint32_t>(end - 1);
            out_.write(
                page, makePage(out_, false, owner_,
                               std::span<const IndexEntry>(below).subspan(begin, storedEnd - begin),
                               prev, next, tail, 0));
            upper.push_back(below[end - 1]);
        }
        below = std::move(upper);
        belowFirst = first;
    }
    built_.root = belowFirst;
}

BuiltIndex IndexWriter::finish() {
    writeLeaf(false); // an empty index has one empty leaf
    writeLevels();
    return std::move(built_);
}

BuiltIndex buildIndex(PageWriter& out, std::uint32_t owner, std::vector<IndexEntry>&& sorted) {
    IndexWriter writer(out, owner);
    for (IndexEntry& e : sorted)
        writer.add(std::move(e));
    std::vector<IndexEntry>().swap(sorted);
    return writer.finish();
}

} // namespace tarnwick::jet
