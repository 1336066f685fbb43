#pragma once

#include "jet/index.h"
#include "write/pagewriter.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace tarnwick::jet {

struct BuiltIndex {
    std::uint32_t root = 0;
    std::vector<std::uint32_t> pages; // every page of the tree, ascending
    std::uint32_t entries = 0;
    std::uint32_t distinctKeys = 0;
};

// An index tree laid out before its pages have numbers: the entries of each leaf, filled left
// to right, then levels of intermediate pages, each holding a range of the pages below, until
// one page remains as the root. Its pages are numbered in that order.
struct IndexLayout {
    using Range = std::pair<std::size_t, std::size_t>; // [begin, end)
    std::vector<Range> leaves;                         // ranges of entries
    std::vector<std::vector<Range>> levels;            // ranges of the pages of the level below
    std::uint32_t distinctKeys = 0;
    std::uint32_t pages() const;
};

// Lays out leaf entries sorted by (key, page, row) without duplicates. Touches nothing else, so
// indexes can be laid out on other threads.
IndexLayout layoutIndex(const Format& f, const std::vector<IndexEntry>& sorted);

// Writes the tree of `layout` on `layout.pages()` consecutive new pages: leaves chained, each
// intermediate page's last child its tail. The entries are consumed.
BuiltIndex writeIndex(PageWriter& out, std::uint32_t owner, const IndexLayout& layout,
                      std::vector<IndexEntry>&& sorted);

// Both of the above.
BuiltIndex buildIndex(PageWriter& out, std::uint32_t owner, std::vector<IndexEntry>&& sorted);

} // namespace tarnwick::jet
