#pragma once

#include "jet/error.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace tarnwick::jet {

using Bytes = std::span<const std::uint8_t>;

// A bounds-checked little-endian reader over a byte range. Every read outside the range throws
// a JetError naming the structure being read, never touching memory past the end.
class ByteReader {
public:
    ByteReader(Bytes data, std::string structure, std::uint32_t page = JetError::noPage)
        : data_(data), structure_(std::move(structure)), page_(page) {}

    std::size_t size() const { return data_.size(); }
    Bytes data() const { return data_; }
    std::uint32_t page() const { return page_; }
    const std::string& structure() const { return structure_; }

    void need(std::size_t off, std::size_t len) const {
        if (off > data_.size() || len > data_.size() - off) fail(off, len);
    }
    std::uint8_t u8(std::size_t off) const {
        need(off, 1);
        return data_[off];
    }
    std::uint16_t u16(std::size_t off) const {
        need(off, 2);
        return static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
    }
    std::uint32_t u32(std::size_t off) const {
        need(off, 4);
        return static_cast<std::uint32_t>(data_[off]) |
               (static_cast<std::uint32_t>(data_[off + 1]) << 8) |
               (static_cast<std::uint32_t>(data_[off + 2]) << 16) |
               (static_cast<std::uint32_t>(data_[off + 3]) << 24);
    }
    std::int32_t i32(std::size_t off) const { return static_cast<std::int32_t>(u32(off)); }
    std::uint64_t u64(std::size_t off) const {
        return static_cast<std::uint64_t>(u32(off)) |
               (static_cast<std::uint64_t>(u32(off + 4)) << 32);
    }
    Bytes slice(std::size_t off, std::size_t len) const {
        need(off, len);
        return data_.subspan(off, len);
    }

    [[noreturn]] void fail(std::size_t off, std::size_t len) const {
        throw JetError(structure_, page_,
                       "read of " + std::to_string(len) + " bytes at offset " +
                           std::to_string(off) + " runs past its end (" +
                           std::to_string(data_.size()) + " bytes)");
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw JetError(structure_, page_, what);
    }

private:
    Bytes data_;
    std::string structure_;
    std::uint32_t page_;
};

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The writing counterparts of le16 and le32; put16 writes v's low 16 bits.
inline void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The n <= 8 bytes at p as a little-endian word, zero-padded, without reading past them: one
// load, two overlapping ones, or three single bytes.
inline std::uint64_t loadPadded(const std::uint8_t* p, std::size_t n) {
    if (n == 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        return w;
    }
    if (n >= 4) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        return lo | std::uint64_t{hi} << (8 * (n - 4));
    }
    if (n == 0) return 0;
    return std::uint64_t{p[0]} | std::uint64_t{p[n / 2]} << (8 * (n / 2)) |
           std::uint64_t{p[n - 1]} << (8 * (n - 1));
}

// Row pointer as stored in usage maps, overflow rows and long values: row in the low byte.
struct RowPointer {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    static RowPointer fromRaw(std::uint32_t raw) {
        return {raw >> 8, static_cast<std::uint8_t>(raw & 0xFF)};
    }
    bool isNull() const { return page == 0 && row == 0; }
    std::uint32_t raw() const { return (page << 8) | row; }
    auto operator<=>(const RowPointer&) const = default;
};

inline std::string toString(RowPointer rp) {
    return "page " + std::to_string(rp.page) + " row " + std::to_string(rp.row);
}

} // namespace tarnwick::jet
