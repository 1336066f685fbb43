#pragma once

#include "jet/index.h"
#include "jet/pagewriter.h"

#include <cstdint>
#include <vector>

namespace tarnwick::jet {

struct BuiltIndex {
    std::uint32_t root = 0;
    std::vector<std::uint32_t> pages; // every page of the tree, ascending
    std::uint32_t entries = 0;
    std::uint32_t distinctKeys = 0;
};

// Writes an index tree bottom-up from its leaf entries, which must be sorted by (key, page,
// row) without duplicates (they are consumed): leaves filled left to right and chained, then levels
// of intermediate pages whose last child is the tail, until one page remains as the root.
BuiltIndex buildIndex(PageWriter& out, std::uint32_t owner, std::vector<IndexEntry>&& sorted);

} // namespace tarnwick::jet
