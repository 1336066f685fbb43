#include "read/longvalue.h"

#include "jet/format.h"
#include "read/datapage.h"

#include <set>

namespace tarnwick::jet {

namespace {
const std::string kStructure = "long value";
}

LongValueRef parseLongValueRef(Bytes field, const std::string& structure, std::uint32_t page) {
    ByteReader r(field, structure, page);
    if (field.size() < 12)
        r.fail("definition is " + std::to_string(field.size()) + " bytes, needs 12");
    const std::uint32_t word = r.u32(0);
    LongValueRef ref;
    ref.length = word & 0x3FFFFFFF;
    switch (word >> 30) {
    case 2:
        ref.kind = LongValueKind::Inline;
        break;
    case 1:
        ref.kind = LongValueKind::SingleRow;
        break;
    case 0:
        ref.kind = LongValueKind::Chain;
        break;
    default:
        r.fail("unknown storage kind 0xC0");
    }
    ref.first = RowPointer::fromRaw(r.u32(4));
    return ref;
}

std::vector<std::uint8_t> readLongValue(const PageFile& file, Bytes field, std::uint32_t rowPage,
                                        std::vector<RowPointer>* visited) {
    std::vector<Bytes> parts;
    readLongValueParts(file, field, rowPage, parts, visited);
    std::vector<std::uint8_t> out;
    for (Bytes part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

void readLongValueParts(const PageFile& file, Bytes field, std::uint32_t rowPage,
                        std::vector<Bytes>& parts, std::vector<RowPointer>* visited) {
    const LongValueRef ref = parseLongValueRef(field, kStructure, rowPage);
    parts.clear();
    if (ref.kind == LongValueKind::Inline) {
        if (ref.length > field.size() - 12)
            throw JetError(kStructure, rowPage,
                           "inline value declares " + std::to_string(ref.length) +
                               " bytes but holds " + std::to_string(field.size() - 12));
        if (ref.length) parts.push_back(field.subspan(12, ref.length));
        return;
    }
    if (ref.length == 0 && ref.first.isNull()) return;
    // The value can never be longer than the pages of the file; refuse before allocating.
    const std::uint64_t limit = static_cast<std::uint64_t>(file.pageCount()) * file.pageSize();
    if (ref.length > limit)
        throw JetError(kStructure, ref.first.page,
                       "declared length " + std::to_string(ref.length) + " exceeds the file");
    auto fetch = [&](RowPointer rp) {
        RowSlot slot;
        Bytes row = rowAt(file, rp, kStructure, &slot);
        const Bytes page = file.page(rp.page, kStructure);
        if (le32(page.data() + 4) != lvalOwner)
            throw JetError(kStructure, rp.page, toString(rp) + " is not on a long-value page");
        if (slot.isDeleted())
            throw JetError(kStructure, rp.page, toString(rp) + " is a deleted row");
        if (visited) visited->push_back(rp);
        return row;
    };
    if (ref.kind == LongValueKind::SingleRow) {
        Bytes row = fetch(ref.first);
        if (row.size() < ref.length)
            throw JetError(kStructure, ref.first.page,
                           "row " + std::to_string(ref.first.row) + " holds " +
                               std::to_string(row.size()) + " bytes, the value declares " +
                               std::to_string(ref.length));
        if (ref.length) parts.push_back(row.first(ref.length));
        return;
    }
    std::set<std::uint32_t> seen;
    std::size_t length = 0;
    RowPointer rp = ref.first;
    while (true) {
        if (!seen.insert(rp.raw()).second)
            throw JetError(kStructure, rp.page, "chain loops back to " + toString(rp));
        Bytes row = fetch(rp);
        if (row.size() < 4)
            throw JetError(kStructure, rp.page,
                           "chain segment " + toString(rp) + " is shorter than its pointer");
        const RowPointer next = RowPointer::fromRaw(le32(row.data()));
        const std::size_t room = ref.length - length;
        if (row.size() - 4 > room)
            throw JetError(kStructure, rp.page,
                           "chain holds more than the declared " + std::to_string(ref.length) +
                               " bytes at " + toString(rp));
        if (row.size() > 4) parts.push_back(row.subspan(4));
        length += row.size() - 4;
        if (next.isNull()) break;
        if (length == ref.length)
            throw JetError(kStructure, rp.page,
                           "chain continues after the declared " + std::to_string(ref.length) +
                               " bytes at " + toString(rp));
        rp = next;
    }
    if (length != ref.length)
        throw JetError(kStructure, rp.page,
                       "chain ends after " + std::to_string(length) + " of the declared " +
                           std::to_string(ref.length) + " bytes");
}

} // namespace tarnwick::jet
