#include "jet/check.h"

#include "check/checkroom.h"
#include "check/complexcheck.h"
#include "check/rowdigest.h"
#include "jet/format.h"
#include "jet/index.h"
#include "jet/indexkey.h"
#include "jet/usagemap.h"
#include "keys/entryhash.h"
#include "read/datapage.h"
#include "read/longvalue.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>

namespace tarnwick::jet {

std::string Finding::text() const {
    std::string s = structure;
    if (!table.empty()) s += " of table \"" + table + "\"";
    if (!index.empty()) s += ", index \"" + index + "\"";
    if (page) s += ", page " + std::to_string(*page);
    if (row) s += ", row " + std::to_string(*row);
    s += ": " + message;
    return s;
}

namespace {

constexpr std::size_t kMaxFindingsPerKind = 200;
// Tables with fewer data pages are read on one thread: a second would not pay for itself.
constexpr std::size_t kPagesToShare = 64;
constexpr std::size_t kPiecesToShare = 16; // a large table's pages, for two threads to take in turn
constexpr std::size_t kCachedPages = 4096; // decoded pages held while rows are read
const std::string kDataPage = "data page";

std::string pageList(const std::vector<std::uint32_t>& pages) {
    std::string s;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t j = i;
        while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1)
            ++j;
        if (!s.empty()) s += ", ";
        s += std::to_string(pages[i]);
        if (j > i) s += "-" + std::to_string(pages[j]);
        i = j + 1;
        if (++shown == 20 && i < pages.size()) {
            s += ", ...";
            break;
        }
    }
    return s;
}

class Checker {
public:
    Checker(const Database& db, std::map<std::string, RowDigest>* rowDigests,
            const std::map<std::string, WrittenTable>* written, std::size_t rowRoom)
        : db_(db), file_(db.file()), f_(db.format()), rowDigests_(rowDigests), written_(written),
          rowRoom_(std::max<std::size_t>(rowRoom, 1)) {
        owner_.resize(file_.pageCount());
        labels_.emplace_back();
    }

    CheckReport run() {
        claim(0, "database definition page");
        claim(1, "global usage map");
        checkDataPageFreeSpace(1, "global usage map", "");
        for (const auto& p : db_.catalogProblems())
            problem("catalog", "MSysObjects", {}, {}, p);
        readGlobalMap();
        std::set<std::uint32_t> done;
        for (const auto& e : db_.catalog()) {
            if (!e.isTable()) continue;
            if (!done.insert(e.tablePage()).second) {
                problem("catalog", e.name, e.tablePage(), {},
                        "two catalog rows name the same table definition");
                continue;
            }
            checkTable(e);
        }
        settleStalePages();
        compareWithGlobalMap();
        for (auto& f : checkComplexColumns(db_))
            add(report_.problems, std::move(f));
        report_.reclaimableBytes = 0;
        for (const auto& n : report_.notes)
            report_.reclaimableBytes += n.reclaimableBytes;
        return std::move(report_);
    }

private:
    // Owners are named by labels kept once each: a large file has a great many pages.
    struct Owner {
        std::uint32_t label = 0; // 0: nothing claimed the page
        bool shared = false;     // usage-map host pages carry several tables' maps
    };

    const Database& db_;
    const PageFile& file_;
    const Format& f_;
    std::map<std::string, RowDigest>* rowDigests_;
    const std::map<std::string, WrittenTable>* written_;
    const std::size_t rowRoom_; // rows of a table kept for looking entries up
    CheckReport report_;
    std::vector<Owner> owner_;
    std::vector<std::string> labels_;
    std::unordered_map<std::string, std::uint32_t> labelIds_;
    std::optional<UsageMap> global_;
    std::map<std::string, std::size_t> counts_;
    std::map<std::string, std::size_t> tableProblems_; // all found, also those not kept

    void add(std::vector<Finding>& to, Finding f) {
        if (&to == &report_.problems) ++tableProblems_[f.table];
        if (++counts_[f.structure + "|" + f.table] > kMaxFindingsPerKind) return;
        to.push_back(std::move(f));
    }
    void problem(std::string structure, std::string table, std::optional<std::uint32_t> page,
                 std::optional<unsigned> row, std::string message, std::string index = {}) {
        if (page && *page == JetError::noPage) page.reset();
        add(report_.problems, {std::move(structure), std::move(table), std::move(index), page, row,
                               std::move(message), 0});
    }
    void problem(const JetError& e, const std::string& table, const std::string& index = {}) {
        problem(e.structure(), table, e.page(), {}, e.detail(), index);
    }
    void note(std::string structure, std::string table, std::optional<std::uint32_t> page,
              std::string message, std::uint64_t bytes = 0) {
        add(report_.notes,
            {std::move(structure), std::move(table), {}, page, {}, std::move(message), bytes});
    }

    std::uint32_t labelId(const std::string& label) {
        auto [it, added] = labelIds_.try_emplace(label, static_cast<std::uint32_t>(labels_.size()));
        if (added) labels_.push_back(label);
        return it->second;
    }
    const std::string& ownerOf(std::uint32_t page) const { return labels_[owner_[page].label]; }

    void claim(std::uint32_t page, const std::string& label, bool shared = false) {
        claim(page, labelId(label), shared);
    }
    void claim(std::uint32_t page, std::uint32_t label, bool shared = false) {
        if (page >= owner_.size()) {
            problem(labels_[label], {}, page, {}, "page lies beyond the end of the file");
            return;
        }
        Owner& o = owner_[page];
        if (o.label == 0) {
            o = {label, shared};
            return;
        }
        if (o.label == label && (shared || o.shared)) return;
        problem("page ownership", {}, page, {},
                "page is used both as " + labels_[o.label] + " and as " + labels_[label]);
    }

