#include "jet/header.h"
#include "jet/indexkey.h"
#include "jet/text.h"
#include "jet/usagemap.h"
#include "read/datapage.h"
#include "read/jet4form.h"
#include "read/longvalue.h"
#include "write/jet4row.h"
#include "write/tablerebuild.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace tarnwick::jet {

namespace {

constexpr std::size_t kCacheLimit = 4096; // source pages kept between units of work
// However small the budget, runs are not made tiny: each costs a buffer when they are merged.
constexpr std::size_t kMinEntryRoom = 256;
// A table with this many data pages has its rows prepared by two threads, a run of pages each.
constexpr std::size_t kPagesToShare = 64;
constexpr std::size_t kPagesPerRun = 96;
constexpr std::uint16_t kNoEntry = 0xFFFF; // all-null key of an index ignoring nulls

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

// Rows are copied in two steps. Preparing reads a row, digests it and encodes its keys,
// touching nothing but what it is given, so two threads can prepare pages at once; placing
// then writes the rows in page order, with their long values, and records the index entries
// where the rows landed.
struct Prepared {
    RowPointer header, at;
    Bytes stored;
    std::string lost;      // salvage: why the row (or page) could not be read
    bool pageLost = false; // the whole page, not one row
    RowHashes hash;        // as the digest sees the row
};

// The rows of some pages, prepared by one thread.
struct Part {
    std::vector<Prepared> rows;
    std::vector<std::uint8_t> keyBytes;                        // the rows' keys, one after another
    std::vector<std::pair<std::uint32_t, std::uint16_t>> keys; // per row and index; see kNoEntry
    std::vector<std::string> unkeyed;                          // per index: why a key failed
    RowDigester digester;
    std::exception_ptr failed; // what stopped preparing (not when salvaging)
    // One row's buffers, reused.
    std::vector<Value> values;
    std::vector<RawField> fields, keyFields;
    std::vector<std::vector<std::uint8_t>> longValues; // salvage: what of a value read
    std::vector<std::vector<Bytes>> parts;             // per column: the value's pieces

    Part(const std::string& name, const TableDef& def, const TableIdMap& ids, TextForm text,
         int codePage)
        : unkeyed(def.realIndexes.size()), digester(name, def, ids, text, codePage),
          longValues(def.columns.size()), parts(def.columns.size()) {}
    void clear() {
        rows.clear();
        keyBytes.clear();
        keys.clear();
        failed = nullptr;
    }
};

class RowCopier {
public:
    explicit RowCopier(const TableJob& job);
    CopiedRows run();

private:
    void findPages();
    void listColumns();
    void addRows();
    void copyPages();
    void preparePages(Part& part, std::span<const std::uint32_t> pages);
    void prepareRow(Part& part, RowPointer header, RowPointer at, Bytes stored);
    void encodeKeys(Part& part);
    void placeRows(Part& part);
    void spillEntries(KeyedIndex& ki);
    Bytes renewRow(const Prepared& p, std::vector<std::pair<std::int32_t, std::int32_t>>& changes);
    Bytes convertRow(const Prepared& p,
                     std::vector<std::pair<std::int32_t, std::int32_t>>& changes);
    // Gives the table id stored at `id` its number in the new file, noting a change.
    void renumberId(std::uint8_t* id,
                    std::vector<std::pair<std::int32_t, std::int32_t>>& changes) const;
    // A converted long value, written; `bytes` is its new content.
    std::array<std::uint8_t, 12> writeConverted(std::uint16_t column,
                                                std::vector<std::uint8_t> bytes);
    std::uint32_t placeRow(RowPointer header, Bytes row);
    void longValue(Bytes field, RowPointer at, const LongValueRef& ref, std::vector<Bytes>& parts,
                   std::vector<std::uint8_t>& buffer, std::string* why = nullptr);
    // Writes a long value given as the pieces it was read in and returns its new 12-byte
    // definition.
    std::array<std::uint8_t, 12> writeLongValue(LongValueColumn& lv, std::span<const Bytes> parts,
                                                LongValueKind kind);
    void flushData(DataPageBuilder& b, std::uint32_t page, std::vector<std::uint32_t>& pages,
                   std::vector<std::uint32_t>& freePages, std::size_t threshold);
    void flushLongValues(LongValueColumn& lv);
    std::size_t dataThreshold() const {
        return std::max<std::size_t>(64,
                                     rowBytes_ / std::max<std::uint64_t>(job_.report.rows, 1) + 2);
    }
    void releaseSourceCache() {
        if (src_.file().cachedPages() > kCacheLimit) src_.file().releaseCache();
    }

