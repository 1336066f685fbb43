#include "jet/database.h"

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/index.h"
#include "jet/pagefile.h"
#include "jet/row.h"
#include "jet/tabledef.h"
#include "jet/text.h"
#include "jet/usagemap.h"
#include "jet/value.h"
#include "read/datapage.h"
#include "read/longvalue.h"
#include "read/properties.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace tarnwick::jet {

namespace {

constexpr std::uint32_t kCatalogPage = 2;
constexpr int kMaxForwarding = 16;
constexpr std::size_t kCachedPagesLimit = 4096;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

template <typename T> T readAs(Bytes b) {
    T v;
    std::memcpy(&v, b.data(), sizeof v);
    return v;
}

} // namespace

std::unique_ptr<Database> Database::open(const std::string& path) {
    return open(openFileSource(path));
}

std::unique_ptr<Database> Database::open(std::unique_ptr<ByteSource> source) {
    std::unique_ptr<Database> db(new Database);
    std::vector<std::uint8_t> first(std::min<std::uint64_t>(source->size(), 4096));
    if (first.size() < 2048)
        throw JetError("database definition page", 0, "file is shorter than one page");
    source->read(0, first);
    const Version v = detectVersion(first);
    const Format f = Format::forVersion(v);
    if (first.size() < f.pageSize)
        throw JetError("database definition page", 0, "file is shorter than one page");
    db->header_ = std::make_unique<DatabaseHeader>(parseHeader(Bytes(first.data(), f.pageSize)));
    db->file_ = std::make_unique<PageFile>(std::move(source), f, db->header_->databaseKey);
    db->readCatalog();
    return db;
}

Database::~Database() = default;

const Format& Database::format() const {
    return file_->format();
}

std::string Database::decodeText(Bytes bytes) const {
    return format().jet4() ? decodeJet4Text(bytes) : decodeCodePage(bytes, header_->codePage);
}

UsageMap Database::usageMap(RowPointer rp, const std::string& structure) const {
    DataPage host = readDataPage(*file_, rp.page, structure);
    if (rp.row >= host.slots.size() || !host.slots[rp.row].valid)
        throw JetError(structure, rp.page, "map row " + std::to_string(rp.row) + " does not exist");
    return parseUsageMap(*file_, host.row(rp.row), structure, rp.page);
}

UsageMap Database::globalUsageMap() const {
    return usageMap(RowPointer{1, 0}, "global usage map");
}

void Database::readCatalog() {
    const TableDef& def = tableDef(kCatalogPage);
    auto col = [&](const char* name) -> int {
        for (std::size_t i = 0; i < def.columns.size(); ++i)
            if (def.columns[i].name == name) return static_cast<int>(i);
        throw JetError("catalog", kCatalogPage, std::string("MSysObjects has no column ") + name);
    };
    const int cId = col("Id"), cParent = col("ParentId"), cName = col("Name"), cType = col("Type"),
              cFlags = col("Flags");
    // The catalog only needs these five columns; skip long values so a damaged property blob
    // does not make the whole database unreadable.
    forEachRawRow(def, [&](const RowLocation& where, Bytes row) {
        std::vector<RawField> fields;
        try {
            fields = splitRow(format(), def, row, "catalog row", where.data.page, where.data.row);
        } catch (const JetError& e) {
            catalogProblems_.push_back(e.what());
            return true;
        }
        auto intOf = [&](int i) -> std::int64_t {
            const RawField& f = fields[static_cast<std::size_t>(i)];
            if (!f.present) return 0;
            if (f.data.size() >= 4) return readAs<std::int32_t>(f.data);
            if (f.data.size() >= 2) return readAs<std::int16_t>(f.data);
            return f.data.empty() ? 0 : f.data[0];
        };
        CatalogEntry e;
        e.row = where.header;
        e.id = static_cast<std::int32_t>(intOf(cId));
        e.parentId = static_cast<std::int32_t>(intOf(cParent));
        e.type = static_cast<int>(intOf(cType));
        e.flags = static_cast<std::uint32_t>(intOf(cFlags));
        if (fields[static_cast<std::size_t>(cName)].present)
            e.name = decodeText(fields[static_cast<std::size_t>(cName)].data);
        catalog_.push_back(std::move(e));
        return true;
    });
}

