#include "jet/index.h"

#include "jet/format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

namespace tarnwick::jet {

namespace {
const std::string kStructure = "index page";
constexpr int kMaxDepth = 8;
} // namespace

int IndexEntry::compare(const IndexEntry& o) const {
    const std::size_t n = std::min(key.size(), o.key.size());
    if (n) {
        const int c = std::memcmp(key.data(), o.key.data(), n);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (key.size() != o.key.size()) return key.size() < o.key.size() ? -1 : 1;
    if (page != o.page) return page < o.page ? -1 : 1;
    if (row != o.row) return row < o.row ? -1 : 1;
    return 0;
}

void sortIndexEntries(std::vector<IndexEntry>& entries) {
    // Most comparisons are settled by the first eight key bytes, read big-endian and padded
    // with zeros (where the padding decides, the shorter key is a prefix of the other), and by
    // the row for keys that short, without touching the keys themselves.
    struct Item {
        std::uint64_t prefix;
        std::uint64_t where; // key length, page, row
        std::uint32_t at;
    };
    std::vector<Item> items(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& e = entries[i];
        const std::uint8_t* key = e.key.data();
        const std::size_t size = e.key.size();
        std::uint64_t p = 0;
        for (std::size_t b = 0; b < 8; ++b)
            p = p << 8 | (b < size ? key[b] : 0);
        const std::uint64_t length = std::min<std::size_t>(e.key.size(), 0xFF);
        items[i] = {p, length << 56 | std::uint64_t{e.page} << 8 | e.row,
                    static_cast<std::uint32_t>(i)};
    }
    std::sort(items.begin(), items.end(), [&](const Item& x, const Item& y) {
        if (x.prefix != y.prefix) return x.prefix < y.prefix;
        if (x.where >> 56 <= 8 && y.where >> 56 <= 8) return x.where < y.where;
        return entries[x.at].compare(entries[y.at]) < 0;
    });
    // Entry i takes entries[items[i].at]: moved along each cycle of that permutation, in place.
    constexpr std::uint32_t moved = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].at == moved) continue;
        IndexEntry first = std::move(entries[i]);
        for (std::size_t to = i;;) {
            const std::size_t from = std::exchange(items[to].at, moved);
            if (from == i) {
                entries[to] = std::move(first);
                break;
            }
            entries[to] = std::move(entries[from]);
            to = from;
        }
    }
}

std::uint32_t IndexPage::computedFreeSpace(const Format& f) const {
    const std::size_t used = f.indexFirstEntry + usedBytes;
    return used < f.pageSize ? static_cast<std::uint32_t>(f.pageSize - used) : 0;
}

IndexPage readIndexPage(const PageFile& file, std::uint32_t page) {
    const Format& f = file.format();
    ByteReader r = file.reader(page, kStructure);
    IndexPage ip;
    ip.number = page;
    const std::uint8_t type = r.u8(0);
    if (type != pagetype::indexLeaf && type != pagetype::indexNode)
        r.fail("expected an index page, found page type " + std::to_string(type));
    ip.leaf = type == pagetype::indexLeaf;
    ip.freeSpace = r.u16(2);
    ip.owner = r.u32(4);
    ip.prev = r.u32(f.indexPrevOffset);
    ip.next = r.u32(f.indexNextOffset);
    ip.tail = r.u32(f.indexTailOffset);
    ip.prefixLength = f.jet4() ? r.u16(f.indexPrefixOffset) : r.u8(f.indexPrefixOffset);
    const std::size_t trailer = ip.leaf ? 4 : 8;
    const std::size_t area = f.pageSize - f.indexFirstEntry;

    Bytes mask = r.slice(f.indexMaskOffset, f.indexMaskLength);
    std::size_t count = 0;
    for (std::uint8_t m : mask)
        count += static_cast<std::size_t>(std::popcount(m));
    ip.entries.reserve(count);
    std::size_t prev = 0;
    Bytes prefix; // the first entry's leading bytes, which later entries leave out
    for (std::size_t bitPos = 0; bitPos < mask.size() * 8; ++bitPos) {
        if (!(mask[bitPos / 8] & (1u << (bitPos % 8)))) continue;
        if (bitPos > area)
            r.fail("entry mask marks an entry ending past the page at " + std::to_string(bitPos));
        if (bitPos <= prev && !(bitPos == 0 && prev == 0)) r.fail("entry mask is not increasing");
        if (bitPos == 0) r.fail("entry mask marks an empty first entry");
        const Bytes stored = r.slice(f.indexFirstEntry + prev, bitPos - prev);
        if (ip.entries.empty()) {
            if (ip.prefixLength > stored.size())
                r.fail("shared prefix of " + std::to_string(ip.prefixLength) +
                       " bytes exceeds the first entry");
            prefix = stored.first(ip.prefixLength);
        }
        const Bytes lead = ip.entries.empty() ? Bytes{} : prefix;
        const std::size_t full = lead.size() + stored.size();
        if (full < trailer)
            r.fail("entry " + std::to_string(ip.entries.size()) +
                   " is shorter than its row pointer");
        const std::size_t k = full - trailer;
        auto at = [&](std::size_t i) {
            return i < lead.size() ? lead[i] : stored[i - lead.size()];
        };
        IndexEntry& e = ip.entries.emplace_back();
        std::uint8_t* key = e.key.prepare(k);
        const std::size_t fromLead = std::min(k, lead.size());
        if (fromLead) std::memcpy(key, lead.data(), fromLead);
        if (k > fromLead) std::memcpy(key + fromLead, stored.data(), k - fromLead);
        e.page = (static_cast<std::uint32_t>(at(k)) << 16) |
                 (static_cast<std::uint32_t>(at(k + 1)) << 8) | at(k + 2);
        e.row = at(k + 3);
        if (!ip.leaf)
            e.child = (static_cast<std::uint32_t>(at(k + 4)) << 24) |
                      (static_cast<std::uint32_t>(at(k + 5)) << 16) |
                      (static_cast<std::uint32_t>(at(k + 6)) << 8) | at(k + 7);
        prev = bitPos;
    }
    ip.usedBytes = prev;
    return ip;
}

