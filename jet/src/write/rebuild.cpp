#include "write/rebuild.h"

#include "jet/indexkey.h"
#include "read/datapage.h"
#include "read/longvalue.h"
#include "write/indexbuild.h"
#include "write/pagebuild.h"
#include "write/pagewriter.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace tarnwick::jet {

SourceRows RebuildResult::digests() const {
    SourceRows out{tableIds, {}, {}};
    for (const auto& t : tables)
        out.written[t.name] = t.written;
    return out;
}

bool RebuildResult::lost() const {
    if (!droppedTables.empty()) return true;
    for (const auto& t : tables)
        if (!t.losses.empty()) return true;
    return false;
}

namespace {

constexpr std::uint32_t kCatalogPage = 2;
constexpr std::uint32_t kCorePages = 4;   // MSysObjects, MSysACEs, MSysQueries, MSysRelationships
constexpr std::size_t kCacheLimit = 4096; // source pages kept between units of work
// A table with this many data pages has its rows prepared by two threads, a run of pages each.
constexpr std::size_t kPagesToShare = 64;
constexpr std::size_t kPagesPerRun = 96;
constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

std::uint32_t tdefPagesFor(const Format& f, std::size_t length) {
    if (length <= f.pageSize) return 1;
    const std::size_t body = f.pageSize - 8;
    return static_cast<std::uint32_t>(1 + (length - f.pageSize + body - 1) / body);
}

// Columns that hold catalog ids, by table name: rewritten through the id mapping.
// The key segment of a non-null Long: start byte, big-endian with the sign bit flipped.
std::vector<std::uint8_t> longKeySegment(std::int32_t v, bool ascending) {
    const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    std::vector<std::uint8_t> s = {ascending ? std::uint8_t{0x7F} : std::uint8_t{0x80},
                                   static_cast<std::uint8_t>(u >> 24),
                                   static_cast<std::uint8_t>(u >> 16),
                                   static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
    if (!ascending)
        for (std::size_t i = 1; i < s.size(); ++i)
            s[i] = static_cast<std::uint8_t>(~s[i]);
    return s;
}

// Bytes of a key segment of a fixed-size type, or 0 when the type's segment is not fixed: a
// flag byte and the value (a Boolean's flag and one byte); GUIDs and decimals are encoded in
// blocks or with a sign of their own.
std::size_t fixedSegmentLength(ColumnType t) {
    if (t == ColumnType::Boolean) return 2;
    if (t == ColumnType::Guid || t == ColumnType::Decimal) return 0;
    const std::size_t size = fixedSizeOf(t);
    return size ? 1 + size : 0;
}

// Salvage: as much of a damaged long value as can be read, in order, up to its declared length.
std::vector<std::uint8_t> readLongValuePrefix(const PageFile& file, Bytes field) {
    std::vector<std::uint8_t> out;
    LongValueRef ref;
    try {
        ref = parseLongValueRef(field, "long value", JetError::noPage);
    } catch (const JetError&) {
        return out;
    }
    std::set<std::uint32_t> seen;
    RowPointer rp = ref.first;
    try {
        while (out.size() < ref.length && seen.insert(rp.raw()).second) {
            RowSlot slot;
            const Bytes row = rowAt(file, rp, "long value", &slot);
            if (slot.isDeleted() || le32(file.page(rp.page).data() + 4) != lvalOwner) break;
            const std::size_t skip = ref.kind == LongValueKind::Chain ? 4 : 0;
            if (row.size() < skip) break;
            const std::size_t take =
                std::min<std::size_t>(row.size() - skip, ref.length - out.size());
            out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(skip),
                       row.begin() + static_cast<std::ptrdiff_t>(skip + take));
            if (ref.kind != LongValueKind::Chain) break;
            rp = RowPointer::fromRaw(le32(row.data()));
            if (rp.isNull()) break;
        }
    } catch (const JetError&) {
    }
    return out;
}

struct LongValueColumn {
    std::uint16_t column = 0;
    DataPageBuilder builder;
    std::uint32_t current = 0;
    std::vector<std::uint32_t> pages, freePages;
    LongValueColumn(const Format& f, std::uint16_t c, PageWriter& out)
        : column(c), builder(f, lvalOwner, &out) {}
};

class Rebuilder {
public:
    Rebuilder(const Database& src, PageWriter& out, const RebuildOptions& options)
        : src_(src), f_(src.format()), out_(out), options_(options) {}

    RebuildResult run();

private:
    struct Planned {
        const CatalogEntry* entry = nullptr;
        std::string name;
        std::uint32_t oldPage = 0;
        std::uint32_t newPage = 0;
        std::vector<std::uint32_t> tdefPages;
    };
    // Old header slot -> id values rewritten in that row (column number -> old, new).
    using IdChanges =
        std::unordered_map<std::uint32_t, std::vector<std::pair<std::int32_t, std::int32_t>>>;

    void plan();
    void rebuildTable(Planned& t, TableRebuild& report);
    void flushData(DataPageBuilder& b, std::uint32_t page, std::vector<std::uint32_t>& pages,
                   std::vector<std::uint32_t>& freePages, std::size_t threshold);
    void flushLongValues(LongValueColumn& lv);
    // Writes a long value and returns its new 12-byte definition.
    // Writes a long value given as the pieces it was read in.
    std::array<std::uint8_t, 12> writeLongValue(LongValueColumn& lv, std::span<const Bytes> parts,
                                                LongValueKind kind);
    void writeGlobalMapAndHeader();
    void releaseSourceCache() {
        if (src_.file().cachedPages() > kCacheLimit) src_.file().releaseCache();
    }

