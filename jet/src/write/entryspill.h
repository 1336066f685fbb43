#pragma once

// Index entries beyond a rebuild's memory budget: sorted runs written to a temporary file beside
// the output and merged back in index order, so that a table of any size is indexed in bounded
// memory.

#include "jet/index.h"
#include "platform/posix/uniquefd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick::jet {

class EntrySpill {
public:
    struct Run {
        std::uint64_t offset = 0, bytes = 0;
    };

    // Creates the file in `folder`: our temporary naming, locked, armed against signals and
    // unnamed at once, so that it vanishes with the process however that ends.
    explicit EntrySpill(const std::string& folder);

    // Appends `sorted` as one run.
    Run write(const std::vector<IndexEntry>& sorted);
    // Hands the entries of `runs` and of `tail` (sorted, in memory; consumed) to `emit` in index
    // order, reading each run through `bufferBytes` of memory.
    void merge(const std::vector<Run>& runs, std::vector<IndexEntry>& tail, std::size_t bufferBytes,
               const std::function<void(IndexEntry&&)>& emit) const;

private:
    void read(std::uint64_t offset, std::uint8_t* to, std::size_t size) const;

    std::string folder_;
    posix::UniqueFd fd_;
    std::uint64_t end_ = 0;
};

} // namespace tarnwick::jet
