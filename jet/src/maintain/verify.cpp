#include "maintain/verify.h"

#include "jet/check.h"
#include "jet/header.h"
#include "read/longvalue.h"

#include <utility>

namespace tarnwick::jet {

namespace {

const std::string kStructure = "verification";

// Digests rows as they come, one digester per table.
class Digests {
public:
    explicit Digests(TableIdMap renumber = {}, TextForm text = TextForm::Stored, int codePage = 0)
        : renumber_(std::move(renumber)), text_(text), codePage_(codePage) {}
    Digests(const Digests&) = delete; // the digesters point at `renumber_`

    void add(const CatalogEntry& table, const TableDef& def, const std::vector<RawField>& row,
             const std::vector<std::vector<Bytes>>& longValues) {
        auto it = digesters_.find(table.name);
        if (it == digesters_.end())
            it = digesters_
                     .emplace(table.name, RowDigester(table.name, def, renumber_, text_, codePage_))
                     .first;
        it->second.add(row, &longValues);
    }
    std::map<std::string, RowDigest> result() const {
        std::map<std::string, RowDigest> out;
        for (const auto& [name, d] : digesters_)
            out[name] = d.digest();
        return out;
    }

private:
    const TableIdMap renumber_;
    TextForm text_;
    int codePage_;
    std::map<std::string, RowDigester> digesters_;
};

void requireSound(const CheckReport& report) {
    if (!report.sound())
        throw JetError(kStructure, JetError::noPage,
                       "the new file has " + std::to_string(report.problems.size()) +
                           " problems, the first: " + report.problems.front().text());
}

RowDigest digestOf(const std::map<std::string, RowDigest>& digests, const std::string& table) {
    auto it = digests.find(table);
    return it == digests.end() ? RowDigest{} : it->second;
}

} // namespace

SourceRows tableDigests(const Database& db, const TableIdMap& renumber, TextForm text) {
    Digests digests(renumber, text, db.header().codePage);
    for (const CatalogEntry* t : db.tables(true)) {
        const TableDef& def = db.tableDef(*t);
        db.forEachRawRow(def, [&](const RowLocation& loc, Bytes stored) {
            const auto fields =
                splitRow(db.format(), def, stored, "data page", loc.data.page, loc.data.row);
            // Long values are digested in the pieces they are stored in, not gathered.
            std::vector<std::vector<Bytes>> longValues(fields.size());
            for (std::size_t c = 0; c < fields.size(); ++c)
                if (def.columns[c].isLong() && fields[c].present)
                    readLongValueParts(db.file(), fields[c].data, loc.data.page, longValues[c]);
            digests.add(*t, def, fields, longValues);
            return true;
        });
        db.file().releaseCache();
    }
    return {renumber, digests.result(), {}};
}

namespace {

// The new file's id for each source table, matched by name. The new file may hold more tables
// only where the rebuild says it wrote them (those a conversion adds).
TableIdMap matchTables(const Database& source, const Database& rebuilt,
                       const std::map<std::string, WrittenTable>& written = {}) {
    TableIdMap ids;
    for (const CatalogEntry* t : source.tables(true)) {
        const CatalogEntry* match = nullptr;
        for (const CatalogEntry* n : rebuilt.tables(true))
            if (n->name == t->name) match = n;
        if (!match)
            throw JetError(kStructure, JetError::noPage,
                           "table \"" + t->name + "\" is missing from the new file");
        ids[t->tablePage()] = match->tablePage();
    }
    std::size_t added = 0;
    for (const CatalogEntry* n : rebuilt.tables(true))
        if (!source.findTable(n->name) && written.count(n->name)) ++added;
    if (rebuilt.tables(true).size() != ids.size() + added)
        throw JetError(kStructure, JetError::noPage, "the new file has tables the source has not");
    return ids;
}

} // namespace

void verifyRebuilt(const Database& source, const Database& rebuilt, const SourceRows& sourceRows) {
    const TableIdMap ids = matchTables(source, rebuilt, sourceRows.written);
    for (const auto& [from, to] : ids) {
        auto it = sourceRows.renumber.find(from);
        if ((it == sourceRows.renumber.end() ? from : it->second) != to)
            throw JetError(kStructure, JetError::noPage,
                           "a table's id in the new file is not the one its rows refer to");
    }
    std::map<std::string, RowDigest> newRows;
    const CheckReport report = check(rebuilt, &newRows, &sourceRows.written);
    rebuilt.file().releaseCache();
    requireSound(report);
    for (const CatalogEntry* t : source.tables(true)) {
        // A table the rebuild described is compared place by place, which its indexes' proof
        // needs; any other by its rows in any order.
        auto written = sourceRows.written.find(t->name);
        const RowDigest a = written != sourceRows.written.end()
                                ? written->second.rows
                                : digestOf(sourceRows.tables, t->name);
        const RowDigest b = digestOf(newRows, t->name);
        if (a.rows != b.rows)
            throw JetError(kStructure, JetError::noPage,
                           "table \"" + t->name + "\" has " + std::to_string(b.rows) +
                               " rows in the new file, " + std::to_string(a.rows) +
                               " in the source");
        if (a != b)
            throw JetError(kStructure, JetError::noPage,
                           "table \"" + t->name + "\" holds different rows in the new file");
    }
}

void verifyRebuilt(const Database& source, const Database& rebuilt, bool rowsToo) {
    if (rowsToo && source.format().version != rebuilt.format().version) {
        // A conversion: both sides by the values their text decodes to.
        const TableIdMap ids = matchTables(source, rebuilt);
        const SourceRows before = tableDigests(source, ids, TextForm::Jet3);
        const CheckReport report = check(rebuilt);
        rebuilt.file().releaseCache();
        requireSound(report);
        const SourceRows after = tableDigests(rebuilt, {}, TextForm::Jet4);
        for (const CatalogEntry* t : source.tables(true)) {
            const RowDigest a = digestOf(before.tables, t->name);
            const RowDigest b = digestOf(after.tables, t->name);
            if (a != b)
                throw JetError(kStructure, JetError::noPage,
                               "table \"" + t->name + "\" holds different values in the new file");
        }
        return;
    }
    if (rowsToo) {
        verifyRebuilt(source, rebuilt, tableDigests(source, matchTables(source, rebuilt)));
        return;
    }
    const CheckReport report = check(rebuilt);
    rebuilt.file().releaseCache();
    requireSound(report);
}

} // namespace tarnwick::jet