    void readGlobalMap() {
        try {
            global_ = db_.globalUsageMap();
        } catch (const JetError& e) {
            problem(e, {});
            return;
        }
        for (const auto& bad : global_->badSlots) {
            if (bad.firstPage >= file_.pageCount())
                note("global usage map", {}, 1,
                     "slot " + std::to_string(bad.slot) + " " + bad.why + " (" +
                         std::to_string(bad.target) +
                         "); it only covers pages past the end of the file");
            else
                problem("global usage map", {}, 1, {},
                        "slot " + std::to_string(bad.slot) + " " + bad.why);
        }
        for (auto p : global_->bitmapPages)
            claim(p, "global usage map");
    }

    void checkDataPageFreeSpace(std::uint32_t page, const std::string& structure,
                                const std::string& table) {
        try {
            DataPage dp = readDataPage(file_, page, structure);
            const auto computed = dp.computedFreeSpace(f_);
            if (dp.freeSpace != computed)
                problem(structure, table, page, {},
                        "free-space figure " + std::to_string(dp.freeSpace) +
                            " disagrees with the page (" + std::to_string(computed) +
                            " bytes free)");
        } catch (const JetError& e) {
            problem(e, table);
        }
    }

    // Reads a map, claims its host (and bitmap pages) and reports when it cannot be read.
    std::optional<UsageMap> readMap(RowPointer rp, const std::string& structure,
                                    const std::string& table) {
        if (!file_.contains(rp.page)) {
            problem(structure, table, rp.page, {},
                    "map row " + toString(rp) + " lies beyond the end of the file");
            return std::nullopt;
        }
        const std::string hostLabel = "usage-map page";
        claim(rp.page, hostLabel, true);
        try {
            UsageMap m = db_.usageMap(rp, structure);
            for (const auto& bad : m.badSlots)
                problem(structure, table, rp.page, {},
                        "slot " + std::to_string(bad.slot) + " " + bad.why);
            for (auto p : m.bitmapPages)
                claim(p, structure + " of table \"" + table + "\"");
            checkDataPageFreeSpace(rp.page, "usage-map page", {});
            return m;
        } catch (const JetError& e) {
            problem(e, table);
            return std::nullopt;
        }
    }

    // Jet 4 definition pages carry a free-space figure: every page but the last is full; the
    // last has what its share of the definition leaves (Jet 3 stores "VC" there instead).
    void checkDefinitionFreeSpace(const TableDef& def, const std::string& name) {
        std::uint64_t remaining = def.length;
        for (std::size_t i = 0; i < def.pages.size(); ++i) {
            const std::uint64_t room = i == 0 ? f_.pageSize : f_.pageSize - 8u;
            const std::uint64_t used = std::min(remaining, room);
            remaining -= used;
            const std::uint64_t onPage = i == 0 ? used : used + 8;
            const std::uint64_t expected = onPage + 8 >= f_.pageSize ? 0 : f_.pageSize - onPage - 8;
            const Bytes page = file_.page(def.pages[i]);
            const std::uint16_t stored = le16(page.data() + 2);
            if (stored != expected)
                problem("table definition", name, def.pages[i], {},
                        "free-space figure " + std::to_string(stored) +
                            " disagrees with the definition (" + std::to_string(expected) +
                            " bytes free)");
        }
    }

    // The live rows of the table being checked, in reading order, with per real index the
    // hash of each row's key (0: it could not be encoded) and whether the row leaves all of
    // the index's columns null. Rows are found by page, then slot; the page index is shared
    // by the parts of a table read at once, which read different pages.
    struct PageIndex {
        std::vector<std::uint32_t> first; // per page: first row, npos when none
        std::vector<std::uint16_t> rows;
    };
    struct LiveRows {
        std::size_t indexes = 0;
        PageIndex* pages = nullptr;
        // Rows kept for look-ups; past the room, only the row being read is, besides the
        // counts (and the page index's rows per page).
        bool keep = true;
        std::size_t rows = 0;           // live rows read, kept or not
        std::vector<std::uint32_t> raw; // header row pointers
        std::vector<std::uint64_t> keys;
        std::vector<std::uint8_t> allNull;
        // Per real index, the entries the rows need. An index whose entries give the same
        // count and sum needs no look-up row by row.
        std::vector<EntrySum> needed;
        static constexpr std::uint32_t npos = 0xFFFFFFFFu;

        std::size_t size() const { return raw.size(); }
        std::uint32_t add(RowPointer header) {
            ++rows;
            if (!keep) {
                ++pages->rows[header.page];
                raw.assign(1, header.raw());
                keys.assign(indexes, 0);
                allNull.assign(indexes, 0);
                return 0;
            }
            if (pages->first[header.page] == npos)
                pages->first[header.page] = static_cast<std::uint32_t>(raw.size());
            ++pages->rows[header.page];
            raw.push_back(header.raw());
            keys.resize(keys.size() + indexes, 0);
            allNull.resize(allNull.size() + indexes, 0);
            return static_cast<std::uint32_t>(raw.size() - 1);
        }
        // Takes the counts and sums of a part.
        void count(const LiveRows& part) {
            for (std::size_t k = 0; k < indexes; ++k) {
                needed[k].count += part.needed[k].count;
                needed[k].sum += part.needed[k].sum;
            }
        }
        // Takes the rows of a part read after these.
        void append(const LiveRows& part, std::span<const std::uint32_t> partPages) {
            const auto offset = static_cast<std::uint32_t>(raw.size());
            for (std::uint32_t p : partPages)
                if (p < pages->first.size() && pages->first[p] != npos) pages->first[p] += offset;
            raw.insert(raw.end(), part.raw.begin(), part.raw.end());
            keys.insert(keys.end(), part.keys.begin(), part.keys.end());
            allNull.insert(allNull.end(), part.allNull.begin(), part.allNull.end());
        }
        void expectEntries(std::size_t count) {
            indexes = count;
            needed.assign(count, {});
        }
        void forget() {
            keep = false;
            raw = {};
            keys = {};
            allNull = {};
        }
        std::uint32_t find(RowPointer rp) const {
            if (rp.page >= pages->first.size() || pages->first[rp.page] == npos) return npos;
            const std::uint32_t first = pages->first[rp.page];
            for (std::uint32_t i = first; i < first + pages->rows[rp.page]; ++i)
                if (raw[i] == rp.raw()) return i;
            return npos;
        }
    };

