#include "write/acesystem.h"

#include "jet/bytes.h"
#include "jet/database.h"
#include "write/jet4row.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>

namespace tarnwick::jet {

namespace {

constexpr std::uint32_t kMarker = 1625;     // opens the header, each descriptor, each logical index
constexpr std::uint32_t kRealMarker = 1923; // opens each real index
constexpr std::uint16_t kGeneral = 0x0409;  // General Legacy: LCID 1033, version 0
constexpr std::uint8_t kTableType = 0x4E;   // 'N', as Access 2007 marks these
constexpr std::uint32_t kCatalogFlags = 0x80000000;
constexpr std::uint32_t kTemplateFlags = 0x80030000;

struct ColumnSpec {
    const char* name;
    ColumnType type;
    std::uint16_t length;
    std::uint8_t flags;
    std::uint8_t extFlags;
};

struct IndexSpec {
    const char* name;
    std::uint16_t column;
    std::uint8_t flags;
    bool primary;
};

void putName(std::vector<std::uint8_t>& b, const std::string& ascii) {
    const std::size_t at = b.size();
    b.resize(at + 2 + 2 * ascii.size());
    put16(b.data() + at, static_cast<std::uint32_t>(2 * ascii.size()));
    for (std::size_t i = 0; i < ascii.size(); ++i)
        b[at + 2 + 2 * i] = static_cast<std::uint8_t>(ascii[i]);
}

// A Jet 4 definition of the columns and indexes given, in column-number order, and the same
// parsed, as the reader would parse it.
TableDef define(const std::vector<ColumnSpec>& cols, const std::vector<IndexSpec>& idx) {
    TableDef t;
    t.tableType = kTableType;
    std::uint16_t fixedAt = 0, varAt = 0;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const ColumnSpec& s = cols[i];
        Column c;
        c.name = s.name;
        c.type = s.type;
        c.number = static_cast<std::uint16_t>(i);
        c.length = s.length;
        c.flags = s.flags;
        c.extFlags = s.extFlags;
        c.resultType = s.type;
        if (c.type == ColumnType::Decimal) {
            c.precision = 18;
        } else {
            c.sortOrder = kGeneral;
        }
        if (c.isFixed()) {
            c.fixedOffset = fixedAt;
            fixedAt = static_cast<std::uint16_t>(fixedAt + c.length);
        } else {
            c.varIndex = varAt++;
        }
        t.columns.push_back(c);
    }
    t.maxColumns = static_cast<std::uint16_t>(cols.size());
    t.variableColumns = varAt;

    std::vector<std::uint8_t> b(63, 0);
    put32(b.data() + 12, kMarker);
    b[24] = 1;
    b[40] = t.tableType;
    put16(b.data() + 41, t.maxColumns);
    put16(b.data() + 43, t.variableColumns);
    put16(b.data() + 45, static_cast<std::uint32_t>(cols.size()));
    put32(b.data() + 47, static_cast<std::uint32_t>(idx.size()));
    put32(b.data() + 51, static_cast<std::uint32_t>(idx.size()));
    b.resize(b.size() + 12 * idx.size(), 0);
    for (const Column& c : t.columns) {
        std::uint8_t d[25] = {};
        d[0] = static_cast<std::uint8_t>(c.type);
        put32(d + 1, kMarker);
        put16(d + 5, c.number);
        put16(d + 7, c.varIndex);
        // The second column number: 0 in system tables.
        if (c.type == ColumnType::Decimal)
            d[11] = c.precision;
        else
            put16(d + 11, kGeneral);
        d[15] = c.flags;
        d[16] = c.extFlags;
        put16(d + 21, c.fixedOffset);
        put16(d + 23, c.length);
        b.insert(b.end(), d, d + sizeof d);
    }
    for (const Column& c : t.columns)
        putName(b, c.name);
    t.realIndexBlocks = b.size();
    for (std::size_t i = 0; i < idx.size(); ++i) {
        std::uint8_t r[52] = {};
        put32(r, kRealMarker);
        std::memset(r + 4, 0xFF, 30);
        put16(r + 4, idx[i].column);
        r[6] = 0x01;
        for (int k = 1; k < 10; ++k)
            r[4 + 3 * k + 2] = 0;
        r[46] = idx[i].flags;
        b.insert(b.end(), r, r + sizeof r);
        RealIndex ri;
        ri.number = static_cast<std::uint32_t>(i);
        ri.columns.push_back({idx[i].column, true, idx[i].column});
        ri.flags = idx[i].flags;
        t.realIndexes.push_back(ri);
    }
    // Logical index i uses real index i; their blocks are stored in the order of their names.
    std::vector<std::size_t> byName(idx.size());
    for (std::size_t i = 0; i < idx.size(); ++i)
        byName[i] = i;
    std::sort(byName.begin(), byName.end(), [&](std::size_t a, std::size_t b) {
        return std::string_view(idx[a].name) < std::string_view(idx[b].name);
    });
    t.logicalIndexBlocks = b.size();
    for (std::size_t i : byName) {
        std::uint8_t l[28] = {};
        put32(l, kMarker);
        put32(l + 4, static_cast<std::uint32_t>(i));
        put32(l + 8, static_cast<std::uint32_t>(i));
        put32(l + 13, 0xFFFFFFFFu);
        l[23] = idx[i].primary ? 1 : 0;
        b.insert(b.end(), l, l + sizeof l);
        LogicalIndex li;
        li.name = idx[i].name;
        li.number = li.realIndex = static_cast<std::uint32_t>(i);
        li.kind = l[23];
        t.indexes.push_back(li);
    }
    for (std::size_t i : byName)
        putName(b, idx[i].name);
    t.longValueBlocks = b.size();
    for (const Column& c : t.columns)
        if (c.isLong()) {
            std::uint8_t m[10] = {};
            put16(m, c.number);
            put32(m + 6, 1); // a free-space map too: the rebuild points both at their rows
            b.insert(b.end(), m, m + sizeof m);
            t.longValueMaps.push_back({c.number, {}, {}});
        }
    b.push_back(0xFF);
    b.push_back(0xFF);
    put32(b.data() + 8, static_cast<std::uint32_t>(b.size()));
    t.length = static_cast<std::uint32_t>(b.size());
    t.raw = std::move(b);
    return t;
}

AceSystemTable valueTemplate(const char* suffix, std::vector<ColumnSpec> cols) {
    return {std::string("MSysComplexType_") + suffix, kTemplateFlags, define(cols, {})};
}

} // namespace

