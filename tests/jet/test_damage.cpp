// Copies of the test databases with bytes changed in one structure each: `check` must name that
// structure, and nothing may crash. The copies live in memory or in a private temporary folder.

#include "corpus.h"
#include "scratch.h"

#include "check/rowdigest.h"
#include "jet/bytes.h"
#include "jet/check.h"
#include "jet/database.h"
#include "jet/json.h"
#include "jet/tabledef.h"
#include "jet/usagemap.h"
#include "jet/value.h"
#include "read/datapage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sys/wait.h>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
using B = std::vector<std::uint8_t>;

namespace {

B load(const char* rel) {
    return readAll(corpusDir() / rel);
}

std::unique_ptr<Database> openBytes(const B& b) {
    return Database::open(memorySource(b));
}

std::string describe(const CheckReport& r) {
    std::string s;
    for (const auto& p : r.problems)
        s += "  " + p.text() + "\n";
    return s.empty() ? "  (no problems)\n" : s;
}

// True when some problem names `structure` (and `table`, when given).
bool reports(const CheckReport& r, const std::string& structure, const std::string& table = {}) {
    for (const auto& p : r.problems)
        if (p.structure == structure && (table.empty() || p.table == table)) return true;
    return false;
}

struct TableInfo {
    TableDef def;
    std::vector<std::uint32_t> dataPages;
};

TableInfo tableInfo(const B& bytes, const char* table) {
    auto db = openBytes(bytes);
    TableInfo ti;
    ti.def = db->tableDef(*db->findTable(table));
    for (auto p : db->usageMap(ti.def.ownedMap, "map").pages)
        ti.dataPages.push_back(p);
    return ti;
}

TEST(Damage, HeaderPage) {
    const B good = load("V1997/testV1997.mdb");
    for (std::size_t at : {std::size_t{0x14}, std::size_t{0x06}, std::size_t{0x00}}) {
        B bad = good;
        bad[at] ^= 0x5A;
        try {
            openBytes(bad);
            ADD_FAILURE() << "damage at " << at << " accepted";
        } catch (const JetError& e) {
            EXPECT_EQ(e.structure(), "database definition page") << e.what();
        }
    }
    B shortFile(good.begin(), good.begin() + 1000);
    EXPECT_THROW(openBytes(shortFile), JetError);
}

TEST(Damage, TableDefinition) {
    const B good = load("V2000/testV2000.mdb");
    const TableInfo t = tableInfo(good, "Table1");
    const std::size_t base = static_cast<std::size_t>(t.def.page) * 4096;
    struct Case {
        const char* name;
        std::size_t offset;
        std::uint32_t value;
        int width;
    } cases[] = {
        {"length beyond the file", 8, 0x7FFFFFF0, 4},
        {"length shorter than the columns", 8, 100, 4},
        {"column count", 45, 0xFFFF, 2},
        {"page type", 0, 0x07, 1},
        {"free-space figure", 2, 0x0123, 2},
    };
    for (const auto& c : cases) {
        B bad = good;
        if (c.width == 4) put32(bad.data() + base + c.offset, c.value);
        if (c.width == 2) put16(bad.data() + base + c.offset, static_cast<std::uint16_t>(c.value));
        if (c.width == 1) bad[base + c.offset] = static_cast<std::uint8_t>(c.value);
        auto db = openBytes(bad);
        const CheckReport r = check(*db);
        EXPECT_TRUE(reports(r, "table definition", "Table1")) << c.name << "\n" << describe(r);
    }
}

// ACE complex columns: counters behind their values, a complex id MSysComplexColumns lacks,
// flat rows whose row is gone.
TEST(Damage, ComplexColumns) {
    const B good = load("V2010/complexDataTestV2010.accdb");
    auto db = openBytes(good);
    const TableDef def = db->tableDef(*db->findTable("Table1"));
    const std::size_t base = static_cast<std::size_t>(def.page) * 4096;
    std::size_t attach = 0, firstComplex = 0;
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].name == "attach-data") attach = i;
        if (def.columns[i].type == ColumnType::Complex && !firstComplex) firstComplex = i + 1;
    }
    ASSERT_EQ(def.columns[attach].type, ColumnType::Complex);
    // Where row "row2" (complex value id 2, with attachments) keeps each complex column's id.
    std::vector<std::size_t> row2;
    db->forEachRawRow(def, [&](const RowLocation& where, Bytes) {
        const DataPage dp = readDataPage(db->file(), where.data.page, "data page");
        const std::size_t row =
            static_cast<std::size_t>(where.data.page) * 4096 + dp.slots[where.data.row].start;
        const std::size_t id = row + 2 + def.columns[firstComplex - 1].fixedOffset;
        if (le32(&good[id]) == 2)
            for (const Column& c : def.columns)
                if (c.type == ColumnType::Complex) row2.push_back(row + 2 + c.fixedOffset);
        return true;
    });
    ASSERT_FALSE(row2.empty());
    // The column's descriptor, in the definition's first page.
    const std::size_t descriptor = base + 63 + 12 * def.realIndexes.size() + 25 * attach;
    ASSERT_EQ(le32(&good[descriptor + 11]), def.columns[attach].complexId);
    struct Case {
        const char* name;
        std::vector<std::size_t> at;
        std::uint32_t value;
        const char* says;
    } cases[] = {
        {"next complex value id", {base + 28}, 1, "the last complex value id issued is 1"},
        {"complex id", {descriptor + 11}, 99, "which MSysComplexColumns does not list"},
        {"row's complex value id", row2, 5, "belong to no row"},
    };
    for (const auto& c : cases) {
        B bad = good;
        for (std::size_t at : c.at)
            put32(bad.data() + at, c.value);
        const CheckReport r = check(*openBytes(bad));
        const std::string text = describe(r);
        EXPECT_NE(text.find(c.says), std::string::npos) << c.name << "\n" << text;
    }
}