    const Database& src_;
    const Format& f_;
    PageWriter& out_;
    RebuildOptions options_;
    std::vector<Planned> planned_;
    RebuildResult result_;
    std::set<std::uint32_t> dropped_;
    // Map rows of consecutive tables share host pages, as in files Access writes.
    DataPageBuilder host_{f_, 0};
    std::uint32_t hostPage_ = 0;
};

RebuildResult Rebuilder::run() {
    out_.allocate(2); // page 0 (header) and page 1 (global map), written last
    plan();
    for (auto& t : planned_) {
        TableRebuild report;
        report.name = t.name;
        report.oldPage = t.oldPage;
        report.newPage = t.newPage;
        rebuildTable(t, report);
        result_.tables.push_back(std::move(report));
        src_.file().releaseCache();
    }
    if (!host_.empty()) out_.write(hostPage_, host_.take());
    writeGlobalMapAndHeader();
    result_.pages = out_.pageCount();
    return result_;
}

void Rebuilder::plan() {
    // Every local table, system tables included, by its old TDEF page; the four core tables
    // keep pages 2..5, which page 0 names.
    std::map<std::uint32_t, const CatalogEntry*> byPage;
    for (const auto& e : src_.catalog())
        if (e.isTable() && e.id > 0) byPage.emplace(e.tablePage(), &e);
    for (std::uint32_t p = kCatalogPage; p < kCatalogPage + kCorePages; ++p)
        if (!byPage.count(p))
            throw JetError("catalog", p,
                           "the system table on page " + std::to_string(p) +
                               " is missing from the catalog");
    std::vector<Planned> rest;
    for (const auto& [page, entry] : byPage) {
        Planned t;
        t.entry = entry;
        t.name = entry->name;
        t.oldPage = page;
        try {
            (void)src_.tableDef(page);
        } catch (const JetError& e) {
            if (!options_.salvage || page < kCatalogPage + kCorePages) throw;
            dropped_.insert(page);
            result_.droppedTables.push_back("table \"" + entry->name +
                                            "\" was dropped: its definition cannot be read (" +
                                            e.what() + ")");
            continue;
        }
        if (page < kCatalogPage + kCorePages)
            planned_.push_back(std::move(t));
        else
            rest.push_back(std::move(t));
    }
    const std::uint32_t first = out_.allocate(kCorePages);
    for (std::uint32_t i = 0; i < kCorePages; ++i)
        planned_[i].tdefPages.push_back(first + i);
    for (auto& t : planned_) {
        const std::uint32_t n = tdefPagesFor(f_, src_.tableDef(t.oldPage).raw.size());
        if (n > 1) {
            const std::uint32_t more = out_.allocate(n - 1);
            for (std::uint32_t i = 0; i < n - 1; ++i)
                t.tdefPages.push_back(more + i);
        }
    }
    for (auto& t : rest) {
        const std::uint32_t n = tdefPagesFor(f_, src_.tableDef(t.oldPage).raw.size());
        const std::uint32_t at = out_.allocate(n);
        for (std::uint32_t i = 0; i < n; ++i)
            t.tdefPages.push_back(at + i);
        planned_.push_back(std::move(t));
    }
    for (auto& t : planned_) {
        t.newPage = t.tdefPages.front();
        result_.tableIds[t.oldPage] = t.newPage;
    }
}

void Rebuilder::flushData(DataPageBuilder& b, std::uint32_t page, std::vector<std::uint32_t>& pages,
                          std::vector<std::uint32_t>& freePages, std::size_t threshold) {
    if (b.empty()) return;
    if (b.freeSpace() >= threshold) freePages.push_back(page);
    pages.push_back(page);
    out_.write(page, b.take());
}

void Rebuilder::flushLongValues(LongValueColumn& lv) {
    flushData(lv.builder, lv.current, lv.pages, lv.freePages, f_.pageSize / 8);
}

std::array<std::uint8_t, 12>
Rebuilder::writeLongValue(LongValueColumn& lv, std::span<const Bytes> parts, LongValueKind kind) {
    std::array<std::uint8_t, 12> def{};
    const std::size_t singleLimit = f_.jet4() ? 4076 : 2036;
    const std::size_t segment = f_.jet4() ? 4072 : 2032;
    std::size_t total = 0;
    for (Bytes part : parts)
        total += part.size();
    const auto length = static_cast<std::uint32_t>(total);
    if (total == 0) {
        put32(def.data(), 0x80000000u);
        return def;
    }
    // Copies the value's bytes [from, from + n) to `to`, across the pieces they lie in.
    auto copyOut = [&](std::size_t from, std::size_t n, std::uint8_t* to) {
        for (Bytes part : parts) {
            if (n == 0) break;
            if (from >= part.size()) {
                from -= part.size();
                continue;
            }
            const std::size_t take = std::min(n, part.size() - from);
            std::memcpy(to, part.data() + from, take);
            to += take;
            n -= take;
            from = 0;
        }
    };
    // A row of the value's [from, from + n), after a 4-byte chain pointer when `next` is set.
    auto addRow = [&](DataPageBuilder& b, std::size_t from, std::size_t n,
                      std::optional<std::uint32_t> next) {
        const std::size_t head = next ? 4 : 0;
        const std::span<std::uint8_t> row = b.append(head + n);
        if (next) put32(row.data(), *next);
        copyOut(from, n, row.data() + head);
    };
    if (kind != LongValueKind::Chain && total <= singleLimit) {
        if (!lv.builder.fits(total)) flushLongValues(lv);
        if (lv.builder.empty()) lv.current = out_.allocate();
        const std::uint8_t slot = static_cast<std::uint8_t>(lv.builder.slots());
        addRow(lv.builder, 0, total, std::nullopt);
        put32(def.data(), length | 0x40000000u);
        put32(def.data() + 4, lv.current << 8 | slot);
        return def;
    }
    // The last piece goes first, to a shared page: the piece before it points at it.
    const std::size_t n = (total + segment - 1) / segment;
    const std::size_t tail = total - (n - 1) * segment;
    if (!lv.builder.fits(4 + tail)) flushLongValues(lv);
    if (lv.builder.empty()) lv.current = out_.allocate();
    const std::uint32_t last = lv.current << 8 | static_cast<std::uint8_t>(lv.builder.slots());
    addRow(lv.builder, (n - 1) * segment, tail, 0u);
    std::uint32_t firstRp = last;
    if (n > 1) {
        const std::uint32_t first = out_.allocate(static_cast<std::uint32_t>(n - 1));
        for (std::size_t i = 0; i + 1 < n; ++i) {
            const std::uint32_t page = first + static_cast<std::uint32_t>(i);
            DataPageBuilder b(f_, lvalOwner, &out_);
            addRow(b, i * segment, segment, i + 2 < n ? (page + 1) << 8 : last);
            if (b.freeSpace() >= f_.pageSize / 8) lv.freePages.push_back(page);
            lv.pages.push_back(page);
            out_.write(page, b.take());
        }
        firstRp = first << 8;
    }
    put32(def.data(), length);
    put32(def.data() + 4, firstRp);
    return def;
}

void Rebuilder::rebuildTable(Planned& t, TableRebuild& report) {
    const TableDef& def = src_.tableDef(t.oldPage);
    const std::string& name = t.name;
    auto lose = [&](const std::string& what) { report.losses.push_back(what); };

    // Columns whose ids follow the mapping, and long-value columns with their writers.
    std::set<std::uint16_t> idColumns;
    for (const auto& c : def.columns)
        if (c.type == ColumnType::Long && holdsObjectIds(name, c.name)) idColumns.insert(c.number);
    std::vector<std::unique_ptr<LongValueColumn>> lvs;
    std::map<std::uint16_t, LongValueColumn*> lvByColumn;
    for (const auto& c : def.columns)
        if (c.isLong()) {
            lvs.push_back(std::make_unique<LongValueColumn>(f_, c.number, out_));
            lvByColumn[c.number] = lvs.back().get();
        }
    // Rows without long values or ids are copied as they are stored, and digested so.
    const bool asStored = idColumns.empty() && lvs.empty();
    report.written.asStored = asStored;
    const bool isCatalog = t.oldPage == kCatalogPage;
    int typeColumn = -1, idColumn = -1;
    if (isCatalog)
        for (std::size_t i = 0; i < def.columns.size(); ++i) {
            if (def.columns[i].name == "Type") typeColumn = static_cast<int>(i);
            if (def.columns[i].name == "Id") idColumn = static_cast<int>(i);
        }

    // Rows, in the source's page and slot order.
    DataPageBuilder data(f_, t.newPage, &out_);
    std::uint32_t dataPage = 0;
    std::vector<std::uint32_t> dataPages, dataFree;
    // Old header slot -> new slot, in ascending old order (rows are read in page and slot order).
    std::vector<std::pair<std::uint32_t, std::uint32_t>> moved;
    IdChanges idChanges;
    std::uint64_t rowBytes = 0;
    std::vector<std::uint32_t> owned;
    try {
        owned = src_.usageMap(def.ownedMap, "owned-pages usage map").pages;
    } catch (const JetError& e) {
        if (!options_.salvage) throw;
        lose("its rows could not be found: " + std::string(e.what()));
    }
    if (options_.salvage) {
        // Pages the indexes lead to hold live rows even when the map lost them.
        std::set<std::uint32_t> pages(owned.begin(), owned.end());
        std::size_t found = 0;
        for (const auto& ri : def.realIndexes) {
            const IndexWalk w = walkIndex(src_.file(), ri.rootPage, def.page);
            for (const auto& e : w.entries) {
                if (pages.count(e.page) || !src_.file().contains(e.page)) continue;
                const Bytes raw = src_.file().page(e.page, "data page");
                if (raw[0] != pagetype::data || le32(raw.data() + 4) != def.page) continue;
                pages.insert(e.page);
                ++found;
            }
        }
        if (found)
            report.notes.push_back(std::to_string(found) +
                                   " data pages missing from the table's usage map were found "
                                   "through its indexes");
        owned.assign(pages.begin(), pages.end());
        src_.file().releaseCache();
    }
    auto placeRow = [&](RowPointer header, Bytes row) {
        if (row.size() + 2 > emptyDataPageRoom(f_))
            throw JetError("data page", header.page,
                           "row " + std::to_string(header.row) + " is larger than a page");
        if (!data.fits(row.size())) {
            flushData(
                data, dataPage, dataPages, dataFree,
                std::max<std::size_t>(64, rowBytes / std::max<std::uint64_t>(report.rows, 1) + 2));
        }
        if (data.empty()) dataPage = out_.allocate();
        const std::uint8_t slot = data.add(row);
        const std::uint32_t at = (dataPage << 8) | slot;
        moved.emplace_back(header.raw(), at);
        ++report.rows;
        rowBytes += row.size();
        return at;
    };
    // Index entries are encoded from each row's values as it is copied; an index whose keys
    // cannot all be encoded falls back to the source's key bytes below.
    struct KeyedIndex {
        std::vector<IndexEntry> entries;
        EntrySum sum;       // of `entries`, summed by the thread that sorts them
        IndexLayout layout; // laid out by that thread too
        bool encoded = true;
        std::string why;
    };
    std::vector<KeyedIndex> keyed(def.realIndexes.size());
    // Positions of the columns some key is made of, of each index's columns, and of the
    // columns holding ids.
    std::vector<std::size_t> indexed, ids;
    std::vector<std::vector<std::size_t>> keyColumns(def.realIndexes.size());
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        for (std::size_t k = 0; k < def.realIndexes.size(); ++k)
            for (const auto& ic : def.realIndexes[k].columns)
                if (def.columns[i].number == ic.column) {
                    if (indexed.empty() || indexed.back() != i) indexed.push_back(i);
                    keyColumns[k].push_back(i);
                }
        if (idColumns.count(def.columns[i].number)) ids.push_back(i);
    }
    const Version version = f_.version;
    const int codePage = src_.header().codePage;

