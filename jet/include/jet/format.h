#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick::jet {

enum class Version { Jet3, Jet4 };

// Layout constants that differ between the two formats. One instance per open database.
struct Format {
    Version version = Version::Jet4;
    std::uint32_t pageSize = 4096;

    // Data pages.
    std::size_t dataRowCountOffset = 12;
    std::size_t dataHeaderLength = 14;

    // Table definitions.
    std::size_t tdefHeaderLength = 63;
    std::size_t tdefRowCountOffset = 16;
    std::size_t tdefAutoNumberOffset = 20;
    std::size_t tdefTableTypeOffset = 40;
    std::size_t tdefMaxColsOffset = 41;
    std::size_t tdefVarColsOffset = 43;
    std::size_t tdefColsOffset = 45;
    std::size_t tdefIndexesOffset = 47;
    std::size_t tdefRealIndexesOffset = 51;
    std::size_t tdefOwnedMapOffset = 55;
    std::size_t tdefFreeMapOffset = 59;
    std::size_t realIndexStatsLength = 12;
    std::size_t columnLength = 25;
    std::size_t realIndexLength = 52;
    std::size_t logicalIndexLength = 28;

    // Index pages.
    std::size_t indexPrevOffset = 12;
    std::size_t indexNextOffset = 16;
    std::size_t indexTailOffset = 20;
    std::size_t indexPrefixOffset = 24;
    std::size_t indexMaskOffset = 27;
    std::size_t indexMaskLength = 453;
    std::size_t indexFirstEntry = 480;

    bool jet4() const { return version == Version::Jet4; }
    static Format forVersion(Version v);
};

inline Format Format::forVersion(Version v) {
    Format f;
    if (v == Version::Jet4) return f;
    f.version = Version::Jet3;
    f.pageSize = 2048;
    f.dataRowCountOffset = 8;
    f.dataHeaderLength = 10;
    f.tdefHeaderLength = 43;
    f.tdefRowCountOffset = 12;
    f.tdefAutoNumberOffset = 16;
    f.tdefTableTypeOffset = 20;
    f.tdefMaxColsOffset = 21;
    f.tdefVarColsOffset = 23;
    f.tdefColsOffset = 25;
    f.tdefIndexesOffset = 27;
    f.tdefRealIndexesOffset = 31;
    f.tdefOwnedMapOffset = 35;
    f.tdefFreeMapOffset = 39;
    f.realIndexStatsLength = 8;
    f.columnLength = 18;
    f.realIndexLength = 39;
    f.logicalIndexLength = 20;
    f.indexPrevOffset = 8;
    f.indexNextOffset = 12;
    f.indexTailOffset = 16;
    f.indexPrefixOffset = 20;
    f.indexMaskOffset = 22;
    f.indexMaskLength = 226;
    f.indexFirstEntry = 248;
    return f;
}

namespace pagetype {
constexpr std::uint8_t header = 0x00;
constexpr std::uint8_t data = 0x01;
constexpr std::uint8_t tableDef = 0x02;
constexpr std::uint8_t indexNode = 0x03;
constexpr std::uint8_t indexLeaf = 0x04;
constexpr std::uint8_t usageBitmap = 0x05;
} // namespace pagetype

// Owner field of long-value pages: the bytes "LVAL".
constexpr std::uint32_t lvalOwner = 0x4C41564Cu;

} // namespace tarnwick::jet
