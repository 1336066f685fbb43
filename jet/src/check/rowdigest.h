#pragma once

// An order-free digest of a table's rows, so that a rebuilt table can be compared with its
// source without holding either in memory. Rows are digested from their stored fields, which
// decode to the same values exactly when they are equal under the same column types; long
// values are digested by their content, wherever they are stored.

#include "jet/row.h"
#include "jet/tabledef.h"
#include "keys/entryhash.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::jet {

// Table ids renumbered by a rebuild (TDEF page to TDEF page).
using TableIdMap = std::map<std::uint32_t, std::uint32_t>;

// Whether `column` of system table `table` holds object ids that follow the table renumbering.
bool holdsObjectIds(const std::string& table, const std::string& column);

// One row's two independent 64-bit hashes.
struct RowHashes {
    std::uint64_t a = 0, b = 0;
};

struct RowDigest {
    std::uint64_t rows = 0;
    std::uint64_t a = 0, b = 0; // sums of the rows' hashes
    bool operator==(const RowDigest&) const = default;
    void add(RowHashes h) {
        ++rows;
        a += h.a;
        b += h.b;
    }
    // A row bound to where it is stored (`RowPointer::raw`): two tables digested this way agree
    // only when each place holds the same row.
    void addPlaced(RowHashes h, std::uint32_t at) {
        ++rows;
        a += pairHash(at, h.a);
        b += pairHash(at, h.b ^ 0xD6E8FEB86659FD93ull);
    }
    RowDigest& operator+=(const RowDigest& o) {
        rows += o.rows;
        a += o.a;
        b += o.b;
        return *this;
    }
};

// A row by its stored bytes. A table that a rebuild copies row for row, byte for byte, is
// digested this way on both sides: equal bytes under one definition are equal values, and
// hashing them whole is much quicker than hashing them field by field.
RowHashes hashStoredRow(Bytes row);

// How text is digested: as stored (one format on both sides), or as the text it decodes to, so
// that a Jet 3 table and its Jet 4 conversion agree: Jet 3 text decoded as a conversion decodes
// it (and property blobs in their Jet 4 form), Jet 4 text as read. Decoded forms leave null
// values out and name each value by its column number, so that a column Jet 4 adds to a system
// table, null in every row, changes nothing.
enum class TextForm { Stored, Jet3, Jet4 };

// What a rebuild wrote into one table: its rows, digested where it placed them, and the
// entries of each index whose keys it encoded from those rows, by real index number.
struct WrittenTable {
    RowDigest rows;
    std::map<std::uint16_t, EntrySum> indexes;
    bool asStored = false;            // rows digested by `hashStoredRow`, else by their fields
    TextForm text = TextForm::Stored; // how the new file's rows are digested
};

// Row digests of a source's tables, with the object ids renumbered as in the new file.
struct SourceRows {
    TableIdMap renumber;                     // source table id -> new table id
    std::map<std::string, RowDigest> tables; // by table name
    // From a rebuild, by table name. With the rows proved in their places, an index equal to
    // the entries written holds the keys of the new file's rows: they need not be encoded again.
    std::map<std::string, WrittenTable> written;
};

class RowDigester {
public:
    // `renumber` maps the object ids found in this table before they are digested.
    // `codePage` is the Jet 3 file's, for TextForm::Jet3.
    RowDigester(const std::string& table, const TableDef& def, const TableIdMap& renumber = {},
                TextForm text = TextForm::Stored, int codePage = 0);

    // `fields` as split from the row, except that long columns carry their whole value; or,
    // when `longValues` is given (one entry per column), a long column's value is the pieces
    // listed there, in order, and its field's bytes are not read.
    void add(const std::vector<RawField>& fields,
             const std::vector<std::vector<Bytes>>* longValues = nullptr) {
        digest_.add(hash(fields, longValues));
    }
    void addPlaced(const std::vector<RawField>& fields,
                   const std::vector<std::vector<Bytes>>* longValues, std::uint32_t at) {
        digest_.addPlaced(hash(fields, longValues), at);
    }
    void addPlacedStored(Bytes row, std::uint32_t at) { digest_.addPlaced(hashStoredRow(row), at); }
    // One row's hashes, as `add` takes them.
    RowHashes hash(const std::vector<RawField>& fields,
                   const std::vector<std::vector<Bytes>>* longValues = nullptr) const;
    const RowDigest& digest() const { return digest_; }

private:
    struct Digested {
        std::uint64_t tag;     // type and scale, as the field's header word carries them
        std::size_t fixedSize; // 0 for variable-size types
        bool holdsIds;
        bool isLong;
        std::uint16_t number; // decoded forms: names each value, since nulls are left out
        bool isText;          // decoded before it is digested
        bool isProperties;    // a Jet 3 property blob, digested in its Jet 4 form
    };
    // The hashes of a decoded long value (text or property blob) and its length.
    std::pair<std::uint64_t, std::uint64_t>
    decodedLong(const Digested& c, std::span<const Bytes> pieces, std::uint64_t& length) const;
    std::vector<Digested> columns_;
    const TableIdMap* renumber_;
    TextForm text_;
    int codePage_;
    RowDigest digest_;
};

} // namespace tarnwick::jet