std::vector<AceSystemTable> aceSystemTables() {
    using T = ColumnType;
    // Flags as Access 2007 gives these columns.
    constexpr std::uint8_t fix = 0x13, var = 0x12, value = 0x03, varValue = 0x02, attach = 0x10;
    std::vector<AceSystemTable> out;
    out.push_back({"MSysComplexColumns", kCatalogFlags,
                   define({{"ColumnName", T::Text, 510, var, 0},
                           {"ComplexTypeObjectID", T::Long, 4, fix, 0},
                           {"FlatTableID", T::Long, 4, fix, 0},
                           {"ConceptualTableID", T::Long, 4, fix, 0},
                           {"ComplexID", T::Long, 4, fix | colflag::autoLong, 0}},
                          {{"IdxID", 4, 0x8B, true},
                           {"IdxConceptualTableID", 3, 0x8A, false},
                           {"IdxFlatTableID", 2, 0x8A, false}})});
    out.push_back(valueTemplate("UnsignedByte", {{"Value", T::Byte, 1, value, 0}}));
    out.push_back(valueTemplate("Short", {{"Value", T::Integer, 2, value, 0}}));
    out.push_back(valueTemplate("Long", {{"Value", T::Long, 4, value, 0}}));
    out.push_back(valueTemplate("IEEESingle", {{"Value", T::Single, 4, value, 0}}));
    out.push_back(valueTemplate("IEEEDouble", {{"Value", T::Double, 8, value, 0}}));
    out.push_back(valueTemplate("GUID", {{"Value", T::Guid, 16, value, 0}}));
    out.push_back(valueTemplate("Decimal", {{"Value", T::Decimal, 9, varValue, 0}}));
    out.push_back(valueTemplate("Text", {{"Value", T::Text, 510, varValue, 0}}));
    out.push_back(valueTemplate("Attachment", {{"FileURL", T::Memo, 0, varValue, attach},
                                               {"FileName", T::Text, 510, varValue, attach},
                                               {"FileType", T::Text, 510, varValue, attach},
                                               {"FileData", T::Ole, 0, varValue, attach},
                                               {"FileTimeStamp", T::DateTime, 8, value, attach},
                                               {"FileFlags", T::Long, 4, value, attach}}));
    return out;
}

std::vector<std::uint8_t> catalogRow(const TableDef& catalog, std::int32_t id,
                                     const std::string& name, std::uint32_t flags, double date) {
    std::map<std::string, std::vector<std::uint8_t>> values;
    auto u32 = [](std::uint32_t v) {
        std::vector<std::uint8_t> b(4);
        put32(b.data(), v);
        return b;
    };
    std::uint64_t bits = 0;
    std::memcpy(&bits, &date, sizeof bits);
    std::vector<std::uint8_t> when(8);
    put32(when.data(), static_cast<std::uint32_t>(bits));
    put32(when.data() + 4, static_cast<std::uint32_t>(bits >> 32));
    std::vector<std::uint8_t> text;
    for (char ch : name) {
        text.push_back(static_cast<std::uint8_t>(ch));
        text.push_back(0);
    }
    values["Id"] = u32(static_cast<std::uint32_t>(id));
    values["ParentId"] = u32(static_cast<std::uint32_t>(tablesContainerId));
    values["Name"] = text;
    values["Type"] = {objtype::table, 0};
    values["DateCreate"] = when;
    values["DateUpdate"] = when;
    values["Flags"] = u32(flags);

    Jet4RowBuilder row(catalog);
    for (const Column& c : catalog.columns) {
        auto it = values.find(c.name);
        if (it == values.end()) continue;
        if (c.isFixed() && it->second.size() != c.length)
            throw JetError("catalog", JetError::noPage,
                           "column \"" + c.name + "\" of the catalog has an unexpected size");
        row.set(c, std::move(it->second));
    }
    return row.finish();
}

} // namespace tarnwick::jet
