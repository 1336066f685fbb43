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

// Writes an index tree from its entries, given one at a time in index order (key, page, row,
// without duplicates), so that no more than a page of them is held: leaves filled left to right
// and chained, on consecutive new pages as they fill, then levels of intermediate pages, each
// holding a range of the pages below and its last child as its tail, until one page remains as
// the root. Nothing else may take page numbers from `out` until `finish`.
class IndexWriter {
public:
    IndexWriter(PageWriter& out, std::uint32_t owner);
    void add(IndexEntry&& e);
    BuiltIndex finish();

private:
    void writeLeaf(bool more);
    void writeLevels();

    PageWriter& out_;
    std::uint32_t owner_;
    std::size_t capacity_, maxPrefix_;
    std::vector<IndexEntry> leaf_; // the entries of the leaf being filled
    std::size_t sum_ = 0, minKey_ = 0;
    std::vector<IndexEntry> lasts_; // the greatest entry of each leaf written
    std::uint32_t firstLeaf_ = 0, prevLeaf_ = 0;
    BuiltIndex built_;
};

// Writes the tree of `sorted` (consumed).
BuiltIndex buildIndex(PageWriter& out, std::uint32_t owner, std::vector<IndexEntry>&& sorted);

} // namespace tarnwick::jet