TEST(Damage, DataPage) {
    const B good = load("V2000/testV2000.mdb");
    const TableInfo t = tableInfo(good, "Table1");
    ASSERT_FALSE(t.dataPages.empty());
    const std::size_t base = static_cast<std::size_t>(t.dataPages[0]) * 4096;
    {
        B bad = good;
        put16(bad.data() + base + 14, 5); // row 0 starts inside the row-offset table
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "data page", "Table1")) << describe(r);
    }
    {
        B bad = good;
        put16(bad.data() + base + 2,
              static_cast<std::uint16_t>(bad[base + 2] + 1)); // free space off by one
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "data page", "Table1")) << describe(r);
    }
    {
        B bad = good;
        const std::uint16_t start =
            static_cast<std::uint16_t>((bad[base + 14] | bad[base + 15] << 8) & 0x1FFF);
        put16(bad.data() + base + start, 0xFFFF); // the row's column count
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "data page", "Table1")) << describe(r);
    }
}

TEST(Damage, LongValueChain) {
    // Table2's property blob in the catalog is a chain over pages 45..49, row 0 each.
    const B good = load("V1997/testV1997.mdb");
    auto db = openBytes(good);
    const DataPage seg = readDataPage(db->file(), 46, "page");
    const std::size_t at = 46 * 2048 + seg.slots[0].start;
    struct Case {
        const char* name;
        std::uint32_t next;
    } cases[] = {{"loop", 45u << 8},
                 {"missing row", (47u << 8) | 7},
                 {"cut short", 0},
                 {"off the file", 9999u << 8}};
    for (const auto& c : cases) {
        B bad = good;
        put32(bad.data() + at, c.next);
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "long value", "MSysObjects")) << c.name << "\n" << describe(r);
    }
}

TEST(Damage, IndexPage) {
    const B good = load("V1997/compIndexTestV1997.mdb");
    {
        // Leaf 37: a stored key byte raised so the entry sorts after its successors.
        B bad = good;
        bad[37 * 2048 + 248 + 40] = 0xFF;
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "index", "Table1")) << describe(r);
    }
    {
        // Root 36: its entry for child 37 raised above the first entry of child 38.
        B bad = good;
        bad[36 * 2048 + 248 + 1] = 0xFF;
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "index", "Table1")) << describe(r);
        bool named = false;
        for (const auto& p : r.problems)
            named = named || p.message.find("first entry of child 38") != std::string::npos;
        EXPECT_TRUE(named) << describe(r);
    }
    {
        B bad = good;
        bad[38 * 2048] = 0x09; // leaf 38 no longer an index page
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "index", "Table1")) << describe(r);
    }
    {
        B bad = good;
        bad[37 * 2048 + 12] = 39; // leaf chain skips page 38
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "index page", "Table1")) << describe(r);
    }
    {
        B bad = good;
        std::memset(&bad[39 * 2048 + 22], 0, 226); // last leaf loses its entries
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "index", "Table1")) << describe(r);
    }
}

