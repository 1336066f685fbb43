#include "keys/entryhash.h"
#include "write/tablerebuild.h"

#include <algorithm>
#include <future>
#include <unordered_set>

namespace tarnwick::jet {

namespace {

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

// A stored key with the table ids renumbered in its row (`changes`) renumbered in it too;
// false when the key cannot be followed to its id segments.
bool renumberKey(const TableJob& job, const RealIndex& ri, const std::set<std::uint16_t>& idColumns,
                 const std::vector<std::pair<std::int32_t, std::int32_t>>& changes, IndexEntry& e) {
    std::size_t pos = 0;
    for (const auto& ic : ri.columns) {
        const Column* c = job.def.columnByNumber(ic.column);
        if (!c || pos >= e.key.size()) return false;
        const std::uint8_t lead = e.key[pos];
        if (lead == 0x00 || lead == 0xFF) {
            ++pos;
            continue;
        }
        if (idColumns.count(ic.column)) {
            for (const auto& [from, to] : changes) {
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
    return true;
}

// The source's entries of an index, mapped to the new row places; copying old key bytes is
// allowed only from an index that checks sound, else `unsound` says why not.
std::vector<IndexEntry> storedEntries(const TableJob& job, const CopiedRows& rows,
                                      const RealIndex& ri, std::string& unsound) {
    IndexWalk walk = walkIndex(job.src.file(), ri.rootPage, job.def.page);
    std::vector<IndexEntry> entries;
    unsound = walk.problems.empty() ? "" : walk.problems.front();
    std::unordered_set<std::uint32_t> seen;
    for (auto& e : walk.entries) {
        if (!unsound.empty()) break;
        const RowPointer old{e.page, e.row};
        auto it = std::lower_bound(rows.moved.begin(), rows.moved.end(),
                                   std::make_pair(old.raw(), std::uint32_t{0}));
        if (it == rows.moved.end() || it->first != old.raw()) {
            unsound = "an entry names " + toString(old) + ", which holds no row";
            break;
        }
        if (!seen.insert(old.raw()).second) {
            unsound = "two entries name " + toString(old);
            break;
        }
        // A renumbered table id inside the key changes the key.
        auto ch = rows.idChanges.find(old.raw());
        if (ch != rows.idChanges.end() && !renumberKey(job, ri, rows.idColumns, ch->second, e)) {
            unsound = "key of " + toString(old) + " cannot be re-encoded";
            break;
        }
        e.page = it->second >> 8;
        e.row = static_cast<std::uint8_t>(it->second);
        entries.push_back(std::move(e));
    }
    return entries;
}

// An index whose keys could not all be encoded (`ki.why`), rebuilt from the source's stored
// entries; when salvaging, rebuilt empty if those are unsound.
BuiltIndex rebuildFromStoredKeys(const TableJob& job, const CopiedRows& rows, const RealIndex& ri,
                                 const KeyedIndex& ki, const std::string& what) {
    if (job.converting())
        throw JetError("index", ri.rootPage,
                       what + " cannot be converted: its keys cannot be encoded (" + ki.why + ")");
    std::string unsound;
    std::vector<IndexEntry> entries = storedEntries(job, rows, ri, unsound);
    if (unsound.empty() && entries.size() != job.report.rows && !(ri.flags & idxflag::ignoreNulls))
        unsound = std::to_string(entries.size()) + " entries for " +
                  std::to_string(job.report.rows) + " rows";
    if (!unsound.empty()) {
        if (!job.options.salvage)
            throw JetError("index", ri.rootPage,
                           what + " cannot be rebuilt: " + ki.why + "; its stored keys " +
                               "cannot be used either: " + unsound);
        job.lose(what + " was rebuilt empty: " + ki.why + "; " + unsound);
        entries.clear();
    }
    if (unsound.empty())
        job.report.notes.push_back(what + " was rebuilt from its stored keys: " + ki.why);
    sortIndexEntries(entries);
    BuiltIndex built = buildIndex(job.out, job.newPage, std::move(entries));
    job.src.file().releaseCache();
    return built;
}

// Sums the entries an index still holds for verification and sorts them.
void sumAndSort(KeyedIndex& ki) {
    for (const IndexEntry& e : ki.entries)
        ki.sum.add(RowPointer{e.page, e.row}.raw(), keyHash(e.key.bytes()));
    sortIndexEntries(ki.entries);
}

// Bytes for reading back the runs of one index: an eighth of the entries' room.
std::size_t mergeBuffer(const TableJob& job) {
    return job.options.entryMemory ? job.options.entryMemory / 8 : std::size_t{16} << 20;
}

std::string indexName(const TableJob& job, const RealIndex& ri) {
    std::string label;
    for (const auto& li : job.def.indexes)
        if (li.realIndex == ri.number) label += (label.empty() ? "" : "/") + li.name;
    return "index \"" + label + "\" of table \"" + job.name + "\"";
}

} // namespace

// The entries encoded from the rows are summed for verification and sorted on two other threads
// (that is much of a large table's rebuild and needs nothing but their own entries) while this
// one writes each index in turn once it is sorted, merged with its spilled runs if it has any;
// the others are rebuilt from the source's entries, mapped to the new row places.
std::vector<BuiltIndex> buildIndexes(const TableJob& job, CopiedRows& rows) {
    std::vector<KeyedIndex>& keyed = rows.keyed;
    std::vector<std::size_t> toSort;
    for (std::size_t k = 0; k < keyed.size(); ++k)
        if (keyed[k].encoded) toSort.push_back(k);
    std::vector<std::promise<void>> sorted(keyed.size());
    auto sortEvery = [&](std::size_t first) {
        for (std::size_t i = first; i < toSort.size(); i += 2) {
            std::promise<void>& done = sorted[toSort[i]];
            try {
                sumAndSort(keyed[toSort[i]]);
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
    for (const auto& ri : job.def.realIndexes) {
        KeyedIndex& ki = keyed[ri.number];
        if (!ki.encoded) {
            built.push_back(rebuildFromStoredKeys(job, rows, ri, ki, indexName(job, ri)));
            continue;
        }
        sorted[ri.number].get_future().get();
        job.report.written.indexes[ri.number] = ki.sum;
        if (ki.runs.empty()) {
            built.push_back(buildIndex(job.out, job.newPage, std::move(ki.entries)));
        } else {
            IndexWriter writer(job.out, job.newPage);
            rows.spill->merge(ki.runs, ki.entries, mergeBuffer(job),
                              [&](IndexEntry&& e) { writer.add(std::move(e)); });
            built.push_back(writer.finish());
        }
        ki.entries = {};
    }
    return built;
}

} // namespace tarnwick::jet
