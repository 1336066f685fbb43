#pragma once

#include "jet/bytes.h"
#include "jet/format.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::jet {

// Named here only; callers include the headers of the types they use.
class ByteSource;
class PageFile;
struct Column;
enum class ColumnType : std::uint8_t;
struct DatabaseHeader;
struct IndexEntry;
struct RawField;
struct RealIndex;
struct TableDef;
struct UsageMap;
struct Value;

namespace objtype {
constexpr int table = 1;
constexpr int database = 2;
constexpr int container = 3;
constexpr int linkedOdbc = 4;
constexpr int query = 5;
constexpr int linkedJet = 6;
constexpr int relationship = 8;
} // namespace objtype

constexpr std::int32_t tablesContainerId = 0x0F000001;

// One row of MSysObjects.
struct CatalogEntry {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::string name;
    int type = 0;
    std::uint32_t flags = 0;
    RowPointer row; // its header slot in MSysObjects
    bool isTable() const { return type == objtype::table && parentId == tablesContainerId; }
    bool isSystem() const { return (flags & 0x80000002u) != 0; }
    std::uint32_t tablePage() const { return static_cast<std::uint32_t>(id); }
};

// Where a row lives: its header slot (what index entries name) and, for forwarded rows, the
// slot that holds its bytes.
struct RowLocation {
    RowPointer header;
    RowPointer data;
};

// A read-only Jet 3 / Jet 4 database. Opening reads page 0 and the catalog; table definitions
// are read on first use and kept. Not thread-safe; the file is never written.
class Database {
public:
    static std::unique_ptr<Database> open(const std::string& path);
    static std::unique_ptr<Database> open(std::unique_ptr<ByteSource> source);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const DatabaseHeader& header() const { return *header_; }
    const PageFile& file() const { return *file_; }
    const Format& format() const;

    // The global usage map (page 1, row 0): bits set mark free pages.
    UsageMap globalUsageMap() const;

    const std::vector<CatalogEntry>& catalog() const { return catalog_; }
    // Catalog rows that could not be decoded (skipped when the catalog was read).
    const std::vector<std::string>& catalogProblems() const { return catalogProblems_; }
    // Local tables in catalog order; system tables only when asked for.
    std::vector<const CatalogEntry*> tables(bool includeSystem) const;
    // Case-insensitive (ASCII) lookup of a local table.
    const CatalogEntry* findTable(std::string_view name) const;

    // The definition whose first page is `page` (cached).
    const TableDef& tableDef(std::uint32_t page) const;
    const TableDef& tableDef(const CatalogEntry& table) const {
        return tableDef(table.tablePage());
    }

    UsageMap usageMap(RowPointer rp, const std::string& structure) const;

    // Visits each visible row in page and slot order with its location and raw bytes (forwarding
    // followed). Return false from the callback to stop. Throws JetError on the first structure
    // that cannot be read. The bytes are valid during the call only: the page cache is emptied
    // between pages of large tables.
    void forEachRawRow(const TableDef& def,
                       const std::function<bool(const RowLocation&, Bytes)>& callback) const;
    // As above, with the values decoded (Memo/OLE read completely).
    void forEachRow(
        const TableDef& def,
        const std::function<bool(const RowLocation&, const std::vector<Value>&)>& callback) const;

    // Converts split fields to values; `page` is used in error messages. With `only`, columns
    // outside it are checked for their size but left null.
    std::vector<Value> decodeValues(const TableDef& def, const std::vector<RawField>& fields,
                                    std::uint32_t page,
                                    std::vector<RowPointer>* longValueRows = nullptr,
                                    const std::vector<bool>* only = nullptr) const;
    // As above, into `out`, whose storage is reused.
    void decodeValues(const TableDef& def, const std::vector<RawField>& fields, std::uint32_t page,
                      std::vector<Value>& out, std::vector<RowPointer>* longValueRows = nullptr,
                      const std::vector<bool>* only = nullptr) const;
    // Only the size check of decodeValues, for rows whose values are not needed.
    void checkSizes(const TableDef& def, const std::vector<RawField>& fields,
                    std::uint32_t page) const;
    std::vector<Value> decodeRow(const TableDef& def, Bytes row, const RowLocation& where,
                                 std::vector<RowPointer>* longValueRows = nullptr) const;

    // Follows forwarding pointers from a header slot to the row bytes. Throws if the chain is
    // broken, loops, leaves the table or ends on a deleted row.
    Bytes resolveRow(const TableDef& def, RowPointer header, RowPointer* dataOut = nullptr) const;

    // Leaf entries of a real index, in tree order. Throws JetError naming the index page on the
    // first problem.
    std::vector<IndexEntry> indexEntries(const TableDef& def, const RealIndex& index) const;

    std::string decodeText(Bytes bytes) const;

private:
    Database() = default;
    void readCatalog();
    void readResultTypes(TableDef& def) const;
    void decodeScalar(ColumnType type, std::uint8_t scale, Bytes data, Value& v) const;
    void decodeCalculated(const Column& c, const RawField& f, std::uint32_t page, Value& v,
                          std::vector<RowPointer>* longValueRows) const;

    std::unique_ptr<PageFile> file_;
    // Held by pointer so this header need not include the page-0 layout.
    std::unique_ptr<DatabaseHeader> header_;
    std::vector<CatalogEntry> catalog_;
    std::vector<std::string> catalogProblems_;
    mutable std::map<std::uint32_t, std::unique_ptr<TableDef>> defs_;
};

} // namespace tarnwick::jet
