#pragma once

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/tabledef.h"

#include <string>
#include <vector>

namespace tarnwick::jet {

// One column's bytes inside a row, before type conversion.
struct RawField {
    bool present = false; // false = null
    Bytes data;           // fixed or variable bytes; empty for Boolean
    bool boolValue = false;
};

// Splits a stored row into the fields of `def.columns` (same order). Handles rows written with
// fewer columns than the table now has, deleted columns that still occupy space, the Jet 3
// jump table and tables without variable columns. Throws JetError(structure, page, ...) when the
// row's own counts and offsets contradict its length.
std::vector<RawField> splitRow(const Format& format, const TableDef& def, Bytes row,
                               const std::string& structure, std::uint32_t page, unsigned slot);
// The same into `fields`, which callers splitting many rows reuse.
void splitRow(const Format& format, const TableDef& def, Bytes row, const std::string& structure,
              std::uint32_t page, unsigned slot, std::vector<RawField>& fields);

} // namespace tarnwick::jet
