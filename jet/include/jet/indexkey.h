#pragma once

#include "jet/database.h"
#include "jet/tabledef.h"
#include "jet/value.h"

#include <cstdint>
#include <vector>

namespace tarnwick::jet {

// The key bytes of one leaf entry (what precedes the row pointer) for a row of `def`, as the
// database's engine stores them: one segment per index column, ascending or descending, text in
// the General sort order of the file's format (Jet 3: General 97 over the code page; Jet 4:
// General Legacy over UCS-2). `row` holds the row's values in `def.columns` order, as
// `Database::forEachRow` gives them.
//
// Throws JetError("index key", ...) naming the column and value when a value has no key: a
// character the collation tables do not know, or a column the index names that does not exist.
std::vector<std::uint8_t> encodeIndexKey(const Database& db, const TableDef& def,
                                         const RealIndex& index, const std::vector<Value>& row);

// The same without a Database, for callers that build files: `version` and `codePage` are
// those of the file's header.
std::vector<std::uint8_t> encodeIndexKey(Version version, int codePage, const TableDef& def,
                                         const RealIndex& index, const std::vector<Value>& row);

// The same into `key`, which is cleared first: callers encoding many rows reuse it.
void encodeIndexKey(std::vector<std::uint8_t>& key, const Database& db, const TableDef& def,
                    const RealIndex& index, const std::vector<Value>& row);
void encodeIndexKey(std::vector<std::uint8_t>& key, Version version, int codePage,
                    const TableDef& def, const RealIndex& index, const std::vector<Value>& row);
// The same appended to `keys`, which collects many rows' keys one after another; on a throw,
// `keys` is as it was.
void appendIndexKey(std::vector<std::uint8_t>& keys, Version version, int codePage,
                    const TableDef& def, const RealIndex& index, const std::vector<Value>& row);

// One column's segment (start or null byte and the encoded value).
void appendKeySegment(std::vector<std::uint8_t>& key, Version version, int codePage,
                      const Column& column, const Value& value, bool ascending);

} // namespace tarnwick::jet