std::vector<const CatalogEntry*> Database::tables(bool includeSystem) const {
    std::vector<const CatalogEntry*> out;
    for (const auto& e : catalog_)
        if (e.isTable() && (includeSystem || !e.isSystem())) out.push_back(&e);
    return out;
}

const CatalogEntry* Database::findTable(std::string_view name) const {
    for (const auto& e : catalog_)
        if (e.isTable() && equalsIgnoreCase(e.name, name)) return &e;
    return nullptr;
}

const TableDef& Database::tableDef(std::uint32_t page) const {
    auto it = defs_.find(page);
    if (it != defs_.end()) return *it->second;
    auto def = std::make_unique<TableDef>(readTableDef(*file_, page, header_->codePage));
    readResultTypes(*def);
    return *defs_.emplace(page, std::move(def)).first->second;
}

void Database::readResultTypes(TableDef& def) const {
    if (std::none_of(def.columns.begin(), def.columns.end(),
                     [](const Column& c) { return c.isCalculated(); }))
        return;
    const auto entry = std::find_if(catalog_.begin(), catalog_.end(), [&](const CatalogEntry& e) {
        return e.isTable() && e.tablePage() == def.page;
    });
    if (entry == catalog_.end()) return;
    // A blob that cannot be read leaves the descriptor's types, which decoding then checks.
    try {
        const TableDef& catalog = tableDef(kCatalogPage);
        const auto lvProp = std::find_if(catalog.columns.begin(), catalog.columns.end(),
                                         [](const Column& c) { return c.name == "LvProp"; });
        if (lvProp == catalog.columns.end()) return;
        RowPointer at;
        const Bytes row = resolveRow(catalog, entry->row, &at);
        const auto fields = splitRow(format(), catalog, row, "catalog row", at.page, at.row);
        const RawField& f = fields[static_cast<std::size_t>(lvProp - catalog.columns.begin())];
        if (!f.present) return;
        const auto blob = readLongValue(*file_, f.data, at.page);
        for (const Property& p : parseProperties(blob, "properties of " + entry->name)) {
            if (p.name != "ResultType" || p.value.empty()) continue;
            for (Column& c : def.columns)
                if (c.isCalculated() && c.name == p.object)
                    c.resultType = static_cast<ColumnType>(p.value[0]);
        }
    } catch (const JetError&) {
    }
}

Bytes Database::resolveRow(const TableDef& def, RowPointer header, RowPointer* dataOut) const {
    const std::string structure = "data page";
    RowPointer at = header;
    for (int hop = 0; hop <= kMaxForwarding; ++hop) {
        DataPage dp = readDataPage(*file_, at.page, structure);
        if (dp.owner != def.page)
            throw JetError(structure, at.page,
                           "row " + toString(at) + " lies on a page of table " +
                               std::to_string(dp.owner) + ", not " + std::to_string(def.page));
        if (at.row >= dp.slots.size())
            throw JetError(structure, at.page, "row " + std::to_string(at.row) + " does not exist");
        const RowSlot& s = dp.slots[at.row];
        if (!s.valid)
            throw JetError(structure, at.page,
                           "row " + std::to_string(at.row) + " has an impossible offset");
        if (s.isDeleted())
            throw JetError(structure, at.page, "row " + std::to_string(at.row) + " is deleted");
        if (hop > 0 && !s.isHidden())
            throw JetError(structure, at.page,
                           "forwarding target " + toString(at) +
                               " is not marked as an overflow row");
        if (s.isForward()) {
            Bytes r = dp.row(at.row);
            if (r.size() < 4)
                throw JetError(structure, at.page,
                               "forwarding row " + std::to_string(at.row) + " is too short");
            at = RowPointer::fromRaw(le32(r.data()));
            continue;
        }
        if (hop == 0 && s.isHidden())
            throw JetError(structure, at.page,
                           "row " + std::to_string(at.row) + " is an overflow target, not a row");
        if (dataOut) *dataOut = at;
        return dp.row(at.row);
    }
    throw JetError(structure, header.page, "forwarding from " + toString(header) + " does not end");
}

