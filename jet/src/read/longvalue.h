#pragma once

#include "jet/bytes.h"
#include "jet/pagefile.h"

#include <vector>

namespace tarnwick::jet {

enum class LongValueKind { Inline, SingleRow, Chain };

struct LongValueRef {
    LongValueKind kind = LongValueKind::Inline;
    std::uint32_t length = 0;
    RowPointer first;
};

// Interprets the 12-byte definition at the start of a Memo/OLE field.
LongValueRef parseLongValueRef(Bytes field, const std::string& structure, std::uint32_t page);

// Reads the whole value. Every long-value row visited is appended to `visited` when given.
// Throws JetError("long value", page, ...) when a row is missing or not on a long-value page, when
// a chain loops, or when the bytes found disagree with the declared length.
std::vector<std::uint8_t> readLongValue(const PageFile& file, Bytes field, std::uint32_t rowPage,
                                        std::vector<RowPointer>* visited = nullptr);
// The value as the pieces it is stored in, in order: spans into the field or the file's pages
// (valid while those pages are), `parts` replaced. Checked as `readLongValue` checks it.
void readLongValueParts(const PageFile& file, Bytes field, std::uint32_t rowPage,
                        std::vector<Bytes>& parts, std::vector<RowPointer>* visited = nullptr);

} // namespace tarnwick::jet
