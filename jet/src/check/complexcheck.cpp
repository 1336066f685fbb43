#include "check/complexcheck.h"

#include "jet/complex.h"
#include "jet/tabledef.h"
#include "jet/value.h"

#include <algorithm>
#include <map>
#include <set>

namespace tarnwick::jet {

namespace {

struct ComplexColumnRow {
    std::int64_t complexId = 0, flat = 0, templ = 0, parent = 0;
};

class ComplexChecker {
public:
    explicit ComplexChecker(const Database& db) : db_(db) {}

    std::vector<Finding> run() {
        const CatalogEntry* entry = db_.findTable("MSysComplexColumns");
        if (!entry) return std::move(found_);
        try {
            readComplexColumns(*entry);
        } catch (const JetError& e) {
            problem("complex columns", "MSysComplexColumns", e.page(), e.detail());
            return std::move(found_);
        }
        for (const CatalogEntry* t : db_.tables(true)) {
            try {
                const TableDef& def = db_.tableDef(*t);
                if (std::any_of(def.columns.begin(), def.columns.end(),
                                [](const Column& c) { return c.type == ColumnType::Complex; }))
                    checkTable(t->name, def);
            } catch (const JetError& e) {
                // The table's own check names what cannot be read.
                (void)e;
            }
        }
        return std::move(found_);
    }

private:
    const Database& db_;
    std::vector<Finding> found_;
    std::vector<ComplexColumnRow> rows_;

    void problem(const std::string& structure, const std::string& table,
                 std::optional<std::uint32_t> page, std::string message) {
        if (page && *page == JetError::noPage) page.reset();
        found_.push_back({structure, table, {}, page, {}, std::move(message), 0});
    }

    bool isTable(std::int64_t id) const {
        return std::any_of(db_.catalog().begin(), db_.catalog().end(),
                           [&](const CatalogEntry& e) { return e.isTable() && e.id == id; });
    }

    void readComplexColumns(const CatalogEntry& entry) {
        const TableDef& def = db_.tableDef(entry);
        const auto col = [&](const char* name) {
            for (std::size_t i = 0; i < def.columns.size(); ++i)
                if (def.columns[i].name == name) return i;
            throw JetError("table definition", def.page,
                           std::string("MSysComplexColumns has no column ") + name);
        };
        const std::size_t id = col("ComplexID"), flat = col("FlatTableID"),
                          templ = col("ComplexTypeObjectID"), parent = col("ConceptualTableID");
        std::int64_t largest = 0;
        db_.forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
            rows_.push_back({v[id].integer, v[flat].integer, v[templ].integer, v[parent].integer});
            largest = std::max(largest, v[id].integer);
            return true;
        });
        if (largest > static_cast<std::int64_t>(def.autoNumber))
            problem("complex columns", entry.name, def.page,
                    "the next complex id follows " + std::to_string(def.autoNumber) +
                        ", but complex id " + std::to_string(largest) + " is in use");
    }

    void checkTable(const std::string& name, const TableDef& def) {
        // Each row's complex value id, the same in all its complex columns.
        std::set<std::uint32_t> ids;
        std::uint32_t largest = 0;
        std::size_t shared = 0, mixed = 0;
        db_.forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
            std::optional<std::uint32_t> id;
            for (std::size_t i = 0; i < def.columns.size(); ++i) {
                if (def.columns[i].type != ColumnType::Complex || v[i].null) continue;
                const auto here = static_cast<std::uint32_t>(v[i].integer);
                if (id && *id != here) ++mixed;
                id = here;
            }
            if (id) {
                if (!ids.insert(*id).second) ++shared;
                largest = std::max(largest, *id);
            }
            return true;
        });
        if (shared)
            problem("complex column", name, def.page,
                    std::to_string(shared) + " rows share a complex value id with another row");
        if (mixed)
            problem("complex column", name, def.page,
                    std::to_string(mixed) + " rows hold different complex value ids in their " +
                        "complex columns");
        if (largest > def.lastComplexValue)
            problem("table definition", name, def.page,
                    "the last complex value id issued is " + std::to_string(def.lastComplexValue) +
                        ", but a row holds " + std::to_string(largest));
        for (const Column& c : def.columns)
            if (c.type == ColumnType::Complex) checkColumn(name, def, c, ids);
    }

    void checkColumn(const std::string& name, const TableDef& def, const Column& c,
                     const std::set<std::uint32_t>& ids) {
        const std::string what = "column \"" + c.name + "\"";
        const auto row = std::find_if(rows_.begin(), rows_.end(), [&](const ComplexColumnRow& r) {
            return r.complexId == c.complexId;
        });
        if (row == rows_.end()) {
            problem("complex column", name, def.page,
                    what + " has complex id " + std::to_string(c.complexId) +
                        ", which MSysComplexColumns does not list");
            return;
        }
        if (row->parent != def.page)
            problem("complex column", name, def.page,
                    what + ": MSysComplexColumns names table " + std::to_string(row->parent) +
                        " as its table");
        if (!isTable(row->templ))
            problem("complex column", name, def.page,
                    what + ": its template table " + std::to_string(row->templ) +
                        " does not exist");
        if (!isTable(row->flat)) {
            problem("complex column", name, def.page,
                    what + ": its flat table " + std::to_string(row->flat) + " does not exist");
            return;
        }
        const TableDef& flat = db_.tableDef(static_cast<std::uint32_t>(row->flat));
        const auto link = std::find_if(flat.columns.begin(), flat.columns.end(),
                                       [](const Column& fc) { return fc.extFlags & 0x08; });
        if (link == flat.columns.end()) {
            problem("complex column", name, flat.page,
                    what + ": its flat table has no column linking to the rows");
            return;
        }
        const std::size_t linkAt = static_cast<std::size_t>(link - flat.columns.begin());
        std::size_t orphans = 0, undecodable = 0;
        std::int64_t largestRowId = 0;
        std::string firstBad;
        db_.forEachRow(flat, [&](const RowLocation& where, const std::vector<Value>& v) {
            if (!v[linkAt].null && !ids.count(static_cast<std::uint32_t>(v[linkAt].integer)))
                ++orphans;
            for (std::size_t i = 0; i < flat.columns.size(); ++i) {
                const Column& fc = flat.columns[i];
                if ((fc.extFlags & 0x04) && !v[i].null)
                    largestRowId = std::max(largestRowId, v[i].integer);
                if ((fc.extFlags & 0x10) && fc.name == "FileData" && !v[i].null) {
                    try {
                        attachmentContent(v[i].bytes, "attachment");
                    } catch (const JetError& e) {
                        if (!undecodable++)
                            firstBad =
                                "page " + std::to_string(where.data.page) + ": " + e.detail();
                    }
                }
            }
            return true;
        });
        if (orphans)
            problem("complex column", name, flat.page,
                    what + ": " + std::to_string(orphans) +
                        " values in its flat table belong to no row");
        if (undecodable)
            problem("complex column", name, flat.page,
                    what + ": " + std::to_string(undecodable) +
                        " attachments do not decode, the first on " + firstBad);
        if (largestRowId > static_cast<std::int64_t>(flat.autoNumber))
            problem("complex column", name, flat.page,
                    what + ": its flat table's next row id follows " +
                        std::to_string(flat.autoNumber) + ", but row id " +
                        std::to_string(largestRowId) + " is in use");
    }
};

} // namespace

std::vector<Finding> checkComplexColumns(const Database& db) {
    return ComplexChecker(db).run();
}

} // namespace tarnwick::jet