    // How many of a table's rows may be kept, and how many asked.
    struct RowRoom {
        std::size_t rows;
        std::atomic<std::size_t> used = 0;
    };
    // Per long-value column (by number): which pages its usage map lists.
    using ListedPages = std::map<std::uint16_t, std::vector<bool>>;
    // What an index is compared with: the counts and sums of the table's rows, and the rows
    // themselves, all at once, or when there were more than the room, read again in windows.
    struct TableRows {
        const LiveRows& counts;
        std::function<const LiveRows&()> all; // joins the parts' rows on first use
        bool windowed = false;
        std::span<const std::uint32_t> pages; // the table's, as its map lists them
        std::uint32_t dataLabel = 0;
        const ListedPages* lvPages = nullptr;
    };

    // Keys that could not be encoded from the values, per real index number: how many and why.
    struct Unkeyed {
        std::size_t rows = 0;
        std::string why;
    };
    std::map<std::uint32_t, Unkeyed> unkeyed_;

    // Pages an index's usage map lists that its tree no longer reaches, settled against the
    // global map at the end.
    struct StalePages {
        std::string table, index;
        std::uint32_t mapPage = 0;
        std::vector<std::uint32_t> pages;
    };
    std::vector<StalePages> stale_;
    std::set<std::uint32_t> stalePages_;

    // What the rows of the table being checked need, worked out once per table.
    struct TableShape {
        std::vector<bool> indexed;                          // per column: part of some index
        std::vector<std::vector<std::size_t>> indexColumns; // per real index: column positions
        // Per real index: the entries a rebuild wrote, when it says so; those indexes are
        // compared with them and their keys are not encoded (`indexed` leaves their columns
        // out unless another index needs them).
        std::vector<const EntrySum*> written;
        bool placed = false;                        // rows are digested bound to their places
        bool asStored = false;                      // ... and by their stored bytes
        TextForm text = TextForm::Stored;           // how their text is digested
        bool decodes = false;                       // some value is needed for a key
        std::vector<std::uint32_t> longValueLabels; // per column: owner label of its pages
        std::vector<std::size_t> longColumns;       // positions of the long-value columns
    };
    TableShape shape_;

    void shapeTable(const TableDef& def, const std::string& name) {
        shape_ = {};
        shape_.indexed.assign(def.columns.size(), false);
        shape_.longValueLabels.assign(def.columns.size(), 0);
        const WrittenTable* written = nullptr;
        if (written_)
            if (auto it = written_->find(name); it != written_->end()) written = &it->second;
        shape_.placed = written != nullptr;
        shape_.asStored = written && written->asStored;
        shape_.text = written ? written->text : TextForm::Stored;
        for (const auto& ri : def.realIndexes) {
            const EntrySum*& entries = shape_.written.emplace_back();
            if (written)
                if (auto it = written->indexes.find(ri.number); it != written->indexes.end())
                    entries = &it->second;
            auto& positions = shape_.indexColumns.emplace_back();
            for (const auto& ic : ri.columns)
                for (std::size_t c = 0; c < def.columns.size(); ++c)
                    if (def.columns[c].number == ic.column) {
                        positions.push_back(c);
                        if (!entries) shape_.indexed[c] = shape_.decodes = true;
                    }
        }
        for (std::size_t c = 0; c < def.columns.size(); ++c)
            if (def.columns[c].isLong()) {
                shape_.longValueLabels[c] =
                    labelId("long-value page of \"" + name + "\"." + def.columns[c].name);
                shape_.longColumns.push_back(c);
            }
    }

    // The pages each long-value column's usage map lists, checked to be long-value pages and
    // claimed for the column.
    ListedPages checkLongValueMaps(const TableDef& def, const std::string& name) {
        ListedPages lvPages;
        for (const auto& lv : def.longValueMaps) {
            const Column* col = def.columnByNumber(lv.column);
            auto owned = readMap(lv.owned, "long-value usage map", name);
            if (!owned) continue;
            auto& listed = lvPages[lv.column];
            listed.resize(file_.pageCount());
            const std::uint32_t label = labelId("long-value page of \"" + name + "\"" +
                                                (col ? "." + col->name : std::string()));
            for (auto p : owned->pages) {
                const Bytes raw = file_.page(p);
                if (raw[0] != pagetype::data || le32(raw.data() + 4) != lvalOwner) {
                    problem("long-value usage map", name, p, {},
                            "lists a page that is not a long-value page" +
                                (col ? " (column \"" + col->name + "\")" : std::string()));
                    continue;
                }
                if (p < listed.size()) listed[p] = true;
                claim(p, label, true);
                checkDataPageFreeSpace(p, "long-value page", name);
            }
            if (!lv.free.isNull()) {
                auto freeMap = readMap(lv.free, "long-value free-space map", name);
                if (freeMap)
                    for (auto p : freeMap->pages)
                        if (!owned->contains(p))
                            problem("long-value free-space map", name, p, {},
                                    "lists a page the column does not own");
            }
        }
        return lvPages;
    }