    const TableJob& job_;
    const Database& src_;
    const TableDef& def_;
    const TableDef& outDef_;
    const Format& f_;  // of the source
    const Format& of_; // of the new file
    PageWriter& out_;
    const bool converting_;
    const bool salvage_;
    CopiedRows r_;
    std::map<std::uint16_t, LongValueColumn*> lvByColumn_;
    bool asStored_ = false; // rows without long values or ids are copied as they are stored
    bool isCatalog_ = false;
    int propertiesColumn_ = -1;                   // converting the catalog: LvProp
    std::map<std::size_t, std::size_t> replaced_; // converting: column -> characters replaced
    int typeColumn_ = -1, idColumn_ = -1;
    DataPageBuilder data_;
    std::uint32_t dataPage_ = 0;
    std::uint64_t rowBytes_ = 0;
    std::vector<std::uint32_t> owned_;
    // Positions of the columns some key is made of, of each index's columns, and of the
    // columns holding ids.
    std::vector<std::size_t> indexed_, ids_;
    std::vector<std::vector<std::size_t>> keyColumns_;
    Version version_;
    int codePage_;
    std::size_t expectedRows_ = 0, rowsPerPage_ = 0;
    std::size_t entryRoom_ = SIZE_MAX; // entries of one index held before they spill
    const std::string dataPageName_ = "data page";
    // One row's buffers for placing, reused.
    std::vector<std::uint8_t> row_;
    std::vector<RawField> fields_;
    std::vector<std::uint8_t> buffer_;
    std::vector<Bytes> parts_;
};

RowCopier::RowCopier(const TableJob& job)
    : job_(job), src_(job.src), def_(job.def), outDef_(job.outDef), f_(job.format()),
      of_(job.outFormat()), out_(job.out), converting_(job.converting()),
      salvage_(job.options.salvage), data_(of_, job.newPage, &out_), version_(of_.version),
      codePage_(src_.header().codePage) {
    // Columns whose ids follow the mapping, and long-value columns with their writers.
    for (const auto& c : def_.columns)
        if (c.type == ColumnType::Long && holdsObjectIds(job_.name, c.name))
            r_.idColumns.insert(c.number);
    for (const auto& c : def_.columns)
        if (c.isLong()) {
            r_.longValues.push_back(std::make_unique<LongValueColumn>(of_, c.number, out_));
            lvByColumn_[c.number] = r_.longValues.back().get();
        }
    // Rows without long values or ids are copied as they are stored, and digested so.
    asStored_ = r_.idColumns.empty() && r_.longValues.empty() && !converting_;
    job_.report.written.asStored = asStored_;
    if (converting_) job_.report.written.text = TextForm::Jet4;
    isCatalog_ = job_.oldPage == kCatalogPage;
    if (isCatalog_)
        for (std::size_t i = 0; i < def_.columns.size(); ++i) {
            if (def_.columns[i].name == "Type") typeColumn_ = static_cast<int>(i);
            if (def_.columns[i].name == "Id") idColumn_ = static_cast<int>(i);
            if (def_.columns[i].name == "LvProp" && converting_)
                propertiesColumn_ = static_cast<int>(i);
        }
}

CopiedRows RowCopier::run() {
    if (!job_.added) findPages();
    listColumns();
    addRows();
    copyPages();
    flushData(data_, dataPage_, r_.dataPages, r_.dataFree, dataThreshold());
    for (auto& lv : r_.longValues)
        flushLongValues(*lv);
    for (const auto& [i, n] : replaced_)
        job_.report.replaced.push_back("table \"" + job_.name + "\", column \"" +
                                       def_.columns[i].name + "\": " + std::to_string(n) +
                                       " bytes that code page " + std::to_string(codePage_) +
                                       " does not define became U+FFFD");
    return std::move(r_);
}

// The table's data pages, from its usage map and, when salvaging, from its indexes.
void RowCopier::findPages() {
    try {
        owned_ = src_.usageMap(def_.ownedMap, "owned-pages usage map").pages;
    } catch (const JetError& e) {
        if (!salvage_) throw;
        job_.lose("its rows could not be found: " + std::string(e.what()));
    }
    if (!salvage_) return;
    // Pages the indexes lead to hold live rows even when the map lost them.
    std::set<std::uint32_t> pages(owned_.begin(), owned_.end());
    std::size_t found = 0;
    for (const auto& ri : def_.realIndexes) {
        const IndexWalk w = walkIndex(src_.file(), ri.rootPage, def_.page);
        for (const auto& e : w.entries) {
            if (pages.count(e.page) || !src_.file().contains(e.page)) continue;
            const Bytes raw = src_.file().page(e.page, "data page");
            if (raw[0] != pagetype::data || le32(raw.data() + 4) != def_.page) continue;
            pages.insert(e.page);
            ++found;
        }
    }
    if (found)
        job_.report.notes.push_back(std::to_string(found) +
                                    " data pages missing from the table's usage map were found "
                                    "through its indexes");
    owned_.assign(pages.begin(), pages.end());
    src_.file().releaseCache();
}

void RowCopier::listColumns() {
    r_.keyed.resize(def_.realIndexes.size());
    keyColumns_.resize(def_.realIndexes.size());
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        for (std::size_t k = 0; k < def_.realIndexes.size(); ++k)
            for (const auto& ic : def_.realIndexes[k].columns)
                if (def_.columns[i].number == ic.column) {
                    if (indexed_.empty() || indexed_.back() != i) indexed_.push_back(i);
                    keyColumns_[k].push_back(i);
                }
        if (r_.idColumns.count(def_.columns[i].number)) ids_.push_back(i);
    }
    // The stored count is only a hint: a damaged one must not reserve more than the pages hold.
    expectedRows_ = std::min<std::size_t>(def_.rowCount, owned_.size() * 256);
    if (job_.options.entryMemory && !r_.keyed.empty())
        entryRoom_ = std::max<std::size_t>(kMinEntryRoom, job_.options.entryMemory /
                                                              sizeof(IndexEntry) / r_.keyed.size());
    for (auto& ki : r_.keyed)
        reserveEntries(ki.entries, std::min(expectedRows_, entryRoom_));
    rowsPerPage_ = expectedRows_ / std::max<std::size_t>(owned_.size(), 1) + 1;
}

