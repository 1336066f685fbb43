#include "write/rebuild.h"

#include "jet/header.h"
#include "read/jet4form.h"
#include "write/jet4definition.h"
#include "write/jet4header.h"
#include "write/pagebuild.h"
#include "write/pagewriter.h"
#include "write/tablerebuild.h"

#include <algorithm>
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
    };

    void plan();
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
}

const TableDef& Rebuilder::outDef(const Planned& t) {
    const TableDef& def = src_.tableDef(t.oldPage);
    if (!options_.toJet4) return def;
    auto it = converted_.find(t.oldPage);
    if (it == converted_.end())
        it = converted_.emplace(t.oldPage, jet4Definition(def, t.name)).first;
    return it->second;
}

void Rebuilder::rebuildTable(Planned& t, TableRebuild& report) {
    const TableJob job{.src = src_,
                       .out = out_,
                       .options = options_,
                       .tableIds = result_.tableIds,
                       .dropped = dropped_,
                       .def = src_.tableDef(t.oldPage),
                       .outDef = outDef(t),
                       .name = t.name,
                       .oldPage = t.oldPage,
                       .newPage = t.newPage,
                       .report = report};
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
    // A key on an ACE file means Office encryption, which cannot be written.
    if (source.header().aceVersion != 0 && options.databaseKey != 0)
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
