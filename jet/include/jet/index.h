#pragma once

#include "jet/bytes.h"
#include "jet/keybytes.h"
#include "jet/pagefile.h"
#include "jet/tabledef.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::jet {

struct IndexEntry {
    KeyBytes key;           // key bytes as stored (after restoring the shared prefix)
    std::uint32_t page = 0; // data page of the row's header slot
    std::uint8_t row = 0;
    std::uint32_t child = 0; // intermediate entries only

    // Entries sort by key bytes, then page, then row.
    int compare(const IndexEntry& other) const;
};

// Sorts entries into index order (`compare`).
void sortIndexEntries(std::vector<IndexEntry>& entries);

// Reserves room for `count` entries, on huge pages where the kernel has them: sorting reads a
// large table's entries at random, across far more small pages than the processor keeps
// translations for.
void reserveEntries(std::vector<IndexEntry>& entries, std::size_t count);

// One decoded index page.
struct IndexPage {
    std::uint32_t number = 0;
    bool leaf = true;
    std::uint16_t freeSpace = 0;
    std::uint32_t owner = 0;
    std::uint32_t prev = 0, next = 0, tail = 0;
    std::size_t prefixLength = 0;
    std::size_t usedBytes = 0; // entry bytes stored after the first-entry offset
    std::vector<IndexEntry> entries;

    std::uint32_t computedFreeSpace(const Format& f) const;
};

// Parses an index page; throws JetError("index page", ...) on anything inconsistent.
IndexPage readIndexPage(const PageFile& file, std::uint32_t page);

// What a walk saw of a page besides its entries.
struct IndexPageHead {
    bool leaf = true;
    std::uint16_t freeSpace = 0;         // as stored
    std::uint32_t computedFreeSpace = 0; // as the entries leave it
    std::uint32_t prev = 0, next = 0;
};

// The result of walking an index tree from its root. Walking never throws: what cannot be read
// is listed in `problems`, each naming the page.
struct IndexWalk {
    std::vector<IndexEntry> entries;  // leaf entries in tree order
    std::vector<std::uint32_t> pages; // every page reached, root first (leaves in tree order)
    std::vector<IndexPageHead> heads; // per page of `pages`
    std::vector<std::string> problems;
};

// `owner` is the table's TDEF page, which every page of the tree must name. `expected` is how
// many entries the caller expects, to make room for them at once.
IndexWalk walkIndex(const PageFile& file, std::uint32_t rootPage, std::uint32_t owner,
                    std::size_t expected = 0);

// The same, handing each leaf's entries to `leafEntries` as the walk meets them instead of
// gathering them (`entries` stays empty): a large index is then never held whole.
using LeafVisitor = std::function<void(std::span<IndexEntry>)>;
IndexWalk walkIndex(const PageFile& file, std::uint32_t rootPage, std::uint32_t owner,
                    const LeafVisitor& leafEntries);

} // namespace tarnwick::jet
