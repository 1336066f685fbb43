#include "jet/index.h"

#include "jet/format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include <sys/mman.h>

namespace tarnwick::jet {

namespace {
const std::string kStructure = "index page";
constexpr int kMaxDepth = 8;
} // namespace

int IndexEntry::compare(const IndexEntry& o) const {
    // Keys are short: compared a word at a time, most significant byte first, in line.
    const std::size_t n = std::min(key.size(), o.key.size());
    const std::uint8_t *a = key.data(), *b = o.key.data();
    auto order = [](std::uint64_t x, std::uint64_t y) {
        return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    };
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t x = loadPadded(a + i, 8), y = loadPadded(b + i, 8);
        if (x != y) return order(x, y);
    }
    if (i < n) {
        const std::uint64_t x = loadPadded(a + i, n - i), y = loadPadded(b + i, n - i);
        if (x != y) return order(x, y);
    }
    if (key.size() != o.key.size()) return key.size() < o.key.size() ? -1 : 1;
    if (page != o.page) return page < o.page ? -1 : 1;
    if (row != o.row) return row < o.row ? -1 : 1;
    return 0;
}

namespace {

// An entry while sorting, seen from key byte `depth` on: the next eight key bytes read
// big-endian and padded with zeros, and how many key bytes are left from there, 9 standing for
// more than eight. Ordering by (chunk, left) is the key order as far as those bytes decide it:
// where the padding ties, the shorter key is a prefix of the other and comes first.
// Items are twelve bytes, as sorting moves each of them several times.
struct SortItem {
    std::uint32_t high, low; // the chunk
    std::uint32_t tag;       // the entry's place in the unsorted vector << 4 | bytes left

    std::uint64_t chunk() const { return std::uint64_t{high} << 32 | low; }
    std::uint32_t at() const { return tag >> 4; }
    std::uint32_t left() const { return tag & 0xF; }
};

constexpr std::uint32_t kMoreThanEight = 9;
constexpr std::size_t kMaxItems = std::size_t{1} << 28;

SortItem sortItem(std::uint64_t chunk, std::uint32_t at, std::uint32_t left) {
    return {static_cast<std::uint32_t>(chunk >> 32), static_cast<std::uint32_t>(chunk),
            at << 4 | left};
}

SortItem sortItem(const IndexEntry& e, std::uint32_t at, std::size_t depth) {
    const std::size_t size = e.key.size();
    const std::size_t left = size > depth ? size - depth : 0;
    std::uint64_t chunk = 0;
    if (left >= 8 || (size <= KeyBytes::kInline && depth + 8 <= KeyBytes::kInline)) {
        // Eight bytes at once; those past a short key's end, still inside its inline buffer,
        // are masked off below.
        std::memcpy(&chunk, e.key.data() + depth, 8);
    } else if (left) {
        std::memcpy(&chunk, e.key.data() + depth, left);
    }
    if constexpr (std::endian::native == std::endian::little) chunk = __builtin_bswap64(chunk);
    if (left < 8) chunk = left ? chunk & ~std::uint64_t{0} << (8 * (8 - left)) : 0;
    return sortItem(chunk, at,
                    static_cast<std::uint32_t>(std::min<std::size_t>(left, kMoreThanEight)));
}

bool before(const SortItem& x, const SortItem& y) {
    return x.high != y.high ? x.high < y.high
           : x.low != y.low ? x.low < y.low
                            : x.left() < y.left();
}

// Sorts items[0, n) by (chunk, left), keeping the order of ties: an LSD radix sort over the
// nine bytes that matter, passing over bytes on which all items agree (most of them, for keys
// that share a leading byte or hold small numbers). `spare` is grown to n items when needed.
void radixSort(SortItem* items, std::vector<SortItem>& spare, std::size_t n) {
    constexpr int kDigits = 9; // `left`, then the chunk from its lowest byte up
    auto digit = [](const SortItem& it, int d) {
        return d == 0 ? it.left() : ((d < 5 ? it.low : it.high) >> (8 * ((d - 1) % 4))) & 0xFF;
    };
    if (n < 32) {
        // Insertion sort: stable, and quicker than counting on so few.
        for (std::size_t i = 1; i < n; ++i) {
            const SortItem it = items[i];
            std::size_t j = i;
            for (; j > 0 && before(it, items[j - 1]); --j)
                items[j] = items[j - 1];
            items[j] = it;
        }
        return;
    }
    // Only the digits on which items differ are counted and sorted on.
    SortItem differ{0, 0, 0};
    bool sorted = true;
    for (std::size_t i = 1; i < n; ++i) {
        const SortItem& it = items[i];
        differ.high |= it.high ^ items[0].high;
        differ.low |= it.low ^ items[0].low;
        differ.tag |= it.tag ^ items[0].tag;
        sorted = sorted && !before(it, items[i - 1]);
    }
    if (sorted) return;
    int used[kDigits];
    int digits = 0;
    for (int d = 0; d < kDigits; ++d)
        if (digit(differ, d)) used[digits++] = d;
    std::array<std::array<std::uint32_t, 256>, kDigits> counts{};
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < digits; ++k)
            ++counts[k][digit(items[i], used[k])];
    if (spare.size() < n) spare.resize(n);
    SortItem* from = items;
    SortItem* to = spare.data();
    for (int k = 0; k < digits; ++k) {
        const int d = used[k];
        auto& c = counts[k];
        std::uint32_t sum = 0;
        for (auto& v : c)
            sum += std::exchange(v, sum);
        for (std::size_t i = 0; i < n; ++i)
            to[c[digit(from[i], d)]++] = from[i];
        std::swap(from, to);
    }
    if (from != items) std::copy(from, from + n, items);
}

} // namespace