    // A row count that disagrees with the live rows. `soundOtherwise`: the table showed no
    // other problem.
    void checkRowCount(const CatalogEntry& entry, const TableDef& def, std::size_t rows,
                       const std::vector<std::string>& indexNames, bool soundOtherwise) {
        const std::string& name = entry.name;
        const std::string msg = "row count " + std::to_string(def.rowCount) + " disagrees with " +
                                std::to_string(rows) + " live rows";
        // An index that holds every row and agrees with the rows proves them all there:
        // then only the stored count is behind, which Access leaves so at times.
        const auto whole =
            std::find_if(def.realIndexes.begin(), def.realIndexes.end(),
                         [](const RealIndex& ri) { return !(ri.flags & idxflag::ignoreNulls); });
        if (entry.isSystem())
            note("table definition", name, def.page, msg + " (stale count of a system table)");
        else if (whole != def.realIndexes.end() && soundOtherwise)
            note("table definition", name, def.page,
                 "stale row count " + std::to_string(def.rowCount) + ": " + std::to_string(rows) +
                     " live rows, each with its entry in index \"" +
                     indexNames[static_cast<std::size_t>(whole - def.realIndexes.begin())] +
                     "\"; harmless, a compaction writes the right count");
        else
            problem("table definition", name, def.page, {}, msg);
    }

    void checkTable(const CatalogEntry& entry) {
        const std::string& name = entry.name;
        const std::size_t problemsBefore = tableProblems_[name];
        const TableDef* defp = nullptr;
        try {
            defp = &db_.tableDef(entry);
        } catch (const JetError& e) {
            problem(e, name);
            return;
        }
        const TableDef& def = *defp;
        for (auto p : def.pages)
            claim(p, "table definition of \"" + name + "\"");
        shapeTable(def, name);
        if (f_.jet4()) checkDefinitionFreeSpace(def, name);

        // Long-value column maps first, so rows can be checked against them.
        const ListedPages lvPages = checkLongValueMaps(def, name);

        // Rows. A large table's pages are read by two threads when the file allows it, in
        // pieces each read into a part of its own; the parts' findings are then taken in page
        // order, as one walk would have made them.
        PageIndex pageIndex{std::vector<std::uint32_t>(file_.pageCount(), LiveRows::npos),
                            std::vector<std::uint16_t>(file_.pageCount(), 0)};
        LiveRows live;
        // Rows keep keys for the indexes compared with them; a table whose indexes are all
        // compared with written entries needs none.
        live.expectEntries(std::all_of(shape_.written.begin(), shape_.written.end(),
                                       [](const EntrySum* w) { return w != nullptr; })
                               ? 0
                               : def.realIndexes.size());
        live.pages = &pageIndex;
        unkeyed_.clear();
        auto owned = readMap(def.ownedMap, "owned-pages usage map", name);
        const std::uint32_t dataLabel = labelId("data page of \"" + name + "\"");
        // The parts' rows are joined into `live` only for an index that needs them row by row.
        std::vector<std::span<const std::uint32_t>> piece;
        std::deque<RowsPart> parts;
        std::size_t rows = 0;
        std::once_flag joined;
        const std::vector<std::string> indexNames = namesOf(def);
        std::vector<std::optional<IndexExam>> exams(def.realIndexes.size());
        // Rows are kept up to the room; a larger table's rows are read again in windows of
        // that many when an index needs them one by one.
        RowRoom room{rowRoom_};
        TableRows tableRows{live, {}, false, {}, dataLabel, &lvPages};
        tableRows.all = [&]() -> const LiveRows& {
            std::call_once(joined, [&] {
                for (std::size_t k = 0; k < parts.size(); ++k) {
                    live.append(parts[k].live, piece[k]);
                    parts[k].live.forget();
                }
            });
            return live;
        };
        if (owned) {
            tableRows.pages = owned->pages;
            // Pages cost unequally (long values), so the threads take pieces as they finish
            // others rather than a half each.
            const std::span<const std::uint32_t> pages = owned->pages;
            const bool share = file_.readsConcurrently() && pages.size() >= kPagesToShare;
            const std::size_t pieces = share ? kPiecesToShare : 1;
            piece.resize(pieces);
            for (std::size_t k = 0; k < pieces; ++k) {
                const std::size_t from = pages.size() * k / pieces,
                                  to = pages.size() * (k + 1) / pieces;
                piece[k] = pages.subspan(from, to - from);
                RowsPart& part = parts.emplace_back(name, def, live, shape_.text);
                part.room = &room;
                if (live.indexes == 0) part.live.forget(); // no index needs them
            }
            // Indexes compared with the entries a rebuild wrote need no rows: when the threads
            // share the work, they walk those first and then take the pieces.
            std::vector<std::size_t> early;
            for (std::size_t k = 0; share && k < def.realIndexes.size(); ++k)
                if (shape_.written[k]) early.push_back(k);
            std::atomic<std::size_t> next = 0;
            auto work = [&] {
                for (std::size_t t; (t = next.fetch_add(1)) < early.size() + pieces;) {
                    if (t >= early.size()) {
                        const std::size_t k = t - early.size();
                        readRows(name, def, piece[k], dataLabel, lvPages, parts[k]);
                        continue;
                    }
                    const std::size_t k = early[t];
                    exams[k] =
                        examineIndex(def, name, def.realIndexes[k], indexNames[k], k, tableRows);
                }
            };
            {
                std::future<void> other;
                if (share) other = std::async(std::launch::async, work);
                work();
                if (other.valid()) other.get();
            }
            tableRows.windowed = room.used > room.rows;
            for (std::size_t k = 0; k < pieces; ++k) {
                take(parts[k]);
                live.count(parts[k].live);
                rows += parts[k].live.rows;
                if (rowDigests_) (*rowDigests_)[name] += parts[k].digester.digest();
                if (tableRows.windowed) parts[k].live.forget();
            }
        }
        if (!def.freeMap.isNull()) {
            auto freeMap = readMap(def.freeMap, "free-space usage map", name);
            if (freeMap && owned)
                for (auto p : freeMap->pages)
                    if (!owned->contains(p))
                        problem("free-space usage map", name, p, {},
                                "lists a page the table does not own");
        }
        if (owned) checkIndexes(def, name, indexNames, tableRows, exams);
        if (owned && def.rowCount != rows)
            checkRowCount(entry, def, rows, indexNames, tableProblems_[name] == problemsBefore);
        if (!file_.readsConcurrently()) file_.releaseCache();
    }