TEST(Damage, UsageMaps) {
    const B good = load("V2000/testV2000.mdb");
    auto db = openBytes(good);
    const TableInfo t = tableInfo(good, "Table1");
    const DataPage host = readDataPage(db->file(), t.def.ownedMap.page, "host");
    const std::size_t mapAt =
        static_cast<std::size_t>(t.def.ownedMap.page) * 4096 + host.slots[t.def.ownedMap.row].start;
    {
        // Owned map also lists the table's definition page.
        B bad = good;
        const std::uint32_t start = bad[mapAt + 1] | bad[mapAt + 2] << 8;
        const std::uint32_t bit = t.def.page - start;
        bad[mapAt + 5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "owned-pages usage map", "Table1")) << describe(r);
    }
    {
        // Owned map loses its pages: the rows vanish from the table but not from its indexes
        // and row count.
        B bad = good;
        std::memset(&bad[mapAt + 5], 0, 64);
        const CheckReport r = check(*openBytes(bad));
        EXPECT_FALSE(r.sound()) << describe(r);
    }
    {
        // The global map marks the table's definition page free.
        const DataPage p1 = readDataPage(db->file(), 1, "p1");
        B bad = good;
        const std::size_t g = 4096 + p1.slots[0].start;
        const std::uint32_t start = bad[g + 1] | bad[g + 2] << 8;
        const std::uint32_t bit = t.def.page - start;
        bad[g + 5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "global usage map")) << describe(r);
    }
    {
        // Map type byte unknown.
        B bad = good;
        bad[mapAt] = 0x07;
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(reports(r, "owned-pages usage map", "Table1")) << describe(r);
    }
}

// Random byte changes all over small files: opening may fail with a JetError, check() only
// reports, and nothing crashes.
TEST(Damage, RandomBytesNeverCrash) {
    std::mt19937 rng(20261207);
    for (const char* rel :
         {"V1997/indexTestV1997.mdb", "V2000/overflowTestV2000.mdb", "V2000/test2V2000.mdb"}) {
        const B good = load(rel);
        for (int round = 0; round < 60; ++round) {
            B bad = good;
            const int changes = 1 + static_cast<int>(rng() % 16);
            for (int i = 0; i < changes; ++i) {
                // Mostly page headers and row tables, where damage reaches furthest.
                const std::size_t page = rng() % (bad.size() / 2048);
                const std::size_t off = rng() % 4 == 0 ? rng() % 2048 : rng() % 64;
                bad[std::min(bad.size() - 1, page * 2048 + off)] = static_cast<std::uint8_t>(rng());
            }
            std::unique_ptr<Database> db;
            try {
                db = openBytes(bad);
            } catch (const JetError&) {
                continue;
            }
            // check() promises never to throw, so nothing here catches what it might throw:
            // any exception fails the test.
            const CheckReport report = check(*db);
            (void)report;
            for (const auto* t : db->tables(true)) {
                try {
                    const TableDef& def = db->tableDef(*t);
                    std::string out;
                    db->forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
                        appendJsonRow(out, def, v);
                        return true;
                    });
                } catch (const JetError&) {
                }
            }
        }
    }
}