    // Rows are copied in two steps. Preparing reads a row, digests it and encodes its keys,
    // touching nothing but what it is given, so two threads can prepare pages at once; placing
    // then writes the rows in page order, with their long values, and records the index
    // entries where the rows landed.
    struct Prepared {
        RowPointer header, at;
        Bytes stored;
        std::string lost;      // salvage: why the row (or page) could not be read
        bool pageLost = false; // the whole page, not one row
        RowHashes hash;        // as the digest sees the row
    };
    struct Part {
        std::vector<Prepared> rows;
        std::vector<std::uint8_t> keyBytes; // the rows' keys, one after another
        std::vector<std::pair<std::uint32_t, std::uint16_t>>
            keys;                         // per row and index; see kNoEntry
        std::vector<std::string> unkeyed; // per index: why a key failed
        RowDigester digester;
        std::exception_ptr failed; // what stopped preparing (not when salvaging)
        // One row's buffers, reused.
        std::vector<Value> values;
        std::vector<RawField> fields, keyFields;
        std::vector<std::vector<std::uint8_t>> longValues; // salvage: what of a value read
        std::vector<std::vector<Bytes>> parts;             // per column: the value's pieces

        Part(const std::string& name, const TableDef& def, const TableIdMap& ids)
            : unkeyed(def.realIndexes.size()), digester(name, def, ids),
              longValues(def.columns.size()), parts(def.columns.size()) {}
        void clear() {
            rows.clear();
            keyBytes.clear();
            keys.clear();
            failed = nullptr;
        }
    };
    static constexpr std::uint16_t kNoEntry = 0xFFFF; // all-null key of an index ignoring nulls
    const std::string dataPageName = "data page";
    // The stored count is only a hint: a damaged one must not reserve more than the pages hold.
    const std::size_t expectedRows = std::min<std::size_t>(def.rowCount, owned.size() * 256);
    for (auto& ki : keyed)
        reserveEntries(ki.entries, expectedRows);