    // What reading some of a table's pages found: its rows, and the claims and problems in
    // the order met, to be taken over on the checker's thread.
    struct RowsPart {
        struct Claim {
            std::uint32_t page, label;
            bool shared;
        };
        LiveRows live;
        RowRoom* room = nullptr; // shared by the parts of a table; none: rows are all kept
        // Claims in the order made, and problems after the number of claims made before them.
        std::vector<Claim> claims;
        std::vector<std::pair<std::size_t, Finding>> findings;
        std::map<std::string, std::size_t> counts; // problems kept per structure
        std::map<std::uint32_t, Unkeyed> unkeyed;
        RowDigester digester;
        // One row's buffers, reused.
        std::vector<RawField> fields;
        std::vector<Value> values;
        std::vector<std::uint8_t> key;
        std::vector<RowPointer> lvRows;
        std::vector<std::vector<Bytes>> longValues; // per column: the pieces of the row's value

        RowsPart(const std::string& name, const TableDef& def, const LiveRows& table, TextForm text)
            : digester(name, def, {}, text), longValues(def.columns.size()) {
            live.expectEntries(table.indexes);
            live.pages = table.pages;
        }
        void claim(std::uint32_t page, std::uint32_t label, bool shared = false) {
            // A shared page claimed again by the same owner adds nothing (the pieces of long
            // values share pages).
            if (shared && !claims.empty() && claims.back().shared && claims.back().page == page &&
                claims.back().label == label)
                return;
            claims.push_back({page, label, shared});
        }
        // Whether the row about to be read is kept, taking its room.
        bool roomForRow() {
            if (live.keep && room &&
                room->used.fetch_add(1, std::memory_order_relaxed) >= room->rows)
                live.forget();
            return live.keep;
        }
        void problem(std::string structure, const std::string& table,
                     std::optional<std::uint32_t> page, std::optional<unsigned> row,
                     std::string message) {
            // The report keeps only so many of a kind; more need not be carried over.
            if (++counts[structure] > kMaxFindingsPerKind) return;
            if (page && *page == JetError::noPage) page.reset();
            findings.emplace_back(
                claims.size(),
                Finding{std::move(structure), table, {}, page, row, std::move(message), 0});
        }
    };

    void take(RowsPart& part) {
        std::size_t next = 0;
        for (auto& [before, f] : part.findings) {
            for (; next < before; ++next)
                claim(part.claims[next].page, part.claims[next].label, part.claims[next].shared);
            add(report_.problems, std::move(f));
        }
        for (; next < part.claims.size(); ++next)
            claim(part.claims[next].page, part.claims[next].label, part.claims[next].shared);
        part.claims = {};
        for (auto& [index, u] : part.unkeyed) {
            Unkeyed& into = unkeyed_[index];
            if (into.rows == 0) into.why = u.why;
            into.rows += u.rows;
        }
    }

    // Reads the rows of `pages` (from the table's owned-pages map) into `part`. Touches nothing
    // of the checker but what is read only meanwhile, so two parts can be read at once.
    void readRows(const std::string& name, const TableDef& def,
                  std::span<const std::uint32_t> pages, std::uint32_t dataLabel,
                  const ListedPages& lvPages, RowsPart& part) const {
        for (auto p : pages) {
            const Bytes raw = file_.page(p);
            if (raw[0] != pagetype::data || le32(raw.data() + 4) != def.page) {
                part.problem("owned-pages usage map", name, p, {},
                             "lists a page that is not a data page of this table (type " +
                                 std::to_string(raw[0]) + ", owner " +
                                 std::to_string(le32(raw.data() + 4)) + ")");
                continue;
            }
            part.claim(p, dataLabel);
            readPageRows(name, def, p, lvPages, part);
            // Decoded pages are held in memory: none of this page is used past here.
            if (!file_.readsConcurrently() && file_.cachedPages() > kCachedPages)
                file_.releaseCache();
        }
    }