namespace {

struct Walker {
    const PageFile& file;
    std::uint32_t owner;
    IndexWalk& out;
    const LeafVisitor& leafEntries;
    std::set<std::uint32_t> seen;
    std::size_t emitted = 0; // leaf entries handed on so far
    IndexEntry last;         // the last of them

    // `first` receives the first leaf entry below `page`, if there is one.
    void visit(std::uint32_t page, int depth, std::optional<IndexEntry>* first) {
        if (depth > kMaxDepth) {
            out.problems.push_back("index page " + std::to_string(page) + ": tree deeper than " +
                                   std::to_string(kMaxDepth) + " levels");
            return;
        }
        if (!seen.insert(page).second) {
            out.problems.push_back("index page " + std::to_string(page) +
                                   ": reached twice in the tree");
            return;
        }
        IndexPage ip;
        try {
            ip = readIndexPage(file, page);
        } catch (const JetError& e) {
            out.problems.push_back(e.what());
            return;
        }
        out.pages.push_back(page);
        out.heads.push_back(
            {ip.leaf, ip.freeSpace, ip.computedFreeSpace(file.format()), ip.prev, ip.next});
        if (ip.owner != owner)
            out.problems.push_back("index page " + std::to_string(page) + ": belongs to table " +
                                   std::to_string(ip.owner) + ", not " + std::to_string(owner));
        if (ip.leaf) {
            out.leaves.push_back(page);
            if (ip.entries.empty()) return;
            if (first && !*first) *first = ip.entries.front();
            emitted += ip.entries.size();
            last = ip.entries.back();
            leafEntries(ip.entries); // may move the entries away
            return;
        }
        // The parent's entry for a child is a copy of the greatest entry below it; lookups rely
        // on it being no smaller than that and smaller than anything in the next child.
        const IndexEntry* previous = nullptr;
        auto child = [&](std::uint32_t number) {
            std::optional<IndexEntry> childFirst;
            visit(number, depth + 1, &childFirst);
            if (first && !*first && childFirst) *first = childFirst;
            if (previous && childFirst && childFirst->compare(*previous) <= 0)
                out.problems.push_back("index page " + std::to_string(page) + ": entry for child " +
                                       std::to_string(previous->child) +
                                       " is not smaller than the first entry of child " +
                                       std::to_string(number));
        };
        for (const auto& e : ip.entries) {
            const std::size_t before = emitted;
            child(e.child);
            if (emitted > before && last.compare(e) > 0)
                out.problems.push_back("index page " + std::to_string(page) + ": entry for child " +
                                       std::to_string(e.child) +
                                       " is smaller than the child's last entry");
            previous = &e;
        }
        if (ip.tail != 0)
            child(ip.tail);
        else if (ip.entries.empty())
            out.problems.push_back("index page " + std::to_string(page) +
                                   ": intermediate page with no children");
    }
};

} // namespace

IndexWalk walkIndex(const PageFile& file, std::uint32_t rootPage, std::uint32_t owner,
                    const LeafVisitor& leafEntries) {
    IndexWalk walk;
    Walker w{file, owner, walk, leafEntries, {}, 0, {}};
    w.visit(rootPage, 0, nullptr);
    return walk;
}

IndexWalk walkIndex(const PageFile& file, std::uint32_t rootPage, std::uint32_t owner,
                    std::size_t expected) {
    std::vector<IndexEntry> entries;
    entries.reserve(expected);
    IndexWalk walk = walkIndex(file, rootPage, owner, [&](std::span<IndexEntry> leaf) {
        entries.insert(entries.end(), std::make_move_iterator(leaf.begin()),
                       std::make_move_iterator(leaf.end()));
    });
    walk.entries = std::move(entries);
    return walk;
}

} // namespace tarnwick::jet
