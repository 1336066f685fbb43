// Every readable Access 2007+ test database exported by the engine equals what the npm library
// mdb-reader reads (tests/jet/mdbreader-dump.mjs), on every column that library reads.
// Left out, as that library cannot read them: complex columns, calculated columns (it reads
// the stored wrapper as the plain type) and tables with a column type it does not know.

#include "corpus.h"

#include "jet/database.h"
#include "jet/json.h"
#include "jet/tabledef.h"
#include "jet/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <set>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
namespace fs = std::filesystem;

namespace {

const fs::path peers = TARNWICK_PEERS_DIR;
const fs::path script = TARNWICK_MDBREADER_DUMP;

std::string dumpCommand(const fs::path& file) {
    return "TZ=UTC node " + quoted(script) + " " + quoted(peers) + " " + quoted(file);
}

// Singles and doubles are compared by value: the two printers choose other digits.
void normalise(Json& row, const TableDef& def) {
    for (auto& [name, value] : row.members) {
        if (value.kind != Json::Kind::Number) continue;
        const auto c = std::find_if(def.columns.begin(), def.columns.end(),
                                    [&](const Column& col) { return col.name == name; });
        if (c == def.columns.end()) continue;
        char buf[40];
        if (c->type == ColumnType::Single)
            std::snprintf(buf, sizeof buf, "%.9g",
                          static_cast<double>(static_cast<float>(value.number)));
        else if (c->type == ColumnType::Double)
            std::snprintf(buf, sizeof buf, "%.17g", value.number);
        else
            continue;
        value.text = buf;
    }
}

std::string canonical(Json row, const TableDef& def, const std::set<std::string>& keep) {
    std::erase_if(row.members, [&](const auto& m) { return !keep.count(m.first); });
    normalise(row, def);
    return canonicalJson(row);
}

class AceMdbReader : public ::testing::TestWithParam<fs::path> {};

TEST_P(AceMdbReader, ExportEqualsMdbReader) {
    const auto db = Database::open(GetParam().string());
    int status = 0;
    const std::string dump = run(dumpCommand(GetParam()), &status, true);
    ASSERT_EQ(status, 0) << dump;
    // Rows per table, as mdb-reader read them, with the columns it read.
    std::map<std::string, std::vector<Json>> theirs;
    std::map<std::string, std::set<std::string>> columns;
    std::string table;
    std::size_t at = 0, compared = 0;
    while (at < dump.size()) {
        const auto nl = dump.find('\n', at);
        const Json j = parseJson(dump.substr(at, nl - at));
        at = nl == std::string::npos ? dump.size() : nl + 1;
        const Json* name = j.find("table");
        if (!name) {
            theirs[table].push_back(j);
            continue;
        }
        table = name->text;
        if (const Json* why = j.find("unreadable")) {
            std::cout << GetParam().filename().string() << ": mdb-reader cannot read " << table
                      << " (" << why->text << ")\n";
            table.clear();
            continue;
        }
        const auto* entry = db->findTable(table);
        ASSERT_NE(entry, nullptr) << "mdb-reader lists a table the engine does not: " << table;
        const TableDef& def = db->tableDef(*entry);
        for (const auto& c : j.find("columns")->items) {
            const auto col = std::find_if(def.columns.begin(), def.columns.end(),
                                          [&](const Column& d) { return d.name == c.text; });
            ASSERT_NE(col, def.columns.end()) << table << "." << c.text;
            if (!col->isCalculated()) columns[table].insert(c.text);
        }
        theirs[table];
    }
    theirs.erase("");
    for (auto& [name, rows] : theirs) {
        SCOPED_TRACE(name);
        const TableDef& def = db->tableDef(*db->findTable(name));
        std::vector<std::string> a, b;
        for (auto& row : rows)
            b.push_back(canonical(std::move(row), def, columns[name]));
        db->forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
            std::string line;
            appendJsonRow(line, def, v, nullptr);
            a.push_back(canonical(parseJson(line), def, columns[name]));
            return true;
        });
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a.size(), b.size());
        std::vector<std::string> onlyOurs, onlyTheirs;
        std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyOurs));
        std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyTheirs));
        for (std::size_t i = 0; i < onlyOurs.size() && i < 3; ++i)
            ADD_FAILURE() << "only ours:       " << onlyOurs[i];
        for (std::size_t i = 0; i < onlyTheirs.size() && i < 3; ++i)
            ADD_FAILURE() << "only mdb-reader: " << onlyTheirs[i];
        compared += a.size() * columns[name].size();
    }
    std::cout << GetParam().filename().string() << ": " << theirs.size() << " tables, " << compared
              << " values compared\n";
}

INSTANTIATE_TEST_SUITE_P(Ace, AceMdbReader, ::testing::ValuesIn(aceCorpusFiles()),
                         [](const auto& info) { return folderAndStem(info.param); });

} // namespace

int main(int argc, char** argv) {
    return runAceTests(argc, argv, []() -> std::string {
        int status = 0;
        run("node --version", &status);
        if (status != 0) return "node is not installed (scripts/install-deps.sh installs it)";
        if (!fs::exists(peers / "node_modules" / "mdb-reader" / "package.json"))
            return "mdb-reader is not installed in " + peers.string() +
                   " (scripts/install-peers.sh installs it)";
        return {};
    });
}
