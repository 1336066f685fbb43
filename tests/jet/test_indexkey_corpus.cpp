// Every index of every test database: the key encoded from each row equals the key stored in
// the row's leaf entry. This is what proves the collation tables and the type encodings.

#include "corpus.h"

#include "jet/database.h"
#include "jet/indexkey.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;

namespace {

std::string hex(const std::vector<std::uint8_t>& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto x : b)
        s += std::string{digits[x >> 4], digits[x & 15], ' '};
    return s;
}

TEST(IndexKeyCorpus, EveryStoredKeyIsTheKeyOfItsRow) {
    std::set<std::string> typesSeen;
    std::size_t totalIndexes = 0, totalEntries = 0;
    for (const auto& path : corpusFiles()) {
        SCOPED_TRACE(path.string());
        auto db = Database::open(path.string());
        std::size_t indexes = 0, entries = 0, mismatches = 0;
        for (const CatalogEntry* t : db->tables(true)) {
            const TableDef& def = db->tableDef(*t);
            if (def.realIndexes.empty()) continue;
            std::map<std::uint32_t, std::vector<Value>> rows;
            db->forEachRow(def, [&](const RowLocation& loc, const std::vector<Value>& v) {
                rows[loc.header.raw()] = v;
                return true;
            });
            for (const RealIndex& ri : def.realIndexes) {
                ++indexes;
                for (const auto& ic : ri.columns)
                    if (const Column* c = def.columnByNumber(ic.column))
                        typesSeen.insert(typeName(c->type) + (ic.ascending ? "" : " desc"));
                for (const IndexEntry& e : db->indexEntries(def, ri)) {
                    auto row = rows.find(RowPointer{e.page, e.row}.raw());
                    ASSERT_NE(row, rows.end()) << t->name << " index " << ri.number;
                    ++entries;
                    const auto key = encodeIndexKey(*db, def, ri, row->second);
                    const std::vector<std::uint8_t> stored(e.key.begin(), e.key.end());
                    if (key != stored && ++mismatches <= 5)
                        ADD_FAILURE() << t->name << " index " << ri.number << " row page " << e.page
                                      << " row " << int(e.row) << "\n  stored  " << hex(stored)
                                      << "\n  encoded " << hex(key);
                }
            }
        }
        EXPECT_EQ(mismatches, 0u);
        std::cout << path.filename().string() << ": " << indexes << " indexes, " << entries
                  << " entries, " << mismatches << " mismatches\n";
        totalIndexes += indexes;
        totalEntries += entries;
    }
    std::cout << "total: " << totalIndexes << " indexes, " << totalEntries << " entries; types:";
    for (const auto& t : typesSeen)
        std::cout << " " << t << ";";
    std::cout << "\n";
}

} // namespace

int main(int argc, char** argv) {
    return runCorpusTests(argc, argv);
}
