#include "jet/verify.h"

#include "jet/check.h"
#include "jet/json.h"

#include <algorithm>
#include <functional>

namespace tarnwick::jet {

namespace {

bool holdsIds(const std::string& table, const std::string& column) {
    if (table == "MSysObjects") return column == "Id" || column == "ParentId";
    if (table == "MSysACEs") return column == "ObjectId";
    if (table == "MSysNavPaneObjectIDs") return column == "Id";
    if (table == "MSysNavPaneGroupToObjects" || table == "MSysNavPaneGroups")
        return column == "ObjectID";
    if (table == "MSysNavPaneGroupCategories") return column == "SelectedObjectID";
    return false;
}

} // namespace

std::vector<std::uint64_t> rowFingerprints(const Database& db, const CatalogEntry& table,
                                           const std::map<std::int64_t, std::int64_t>& idMap) {
    const TableDef& def = db.tableDef(table);
    std::vector<bool> mapped(def.columns.size());
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        mapped[i] =
            def.columns[i].type == ColumnType::Long && holdsIds(table.name, def.columns[i].name);
    std::vector<std::uint64_t> out;
    std::string line;
    db.forEachRow(def, [&](const RowLocation&, const std::vector<Value>& values) {
        line.clear();
        if (std::find(mapped.begin(), mapped.end(), true) != mapped.end()) {
            std::vector<Value> copy = values;
            for (std::size_t i = 0; i < copy.size(); ++i) {
                if (!mapped[i] || copy[i].null) continue;
                auto it = idMap.find(copy[i].integer);
                if (it != idMap.end()) copy[i].integer = it->second;
            }
            appendJsonRow(line, def, copy);
        } else {
            appendJsonRow(line, def, values);
        }
        out.push_back(std::hash<std::string>{}(line));
        return true;
    });
    std::sort(out.begin(), out.end());
    return out;
}

void verifyRebuilt(const Database& source, const Database& rebuilt, bool rowsToo) {
    const std::string structure = "verification";
    const CheckReport report = check(rebuilt);
    if (!report.sound())
        throw JetError(structure, JetError::noPage,
                       "the new file has " + std::to_string(report.problems.size()) +
                           " problems, the first: " + report.problems.front().text());
    rebuilt.file().releaseCache();
    if (!rowsToo) return;

    // Tables are matched by name; their ids may differ.
    std::map<std::int64_t, std::int64_t> ids;
    std::vector<std::pair<const CatalogEntry*, const CatalogEntry*>> pairs;
    for (const CatalogEntry* t : source.tables(true)) {
        const CatalogEntry* match = nullptr;
        for (const CatalogEntry* n : rebuilt.tables(true))
            if (n->name == t->name) match = n;
        if (!match)
            throw JetError(structure, JetError::noPage,
                           "table \"" + t->name + "\" is missing from the new file");
        ids[t->id] = match->id;
        pairs.emplace_back(t, match);
    }
    if (rebuilt.tables(true).size() != pairs.size())
        throw JetError(structure, JetError::noPage, "the new file has tables the source has not");
    for (const auto& [from, to] : pairs) {
        const auto a = rowFingerprints(source, *from, ids);
        source.file().releaseCache();
        const auto b = rowFingerprints(rebuilt, *to, {});
        rebuilt.file().releaseCache();
        if (a.size() != b.size())
            throw JetError(structure, JetError::noPage,
                           "table \"" + from->name + "\" has " + std::to_string(b.size()) +
                               " rows in the new file, " + std::to_string(a.size()) +
                               " in the source");
        if (a != b)
            throw JetError(structure, JetError::noPage,
                           "table \"" + from->name + "\" holds different rows in the new file");
    }
}

} // namespace tarnwick::jet