    void readPageRows(const std::string& name, const TableDef& def, std::uint32_t page,
                      const ListedPages& lvPages, RowsPart& part) const {
        DataPage dp;
        try {
            dp = readDataPage(file_, page, kDataPage);
        } catch (const JetError& e) {
            part.problem(e.structure(), name, e.page(), {}, e.detail());
            return;
        }
        const auto computed = dp.computedFreeSpace(f_);
        if (dp.freeSpace != computed)
            part.problem("data page", name, page, {},
                         "free-space figure " + std::to_string(dp.freeSpace) +
                             " disagrees with the page (" + std::to_string(computed) +
                             " bytes free)");
        const TableShape& shape = shape_;
        LiveRows& live = part.live;
        for (std::size_t i = 0; i < dp.slots.size(); ++i) {
            const RowSlot& s = dp.slots[i];
            if (!s.valid) {
                part.problem("data page", name, page, static_cast<unsigned>(i),
                             "row offset points outside the page");
                continue;
            }
            if (s.isHidden()) continue;
            RowLocation loc;
            loc.header = {page, static_cast<std::uint8_t>(i)};
            loc.data = loc.header;
            std::uint32_t at = LiveRows::npos;
            try {
                Bytes row = s.isForward() ? db_.resolveRow(def, loc.header, &loc.data) : dp.row(i);
                std::vector<RawField>& fields = part.fields;
                splitRow(f_, def, row, kDataPage, loc.data.page, loc.data.row, fields);
                part.roomForRow();
                at = live.add(loc.header);
                for (std::size_t k = 0; k < shape.indexColumns.size(); ++k) {
                    if (shape.written[k]) continue;
                    bool allNull = true;
                    for (std::size_t c : shape.indexColumns[k])
                        if (fields[c].present) allNull = false;
                    live.allNull[at * live.indexes + k] = allNull;
                }
                for (std::size_t c : shape.longColumns) {
                    const Column& col = def.columns[c];
                    if (!fields[c].present) continue;
                    part.lvRows.clear();
                    try {
                        readLongValueParts(file_, fields[c].data, loc.data.page, part.longValues[c],
                                           &part.lvRows);
                    } catch (const JetError& e) {
                        part.longValues[c].clear();
                        part.problem("long value", name, e.page(), static_cast<unsigned>(i),
                                     "column \"" + col.name + "\" of the row at " +
                                         toString(loc.header) + ": " + e.detail());
                        continue;
                    }
                    auto listed = lvPages.find(col.number);
                    for (const auto& rp : part.lvRows) {
                        part.claim(rp.page, shape.longValueLabels[c], true);
                        if (listed == lvPages.end() || rp.page >= listed->second.size() ||
                            !listed->second[rp.page])
                            part.problem("long-value usage map", name, rp.page, {},
                                         "page holds part of column \"" + col.name +
                                             "\" but is missing from the column's usage map");
                    }
                }
                if (rowDigests_ && shape.asStored)
                    part.digester.addPlacedStored(row, loc.header.raw());
                else if (rowDigests_ && shape.placed)
                    part.digester.addPlaced(fields, &part.longValues, loc.header.raw());
                else if (rowDigests_)
                    part.digester.add(fields, &part.longValues);
                // Every fixed-size value must have its full size; the indexed ones are decoded
                // for their keys.
                if (shape.decodes)
                    db_.decodeValues(def, fields, loc.data.page, part.values, nullptr,
                                     &shape.indexed);
                else
                    db_.checkSizes(def, fields, loc.data.page);
                for (std::size_t k = 0; k < def.realIndexes.size(); ++k) {
                    if (shape.written[k]) continue;
                    try {
                        encodeIndexKey(part.key, db_, def, def.realIndexes[k], part.values);
                        live.keys[at * live.indexes + k] = keyHash(part.key);
                    } catch (const JetError& e) {
                        Unkeyed& u = part.unkeyed[def.realIndexes[k].number];
                        if (u.rows++ == 0) u.why = e.detail();
                    }
                }
            } catch (const JetError& e) {
                if (e.structure() != "long value") // reported above
                    part.problem(e.structure(), name, e.page(), static_cast<unsigned>(i),
                                 e.detail());
            }
            if (at == LiveRows::npos) continue;
            // A live row needs its entries even when its values failed (its keys count as 0).
            for (std::size_t k = 0; k < def.realIndexes.size(); ++k) {
                if (shape.written[k] || ((def.realIndexes[k].flags & idxflag::ignoreNulls) &&
                                         live.allNull[at * live.indexes + k]))
                    continue;
                live.needed[k].add(loc.header.raw(), live.keys[at * live.indexes + k]);
            }
        }
    }

    // What walking one index and comparing it with the table's rows found, before any of it
    // is reported: the walk (without its entries) and the problems of the comparison, kept
    // apart so that the walk can run on another thread.
    struct IndexExam {
        IndexWalk walk;
        std::vector<Finding> entryProblems, unindexedRows;
    };

    static void keep(std::vector<Finding>& to, Finding f) {
        // The report keeps only so many of a kind; more need not be carried over.
        if (to.size() <= kMaxFindingsPerKind) to.push_back(std::move(f));
    }

    // Walks an index and compares it with the rows. Most indexes are sound: the walk first only
    // sums its entries as the rows were summed, in order, and only an index that differs in
    // anything (or cannot be walked) is walked again to look up its entries one by one, which
    // costs a random access per entry. Any difference between the two multisets of (row, key)
    // shows in the count or the sum but once in 2^64.
    IndexExam examineIndex(const TableDef& def, const std::string& name, const RealIndex& ri,
                           const std::string& idxName, std::size_t position,
                           const TableRows& rows) const {
        const LiveRows& counts = rows.counts;
        {
            IndexExam exam;
            EntrySum walked;
            bool ordered = true;
            IndexEntry previous;
            exam.walk = walkIndex(file_, ri.rootPage, def.page, [&](std::span<IndexEntry> leaf) {
                for (std::size_t k = 0; k < leaf.size(); ++k) {
                    const IndexEntry& e = leaf[k];
                    const IndexEntry* before = k              ? &leaf[k - 1]
                                               : walked.count ? &previous
                                                              : nullptr;
                    if (before && before->compare(e) >= 0) ordered = false;
                    walked.add(RowPointer{e.page, e.row}.raw(), keyHash(e.key.bytes()));
                }
                previous = std::move(leaf.back());
            });
            const EntrySum* written = shape_.written[position];
            if (exam.walk.problems.empty() && ordered &&
                walked == (written ? *written : counts.needed[position]))
                return exam;
            // Entries written by a rebuild are not encoded from the rows again: a difference
            // is all there is to say.
            if (written) {
                if (exam.walk.problems.empty())
                    keep(exam.entryProblems,
                         {"index",
                          name,
                          idxName,
                          {},
                          {},
                          ordered ? "holds " + std::to_string(walked.count) +
                                        " entries that differ from the " +
                                        std::to_string(written->count) + " written for its rows"
                                  : "entries out of order",
                          0});
                return exam;
            }
        }
        IndexExam exam;
        if (!rows.windowed) {
            compareEntries(exam, def, name, ri, idxName, position, rows.all(), nullptr, 0);
            return exam;
        }
        // Windows: runs of the table's pages holding at most the room's rows (a page at least),
        // counted as the rows were first read.
        const PageIndex& counted = *counts.pages;
        std::vector<std::uint32_t> windowOf(file_.pageCount(), LiveRows::npos);
        std::vector<std::span<const std::uint32_t>> windows;
        for (std::size_t at = 0; at < rows.pages.size();) {
            std::size_t end = at, n = 0;
            for (; end < rows.pages.size(); ++end) {
                const std::uint32_t p = rows.pages[end];
                const std::size_t here = p < counted.rows.size() ? counted.rows[p] : 0;
                if (end > at && n + here > rowRoom_) break;
                n += here;
                if (p < windowOf.size()) windowOf[p] = static_cast<std::uint32_t>(windows.size());
            }
            windows.push_back(rows.pages.subspan(at, end - at));
            at = end;
        }
        PageIndex index{std::vector<std::uint32_t>(file_.pageCount(), LiveRows::npos),
                        std::vector<std::uint16_t>(file_.pageCount(), 0)};
        for (std::size_t w = 0; w < windows.size(); ++w) {
            RowsPart part(name, def, counts, shape_.text);
            part.live.pages = &index;
            readRows(name, def, windows[w], rows.dataLabel, *rows.lvPages, part);
            if (!compareEntries(exam, def, name, ri, idxName, position, part.live, &windowOf,
                                static_cast<std::uint32_t>(w)))
                break;
            for (std::uint32_t p : windows[w])
                if (p < index.first.size()) index.first[p] = LiveRows::npos, index.rows[p] = 0;
        }
        return exam;
    }

