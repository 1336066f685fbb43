// `check` on index keys and index usage maps: a stored key that is not its row's key is a
// problem; a page the map lists but the tree no longer reaches is a note with the space it
// wastes; a tree page missing from the map is a problem.

#include "corpus.h"

#include "check/checkroom.h"
#include "jet/check.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/tabledef.h"
#include "jet/usagemap.h"
#include "read/datapage.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
using B = std::vector<std::uint8_t>;

namespace {

std::unique_ptr<Database> openBytes(const B& b) {
    return Database::open(memorySource(b));
}

std::string describe(const CheckReport& r) {
    std::string s;
    for (const auto& p : r.problems)
        s += "  problem: " + p.text() + "\n";
    for (const auto& n : r.notes)
        s += "  note: " + n.text() + "\n";
    return s;
}

const Finding* find(const std::vector<Finding>& in, const std::string& structure,
                    const std::string& text) {
    for (const auto& f : in)
        if (f.structure == structure && f.message.find(text) != std::string::npos) return &f;
    return nullptr;
}

// Byte offset of a map row in the file.
std::size_t mapOffset(const Database& db, RowPointer rp) {
    const DataPage host = readDataPage(db.file(), rp.page, "host");
    return static_cast<std::size_t>(rp.page) * db.format().pageSize + host.slots[rp.row].start;
}

void setBit(B& b, std::size_t map, std::uint32_t page, bool on) {
    const std::uint32_t start = b[map + 1] | b[map + 2] << 8 | b[map + 3] << 16;
    const std::uint32_t bit = page - start;
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    if (on)
        b[map + 5 + bit / 8] |= mask;
    else
        b[map + 5 + bit / 8] &= static_cast<std::uint8_t>(~mask);
}

TEST(IndexCheck, StoredKeyMustBeTheRowsKey) {
    // Table1's first index has one leaf; raising a key byte of its last entry keeps the order,
    // so only the key comparison sees it.
    const B good = readAll(corpusDir() / "V2000/indexTestV2000.mdb");
    auto db = openBytes(good);
    ASSERT_TRUE(check(*db).sound()) << describe(check(*db));
    const TableDef& def = db->tableDef(*db->findTable("Table1"));
    const IndexPage root = readIndexPage(db->file(), def.realIndexes[0].rootPage);
    ASSERT_TRUE(root.leaf);
    ASSERT_EQ(root.prefixLength, 0u);
    const std::size_t lastKeyByte =
        static_cast<std::size_t>(root.number) * 4096 + 480 + root.usedBytes - 5;
    B bad = good;
    ++bad[lastKeyByte];
    const CheckReport r = check(*openBytes(bad));
    const Finding* f = find(r.problems, "index", "stored key differs");
    ASSERT_TRUE(f) << describe(r);
    EXPECT_EQ(f->table, "Table1");
    EXPECT_FALSE(f->index.empty());
    EXPECT_EQ(f->page, root.entries.back().page);
    EXPECT_EQ(f->row, root.entries.back().row);
}

// A table with more rows than the check keeps is compared with its indexes in windows of
// rows read again: the same findings, whatever the room.
TEST(IndexCheck, FindingsDoNotDependOnTheRowRoom) {
    const B good = readAll(corpusDir() / "V2000/indexTestV2000.mdb");
    auto db = openBytes(good);
    const TableDef& def = db->tableDef(*db->findTable("Table1"));
    const IndexPage root = readIndexPage(db->file(), def.realIndexes[0].rootPage);
    ASSERT_TRUE(root.leaf);
    ASSERT_GE(root.entries.size(), 2u);
    const std::size_t end = static_cast<std::size_t>(root.number) * 4096 + 480 + root.usedBytes;
    const struct {
        const char* name;
        std::size_t at;
        std::uint8_t add;
        const char* expected;
    } cases[] = {
        {"key byte", end - 5, 1, "stored key differs"},
        {"row of the last entry", end - 1, 7, "live row has no entry in the index"},
        {"page of the last entry", end - 2, 1, "entry points at a missing or deleted row"},
    };
    auto texts = [](const CheckReport& r) {
        std::vector<std::string> out;
        for (const auto& f : r.problems)
            out.push_back(f.text());
        for (const auto& f : r.notes)
            out.push_back("note " + f.text());
        std::sort(out.begin(), out.end());
        return out;
    };
    for (const auto& c : cases) {
        B bad = good;
        bad[c.at] = static_cast<std::uint8_t>(bad[c.at] + c.add);
        auto damaged = openBytes(bad);
        const CheckReport all = check(*damaged);
        ASSERT_TRUE(find(all.problems, "index", c.expected)) << c.name << "\n" << describe(all);
        for (std::size_t room : {1, 3}) {
            const CheckReport windowed = checkWithRowRoom(*damaged, room);
            EXPECT_EQ(texts(windowed), texts(all)) << c.name << ", room " << room << "\n"
                                                   << describe(windowed);
        }
    }
}

TEST(IndexCheck, UsageMapAgainstTree) {
    const B good = readAll(corpusDir() / "V1997/indexTestV1997.mdb");
    auto db = openBytes(good);
    const CheckReport before = check(*db);
    ASSERT_TRUE(before.sound()) << describe(before);
    const TableDef& def = db->tableDef(*db->findTable("Table1"));
    const RealIndex& ri = def.realIndexes[0];
    const std::size_t indexMap = mapOffset(*db, ri.usageMap);
    ASSERT_EQ(good[indexMap], 0) << "inline map expected";

    // A page the global map marks free, listed by the index map and no longer marked free: the
    // page is leaked and counted once.
    const UsageMap global = db->globalUsageMap();
    ASSERT_FALSE(global.pages.empty());
    const std::uint32_t freed = global.pages.front();
    {
        B bad = good;
        setBit(bad, indexMap, freed, true);
        setBit(bad, mapOffset(*db, {1, 0}), freed, false);
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(r.sound()) << describe(r);
        const Finding* f = find(r.notes, "index usage map", "no longer reaches");
        ASSERT_TRUE(f) << describe(r);
        EXPECT_EQ(f->reclaimableBytes, 2048u);
        EXPECT_NE(f->message.find(std::to_string(freed)), std::string::npos) << f->message;
        EXPECT_EQ(r.reclaimableBytes, before.reclaimableBytes + 2048) << describe(r);
    }
    // Still marked free in the global map: nothing is wasted.
    {
        B bad = good;
        setBit(bad, indexMap, freed, true);
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(r.sound()) << describe(r);
        const Finding* f = find(r.notes, "index usage map", "no longer reaches");
        ASSERT_TRUE(f) << describe(r);
        EXPECT_EQ(f->reclaimableBytes, 0u);
    }
    // A listed page that holds something else is damage.
    {
        B bad = good;
        setBit(bad, indexMap, def.page, true);
        const CheckReport r = check(*openBytes(bad));
        EXPECT_TRUE(find(r.problems, "index usage map", "which is used as table definition"))
            << describe(r);
    }
    // The root missing from the map is damage, and the message counts the tree's pages.
    {
        B bad = good;
        setBit(bad, indexMap, ri.rootPage, false);
        const CheckReport r = check(*openBytes(bad));
        const Finding* f = find(r.problems, "index usage map", "missing from the map");
        ASSERT_TRUE(f) << describe(r);
        EXPECT_NE(f->message.find("the tree has 1 pages"), std::string::npos) << f->message;
    }
}

// The walk checks each parent entry against its child's first and last entries as it meets
// them. Swapping two children of an intermediate root makes both checks fail; walking the
// sound tree, every entry comes back in order.
TEST(IndexCheck, ParentEntriesMustBoundTheirChildren) {
    const B good = readAll(corpusDir() / "generated/gen2000-s303-6m.mdb");
    auto db = openBytes(good);
    const std::size_t pageSize = db->format().pageSize;
    for (const CatalogEntry* t : db->tables(false)) {
        const TableDef& def = db->tableDef(*t);
        for (const RealIndex& ri : def.realIndexes) {
            const IndexPage root = readIndexPage(db->file(), ri.rootPage);
            if (root.leaf || root.entries.size() < 2) continue;
            const IndexWalk walk = walkIndex(db->file(), ri.rootPage, def.page, 0);
            ASSERT_TRUE(walk.problems.empty()) << walk.problems.front();
            for (std::size_t i = 1; i < walk.entries.size(); ++i)
                ASSERT_LT(walk.entries[i - 1].compare(walk.entries[i]), 0) << t->name << " " << i;
            // The children are the last four bytes of their entries, big-endian.
            B bad = good;
            const std::size_t at = ri.rootPage * pageSize;
            auto childAt = [&](std::uint32_t child) {
                for (std::size_t o = at + db->format().indexFirstEntry; o + 4 <= at + pageSize; ++o)
                    if ((std::uint32_t{bad[o]} << 24 | std::uint32_t{bad[o + 1]} << 16 |
                         std::uint32_t{bad[o + 2]} << 8 | bad[o + 3]) == child)
                        return o;
                return std::size_t{0};
            };
            const std::size_t a = childAt(root.entries[0].child),
                              b = childAt(root.entries[1].child);
            ASSERT_TRUE(a && b);
            for (int k = 0; k < 4; ++k)
                std::swap(bad[a + k], bad[b + k]);
            const IndexWalk swapped = walkIndex(openBytes(bad)->file(), ri.rootPage, def.page, 0);
            std::string all;
            for (const auto& p : swapped.problems)
                all += p + "\n";
            EXPECT_NE(all.find("is smaller than the child's last entry"), std::string::npos) << all;
            EXPECT_NE(all.find("is not smaller than the first entry of child"), std::string::npos)
                << all;
            return;
        }
    }
    FAIL() << "no index with an intermediate root";
}

} // namespace

int main(int argc, char** argv) {
    return runCorpusTests(argc, argv);
}