void Database::forEachRawRow(const TableDef& def,
                             const std::function<bool(const RowLocation&, Bytes)>& cb) const {
    const UsageMap owned = usageMap(def.ownedMap, "owned-pages usage map");
    for (std::uint32_t page : owned.pages) {
        const Bytes raw = file_->page(page, "data page");
        // Stale pages can stay listed; only pages that name this table hold its rows.
        if (raw[0] != pagetype::data || le32(raw.data() + 4) != def.page) continue;
        DataPage dp = readDataPage(*file_, page, "data page");
        for (std::size_t i = 0; i < dp.slots.size(); ++i) {
            const RowSlot& s = dp.slots[i];
            if (s.isHidden()) continue;
            if (!s.valid)
                throw JetError("data page", page,
                               "row " + std::to_string(i) + " has an impossible offset");
            RowLocation loc;
            loc.header = {page, static_cast<std::uint8_t>(i)};
            Bytes row;
            if (s.isForward())
                row = resolveRow(def, loc.header, &loc.data);
            else {
                loc.data = loc.header;
                row = dp.row(i);
            }
            if (!cb(loc, row)) return;
        }
        // Nothing of this page is held past here: keep the cache small on large tables.
        if (file_->cachedPages() > kCachedPagesLimit) file_->releaseCache();
    }
}

std::vector<Value> Database::decodeValues(const TableDef& def, const std::vector<RawField>& fields,
                                          std::uint32_t page, std::vector<RowPointer>* lvRows,
                                          const std::vector<bool>* only) const {
    std::vector<Value> out;
    decodeValues(def, fields, page, out, lvRows, only);
    return out;
}

namespace {

// Whether a present fixed-size value is empty, which reads as null; any other short one is
// damage.
[[noreturn]] void tooShort(const Column& c, const RawField& f, std::uint32_t page) {
    throw JetError("data page", page,
                   "column \"" + c.name + "\" holds " + std::to_string(f.data.size()) + " bytes, " +
                       typeName(c.type) + " needs " + std::to_string(fixedSizeOf(c.type)));
}

inline bool emptyFixed(const Column& c, const RawField& f, std::uint32_t page) {
    if (f.data.size() >= fixedSizeOf(c.type)) return false;
    if (f.data.empty()) return true;
    tooShort(c, f, page);
}

} // namespace

void Database::checkSizes(const TableDef& def, const std::vector<RawField>& fields,
                          std::uint32_t page) const {
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        if (fields[i].present) emptyFixed(def.columns[i], fields[i], page);
}

void Database::decodeValues(const TableDef& def, const std::vector<RawField>& fields,
                            std::uint32_t page, std::vector<Value>& out,
                            std::vector<RowPointer>* lvRows, const std::vector<bool>* only) const {
    out.resize(def.columns.size());
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const Column& c = def.columns[i];
        const RawField& f = fields[i];
        Value& v = out[i];
        // Cleared in place, so that a caller's buffer keeps its storage from row to row.
        v.type = c.type;
        v.null = true;
        v.integer = 0;
        v.real = 0;
        v.text.clear();
        v.bytes.clear();
        v.scale = 0;
        if (!f.present || emptyFixed(c, f, page) || (only && !(*only)[i])) continue;
        v.null = false;
        if (c.isCalculated()) {
            decodeCalculated(c, f, page, v, lvRows);
            continue;
        }
        switch (c.type) {
        case ColumnType::Boolean:
            v.integer = f.boolValue ? 1 : 0;
            break;
        case ColumnType::Memo: {
            auto bytes = readLongValue(*file_, f.data, page, lvRows);
            v.text = decodeText(bytes);
            break;
        }
        case ColumnType::Ole:
            v.bytes = readLongValue(*file_, f.data, page, lvRows);
            break;
        default:
            decodeScalar(c.type, c.scale, f.data, v);
            break;
        }
    }
}