    // Compares an index's entries with `live`: every row of the table, or with `windowOf`
    // (window by page) those of window `w`, whose entries alone are looked up; what concerns
    // no window (order, entries of other pages) is found with the first. False when the walk
    // found damage: missing rows would only echo it.
    bool compareEntries(IndexExam& exam, const TableDef& def, const std::string& name,
                        const RealIndex& ri, const std::string& idxName, std::size_t position,
                        const LiveRows& live, const std::vector<std::uint32_t>* windowOf,
                        std::uint32_t w) const {
        auto found = [&](std::vector<Finding>& to, std::optional<std::uint32_t> page,
                         std::optional<unsigned> row, std::string message) {
            keep(to, {"index", name, idxName, page, row, std::move(message), 0});
        };
        std::vector<std::uint8_t> indexed(live.size());
        std::size_t i = 0;
        IndexEntry previous; // the last entry of the leaf before
        auto examine = [&](const IndexEntry& e, const IndexEntry* before) {
            if (w == 0 && before && before->compare(e) >= 0)
                found(exam.entryProblems, {}, {},
                      "entries out of order at entry " + std::to_string(i) + " (row page " +
                          std::to_string(e.page) + " row " + std::to_string(e.row) + ")");
            if (windowOf) {
                const std::uint32_t in =
                    e.page < windowOf->size() ? (*windowOf)[e.page] : LiveRows::npos;
                if (in == LiveRows::npos ? w != 0 : in != w) return;
            }
            const std::uint32_t row = live.find({e.page, e.row});
            if (row == LiveRows::npos) {
                found(exam.entryProblems, e.page, e.row,
                      "entry points at a missing or deleted row");
                return;
            }
            if (std::exchange(indexed[row], 1))
                found(exam.entryProblems, e.page, e.row, "row has more than one entry");
            const std::uint64_t key = live.keys[row * live.indexes + position];
            if (key != 0 && key != keyHash(e.key.bytes()))
                found(exam.entryProblems, e.page, e.row,
                      "stored key differs from the key of the row's values");
        };
        exam.walk = walkIndex(file_, ri.rootPage, def.page, [&](std::span<IndexEntry> leaf) {
            for (std::size_t k = 0; k < leaf.size(); ++k, ++i)
                examine(leaf[k], k ? &leaf[k - 1] : i ? &previous : nullptr);
            previous = std::move(leaf.back());
        });
        if (!exam.walk.problems.empty()) return false;
        for (std::size_t row = 0; row < live.size(); ++row) {
            if (indexed[row]) continue;
            if ((ri.flags & idxflag::ignoreNulls) && live.allNull[row * live.indexes + position])
                continue;
            const RowPointer rp = RowPointer::fromRaw(live.raw[row]);
            found(exam.unindexedRows, rp.page, rp.row, "live row has no entry in the index");
        }
        return true;
    }

    // Each real index's logical names, as findings name it.
    static std::vector<std::string> namesOf(const TableDef& def) {
        std::vector<std::string> names(def.realIndexes.size());
        for (std::size_t k = 0; k < names.size(); ++k) {
            const RealIndex& ri = def.realIndexes[k];
            for (const auto& li : def.indexes)
                if (li.realIndex == ri.number) names[k] += (names[k].empty() ? "" : "/") + li.name;
            if (names[k].empty()) names[k] = "#" + std::to_string(ri.number);
        }
        return names;
    }

    // Examines the indexes not yet examined, two at a time when the file allows it, and
    // reports what each found in index order.
    void checkIndexes(const TableDef& def, const std::string& name,
                      const std::vector<std::string>& names, const TableRows& rows,
                      std::vector<std::optional<IndexExam>>& exams) {
        std::vector<std::size_t> todo;
        for (std::size_t k = 0; k < exams.size(); ++k)
            if (!exams[k]) todo.push_back(k);
        auto examine = [&](std::size_t first, std::size_t step) {
            for (std::size_t i = first; i < todo.size(); i += step) {
                const std::size_t k = todo[i];
                exams[k] = examineIndex(def, name, def.realIndexes[k], names[k], k, rows);
            }
        };
        if (file_.readsConcurrently() && todo.size() > 1) {
            auto odd = std::async(std::launch::async, examine, 1, 2);
            examine(0, 2);
            odd.get();
        } else {
            examine(0, 1);
        }
        for (std::size_t k = 0; k < exams.size(); ++k)
            reportIndex(name, def.realIndexes[k], names[k], *exams[k]);
    }

