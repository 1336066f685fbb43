#include "jet/verify.h"

#include "jet/check.h"

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

// A 64-bit hash of a row's values, streaming over each value's type, nullness and content.
class RowHash {
public:
    void bytes(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        for (std::size_t i = 0; i < n; ++i)
            h_ = (h_ ^ p[i]) * 0x100000001B3ull;
    }
    template <typename T> void value(T v) { bytes(&v, sizeof v); }
    void add(const Value& v) {
        value(static_cast<std::uint8_t>(v.type));
        value(static_cast<std::uint8_t>(v.null));
        if (v.null) return;
        value(v.integer);
        value(v.real);
        value(v.text.size());
        bytes(v.text.data(), v.text.size());
        value(v.bytes.size());
        bytes(v.bytes.data(), v.bytes.size());
        value(v.scale);
    }
    std::uint64_t done() const {
        std::uint64_t z = h_ + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t h_ = 0xCBF29CE484222325ull;
};

} // namespace

std::vector<std::uint64_t> rowFingerprints(const Database& db, const CatalogEntry& table,
                                           const std::map<std::int64_t, std::int64_t>& idMap) {
    const TableDef& def = db.tableDef(table);
    std::vector<bool> mapped(def.columns.size());
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        mapped[i] =
            def.columns[i].type == ColumnType::Long && holdsIds(table.name, def.columns[i].name);
    std::vector<std::uint64_t> out;
    db.forEachRow(def, [&](const RowLocation&, const std::vector<Value>& values) {
        RowHash h;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (mapped[i] && !values[i].null) {
                Value v = values[i];
                auto it = idMap.find(v.integer);
                if (it != idMap.end()) v.integer = it->second;
                h.add(v);
            } else {
                h.add(values[i]);
            }
        }
        out.push_back(h.done());
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