void Database::decodeScalar(ColumnType type, std::uint8_t scale, Bytes data, Value& v) const {
    switch (type) {
    case ColumnType::Boolean: // only inside a calculated value: one byte
        v.integer = !data.empty() && data[0] != 0 ? 1 : 0;
        break;
    case ColumnType::Byte:
        v.integer = data[0];
        break;
    case ColumnType::Integer:
        v.integer = readAs<std::int16_t>(data);
        break;
    case ColumnType::Long:
        v.integer = readAs<std::int32_t>(data);
        break;
    case ColumnType::Complex:
        v.integer = readAs<std::uint32_t>(data);
        break;
    case ColumnType::Currency:
    case ColumnType::BigInt:
        v.integer = readAs<std::int64_t>(data);
        break;
    case ColumnType::Single:
        v.real = readAs<float>(data);
        break;
    case ColumnType::Double:
    case ColumnType::DateTime:
        v.real = readAs<double>(data);
        break;
    case ColumnType::Text:
    case ColumnType::Memo:
        v.text = decodeText(data);
        break;
    case ColumnType::Guid:
        v.bytes.assign(data.begin(), data.begin() + 16);
        break;
    case ColumnType::Decimal:
        v.bytes.assign(data.begin(), data.begin() + 17);
        v.scale = scale;
        break;
    case ColumnType::ExtDateTime:
        v.bytes.assign(data.begin(), data.begin() + 42);
        v.text = formatExtDateTime(v.bytes);
        break;
    default: // a type this engine does not know: its bytes
        v.bytes.assign(data.begin(), data.end());
        break;
    }
}

void Database::decodeCalculated(const Column& c, const RawField& f, std::uint32_t page, Value& v,
                                std::vector<RowPointer>* lvRows) const {
    // 16 bytes, u32 length n, the result in its own type's encoding, 3 bytes.
    std::vector<std::uint8_t> longValue;
    Bytes wrapper = f.data;
    if (c.resultType == ColumnType::Memo) {
        longValue = readLongValue(*file_, f.data, page, lvRows);
        wrapper = longValue;
    }
    ByteReader r(wrapper, "calculated value of \"" + c.name + "\"", page);
    const std::uint32_t n = r.u32(16);
    Bytes data = r.slice(20, n);
    v.type = c.resultType;
    if (n == 0 && c.resultType != ColumnType::Text && c.resultType != ColumnType::Memo) {
        v.null = true;
        return;
    }
    if (c.resultType == ColumnType::Decimal) {
        // Windows DECIMAL: u16, u8 scale, u8 sign, u32 high, u64 low; stored form as a row's.
        r.need(20, 16);
        const std::uint32_t hi = r.u32(24);
        const std::uint64_t lo = r.u64(28);
        v.bytes.assign(17, 0);
        v.bytes[0] = r.u8(23) & 0x80;
        const std::uint32_t words[4] = {0, hi, static_cast<std::uint32_t>(lo >> 32),
                                        static_cast<std::uint32_t>(lo)};
        for (std::size_t w = 0; w < 4; ++w)
            for (std::size_t b = 0; b < 4; ++b)
                v.bytes[1 + 4 * w + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
        v.scale = r.u8(22);
        return;
    }
    const std::size_t need = fixedSizeOf(c.resultType);
    if (data.size() < need)
        r.fail("holds " + std::to_string(n) + " bytes, " + typeName(c.resultType) + " needs " +
               std::to_string(need));
    decodeScalar(c.resultType, c.scale, data, v);
}

std::vector<Value> Database::decodeRow(const TableDef& def, Bytes row, const RowLocation& where,
                                       std::vector<RowPointer>* lvRows) const {
    auto fields = splitRow(format(), def, row, "data page", where.data.page, where.data.row);
    return decodeValues(def, fields, where.data.page, lvRows);
}

void Database::forEachRow(
    const TableDef& def,
    const std::function<bool(const RowLocation&, const std::vector<Value>&)>& cb) const {
    forEachRawRow(
        def, [&](const RowLocation& loc, Bytes row) { return cb(loc, decodeRow(def, row, loc)); });
}

std::vector<IndexEntry> Database::indexEntries(const TableDef& def, const RealIndex& index) const {
    IndexWalk walk = walkIndex(*file_, index.rootPage, def.page);
    if (!walk.problems.empty()) throw JetError("index", index.rootPage, walk.problems.front());
    return std::move(walk.entries);
}

} // namespace tarnwick::jet
