#include "write/rebuild.h"

#include "jet/header.h"
#include "read/jet4form.h"
#include "write/acesystem.h"
#include "write/jet4definition.h"
#include "write/jet4header.h"
#include "write/pagebuild.h"
#include "write/pagewriter.h"
#include "write/tablerebuild.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <set>

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

constexpr std::uint32_t kCorePages = 4; // MSysObjects, MSysACEs, MSysQueries, MSysRelationships
constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

// A Jet 4 page 0 turned into that of an ACE 12 file, as Access 2007 writes one: its engine
// name and level, the constant it keeps at 0x6A, General Legacy as the default sort order, and
// no password (ACE protects with encryption instead), so the area holds the bare date mask.
void makeAceHeader(std::vector<std::uint8_t>& h) {
    static constexpr char kAceEngine[16] = "Standard ACE DB";
    std::memcpy(h.data() + 0x04, kAceEngine, sizeof kAceEngine);
    h[0x14] = 0x02;
    h[0x15] = 0x00;
    put32(h.data() + 0x6A, 0x11A6);
    put32(h.data() + 0x6E, 0x00000409);
    double date = 0;
    const std::uint64_t bits = le32(h.data() + 0x72) | std::uint64_t{le32(h.data() + 0x76)} << 32;
    std::memcpy(&date, &bits, sizeof date);
    std::uint32_t mask = 0;
    if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0)
        mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(date));
    for (std::size_t i = 0; i < 40; i += 4)
        put32(h.data() + 0x42 + i, mask);
}

std::uint32_t tdefPagesFor(const Format& f, std::size_t length) {
    if (length <= f.pageSize) return 1;
    const std::size_t body = f.pageSize - 8;
    return static_cast<std::uint32_t>(1 + (length - f.pageSize + body - 1) / body);
}

class Rebuilder {
public:
    Rebuilder(const Database& src, PageWriter& out, const RebuildOptions& options)
        : src_(src), f_(out.format()), out_(out), options_(options) {}

    RebuildResult run();

private:
    struct Planned {
        const CatalogEntry* entry = nullptr;
        std::string name;
        std::uint32_t oldPage = 0;
        std::uint32_t newPage = 0;
        std::vector<std::uint32_t> tdefPages;
        const AceSystemTable* added = nullptr; // a table the new file has and the source lacks
    };

    void plan();
    void planAceTables();
    std::vector<std::vector<std::uint8_t>> catalogGrants() const;
    void rebuildTable(Planned& t, TableRebuild& report);
    void writeGlobalMapAndHeader();
    // The definition as the new file holds it.
    const TableDef& outDef(const Planned& t);

    const Database& src_;
    const Format& f_;                             // of the new file
    std::map<std::uint32_t, TableDef> converted_; // Jet 4 forms, by old TDEF page
    PageWriter& out_;
    RebuildOptions options_;
    std::vector<Planned> planned_;
    RebuildResult result_;
    std::set<std::uint32_t> dropped_;
    MapHost host_{DataPageBuilder(f_, 0)};
    std::vector<AceSystemTable> aceTables_;
    std::vector<std::vector<std::uint8_t>> catalogRows_; // of the added tables
    std::vector<std::vector<std::uint8_t>> aceRows_;     // their permissions
};

// Ids the added tables go by in the mapping of old to new pages: above any page a file holds.
constexpr std::uint32_t kAddedTableIds = 0xFF000000;
constexpr char kAcesTable[] = "MSysACEs";
// Added rows stand at slots of page 0, at most 256: 10 tables of up to 25 grants each.
constexpr std::size_t kMaxGrants = 25;

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
    if (!host_.builder.empty()) out_.write(host_.page, host_.builder.take());
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
        const std::uint32_t n = tdefPagesFor(f_, outDef(t).raw.size());
        if (n > 1) {
            const std::uint32_t more = out_.allocate(n - 1);
            for (std::uint32_t i = 0; i < n - 1; ++i)
                t.tdefPages.push_back(more + i);
        }
    }
    for (auto& t : rest) {
        const std::uint32_t n = tdefPagesFor(f_, outDef(t).raw.size());
        const std::uint32_t at = out_.allocate(n);
        for (std::uint32_t i = 0; i < n; ++i)
            t.tdefPages.push_back(at + i);
        planned_.push_back(std::move(t));
    }
    for (auto& t : planned_) {
        t.newPage = t.tdefPages.front();
        result_.tableIds[t.oldPage] = t.newPage;
    }
    if (options_.aceVersion != 0) planAceTables();
}

// The system tables of an ACE file that the source lacks, each on one page, with their rows
// of the catalog.
void Rebuilder::planAceTables() {
    aceTables_ = aceSystemTables();
    const TableDef& catalog = src_.tableDef(kCatalogPage);
    const std::chrono::duration<double> now = std::chrono::system_clock::now().time_since_epoch();
    const double date = now.count() / 86400.0 + 25569.0; // days since 1899-12-30
    const std::vector<std::vector<std::uint8_t>> grants = catalogGrants();
    for (const AceSystemTable& a : aceTables_) {
        if (src_.findTable(a.name)) continue;
        Planned t;
        t.name = a.name;
        t.added = &a;
        t.oldPage = kAddedTableIds + static_cast<std::uint32_t>(catalogRows_.size());
        t.newPage = out_.allocate(1);
        t.tdefPages.push_back(t.newPage);
        result_.tableIds[t.oldPage] = t.newPage;
        catalogRows_.push_back(
            catalogRow(catalog, static_cast<std::int32_t>(t.oldPage), a.name, a.objectFlags, date));
        for (const auto& g : grants) {
            aceRows_.push_back(g);
            put32(aceRows_.back().data() + 2, t.oldPage);
        }
        planned_.push_back(std::move(t));
    }
}