    void reportIndex(const std::string& name, const RealIndex& ri, const std::string& idxName,
                     IndexExam& exam) {
        const IndexWalk& walk = exam.walk;
        const std::string label = "index \"" + idxName + "\" of \"" + name + "\"";
        for (const auto& p : walk.problems)
            problem("index", name, {}, {}, p, idxName);
        for (std::size_t i = 0; i < walk.pages.size(); ++i) {
            const std::uint32_t p = walk.pages[i];
            const IndexPageHead& head = walk.heads[i];
            claim(p, label);
            if (head.freeSpace != head.computedFreeSpace)
                problem("index page", name, p, {},
                        "free-space figure " + std::to_string(head.freeSpace) +
                            " disagrees with the page (" + std::to_string(head.computedFreeSpace) +
                            " bytes free)",
                        idxName);
        }
        // Leaves are chained left to right across the whole index; the walk meets them in
        // tree order.
        std::vector<std::size_t> leafHeads;
        for (std::size_t i = 0; i < walk.pages.size(); ++i)
            if (walk.heads[i].leaf) leafHeads.push_back(i);
        for (std::size_t i = 0; i < leafHeads.size(); ++i) {
            const IndexPageHead& head = walk.heads[leafHeads[i]];
            const std::uint32_t page = walk.pages[leafHeads[i]];
            const std::uint32_t wantPrev = i ? walk.pages[leafHeads[i - 1]] : 0;
            const std::uint32_t wantNext =
                i + 1 < leafHeads.size() ? walk.pages[leafHeads[i + 1]] : 0;
            if (head.prev != wantPrev || head.next != wantNext)
                problem("index page", name, page, {},
                        "leaf chain links " + std::to_string(head.prev) + " <- -> " +
                            std::to_string(head.next) + ", the tree order needs " +
                            std::to_string(wantPrev) + " and " + std::to_string(wantNext),
                        idxName);
        }
        if (auto map = readMap(ri.usageMap, "index usage map", name);
            map && walk.problems.empty()) {
            std::vector<std::uint32_t> reached = walk.pages;
            std::sort(reached.begin(), reached.end());
            std::vector<std::uint32_t> listed = map->pages, missing, extra;
            std::sort(listed.begin(), listed.end());
            std::set_difference(reached.begin(), reached.end(), listed.begin(), listed.end(),
                                std::back_inserter(missing));
            std::set_difference(listed.begin(), listed.end(), reached.begin(), reached.end(),
                                std::back_inserter(extra));
            if (!missing.empty())
                problem("index usage map", name, ri.usageMap.page, {},
                        "the tree has " + std::to_string(reached.size()) + " pages, " +
                            std::to_string(missing.size()) +
                            " of them missing from the map: " + pageList(missing),
                        idxName);
            // A page freed from the tree but left in the map is leaked space, not damage.
            if (!extra.empty()) stale_.push_back({name, idxName, ri.usageMap.page, extra});
        }
        for (auto& f : exam.entryProblems)
            add(report_.problems, std::move(f));
        if (auto u = unkeyed_.find(ri.number); u != unkeyed_.end())
            add(report_.notes, {"index",
                                name,
                                idxName,
                                {},
                                {},
                                "keys of " + std::to_string(u->second.rows) +
                                    " rows not compared: " + u->second.why,
                                0});
        for (auto& f : exam.unindexedRows)
            add(report_.problems, std::move(f));
    }

    // A listed page that something else uses is damage; otherwise the page is leaked, and
    // wastes its space unless the global map already marks it free.
    void settleStalePages() {
        for (const StalePages& s : stale_) {
            std::vector<std::uint32_t> leaked;
            std::uint64_t wasted = 0;
            for (auto p : s.pages) {
                if (p >= owner_.size()) {
                    problem("index usage map", s.table, s.mapPage, {},
                            "lists page " + std::to_string(p) + " beyond the end of the file",
                            s.index);
                    continue;
                }
                if (owner_[p].label != 0) {
                    problem("index usage map", s.table, s.mapPage, {},
                            "lists page " + std::to_string(p) + ", which is used as " + ownerOf(p),
                            s.index);
                    continue;
                }
                leaked.push_back(p);
                stalePages_.insert(p);
                const bool markedFree = global_ && global_->contains(p);
                if (!markedFree) wasted += file_.pageSize();
            }
            if (leaked.empty()) continue;
            add(report_.notes, {"index usage map",
                                s.table,
                                s.index,
                                s.mapPage,
                                {},
                                "lists " + std::to_string(leaked.size()) +
                                    " pages the tree no longer reaches: " + pageList(leaked) +
                                    " (" + std::to_string(wasted) + " bytes wasted)",
                                wasted});
        }
    }

    void compareWithGlobalMap() {
        if (!global_) return;
        std::vector<bool> freeBit(file_.pageCount());
        for (auto p : global_->pages)
            freeBit[p] = true;
        std::vector<std::uint32_t> orphans;
        for (std::uint32_t p = 0; p < file_.pageCount(); ++p) {
            const bool owned = owner_[p].label != 0;
            // Pages the map cannot describe are taken as in use.
            const bool describable = p >= global_->start && p < global_->capacityEnd;
            if (owned && freeBit[p])
                problem("global usage map", {}, p, {},
                        "page is in use as " + ownerOf(p) + " but marked free");
            else if (!owned && !freeBit[p] && !stalePages_.count(p) &&
                     (describable || global_->kind == UsageMap::Kind::Reference))
                orphans.push_back(p);
        }
        if (!orphans.empty())
            note("global usage map", {}, {},
                 std::to_string(orphans.size()) +
                     " pages are marked in use but nothing reaches them: " + pageList(orphans),
                 static_cast<std::uint64_t>(orphans.size()) * file_.pageSize());
    }
};

} // namespace

CheckReport check(const Database& db, std::map<std::string, RowDigest>* rowDigests,
                  const std::map<std::string, WrittenTable>* written) {
    return Checker(db, rowDigests, written, kCheckRowRoom).run();
}

CheckReport checkWithRowRoom(const Database& db, std::size_t rowRoom) {
    return Checker(db, nullptr, nullptr, rowRoom).run();
}

} // namespace tarnwick::jet