// Page 0 holds no rows, so these come first in the old order the indexes' proof relies on.
void RowCopier::addRows() {
    if (job_.addedRows.empty()) return;
    Part part(job_.name, def_, job_.tableIds, TextForm::Stored, codePage_);
    for (std::size_t i = 0; i < job_.addedRows.size(); ++i) {
        const RowPointer at{0, static_cast<std::uint8_t>(i)};
        prepareRow(part, at, at, job_.addedRows[i]);
    }
    placeRows(part);
}

void RowCopier::copyPages() {
    const TableIdMap& ids = job_.tableIds;
    const TextForm text = converting_ ? TextForm::Jet3 : TextForm::Stored;
    Part first(job_.name, def_, ids, text, codePage_),
        second(job_.name, def_, ids, text, codePage_), third(job_.name, def_, ids, text, codePage_);
    if (!salvage_ && src_.file().readsConcurrently() && owned_.size() >= kPagesToShare) {
        // Pages go in runs: this thread prepares the first two fifths of each, the other
        // thread the rest, one run ahead, so that it keeps preparing while this thread places
        // the rows of both in page order.
        const std::span<const std::uint32_t> pages = owned_;
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
        for (std::uint32_t page : owned_) {
            first.clear();
            preparePages(first, std::span<const std::uint32_t>(&page, 1));
            placeRows(first);
            releaseSourceCache(); // no span of the page is used past this point
        }
    }
}