    // A long value as the rebuild carries it over, as the pieces it is stored in: whole, or when
    // salvaging as much as reads (gathered into `buffer`; `why` then says what was lost).
    auto longValue = [&](Bytes field, RowPointer at, const LongValueRef& ref,
                         std::vector<Bytes>& parts, std::vector<std::uint8_t>& buffer,
                         std::string* why = nullptr) {
        try {
            readLongValueParts(src_.file(), field, at.page, parts);
        } catch (const JetError& e) {
            if (!options_.salvage) throw;
            parts.clear();
            buffer.clear();
            if (ref.kind == LongValueKind::Inline) return;
            buffer = readLongValuePrefix(src_.file(), field);
            if (!buffer.empty()) parts.push_back(buffer);
            if (why)
                *why = (buffer.empty()
                            ? std::string("long value emptied")
                            : "long value cut to the " + std::to_string(buffer.size()) + " of " +
                                  std::to_string(ref.length) + " bytes that read") +
                       " (" + e.what() + ")";
        }
    };

    auto prepareRow = [&](Part& part, RowPointer header, RowPointer at, Bytes stored) {
        auto& fields = part.fields;
        splitRow(f_, def, stored, dataPageName, at.page, at.row, fields);
        // Only the indexed fields are ever set; the others stay null from the first row on.
        if (part.keyFields.size() != fields.size())
            part.keyFields.assign(fields.size(), RawField{});
        for (std::size_t i : indexed)
            part.keyFields[i] = fields[i];
        auto& values = part.values;
        src_.decodeValues(def, part.keyFields, at.page, values);
        for (std::size_t i : ids)
            if (!values[i].null) {
                auto it = result_.tableIds.find(static_cast<std::uint32_t>(values[i].integer));
                if (it != result_.tableIds.end()) values[i].integer = it->second;
            }
        if (isCatalog && typeColumn >= 0 && idColumn >= 0) {
            const RawField& type = fields[static_cast<std::size_t>(typeColumn)];
            const RawField& id = fields[static_cast<std::size_t>(idColumn)];
            if (type.present && type.data.size() >= 2 && le16(type.data.data()) == objtype::table &&
                id.present && id.data.size() == 4 && dropped_.count(le32(id.data.data())))
                return; // the catalog row of a table that could not be salvaged
        }
        // What the digest sees: the stored fields, long columns with the pieces of their value.
        for (std::size_t i = 0; i < def.columns.size(); ++i)
            if (def.columns[i].isLong() && fields[i].present)
                longValue(fields[i].data, at,
                          parseLongValueRef(fields[i].data, "long value", at.page), part.parts[i],
                          part.longValues[i]);
        for (std::size_t k = 0; k < def.realIndexes.size(); ++k) {
            const RealIndex& ri = def.realIndexes[k];
            part.keys.emplace_back(0, kNoEntry);
            if (!part.unkeyed[k].empty()) continue;
            if ((ri.flags & idxflag::ignoreNulls) &&
                std::all_of(keyColumns[k].begin(), keyColumns[k].end(),
                            [&](std::size_t i) { return values[i].null; }))
                continue;
            const std::size_t from = part.keyBytes.size();
            try {
                appendIndexKey(part.keyBytes, version, codePage, def, ri, values);
                if (part.keyBytes.size() - from >= kNoEntry) {
                    part.keyBytes.resize(from);
                    throw JetError("index key", JetError::noPage, "a key is longer than a page");
                }
                part.keys.back() = {static_cast<std::uint32_t>(from),
                                    static_cast<std::uint16_t>(part.keyBytes.size() - from)};
            } catch (const JetError& e) {
                part.unkeyed[k] = e.what();
            }
        }
        part.rows.push_back(
            {header,
             at,
             stored,
             {},
             false,
             asStored ? hashStoredRow(stored) : part.digester.hash(fields, &part.parts)});
    };

