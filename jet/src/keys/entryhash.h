#pragma once

// Index entries as 64-bit hashes, so that an index can be compared with the entries it should
// hold by a count and a sum, in any order, without keeping either side.

#include "jet/bytes.h"

#include <cstdint>
#include <cstring>

namespace tarnwick::jet {

// A word-at-a-time hash of an index key; 0 is kept for keys that could not be encoded.
inline std::uint64_t keyHash(Bytes key) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ key.size();
    auto mix = [&h](std::uint64_t w) {
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, key.data() + i, 8);
        mix(w);
    }
    if (i < key.size()) mix(loadPadded(key.data() + i, key.size() - i));
    h = (h ^ (h >> 29)) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 32;
    return h ? h : 1;
}

// A row pointer (`RowPointer::raw`) paired with a hash, as an index entry and the row it
// points at should both give.
inline std::uint64_t pairHash(std::uint32_t row, std::uint64_t hash) {
    std::uint64_t z = hash + row * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// How many entries, and the sum of their pairHash: two multisets of (row, key) that differ
// give the same only once in 2^64.
struct EntrySum {
    std::uint64_t count = 0, sum = 0;
    void add(std::uint32_t row, std::uint64_t key) {
        ++count;
        sum += pairHash(row, key);
    }
    bool operator==(const EntrySum&) const = default;
};

} // namespace tarnwick::jet