// The permission rows (MSysACEs) of the catalog table, with its id first in the fixed area, as
// the rows of each added system table start from: the same accounts may read them.
std::vector<std::vector<std::uint8_t>> Rebuilder::catalogGrants() const {
    std::vector<std::vector<std::uint8_t>> out;
    const CatalogEntry* aces = src_.findTable(kAcesTable);
    if (!aces) return out;
    const TableDef& def = src_.tableDef(*aces);
    const Column* id = nullptr;
    for (const Column& c : def.columns)
        if (c.name == "ObjectId") id = &c;
    if (!id || id->type != ColumnType::Long || !id->isFixed() || id->fixedOffset != 0) return out;
    src_.forEachRawRow(def, [&](const RowLocation&, Bytes stored) {
        if (stored.size() >= 6 && le32(stored.data() + 2) == kCatalogPage &&
            out.size() < kMaxGrants)
            out.emplace_back(stored.begin(), stored.end());
        return true;
    });
    return out;
}

const TableDef& Rebuilder::outDef(const Planned& t) {
    if (t.added) return t.added->def;
    const TableDef& def = src_.tableDef(t.oldPage);
    if (!options_.toJet4) return def;
    auto it = converted_.find(t.oldPage);
    if (it == converted_.end())
        it = converted_.emplace(t.oldPage, jet4Definition(def, t.name)).first;
    return it->second;
}

void Rebuilder::rebuildTable(Planned& t, TableRebuild& report) {
    std::span<const std::vector<std::uint8_t>> addedRows;
    if (t.oldPage == kCatalogPage) addedRows = catalogRows_;
    if (t.name == kAcesTable && !t.added) addedRows = aceRows_;
    const TableJob job{.src = src_,
                       .out = out_,
                       .options = options_,
                       .tableIds = result_.tableIds,
                       .dropped = dropped_,
                       .def = t.added ? t.added->def : src_.tableDef(t.oldPage),
                       .outDef = outDef(t),
                       .name = t.name,
                       .oldPage = t.oldPage,
                       .newPage = t.newPage,
                       .report = report,
                       .added = t.added != nullptr,
                       .addedRows = addedRows};
    CopiedRows rows = copyRows(job);
    const std::vector<BuiltIndex> built = buildIndexes(job, rows);
    writeTableDefinition(job, rows, built, t.tdefPages, host_);
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

    // Page 0: the source's, with the new database key, masked again; a converted file's in its
    // Jet 4 form, created now.
    std::vector<std::uint8_t> header = src_.header().decoded;
    if (options_.aceVersion != 0) makeAceHeader(header);
    if (options_.toJet4)
        header = jet4Header(src_.header(), options_.databaseKey,
                            static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0);
    put32(header.data() + 0x3E, options_.databaseKey);
    rc4(kHeaderKey, std::span<std::uint8_t>(header.data() + 0x18, f_.jet4() ? 128 : 126));
    out_.write(0, std::move(header));
}

} // namespace

RebuildResult rebuildDatabase(const Database& source, PageWriter& out,
                              const RebuildOptions& options) {
    if (options.aceVersion != 0 &&
        (options.aceVersion != 12 || !source.format().jet4() || source.header().aceVersion != 0))
        throw RewriteRefused("database", JetError::noPage,
                             "only a Jet 4 file can be written as an ACE 12 file");
    // A key on an ACE file means Office encryption, which cannot be written.
    if ((source.header().aceVersion != 0 || options.aceVersion != 0) && options.databaseKey != 0)
        throw RewriteRefused("database", JetError::noPage,
                             formatName(source.header()) +
                                 " files cannot be encrypted by Tarnwick; Access encrypts them "
                                 "with a password");
    if (options.toJet4 &&
        (source.format().version != Version::Jet3 || !out.format().jet4() || options.salvage))
        throw JetError("conversion", JetError::noPage,
                       "internal: only a Jet 3 source is converted, into a Jet 4 file");
    if (options.toJet4 && !convertibleCodePage(source.header().codePage))
        throw JetError("conversion", JetError::noPage,
                       "text in code page " + std::to_string(source.header().codePage) +
                           " cannot be converted; only code page 1252 is known exactly");
    if (options.toJet4 && source.header().sortOrder != 1033 && source.header().sortOrder != 0)
        throw JetError("conversion", JetError::noPage,
                       "sort order " + std::to_string(source.header().sortOrder) +
                           " cannot be converted; only the General sort order is known");
    Rebuilder rebuilder(source, out, options);
    RebuildResult result = rebuilder.run();
    out.finish(options.sync);
    return result;
}

} // namespace tarnwick::jet