// Prepares the rows of `pages`; a failure that ends the rebuild stops it in `part.failed`.
void RowCopier::preparePages(Part& part, std::span<const std::uint32_t> pages) {
    part.rows.reserve(pages.size() * rowsPerPage_);
    try {
        for (std::uint32_t page : pages) {
            Bytes raw;
            DataPage dp;
            try {
                raw = src_.file().page(page, dataPageName_);
                if (raw[0] != pagetype::data || le32(raw.data() + 4) != def_.page) continue;
                dp = readDataPage(src_.file(), page, dataPageName_);
            } catch (const JetError& e) {
                if (!salvage_) throw;
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
                                       "row " + std::to_string(i) + " has an impossible offset");
                    RowPointer at = header;
                    Bytes stored = s.isForward() ? src_.resolveRow(def_, header, &at) : dp.row(i);
                    prepareRow(part, header, at, stored);
                } catch (const JetError& e) {
                    if (!salvage_) throw;
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
}

void RowCopier::prepareRow(Part& part, RowPointer header, RowPointer at, Bytes stored) {
    auto& fields = part.fields;
    splitRow(f_, def_, stored, dataPageName_, at.page, at.row, fields);
    // Only the indexed fields are ever set; the others stay null from the first row on.
    if (part.keyFields.size() != fields.size()) part.keyFields.assign(fields.size(), RawField{});
    for (std::size_t i : indexed_)
        part.keyFields[i] = fields[i];
    auto& values = part.values;
    src_.decodeValues(def_, part.keyFields, at.page, values);
    // Keys of a converted row are those of its converted text.
    if (converting_)
        for (std::size_t i : indexed_)
            if (def_.columns[i].type == ColumnType::Text && part.keyFields[i].present)
                values[i].text = decodeJet3ForJet4(part.keyFields[i].data, codePage_);
    for (std::size_t i : ids_)
        if (!values[i].null) {
            auto it = job_.tableIds.find(static_cast<std::uint32_t>(values[i].integer));
            if (it != job_.tableIds.end()) values[i].integer = it->second;
        }
    if (isCatalog_ && typeColumn_ >= 0 && idColumn_ >= 0) {
        const RawField& type = fields[static_cast<std::size_t>(typeColumn_)];
        const RawField& id = fields[static_cast<std::size_t>(idColumn_)];
        if (type.present && type.data.size() >= 2 && le16(type.data.data()) == objtype::table &&
            id.present && id.data.size() == 4 && job_.dropped.count(le32(id.data.data())))
            return; // the catalog row of a table that could not be salvaged
    }
    // What the digest sees: the stored fields, long columns with the pieces of their value.
    for (std::size_t i = 0; i < def_.columns.size(); ++i)
        if (def_.columns[i].isLong() && fields[i].present)
            longValue(fields[i].data, at, parseLongValueRef(fields[i].data, "long value", at.page),
                      part.parts[i], part.longValues[i]);
    encodeKeys(part);
    part.rows.push_back(
        {header,
         at,
         stored,
         {},
         false,
         asStored_ ? hashStoredRow(stored) : part.digester.hash(fields, &part.parts)});
}

// Appends the keys of the row whose values `part` holds, one per index.
void RowCopier::encodeKeys(Part& part) {
    const auto& values = part.values;
    for (std::size_t k = 0; k < def_.realIndexes.size(); ++k) {
        const RealIndex& ri = def_.realIndexes[k];
        part.keys.emplace_back(0, kNoEntry);
        if (!part.unkeyed[k].empty()) continue;
        if ((ri.flags & idxflag::ignoreNulls) &&
            std::all_of(keyColumns_[k].begin(), keyColumns_[k].end(),
                        [&](std::size_t i) { return values[i].null; }))
            continue;
        const std::size_t from = part.keyBytes.size();
        try {
            appendIndexKey(part.keyBytes, version_, codePage_, outDef_, ri, values);
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
}

void RowCopier::placeRows(Part& part) {
    auto& keyed = r_.keyed;
    for (std::size_t k = 0; k < keyed.size(); ++k)
        if (keyed[k].encoded && !part.unkeyed[k].empty()) {
            keyed[k].encoded = false;
            keyed[k].why = part.unkeyed[k];
            keyed[k].entries = {};
        }
    std::size_t keyAt = 0;
    for (const Prepared& p : part.rows) {
        if (!p.lost.empty()) {
            if (!p.pageLost) ++job_.report.rowsLost;
            job_.lose(p.lost);
            continue;
        }
        const std::size_t keys = keyAt;
        keyAt += keyed.size();
        try {
            std::vector<std::pair<std::int32_t, std::int32_t>> changes;
            const Bytes placing = asStored_     ? p.stored
                                  : converting_ ? convertRow(p, changes)
                                                : renewRow(p, changes);
            const std::uint32_t placed = placeRow(p.header, placing);
            job_.report.written.rows.addPlaced(p.hash, placed);
            if (!changes.empty()) r_.idChanges[p.header.raw()] = std::move(changes);
            for (std::size_t k = 0; k < keyed.size(); ++k) {
                const auto [offset, length] = part.keys[keys + k];
                if (!keyed[k].encoded || length == kNoEntry) continue;
                IndexEntry& e = keyed[k].entries.emplace_back();
                e.key.assign(part.keyBytes.data() + offset, length);
                e.page = placed >> 8;
                e.row = static_cast<std::uint8_t>(placed);
                if (keyed[k].entries.size() >= entryRoom_) spillEntries(keyed[k]);
            }
        } catch (const JetError& e) {
            if (!salvage_) throw;
            ++job_.report.rowsLost;
            job_.lose("row at " + toString(p.header) + " could not be read: " + e.what());
        }
    }
    if (part.failed) std::rethrow_exception(part.failed);
}

// A full index's entries go to the spill file as one sorted run; their room is used again.
void RowCopier::spillEntries(KeyedIndex& ki) {
    if (!r_.spill) r_.spill = std::make_unique<EntrySpill>(job_.options.spillFolder);
    for (const IndexEntry& e : ki.entries)
        ki.sum.add(RowPointer{e.page, e.row}.raw(), keyHash(e.key.bytes()));
    sortIndexEntries(ki.entries);
    ki.runs.push_back(r_.spill->write(ki.entries));
    ki.entries.clear();
}

// The row as it is placed: its ids renumbered (each change listed in `changes`) and its long
// values written anew.
Bytes RowCopier::renewRow(const Prepared& p,
                          std::vector<std::pair<std::int32_t, std::int32_t>>& changes) {
    row_.assign(p.stored.begin(), p.stored.end());
    splitRow(f_, def_, p.stored, dataPageName_, p.at.page, p.at.row, fields_);
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const Column& c = def_.columns[i];
        const RawField& fld = fields_[i];
        if (!fld.present) continue;
        const std::size_t off = static_cast<std::size_t>(fld.data.data() - p.stored.data());
        if (r_.idColumns.count(c.number) && fld.data.size() == 4) {
            renumberId(row_.data() + off, changes);
            continue;
        }
        if (!c.isLong()) continue;
        const LongValueRef ref = parseLongValueRef(fld.data, "long value", p.at.page);
        if (ref.kind == LongValueKind::Inline) continue; // stays in the row
        std::string why;
        longValue(fld.data, p.at, ref, parts_, buffer_, &why);
        if (!why.empty()) {
            ++job_.report.longValuesLost;
            job_.lose("column \"" + c.name + "\" of the row at " + toString(p.header) + ": " + why);
        }
        const auto newDef = writeLongValue(*lvByColumn_.at(c.number), parts_, ref.kind);
        std::memcpy(row_.data() + off, newDef.data(), newDef.size());
    }
    return row_;
}

// The row in its Jet 4 form: text decoded from the code page into UCS-2 (compressed where it
// may be), long values written anew (Memo text and property blobs converted), ids renumbered;
// laid out by the new definition, which leaves out deleted columns.
Bytes RowCopier::convertRow(const Prepared& p,
                            std::vector<std::pair<std::int32_t, std::int32_t>>& changes) {
    splitRow(f_, def_, p.stored, dataPageName_, p.at.page, p.at.row, fields_);
    Jet4RowBuilder row(outDef_);
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const Column& c = def_.columns[i];
        const Column& oc = outDef_.columns[i];
        const RawField& fld = fields_[i];
        if (c.type == ColumnType::Boolean) {
            row.setBoolean(oc, fld.boolValue);
            continue;
        }
        if (!fld.present || (fixedSizeOf(c.type) && fld.data.size() < fixedSizeOf(c.type)))
            continue;
        std::vector<std::uint8_t> bytes;
        if (c.isLong()) {
            const LongValueRef ref = parseLongValueRef(fld.data, "long value", p.at.page);
            longValue(fld.data, p.at, ref, parts_, buffer_);
            std::vector<std::uint8_t> whole;
            for (Bytes part : parts_)
                whole.insert(whole.end(), part.begin(), part.end());
            if (c.type == ColumnType::Memo) {
                std::size_t n = 0;
                const std::string t = decodeJet3ForJet4(whole, codePage_, &n);
                if (n) replaced_[i] += n;
                whole.clear();
                // Long text stays plain, as Access keeps it.
                appendJet4Text(whole, t, utf8ToCodePoints(t).size() <= 1024);
            } else if (static_cast<int>(i) == propertiesColumn_ && !whole.empty()) {
                std::size_t n = 0;
                whole = jet4PropertyBlob(whole, codePage_,
                                         "property blob of the row at " + toString(p.header), &n);
                if (n) replaced_[i] += n;
            }
            const auto def = writeConverted(c.number, std::move(whole));
            bytes.assign(def.begin(), def.end());
        } else if (c.type == ColumnType::Text) {
            std::size_t n = 0;
            const std::string t = decodeJet3ForJet4(fld.data, codePage_, &n);
            if (n) replaced_[i] += n;
            appendJet4Text(bytes, t, (oc.extFlags & 0x01) && !oc.isFixed());
            if (oc.isFixed()) bytes.resize(oc.length, 0);
        } else {
            Bytes data = fld.data;
            if (fixedSizeOf(c.type)) data = data.first(fixedSizeOf(c.type));
            bytes.assign(data.begin(), data.end());
            if (r_.idColumns.count(c.number) && bytes.size() == 4)
                renumberId(bytes.data(), changes);
        }
        row.set(oc, std::move(bytes));
    }
    row_ = row.finish();
    if (row_.size() > 0xFFFF)
        throw JetError("data page", p.header.page, "a converted row is too long");
    return row_;
}

void RowCopier::renumberId(std::uint8_t* id,
                           std::vector<std::pair<std::int32_t, std::int32_t>>& changes) const {
    const std::uint32_t old = le32(id);
    auto it = job_.tableIds.find(old);
    if (it == job_.tableIds.end() || it->second == old) return;
    put32(id, it->second);
    changes.emplace_back(static_cast<std::int32_t>(old), static_cast<std::int32_t>(it->second));
}

std::array<std::uint8_t, 12> RowCopier::writeConverted(std::uint16_t column,
                                                       std::vector<std::uint8_t> bytes) {
    const Bytes whole[1] = {bytes};
    return writeLongValue(*lvByColumn_.at(column), whole, LongValueKind::SingleRow);
}

std::uint32_t RowCopier::placeRow(RowPointer header, Bytes row) {
    if (row.size() + 2 > emptyDataPageRoom(of_))
        throw JetError("data page", header.page,
                       "row " + std::to_string(header.row) + " is larger than a page");
    if (!data_.fits(row.size()))
        flushData(data_, dataPage_, r_.dataPages, r_.dataFree, dataThreshold());
    if (data_.empty()) dataPage_ = out_.allocate();
    const std::uint8_t slot = data_.add(row);
    const std::uint32_t at = (dataPage_ << 8) | slot;
    r_.moved.emplace_back(header.raw(), at);
    ++job_.report.rows;
    rowBytes_ += row.size();
    return at;
}

// A long value as the rebuild carries it over, as the pieces it is stored in: whole, or when
// salvaging as much as reads (gathered into `buffer`; `why` then says what was lost).
void RowCopier::longValue(Bytes field, RowPointer at, const LongValueRef& ref,
                          std::vector<Bytes>& parts, std::vector<std::uint8_t>& buffer,
                          std::string* why) {
    try {
        readLongValueParts(src_.file(), field, at.page, parts);
    } catch (const JetError& e) {
        if (!salvage_) throw;
        parts.clear();
        buffer.clear();
        if (ref.kind == LongValueKind::Inline) return;
        buffer = readLongValuePrefix(src_.file(), field);
        if (!buffer.empty()) parts.push_back(buffer);
        if (why)
            *why = (buffer.empty() ? std::string("long value emptied")
                                   : "long value cut to the " + std::to_string(buffer.size()) +
                                         " of " + std::to_string(ref.length) + " bytes that read") +
                   " (" + e.what() + ")";
    }
}

void RowCopier::flushData(DataPageBuilder& b, std::uint32_t page, std::vector<std::uint32_t>& pages,
                          std::vector<std::uint32_t>& freePages, std::size_t threshold) {
    if (b.empty()) return;
    if (b.freeSpace() >= threshold) freePages.push_back(page);
    pages.push_back(page);
    out_.write(page, b.take());
}

void RowCopier::flushLongValues(LongValueColumn& lv) {
    flushData(lv.builder, lv.current, lv.pages, lv.freePages, of_.pageSize / 8);
}

std::array<std::uint8_t, 12>
RowCopier::writeLongValue(LongValueColumn& lv, std::span<const Bytes> parts, LongValueKind kind) {
    std::array<std::uint8_t, 12> def{};
    const std::size_t singleLimit = of_.jet4() ? 4076 : 2036;
    const std::size_t segment = of_.jet4() ? 4072 : 2032;
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
            DataPageBuilder b(of_, lvalOwner, &out_);
            addRow(b, i * segment, segment, i + 2 < n ? (page + 1) << 8 : last);
            if (b.freeSpace() >= of_.pageSize / 8) lv.freePages.push_back(page);
            lv.pages.push_back(page);
            out_.write(page, b.take());
        }
        firstRp = first << 8;
    }
    put32(def.data(), length);
    put32(def.data() + 4, firstRp);
    return def;
}

} // namespace

CopiedRows copyRows(const TableJob& job) {
    return RowCopier(job).run();
}

} // namespace tarnwick::jet