    // Prepares the rows of `pages`; a failure that ends the rebuild stops it in `part.failed`.
    const std::size_t rowsPerPage = expectedRows / std::max<std::size_t>(owned.size(), 1) + 1;
    auto preparePages = [&](Part& part, std::span<const std::uint32_t> pages) {
        part.rows.reserve(pages.size() * rowsPerPage);
        try {
            for (std::uint32_t page : pages) {
                Bytes raw;
                DataPage dp;
                try {
                    raw = src_.file().page(page, dataPageName);
                    if (raw[0] != pagetype::data || le32(raw.data() + 4) != def.page) continue;
                    dp = readDataPage(src_.file(), page, dataPageName);
                } catch (const JetError& e) {
                    if (!options_.salvage) throw;
                    part.rows.push_back(
                        {{page, 0},
                         {},
                         {},
                         "data page " + std::to_string(page) + " could not be read: " + e.what(),
                         true,
                         {}});
                    continue;
                }
                for (std::size_t i = 0; i < dp.slots.size(); ++i) {
                    const RowSlot& s = dp.slots[i];
                    if (s.isHidden()) continue;
                    const RowPointer header{page, static_cast<std::uint8_t>(i)};
                    const std::size_t keysBefore = part.keys.size();
                    try {
                        if (!s.valid)
                            throw JetError("data page", page,
                                           "row " + std::to_string(i) +
                                               " has an impossible offset");
                        RowPointer at = header;
                        Bytes stored =
                            s.isForward() ? src_.resolveRow(def, header, &at) : dp.row(i);
                        prepareRow(part, header, at, stored);
                    } catch (const JetError& e) {
                        if (!options_.salvage) throw;
                        part.keys.resize(keysBefore);
                        part.rows.push_back(
                            {header,
                             {},
                             {},
                             "row at " + toString(header) + " could not be read: " + e.what(),
                             false,
                             {}});
                    }
                }
            }
        } catch (...) {
            part.failed = std::current_exception();
        }
    };

