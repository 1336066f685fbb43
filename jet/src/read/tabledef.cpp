#include "jet/tabledef.h"

#include "jet/format.h"
#include "jet/text.h"

#include <algorithm>
#include <set>

namespace tarnwick::jet {

std::string typeName(ColumnType t) {
    switch (t) {
    case ColumnType::Boolean:
        return "Boolean";
    case ColumnType::Byte:
        return "Byte";
    case ColumnType::Integer:
        return "Integer";
    case ColumnType::Long:
        return "Long";
    case ColumnType::Currency:
        return "Currency";
    case ColumnType::Single:
        return "Single";
    case ColumnType::Double:
        return "Double";
    case ColumnType::DateTime:
        return "DateTime";
    case ColumnType::Binary:
        return "Binary";
    case ColumnType::Text:
        return "Text";
    case ColumnType::Ole:
        return "OLE";
    case ColumnType::Memo:
        return "Memo";
    case ColumnType::Guid:
        return "ReplicationID";
    case ColumnType::Decimal:
        return "Decimal";
    case ColumnType::FixedBinary:
        return "FixedBinary";
    case ColumnType::Complex:
        return "Complex";
    case ColumnType::BigInt:
        return "BigInt";
    case ColumnType::ExtDateTime:
        return "ExtDateTime";
    }
    return "Type" + std::to_string(static_cast<int>(t));
}

const Column* TableDef::columnByNumber(std::uint16_t number) const {
    for (const auto& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

const LongValueMaps* TableDef::longValueMapsFor(std::uint16_t column) const {
    for (const auto& m : longValueMaps)
        if (m.column == column) return &m;
    return nullptr;
}

std::size_t TableDef::fixedAreaLength() const {
    std::size_t end = 0;
    for (const auto& c : columns)
        if (c.isFixed() && c.type != ColumnType::Boolean)
            end = std::max<std::size_t>(end, static_cast<std::size_t>(c.fixedOffset) + c.length);
    return end;
}

namespace {

// The definition's logical bytes: the first page whole, then bytes 8.. of each continuation
// page, cut to the declared length; the pages are listed in `t.pages`.
std::vector<std::uint8_t> gatherDefinition(const PageFile& file, std::uint32_t page,
                                           const std::string& structure, TableDef& t) {
    const Format& f = file.format();
    std::vector<std::uint8_t> buf;
    std::set<std::uint32_t> seen;
    std::uint32_t current = page;
    std::uint32_t declared = 0;
    while (true) {
        ByteReader pr = file.reader(current, structure);
        if (pr.u8(0) != pagetype::tableDef)
            pr.fail("expected a table definition page, found page type " +
                    std::to_string(pr.u8(0)));
        if (!seen.insert(current).second) pr.fail("continuation chain loops back to this page");
        t.pages.push_back(current);
        if (buf.empty()) {
            buf.assign(pr.data().begin(), pr.data().end());
            declared = pr.u32(8);
            if (declared < f.tdefHeaderLength + 2)
                pr.fail("definition length " + std::to_string(declared) + " is too short");
            if (declared > static_cast<std::uint64_t>(file.pageCount()) * f.pageSize)
                pr.fail("definition length " + std::to_string(declared) + " exceeds the file");
        } else {
            Bytes body = pr.data().subspan(8);
            buf.insert(buf.end(), body.begin(), body.end());
        }
        if (buf.size() >= declared) break;
        const std::uint32_t next = pr.u32(4);
        if (next == 0)
            pr.fail("definition of " + std::to_string(declared) + " bytes ends after " +
                    std::to_string(buf.size()) + " bytes (no continuation page)");
        current = next;
    }
    buf.resize(declared);
    return buf;
}

// Sorts the columns by number, checks their numbers and fixed sizes, and gives each index
// column its column's position.
void orderAndCheckColumns(const ByteReader& r, TableDef& t) {
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const Column& a, const Column& b) { return a.number < b.number; });
    for (std::size_t i = 1; i < t.columns.size(); ++i)
        if (t.columns[i].number == t.columns[i - 1].number)
            r.fail("two columns carry number " + std::to_string(t.columns[i].number));
    for (const auto& c : t.columns) {
        if (c.number >= t.maxColumns && t.maxColumns != 0)
            r.fail("column \"" + c.name + "\" has number " + std::to_string(c.number) +
                   " beyond the column count " + std::to_string(t.maxColumns));
        const std::size_t size = fixedSizeOf(c.type);
        if (c.isFixed() && size != 0 && c.length < size && c.type != ColumnType::Boolean)
            r.fail("fixed column \"" + c.name + "\" is " + std::to_string(c.length) +
                   " bytes, its type needs " + std::to_string(size));
    }
    for (auto& ri : t.realIndexes)
        for (auto& ic : ri.columns)
            for (std::size_t i = 0; i < t.columns.size(); ++i)
                if (t.columns[i].number == ic.column) ic.position = static_cast<std::uint16_t>(i);
}

} // namespace

TableDef readTableDef(const PageFile& file, std::uint32_t page, int codePage) {
    const Format& f = file.format();
    const std::string structure = "table definition";
    TableDef t;
    t.page = page;

    std::vector<std::uint8_t> buf = gatherDefinition(file, page, structure, t);
    t.length = static_cast<std::uint32_t>(buf.size());

    // Errors inside the logical buffer are reported against the first page.
    ByteReader r(buf, structure, page);
    t.rowCount = r.u32(f.tdefRowCountOffset);
    t.autoNumber = r.u32(f.tdefAutoNumberOffset);
    if (f.jet4()) t.lastComplexValue = r.u32(28);
    t.tableType = r.u8(f.tdefTableTypeOffset);
    t.maxColumns = r.u16(f.tdefMaxColsOffset);
    t.variableColumns = r.u16(f.tdefVarColsOffset);
    const std::size_t numCols = r.u16(f.tdefColsOffset);
    const std::size_t numIdx = r.u32(f.tdefIndexesOffset);
    const std::size_t numReal = r.u32(f.tdefRealIndexesOffset);
    t.ownedMap = RowPointer::fromRaw(r.u32(f.tdefOwnedMapOffset));
    t.freeMap = RowPointer::fromRaw(r.u32(f.tdefFreeMapOffset));
    if (numIdx > 255 || numReal > 255)
        r.fail("index counts " + std::to_string(numIdx) + "/" + std::to_string(numReal) +
               " are impossible");

    std::size_t pos = f.tdefHeaderLength;
    r.need(pos, numReal * f.realIndexStatsLength);
    t.realIndexes.resize(numReal);
    for (std::size_t i = 0; i < numReal; ++i) {
        t.realIndexes[i].number = static_cast<std::uint32_t>(i);
        t.realIndexes[i].statEntries = r.u32(pos);
        t.realIndexes[i].statDistinct = r.u32(pos + 4);
        pos += f.realIndexStatsLength;
    }

    r.need(pos, numCols * f.columnLength);
    t.columns.resize(numCols);
    for (auto& c : t.columns) {
        c.type = static_cast<ColumnType>(r.u8(pos));
        if (f.jet4()) {
            c.number = r.u16(pos + 5);
            c.varIndex = r.u16(pos + 7);
            c.sortOrder = r.u16(pos + 11);
            c.precision = r.u8(pos + 11);
            c.scale = r.u8(pos + 12);
            c.complexId = r.u32(pos + 11);
            if (c.type == ColumnType::Text || c.type == ColumnType::Memo)
                c.sortOrderVersion = r.u8(pos + 14);
            c.flags = r.u8(pos + 15);
            c.extFlags = r.u8(pos + 16);
            c.fixedOffset = r.u16(pos + 21);
            c.length = r.u16(pos + 23);
        } else {
            c.number = r.u16(pos + 1);
            c.varIndex = r.u16(pos + 3);
            c.sortOrder = r.u16(pos + 9);
            c.codePage = r.u16(pos + 11);
            c.flags = r.u8(pos + 13);
            c.fixedOffset = r.u16(pos + 14);
            c.length = r.u16(pos + 16);
        }
        c.resultType = c.type;
        pos += f.columnLength;
    }
    auto readName = [&] {
        std::size_t len;
        if (f.jet4()) {
            len = r.u16(pos);
            pos += 2;
        } else {
            len = r.u8(pos);
            pos += 1;
        }
        Bytes raw = r.slice(pos, len);
        pos += len;
        return f.jet4() ? decodeUcs2(raw) : decodeCodePage(raw, codePage);
    };
    for (auto& c : t.columns)
        c.name = readName();

    r.need(pos, numReal * f.realIndexLength);
    t.realIndexBlocks = pos;
    for (auto& ri : t.realIndexes) {
        const std::size_t base = pos + (f.jet4() ? 4 : 0);
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t col = r.u16(base + 3 * k);
            if (col == 0xFFFF) continue;
            ri.columns.push_back({col, (r.u8(base + 3 * k + 2) & 0x01) != 0});
        }
        ri.usageMap = RowPointer::fromRaw(r.u32(base + 30));
        ri.rootPage = r.u32(base + 34);
        ri.flags = r.u8(pos + (f.jet4() ? 46 : 38));
        pos += f.realIndexLength;
    }

