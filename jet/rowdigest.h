#pragma once

// An order-free digest of a table's rows, so that a rebuilt table can be compared with its
// source without holding either in memory. Rows are digested from their stored fields, which
// decode to the same values exactly when they are equal under the same column types; long
// values are digested by their content, wherever they are stored.

#include "jet/row.h"
#include "jet/tabledef.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::jet {

// Table ids renumbered by a rebuild (TDEF page to TDEF page).
using TableIdMap = std::map<std::uint32_t, std::uint32_t>;

// Whether `column` of system table `table` holds object ids that follow the table renumbering.
bool holdsObjectIds(const std::string& table, const std::string& column);

struct RowDigest {
    std::uint64_t rows = 0;
    std::uint64_t a = 0, b = 0; // sums of two independent 64-bit row hashes
    bool operator==(const RowDigest&) const = default;
    RowDigest& operator+=(const RowDigest& o) {
        rows += o.rows;
        a += o.a;
        b += o.b;
        return *this;
    }
};

// Row digests of a source's tables, with the object ids renumbered as in the new file.
struct SourceRows {
    TableIdMap renumber;                     // source table id -> new table id
    std::map<std::string, RowDigest> tables; // by table name
};

class RowDigester {
public:
    // `renumber` maps the object ids found in this table before they are digested.
    RowDigester(const std::string& table, const TableDef& def, const TableIdMap& renumber = {});

    // `fields` as split from the row, except that long columns carry their whole value; or,
    // when `longValues` is given (one entry per column), a long column's value is the pieces
    // listed there, in order, and its field's bytes are not read.
    void add(const std::vector<RawField>& fields,
             const std::vector<std::vector<Bytes>>* longValues = nullptr);
    const RowDigest& digest() const { return digest_; }

private:
    struct Digested {
        std::uint64_t tag;     // type and scale, as the field's header word carries them
        std::size_t fixedSize; // 0 for variable-size types
        bool holdsIds;
        bool isLong;
    };
    std::vector<Digested> columns_;
    const TableIdMap* renumber_;
    RowDigest digest_;
};

} // namespace tarnwick::jet