    std::vector<std::uint8_t> row;
    std::vector<RawField> fields;
    std::vector<std::uint8_t> buffer;
    std::vector<Bytes> parts;
    auto placeRows = [&](Part& part) {
        for (std::size_t k = 0; k < keyed.size(); ++k)
            if (keyed[k].encoded && !part.unkeyed[k].empty()) {
                keyed[k].encoded = false;
                keyed[k].why = part.unkeyed[k];
                keyed[k].entries = {};
            }
        std::size_t keyAt = 0;
        for (const Prepared& p : part.rows) {
            if (!p.lost.empty()) {
                if (!p.pageLost) ++report.rowsLost;
                lose(p.lost);
                continue;
            }
            const std::size_t keys = keyAt;
            keyAt += keyed.size();
            try {
                Bytes placing = p.stored;
                std::vector<std::pair<std::int32_t, std::int32_t>> changes;
                if (!asStored) {
                    row.assign(p.stored.begin(), p.stored.end());
                    placing = row;
                    splitRow(f_, def, p.stored, dataPageName, p.at.page, p.at.row, fields);
                    for (std::size_t i = 0; i < def.columns.size(); ++i) {
                        const Column& c = def.columns[i];
                        const RawField& fld = fields[i];
                        if (!fld.present) continue;
                        const std::size_t off =
                            static_cast<std::size_t>(fld.data.data() - p.stored.data());
                        if (idColumns.count(c.number) && fld.data.size() == 4) {
                            const std::uint32_t old = le32(fld.data.data());
                            auto it = result_.tableIds.find(old);
                            if (it != result_.tableIds.end() && it->second != old) {
                                put32(row.data() + off, it->second);
                                changes.emplace_back(static_cast<std::int32_t>(old),
                                                     static_cast<std::int32_t>(it->second));
                            }
                            continue;
                        }
                        if (!c.isLong()) continue;
                        const LongValueRef ref =
                            parseLongValueRef(fld.data, "long value", p.at.page);
                        if (ref.kind == LongValueKind::Inline) continue; // stays in the row
                        std::string why;
                        longValue(fld.data, p.at, ref, parts, buffer, &why);
                        if (!why.empty()) {
                            ++report.longValuesLost;
                            lose("column \"" + c.name + "\" of the row at " + toString(p.header) +
                                 ": " + why);
                        }
                        const auto newDef =
                            writeLongValue(*lvByColumn.at(c.number), parts, ref.kind);
                        std::memcpy(row.data() + off, newDef.data(), newDef.size());
                    }
                }
                const std::uint32_t placed = placeRow(p.header, placing);
                report.written.rows.addPlaced(p.hash, placed);
                if (!changes.empty()) idChanges[p.header.raw()] = std::move(changes);
                for (std::size_t k = 0; k < keyed.size(); ++k) {
                    const auto [offset, length] = part.keys[keys + k];
                    if (!keyed[k].encoded || length == kNoEntry) continue;
                    IndexEntry& e = keyed[k].entries.emplace_back();
                    e.key.assign(part.keyBytes.data() + offset, length);
                    e.page = placed >> 8;
                    e.row = static_cast<std::uint8_t>(placed);
                }
            } catch (const JetError& e) {
                if (!options_.salvage) throw;
                ++report.rowsLost;
                lose("row at " + toString(p.header) + " could not be read: " + e.what());
            }
        }
        if (part.failed) std::rethrow_exception(part.failed);
    };

