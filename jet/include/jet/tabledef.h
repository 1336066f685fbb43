#pragma once

#include "jet/bytes.h"
#include "jet/pagefile.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::jet {

enum class ColumnType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Decimal = 0x10,
    FixedBinary = 0x11, // 3992-byte binary of some system tables
    Complex = 0x12,     // ACE: the row's complex value id; the values live in a flat table
    BigInt = 0x13,      // ACE 16: 8-byte signed integer
    ExtDateTime = 0x14, // ACE 17: 42 ASCII bytes, days, seconds and 100 ns ticks
};

std::string typeName(ColumnType t);
// Bytes a fixed-size value of this type takes in a row, 0 for types of variable size.
// Inline: it is asked for every field of every row.
constexpr std::size_t fixedSizeOf(ColumnType t) {
    switch (t) {
    case ColumnType::Byte:
        return 1;
    case ColumnType::Integer:
        return 2;
    case ColumnType::Long:
    case ColumnType::Single:
    case ColumnType::Complex:
        return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::BigInt:
        return 8;
    case ColumnType::ExtDateTime:
        return 42;
    case ColumnType::Guid:
        return 16;
    case ColumnType::Decimal:
        return 17;
    default: // Boolean lives in the null mask; the rest vary in size
        return 0;
    }
}

namespace colflag {
constexpr std::uint8_t fixed = 0x01;
constexpr std::uint8_t autoLong = 0x04;
constexpr std::uint8_t autoGuid = 0x40;
constexpr std::uint8_t hyperlink = 0x80;
} // namespace colflag

struct Column {
    std::string name;
    ColumnType type = ColumnType::Text;
    std::uint16_t number = 0;      // null-mask bit and identity
    std::uint16_t varIndex = 0;    // slot in the variable-offset table
    std::uint16_t fixedOffset = 0; // position in the fixed area
    std::uint16_t length = 0;
    std::uint8_t flags = 0;
    std::uint8_t extFlags = 0; // Jet 4: 0x01 = compressed Unicode allowed
    int sortOrder = 0;
    int sortOrderVersion = 0;              // Jet 4 / ACE text: 0 General Legacy, 1 General
    int codePage = 0;                      // Jet 3
    std::uint8_t precision = 0, scale = 0; // Decimal
    std::uint32_t complexId = 0;           // Complex: its MSysComplexColumns.ComplexID
    // Calculated (ACE 14): the type of the stored result, from the column's ResultType property;
    // the descriptor's type often differs.
    ColumnType resultType = ColumnType::Text;

    bool isFixed() const { return flags & colflag::fixed; }
    bool isCalculated() const { return (extFlags & 0xC0) == 0xC0; }
    // Held in long-value storage: Memo and OLE, and calculated columns with a Memo result
    // (whose descriptor says Text).
    bool isLong() const {
        return type == ColumnType::Memo || type == ColumnType::Ole ||
               (isCalculated() && resultType == ColumnType::Memo);
    }
};

struct IndexColumn {
    std::uint16_t column = 0; // column number
    bool ascending = true;
    std::uint16_t position = 0xFFFF; // where the column stands in the table's columns, if known
};

namespace idxflag {
constexpr std::uint8_t unique = 0x01;
constexpr std::uint8_t ignoreNulls = 0x02;
constexpr std::uint8_t required = 0x08;
} // namespace idxflag

// A physical index tree.
struct RealIndex {
    std::uint32_t number = 0;
    std::vector<IndexColumn> columns;
    RowPointer usageMap;
    std::uint32_t rootPage = 0;
    std::uint8_t flags = 0;
    std::uint32_t statEntries = 0, statDistinct = 0;
};

// A named index as the user sees it; several can share one real index.
struct LogicalIndex {
    std::string name;
    std::uint32_t number = 0;
    std::uint32_t realIndex = 0;
    std::uint8_t foreignKeyRole = 0; // 1 referenced side, 2 referencing side
    std::int32_t otherIndex = -1;
    std::uint32_t otherTable = 0; // TDEF page of the related table
    std::uint8_t cascadeUpdates = 0, cascadeDeletes = 0;
    std::uint8_t kind = 0; // 1 primary key, 2 foreign key
};

struct LongValueMaps {
    std::uint16_t column = 0;
    RowPointer owned;
    RowPointer free; // may be null
};

struct TableDef {
    std::uint32_t page = 0;           // identity of the table
    std::vector<std::uint32_t> pages; // first page and continuation pages, in chain order
    std::uint32_t length = 0;         // tdef_len
    std::uint32_t rowCount = 0;
    std::uint32_t autoNumber = 0;
    std::uint32_t lastComplexValue = 0; // ACE: the last complex value id its rows were given
    std::uint8_t tableType = 0;         // 'N' user, 'S' system
    std::uint16_t maxColumns = 0;
    std::uint16_t variableColumns = 0;
    RowPointer ownedMap, freeMap;
    std::vector<Column> columns; // sorted by column number
    std::vector<RealIndex> realIndexes;
    std::vector<LogicalIndex> indexes;
    std::vector<LongValueMaps> longValueMaps;

    // The logical definition buffer as stored (first page whole, continuations without their
    // headers) and where its blocks start, so that a writer can copy it and patch pointers.
    std::vector<std::uint8_t> raw;
    std::size_t realIndexBlocks = 0;    // first real-index definition
    std::size_t logicalIndexBlocks = 0; // first logical-index definition
    std::size_t longValueBlocks = 0;    // first long-value map entry

    const Column* columnByNumber(std::uint16_t number) const;
    const LongValueMaps* longValueMapsFor(std::uint16_t column) const;
    // Fixed area length that every row must carry.
    std::size_t fixedAreaLength() const;
};

// Reads the definition starting at `page` (following continuation pages). Throws JetError
// naming "table definition" and the page that could not be read.
TableDef readTableDef(const PageFile& file, std::uint32_t page, int codePage);

} // namespace tarnwick::jet