// A large table's rows and a table's indexes are read by two threads where the pages allow
// it: the report and the row digests must be those of a walk on one thread, damage included.
TEST(Damage, SameReportOnOneThreadOrTwo) {
    const B good = load("generated/gen2000-s303-6m.mdb");
    std::mt19937 rng(1207);
    for (int round = 0; round < 8; ++round) {
        B bad = good;
        for (int i = 0; round > 0 && i < 12; ++i) {
            const std::size_t page = 2 + rng() % (bad.size() / 4096 - 2);
            bad[page * 4096 + rng() % 96] = static_cast<std::uint8_t>(rng());
        }
        std::unique_ptr<Database> one, two;
        try {
            one = Database::open(unmappedSource(bad));
            two = openBytes(bad);
        } catch (const JetError&) {
            continue;
        }
        ASSERT_FALSE(one->file().readsConcurrently());
        ASSERT_TRUE(two->file().readsConcurrently());
        std::map<std::string, RowDigest> rowsOne, rowsTwo;
        const CheckReport a = check(*one, &rowsOne), b = check(*two, &rowsTwo);
        auto texts = [](const std::vector<Finding>& fs) {
            std::vector<std::string> t;
            for (const auto& f : fs)
                t.push_back(f.text());
            return t;
        };
        EXPECT_EQ(texts(a.problems), texts(b.problems)) << "round " << round;
        EXPECT_EQ(texts(a.notes), texts(b.notes)) << "round " << round;
        EXPECT_TRUE(rowsOne == rowsTwo) << "round " << round;
        if (round == 0) {
            EXPECT_TRUE(a.sound()) << describe(a);
        }
    }
}

// The command-line tool on copies in a private temporary folder.
class Tool : public ScratchFolder {
protected:
    int run(const std::string& args, std::string* out = nullptr) {
        int status = 0;
        const std::string text =
            test::run(std::string(TARNWICK_JET_TOOL) + " " + args, &status, true);
        if (out) *out = text;
        return status;
    }
};

TEST_F(Tool, ExitCodes) {
    const B good = load("V1997/compIndexTestV1997.mdb");
    const std::string sound = write("sound.mdb", good);
    std::string out;
    EXPECT_EQ(run("check " + sound, &out), 0) << out;
    EXPECT_NE(out.find("0 problems"), std::string::npos) << out;

    B bad = good;
    bad[37 * 2048 + 248 + 40] = 0xFF;
    EXPECT_EQ(run("check " + write("bad.mdb", bad), &out), 1) << out;
    EXPECT_NE(out.find("problem: index of table \"Table1\""), std::string::npos) << out;

    B header = good;
    header[0x14] = 9;
    EXPECT_EQ(run("check " + write("header.mdb", header), &out), 2) << out;
    EXPECT_NE(out.find("database definition page"), std::string::npos) << out;
    EXPECT_EQ(run("check " + (dir_ / "missing.mdb").string(), &out), 2) << out;
    EXPECT_EQ(run("info " + write("empty.mdb", {}), &out), 2) << out;

    EXPECT_EQ(run("export --json " + sound + " NoSuchTable", &out), 1) << out;
    EXPECT_EQ(run("export " + sound + " Table1", &out), 2) << out; // --json is required
    EXPECT_EQ(run("frobnicate " + sound, &out), 2) << out;
    EXPECT_EQ(run("--help", &out), 0);
    EXPECT_NE(out.find("export --json FILE TABLE"), std::string::npos);
    EXPECT_EQ(run("tables " + sound, &out), 0);
    EXPECT_EQ(out, "Table1\n");
    EXPECT_EQ(run("tables --system " + sound, &out), 0);
    EXPECT_NE(out.find("MSysObjects\n"), std::string::npos);
    EXPECT_EQ(run("info " + sound, &out), 0);
    EXPECT_NE(out.find("format: Jet 3"), std::string::npos) << out;
    EXPECT_NE(out.find("page count: 40"), std::string::npos) << out;
    std::string single;
    EXPECT_EQ(run("export --json " + sound + " Table1", &single), 0);
    EXPECT_EQ(std::count(single.begin(), single.end(), '\n'), 512);
    EXPECT_EQ(run("export --json --out " + (dir_ / "all").string() + " " + sound, &out), 0) << out;
    const auto written = readAll(dir_ / "all" / "Table1.json");
    EXPECT_EQ(std::string(written.begin(), written.end()), single);
    EXPECT_EQ(run("schema " + sound + " table1", &out), 0) << out;
    EXPECT_NE(out.find("column 0 CD_AGENTE"), std::string::npos) << out;
}

} // namespace

int main(int argc, char** argv) {
    return runCorpusTests(argc, argv);
}