    Part first(name, def, result_.tableIds), second(name, def, result_.tableIds),
        third(name, def, result_.tableIds);
    if (!options_.salvage && src_.file().readsConcurrently() && owned.size() >= kPagesToShare) {
        // Pages go in runs: this thread prepares the first two fifths of each, the other
        // thread the rest, one run ahead, so that it keeps preparing while this thread places
        // the rows of both in page order.
        const std::span<const std::uint32_t> pages = owned;
        const std::size_t unit = std::min(kPagesPerRun, (pages.size() + 4) / 5);
        struct Run {
            std::span<const std::uint32_t> mine, theirs;
        };
        std::vector<Run> runs;
        for (std::size_t at = 0; at < pages.size();) {
            Run& r = runs.emplace_back();
            r.mine = pages.subspan(at, std::min(2 * unit, pages.size() - at));
            at += r.mine.size();
            r.theirs = pages.subspan(at, std::min(3 * unit, pages.size() - at));
            at += r.theirs.size();
        }
        Part* theirs[2] = {&second, &third};
        auto prepareTheirs = [&](std::size_t i) {
            return std::async(std::launch::async, [&, i] {
                theirs[i % 2]->clear();
                preparePages(*theirs[i % 2], runs[i].theirs);
            });
        };
        // Declared after the parts: leaving early waits for the other thread first.
        std::future<void> other = prepareTheirs(0);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            first.clear();
            preparePages(first, runs[i].mine);
            placeRows(first);
            other.get();
            if (i + 1 < runs.size()) other = prepareTheirs(i + 1);
            placeRows(*theirs[i % 2]);
        }
    } else {
        for (std::uint32_t page : owned) {
            first.clear();
            preparePages(first, std::span<const std::uint32_t>(&page, 1));
            placeRows(first);
            releaseSourceCache(); // no span of the page is used past this point
        }
    }
    flushData(data, dataPage, dataPages, dataFree,
              std::max<std::size_t>(64, rowBytes / std::max<std::uint64_t>(report.rows, 1) + 2));
    for (auto& lv : lvs)
        flushLongValues(*lv);

    // Indexes: the entries encoded from the rows are summed for verification, sorted and laid
    // out on two other threads (that is much of a large table's rebuild and needs nothing but
    // their own entries) while this one writes each index in turn once it is laid out; the
    // others are rebuilt from the source's entries, mapped to the new row places.
    std::vector<std::size_t> toSort;
    for (std::size_t k = 0; k < keyed.size(); ++k)
        if (keyed[k].encoded) toSort.push_back(k);
    std::vector<std::promise<void>> sorted(keyed.size());
    auto sortEvery = [&](std::size_t first) {
        for (std::size_t i = first; i < toSort.size(); i += 2) {
            std::promise<void>& done = sorted[toSort[i]];
            try {
                KeyedIndex& ki = keyed[toSort[i]];
                for (const IndexEntry& e : ki.entries)
                    ki.sum.add(RowPointer{e.page, e.row}.raw(), keyHash(e.key.bytes()));
                sortIndexEntries(ki.entries);
                ki.layout = layoutIndex(f_, ki.entries);
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        }
    };
    // Declared after `sorted`: leaving early waits for both sorters before the promises go.
    auto even = std::async(std::launch::async, sortEvery, 0);
    auto odd = std::async(std::launch::async, sortEvery, 1);
    std::vector<BuiltIndex> built;
    for (const auto& ri : def.realIndexes) {
        std::string label;
        for (const auto& li : def.indexes)
            if (li.realIndex == ri.number) label += (label.empty() ? "" : "/") + li.name;
        const std::string what = "index \"" + label + "\" of table \"" + name + "\"";
        KeyedIndex& ki = keyed[ri.number];
        if (ki.encoded) {
            sorted[ri.number].get_future().get();
            report.written.indexes[ri.number] = ki.sum;
            built.push_back(writeIndex(out_, t.newPage, ki.layout, std::move(ki.entries)));
            ki.entries = {};
            ki.layout = {};
            continue;
        }
        // Copying old key bytes is allowed only from an index that checks sound.
        IndexWalk walk = walkIndex(src_.file(), ri.rootPage, def.page);
        std::vector<IndexEntry> entries;
        std::string unsound = walk.problems.empty() ? "" : walk.problems.front();
        std::unordered_set<std::uint32_t> seen;
        for (auto& e : walk.entries) {
            if (!unsound.empty()) break;
            const RowPointer old{e.page, e.row};
            auto it = std::lower_bound(moved.begin(), moved.end(),
                                       std::make_pair(old.raw(), std::uint32_t{0}));
            if (it == moved.end() || it->first != old.raw()) {
                unsound = "an entry names " + toString(old) + ", which holds no row";
                break;
            }
            if (!seen.insert(old.raw()).second) {
                unsound = "two entries name " + toString(old);
                break;
            }
            // A renumbered table id inside the key changes the key.
            auto ch = idChanges.find(old.raw());
            if (ch != idChanges.end()) {
                std::size_t pos = 0;
                for (const auto& ic : ri.columns) {
                    const Column* c = def.columnByNumber(ic.column);
                    if (!c || pos >= e.key.size()) {
                        unsound = "key of " + toString(old) + " cannot be re-encoded";
                        break;
                    }
                    const std::uint8_t lead = e.key[pos];
                    if (lead == 0x00 || lead == 0xFF) {
                        ++pos;
                        continue;
                    }
                    if (idColumns.count(ic.column)) {
                        for (const auto& [from, to] : ch->second) {
                            const auto before = longKeySegment(from, ic.ascending);
                            if (pos + 5 <= e.key.size() &&
                                std::equal(before.begin(), before.end(),
                                           e.key.begin() + static_cast<std::ptrdiff_t>(pos))) {
                                const auto after = longKeySegment(to, ic.ascending);
                                std::copy(after.begin(), after.end(),
                                          e.key.begin() + static_cast<std::ptrdiff_t>(pos));
                                break;
                            }
                        }
                    }
                    const std::size_t len = fixedSegmentLength(c->type);
                    if (len == 0) break; // later segments hold no ids in any known table
                    pos += len;
                }
                if (!unsound.empty()) break;
            }
            e.page = it->second >> 8;
            e.row = static_cast<std::uint8_t>(it->second);
            entries.push_back(std::move(e));
        }
        if (unsound.empty() && entries.size() != report.rows && !(ri.flags & idxflag::ignoreNulls))
            unsound = std::to_string(entries.size()) + " entries for " +
                      std::to_string(report.rows) + " rows";
        if (!unsound.empty()) {
            if (!options_.salvage)
                throw JetError("index", ri.rootPage,
                               what + " cannot be rebuilt: " + ki.why + "; its stored keys " +
                                   "cannot be used either: " + unsound);
            lose(what + " was rebuilt empty: " + ki.why + "; " + unsound);
            entries.clear();
        }
        walk = {};
        if (unsound.empty())
            report.notes.push_back(what + " was rebuilt from its stored keys: " + ki.why);
        sortIndexEntries(entries);
        built.push_back(buildIndex(out_, t.newPage, std::move(entries)));
        src_.file().releaseCache();
    }

    // Usage maps on host pages of their own.
    const std::size_t mapLength = usageMapRowLength(f_);
    std::vector<std::vector<std::uint8_t>> maps;
    maps.push_back(buildUsageMap(out_, dataPages, mapLength));
    maps.push_back(buildUsageMap(out_, dataFree, mapLength));
    for (const auto& b : built)
        maps.push_back(buildUsageMap(out_, b.pages, mapLength));
    std::map<std::uint16_t, std::pair<std::size_t, std::size_t>> lvMapRows;
    for (const auto& lv : lvs) {
        std::sort(lv->pages.begin(), lv->pages.end());
        std::sort(lv->freePages.begin(), lv->freePages.end());
        lvMapRows[lv->column] = {maps.size(), maps.size() + 1};
        maps.push_back(buildUsageMap(out_, lv->pages, mapLength));
        maps.push_back(buildUsageMap(out_, lv->freePages, mapLength));
    }
    std::vector<std::uint32_t> mapRp(maps.size());
    for (std::size_t i = 0; i < maps.size(); ++i) {
        if (!host_.fits(maps[i].size())) out_.write(hostPage_, host_.take());
        if (host_.empty()) hostPage_ = out_.allocate();
        mapRp[i] = (hostPage_ << 8) | host_.add(maps[i]);
    }

    // The definition, with its pointers and figures renewed.
    std::vector<std::uint8_t> buf = def.raw;
    put32(buf.data() + f_.tdefRowCountOffset, static_cast<std::uint32_t>(report.rows));
    put32(buf.data() + f_.tdefOwnedMapOffset, mapRp[0]);
    put32(buf.data() + f_.tdefFreeMapOffset, mapRp[1]);
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i) {
        std::uint8_t* stats = buf.data() + f_.tdefHeaderLength + i * f_.realIndexStatsLength;
        put32(stats, built[i].entries);
        put32(stats + 4, built[i].distinctKeys);
        std::uint8_t* block =
            buf.data() + def.realIndexBlocks + i * f_.realIndexLength + (f_.jet4() ? 4 : 0);
        put32(block + 30, mapRp[2 + i]);
        put32(block + 34, built[i].root);
    }
    for (std::size_t i = 0; i < def.indexes.size(); ++i) {
        std::uint8_t* block =
            buf.data() + def.logicalIndexBlocks + i * f_.logicalIndexLength + (f_.jet4() ? 4 : 0);
        const std::uint32_t other = le32(block + 13);
        auto it = result_.tableIds.find(other);
        if (other != 0 && it != result_.tableIds.end()) put32(block + 13, it->second);
    }
    for (std::size_t k = 0; k < def.longValueMaps.size(); ++k) {
        std::uint8_t* entry = buf.data() + def.longValueBlocks + 10 * k;
        auto it = lvMapRows.find(le16(entry));
        if (it == lvMapRows.end()) continue;
        put32(entry + 2, mapRp[it->second.first]);
        if (le32(entry + 6) != 0) put32(entry + 6, mapRp[it->second.second]);
    }
    std::size_t pos = 0;
    for (std::size_t i = 0; i < t.tdefPages.size(); ++i) {
        std::vector<std::uint8_t> page(f_.pageSize, 0);
        std::size_t used;
        if (i == 0) {
            used = std::min<std::size_t>(buf.size(), f_.pageSize);
            std::copy(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(used), page.begin());
            pos = used;
        } else {
            const std::size_t n = std::min<std::size_t>(buf.size() - pos, f_.pageSize - 8);
            std::copy(buf.begin() + static_cast<std::ptrdiff_t>(pos),
                      buf.begin() + static_cast<std::ptrdiff_t>(pos + n), page.begin() + 8);
            pos += n;
            used = 8 + n;
        }
        page[0] = pagetype::tableDef;
        page[1] = 0x01;
        if (f_.jet4()) {
            const std::size_t free = used + 8 < f_.pageSize ? f_.pageSize - used - 8 : 0;
            put16(page.data() + 2, static_cast<std::uint32_t>(free));
        } else {
            page[2] = 'V';
            page[3] = 'C';
        }
        put32(page.data() + 4, i + 1 < t.tdefPages.size() ? t.tdefPages[i + 1] : 0);
        out_.write(t.tdefPages[i], std::move(page));
    }
}