void sortIndexEntries(std::vector<IndexEntry>& entries) {
    // Indexes on autonumbers and other rising values arrive sorted.
    const std::size_t n = entries.size();
    std::size_t sorted = 1;
    while (sorted < n && entries[sorted - 1].compare(entries[sorted]) <= 0)
        ++sorted;
    if (sorted >= n) return;
    if (n >= kMaxItems) { // far more than any table holds
        std::sort(entries.begin(), entries.end(),
                  [](const IndexEntry& x, const IndexEntry& y) { return x.compare(y) < 0; });
        return;
    }
    // The rows of a rebuild come in page order, so their entries usually do; otherwise a first
    // sort by page and row puts them so. From there every sort keeps the order of ties, which
    // leaves equal keys ordered by page and row.
    std::vector<SortItem> items(n), spare;
    auto where = [&](std::size_t i) {
        return std::uint64_t{entries[i].page} << 8 | entries[i].row;
    };
    bool inOrder = true;
    for (std::size_t i = 0; i < n && inOrder; ++i) {
        items[i] = sortItem(entries[i], static_cast<std::uint32_t>(i), 0);
        inOrder = i == 0 || where(i - 1) <= where(i);
    }
    if (!inOrder) {
        for (std::size_t i = 0; i < n; ++i)
            items[i] = sortItem(where(i), static_cast<std::uint32_t>(i), 0);
        radixSort(items.data(), spare, n);
        for (auto& it : items)
            it = sortItem(entries[it.at()], it.at(), 0);
    }

    // Sorted by their first eight bytes, keys longer than that with equal bytes form runs that
    // are sorted again by their next eight, and so on. A run waiting on the stack remembers how
    // far it was scanned for such runs, so the stack grows with key length only.
    struct Run {
        std::size_t first, count, depth;
        std::size_t scanned; // `unsorted` before the run is sorted
    };
    constexpr std::size_t unsorted = ~std::size_t{0};
    std::vector<Run> runs{{0, n, 0, unsorted}};
    while (!runs.empty()) {
        Run& r = runs.back();
        SortItem* part = items.data() + r.first;
        if (r.scanned == unsorted) {
            if (r.depth)
                for (std::size_t i = 0; i < r.count; ++i)
                    part[i] = sortItem(entries[part[i].at()], part[i].at(), r.depth);
            radixSort(part, spare, r.count);
            r.scanned = 0;
        }
        std::size_t i = r.scanned, j = i;
        while (i < r.count) {
            j = i + 1;
            if (part[i].left() == kMoreThanEight)
                while (j < r.count && part[j].left() == kMoreThanEight &&
                       part[j].chunk() == part[i].chunk())
                    ++j;
            if (j - i > 1) break;
            i = j;
        }
        if (i >= r.count) {
            runs.pop_back();
            continue;
        }
        r.scanned = j;
        const Run tied{r.first + i, j - i, r.depth + 8, unsorted};
        runs.push_back(tied); // `r` is not used past here
    }

    // The entries are gathered in order into new room: the reads, at random, are independent
    // of each other and fetched ahead, where moving them along the cycles of the permutation in
    // place waits on each read in turn. The places are kept apart from the items to touch less
    // memory meanwhile.
    spare = {};
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = items[i].at();
    items = {};
    std::vector<IndexEntry> gathered;
    reserveEntries(gathered, n);
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) __builtin_prefetch(&entries[order[i + kAhead]]);
        gathered.push_back(std::move(entries[order[i]]));
    }
    entries.swap(gathered);
}

void reserveEntries(std::vector<IndexEntry>& entries, std::size_t count) {
    entries.reserve(count);
    // Only whole huge pages inside the room can be given; the advice may be refused (huge pages
    // turned off), which costs only speed.
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(entries.data());
    const std::uintptr_t end = begin + count * sizeof(IndexEntry);
    const std::uintptr_t from = (begin + kHuge - 1) & ~(kHuge - 1), to = end & ~(kHuge - 1);
    if (from < to) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

std::uint32_t IndexPage::computedFreeSpace(const Format& f) const {
    const std::size_t used = f.indexFirstEntry + usedBytes;
    return used < f.pageSize ? static_cast<std::uint32_t>(f.pageSize - used) : 0;
}

namespace {
// Counted eight bytes at a time without the processor's instruction, which the baseline
// x86-64 target lacks (std::popcount would call out for every byte).
std::size_t setBits(Bytes mask) {
    std::size_t count = 0, i = 0;
    for (; i + 8 <= mask.size(); i += 8) {
        std::uint64_t x;
        std::memcpy(&x, mask.data() + i, 8);
        x -= (x >> 1) & 0x5555555555555555ull;
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
        count += static_cast<std::size_t>((x * 0x0101010101010101ull) >> 56);
    }
    for (; i < mask.size(); ++i)
        count += static_cast<std::size_t>(std::popcount(mask[i]));
    return count;
}
} // namespace

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
    ip.entries.reserve(setBits(mask));
    std::size_t prev = 0;
    Bytes prefix; // the first entry's leading bytes, which later entries leave out
    // The set bits in order, a byte of the mask at a time: most bits are clear.
    for (std::size_t byte = 0; byte < mask.size(); ++byte)
        for (unsigned bits = mask[byte]; bits; bits &= bits - 1) {
            const std::size_t bitPos = byte * 8 + static_cast<std::size_t>(std::countr_zero(bits));
            if (bitPos > area)
                r.fail("entry mask marks an entry ending past the page at " +
                       std::to_string(bitPos));
            if (bitPos <= prev && !(bitPos == 0 && prev == 0))
                r.fail("entry mask is not increasing");
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
