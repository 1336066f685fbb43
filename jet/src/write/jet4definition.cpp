#include "write/jet4definition.h"

#include "jet/format.h"
#include "read/jet4form.h"

#include <algorithm>

namespace tarnwick::jet {

namespace {

constexpr std::uint32_t kMarker = 1625;       // opens Jet 4 headers, columns and logical indexes
constexpr std::uint32_t kRealMarker = 1923;   // opens Jet 4 real-index blocks
constexpr std::uint16_t kGeneral = 1033;      // General sort order
constexpr std::uint8_t kJet4IndexFlag = 0x80; // on every Jet 4 index
constexpr std::uint8_t kCompressible = 0x01;  // extended flag: compressed Unicode allowed
constexpr std::uint8_t kSystemFixed = 0x13;   // a fixed column of a system table

class Buffer {
public:
    std::vector<std::uint8_t> bytes;
    std::size_t size() const { return bytes.size(); }
    void u8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(std::uint32_t v) {
        u16(v);
        u16(v >> 16);
    }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    void copy(const std::vector<std::uint8_t>& from, std::size_t at, std::size_t n) {
        bytes.insert(bytes.end(), from.begin() + static_cast<std::ptrdiff_t>(at),
                     from.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    void name(const std::string& utf8) {
        const std::size_t at = size();
        zeros(2);
        appendUcs2(bytes, utf8);
        put16(bytes.data() + at, static_cast<std::uint32_t>(size() - at - 2));
    }
};

} // namespace

TableDef jet4Definition(const TableDef& src, const std::string& name) {
    const Format f3 = Format::forVersion(Version::Jet3);
    TableDef t = src;
    const bool system = src.tableType == 'S' || name.rfind("MSys", 0) == 0;
    if (name == "MSysQueries" &&
        std::none_of(t.columns.begin(), t.columns.end(),
                     [](const Column& c) { return c.name == "LvExtra"; })) {
        Column extra;
        extra.name = "LvExtra";
        extra.type = ColumnType::Long;
        extra.number = t.maxColumns;
        extra.length = 4;
        extra.flags = kSystemFixed;
        t.columns.push_back(extra);
        t.maxColumns = static_cast<std::uint16_t>(t.maxColumns + 1);
    }
    std::uint16_t fixedAt = 0, var = 0;
    for (Column& c : t.columns) {
        if (c.type == ColumnType::Text) c.length = static_cast<std::uint16_t>(2 * c.length);
        if (c.type == ColumnType::Binary && system && !c.isFixed())
            c.length = static_cast<std::uint16_t>(2 * c.length);
        if ((c.type == ColumnType::Text || c.type == ColumnType::Memo) && !system)
            c.extFlags |= kCompressible;
        c.sortOrder = kGeneral;
        c.sortOrderVersion = 0;
        c.codePage = 0;
        if (c.isFixed()) {
            c.fixedOffset = fixedAt;
            if (c.type != ColumnType::Boolean)
                fixedAt = static_cast<std::uint16_t>(fixedAt + c.length);
        } else {
            c.varIndex = var++;
        }
    }
    t.variableColumns = var;

    Buffer b;
    b.zeros(8); // page header, written with the pages
    b.u32(0);   // tdef_len, below
    b.u32(kMarker);
    b.u32(src.rowCount);
    b.u32(src.autoNumber);
    b.u8(1);
    b.zeros(15);
    b.u8(src.tableType);
    b.u16(t.maxColumns);
    b.u16(t.variableColumns);
    b.u16(static_cast<std::uint32_t>(t.columns.size()));
    b.u32(static_cast<std::uint32_t>(t.indexes.size()));
    b.u32(static_cast<std::uint32_t>(t.realIndexes.size()));
    b.u32(0); // owned-pages map
    b.u32(0); // free-space map
    for (const RealIndex& ri : t.realIndexes) {
        b.u32(ri.statEntries);
        b.u32(ri.statDistinct);
        b.u32(0);
    }
    for (const Column& c : t.columns) {
        b.u8(static_cast<std::uint8_t>(c.type));
        b.u32(kMarker);
        b.u16(c.number);
        b.u16(c.varIndex);
        b.u16(c.number);
        b.u16(c.sortOrder);
        b.u8(0);
        b.u8(0); // sort order version: General Legacy
        b.u8(c.flags);
        b.u8(c.extFlags);
        b.u32(0);
        b.u16(c.fixedOffset);
        b.u16(c.length);
    }
    for (const Column& c : t.columns)
        b.name(c.name);
    t.realIndexBlocks = b.size();
    for (std::size_t i = 0; i < t.realIndexes.size(); ++i) {
        const std::size_t from = src.realIndexBlocks + i * f3.realIndexLength;
        b.u32(kRealMarker);
        b.copy(src.raw, from, 30); // column slots
        b.u32(0);                  // usage map
        b.u32(0);                  // root page
        b.u32(0);
        b.u8(src.raw[from + 38] | kJet4IndexFlag);
        b.zeros(5);
    }
    t.logicalIndexBlocks = b.size();
    for (std::size_t i = 0; i < t.indexes.size(); ++i) {
        b.u32(kMarker);
        b.copy(src.raw, src.logicalIndexBlocks + i * f3.logicalIndexLength, 20);
        b.zeros(4);
    }
    for (const LogicalIndex& li : t.indexes)
        b.name(li.name);
    t.longValueBlocks = b.size();
    for (std::size_t k = 0; k < src.longValueMaps.size(); ++k)
        b.copy(src.raw, src.longValueBlocks + 10 * k, 10);
    b.u16(0xFFFF);
    put32(b.bytes.data() + 8, static_cast<std::uint32_t>(b.size()));
    t.length = static_cast<std::uint32_t>(b.size());
    t.raw = std::move(b.bytes);
    return t;
}

} // namespace tarnwick::jet