void Rebuilder::writeGlobalMapAndHeader() {
    // Page 1: row 0 the global map (set bits = free pages: none inside the file, all past its
    // end), row 1 an empty inline map.
    const std::size_t standard = usageMapRowLength(f_);
    const std::vector<std::uint8_t> second = [&] {
        std::vector<std::uint8_t> r(standard, 0);
        return r;
    }();
    const std::uint32_t pages = out_.pageCount();
    const std::size_t bitmap =
        std::max<std::size_t>(standard - 5, 4 * ((static_cast<std::size_t>(pages) + 31) / 32));
    const std::size_t room = emptyDataPageRoom(f_) - 4 - second.size();
    std::vector<std::uint8_t> global;
    if (5 + bitmap <= room) {
        global = buildUsageMap(out_, {}, 5 + bitmap, pages);
    } else {
        // Too many pages for an inline row: a reference map whose one bitmap page (appended
        // now, so in use itself) marks everything from the new end of the file as free.
        const std::uint32_t end = pages + 1;
        global = buildUsageMap(out_, {}, standard, end);
        if (out_.pageCount() != end)
            throw JetError("global usage map", 1, "internal: bitmap pages were not planned");
    }
    DataPageBuilder p1(f_, 1);
    p1.add(global);
    p1.add(second);
    out_.write(1, p1.take());

    // Page 0: the source's, with the new database key, masked again.
    std::vector<std::uint8_t> header = src_.header().decoded;
    put32(header.data() + 0x3E, options_.databaseKey);
    rc4(kHeaderKey, std::span<std::uint8_t>(header.data() + 0x18, f_.jet4() ? 128 : 126));
    out_.write(0, std::move(header));
}

} // namespace

RebuildResult rebuildDatabase(const Database& source, PageWriter& out,
                              const RebuildOptions& options) {
    Rebuilder rebuilder(source, out, options);
    RebuildResult result = rebuilder.run();
    out.finish(options.sync);
    return result;
}

} // namespace tarnwick::jet