    r.need(pos, numIdx * f.logicalIndexLength);
    t.logicalIndexBlocks = pos;
    t.indexes.resize(numIdx);
    for (auto& li : t.indexes) {
        const std::size_t base = pos + (f.jet4() ? 4 : 0);
        li.number = r.u32(base);
        li.realIndex = r.u32(base + 4);
        li.foreignKeyRole = r.u8(base + 8);
        li.otherIndex = r.i32(base + 9);
        li.otherTable = r.u32(base + 13);
        li.cascadeUpdates = r.u8(base + 17);
        li.cascadeDeletes = r.u8(base + 18);
        li.kind = r.u8(base + 19);
        if (li.realIndex >= numReal)
            r.fail("logical index " + std::to_string(li.number) + " names real index " +
                   std::to_string(li.realIndex) + " of " + std::to_string(numReal));
        pos += f.logicalIndexLength;
    }
    for (auto& li : t.indexes)
        li.name = readName();

    // Long-value column maps, up to the 0xFFFF terminator.
    t.longValueBlocks = pos;
    while (true) {
        const std::uint16_t col = r.u16(pos);
        if (col == 0xFFFF) break;
        LongValueMaps m;
        m.column = col;
        m.owned = RowPointer::fromRaw(r.u32(pos + 2));
        m.free = RowPointer::fromRaw(r.u32(pos + 6));
        t.longValueMaps.push_back(m);
        pos += 10;
    }

    orderAndCheckColumns(r, t);
    t.raw = std::move(buf);
    return t;
}

} // namespace tarnwick::jet
