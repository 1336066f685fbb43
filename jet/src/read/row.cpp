#include "jet/row.h"

#include <algorithm>

namespace tarnwick::jet {

namespace {

struct Layout {
    std::size_t columnCount = 0;
    std::size_t maskStart = 0;
    std::size_t fixedStart = 0;
    std::size_t varCount = 0;
    std::vector<std::size_t> varOffsets; // varCount + 1 entries; last is end of variable data
};

// Fills `l`, whose offsets vector is reused from row to row.
void readLayout(const Format& f, const TableDef& def, const ByteReader& r, unsigned slot,
                Layout& l) {
    auto fail = [&](const std::string& what) {
        r.fail("row " + std::to_string(slot) + ": " + what);
    };
    l.varCount = 0;
    l.varOffsets.clear();
    const std::size_t len = r.size();
    if (len < (f.jet4() ? 2u : 1u)) fail("is empty");
    l.columnCount = f.jet4() ? r.u16(0) : r.u8(0);
    l.fixedStart = f.jet4() ? 2 : 1;
    const std::size_t maskLen = (l.columnCount + 7) / 8;
    if (maskLen + l.fixedStart > len)
        fail("column count " + std::to_string(l.columnCount) +
             " needs a null mask longer than the row");
    l.maskStart = len - maskLen;
    if (def.variableColumns == 0) {
        l.varOffsets.push_back(l.maskStart);
        return;
    }
    if (f.jet4()) {
        if (l.maskStart < l.fixedStart + 4) fail("too short for its variable-column trailer");
        l.varCount = r.u16(l.maskStart - 2);
        const std::size_t trailer = 2 + 2 * (l.varCount + 1);
        if (trailer + l.fixedStart > l.maskStart)
            fail("variable column count " + std::to_string(l.varCount) + " does not fit the row");
        l.varOffsets.resize(l.varCount + 1);
        for (std::size_t i = 0; i < l.varCount; ++i)
            l.varOffsets[i] = r.u16(l.maskStart - 4 - 2 * i);
        l.varOffsets[l.varCount] = r.u16(l.maskStart - trailer);
    } else {
        if (l.maskStart < l.fixedStart + 2) fail("too short for its variable-column trailer");
        l.varCount = r.u8(l.maskStart - 1);
        const std::size_t top = l.maskStart - 1; // position of the count byte
        std::size_t jumps = (len - 1) / 256;
        if (top < jumps + 1 + l.varCount + l.fixedStart)
            fail("variable column count " + std::to_string(l.varCount) + " does not fit the row");
        const std::size_t entry0 = top - jumps - 1;
        // The lowest jump slot is a dummy (still present) when the offsets never reach it.
        if (jumps > 0 && (entry0 - l.varCount) / 256 < jumps) --jumps;
        l.varOffsets.resize(l.varCount + 1);
        std::size_t used = 0;
        for (std::size_t i = 0; i <= l.varCount; ++i) {
            while (used < jumps && r.u8(top - 1 - used) == i)
                ++used;
            l.varOffsets[i] = r.u8(entry0 - i) + 256 * used;
        }
    }
    // The trailer starts right after the end of the variable data.
    const std::size_t eod = l.varOffsets[l.varCount];
    if (eod > l.maskStart)
        fail("end of variable data " + std::to_string(eod) + " lies past the trailer");
    for (std::size_t i = 0; i < l.varCount; ++i)
        if (l.varOffsets[i] > l.varOffsets[i + 1] || l.varOffsets[i] < l.fixedStart)
            fail("variable column offsets are out of order at slot " + std::to_string(i));
}

} // namespace

std::vector<RawField> splitRow(const Format& f, const TableDef& def, Bytes row,
                               const std::string& structure, std::uint32_t page, unsigned slot) {
    std::vector<RawField> out;
    splitRow(f, def, row, structure, page, slot, out);
    return out;
}

void splitRow(const Format& f, const TableDef& def, Bytes row, const std::string& structure,
              std::uint32_t page, unsigned slot, std::vector<RawField>& out) {
    ByteReader r(row, structure, page);
    thread_local Layout l;
    readLayout(f, def, r, slot, l);
    const std::size_t varStart = l.varCount > 0 ? l.varOffsets[0] : l.varOffsets.back();
    out.assign(def.columns.size(), RawField{});
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const Column& c = def.columns[i];
        RawField& field = out[i];
        if (c.number >= l.columnCount) continue; // added after this row was written
        const bool bit = (row[l.maskStart + c.number / 8] >> (c.number % 8)) & 1;
        if (c.type == ColumnType::Boolean) {
            field.present = true;
            field.boolValue = bit;
            continue;
        }
        if (!bit) continue;
        if (c.isFixed()) {
            const std::size_t start = l.fixedStart + c.fixedOffset;
            if (start + c.length > varStart || start + c.length > l.maskStart)
                r.fail("row " + std::to_string(slot) + ": fixed column \"" + c.name +
                       "\" lies outside the row's fixed area");
            field.present = true;
            field.data = row.subspan(start, c.length);
        } else {
            if (c.varIndex >= l.varCount) continue; // variable slot added after this row
            const std::size_t a = l.varOffsets[c.varIndex], b = l.varOffsets[c.varIndex + 1u];
            field.present = true;
            field.data = row.subspan(a, b - a);
        }
    }
}

} // namespace tarnwick::jet
