// Compaction and repair of copies of the test databases, in a private temporary folder: every
// output checks clean and holds the source's rows; the original survives every failure.

#include "corpus.h"
#include "scratch.h"

#include "jet/bytes.h"
#include "jet/check.h"
#include "jet/compact.h"
#include "jet/complex.h"
#include "jet/database.h"
#include "jet/header.h"
#include "jet/index.h"
#include "jet/json.h"
#include "jet/pagefile.h"
#include "jet/row.h"
#include "jet/tabledef.h"
#include "jet/usagemap.h"
#include "jet/value.h"
#include "maintain/verify.h"
#include "platform/posix/tempfiles.h"
#include "read/datapage.h"
#include "read/longvalue.h"
#include "write/pagewriter.h"
#include "write/rebuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
namespace fs = std::filesystem;
using B = std::vector<std::uint8_t>;
using Rows = std::map<std::string, std::vector<std::string>>;

namespace {

// User-table rows as export lines, sorted; tables that cannot be read are left out when
// `tolerant`, so that a damaged file's readable rows can be listed.
Rows userRows(const std::string& path, bool tolerant = false) {
    Rows rows;
    auto db = Database::open(path);
    for (const auto* t : db->tables(false)) {
        std::vector<std::string> lines;
        try {
            const TableDef& def = db->tableDef(*t);
            const ComplexValues complex(*db, def);
            db->forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
                std::string line;
                appendJsonRow(line, def, v, &complex);
                lines.push_back(std::move(line));
                return true;
            });
        } catch (const JetError&) {
            if (!tolerant) throw;
        }
        std::sort(lines.begin(), lines.end());
        rows[t->name] = std::move(lines);
    }
    return rows;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto nl = text.find('\n', at);
        out.push_back(text.substr(at, nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool haveMdbJson() {
    int status = 0;
    run("command -v mdb-json", &status);
    return status == 0;
}

class Compact : public ScratchFolder {
protected:
    // Names in the folder other than those given: temporary files left behind.
    std::vector<std::string> strays(const std::vector<std::string>& expected) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_))
            if (std::find(expected.begin(), expected.end(), e.path().filename().string()) ==
                expected.end())
                out.push_back(e.path().filename().string());
        return out;
    }
};

TEST_F(Compact, EveryCorpusFileShrinksChecksCleanAndKeepsItsRows) {
    auto files = corpusFiles();
    for (const auto& f : aceCorpusFiles())
        files.push_back(f);
    for (const auto& original : files) {
        SCOPED_TRACE(original.string());
        const bool ace = original.extension() == ".accdb";
        const bool mdbJson = !ace && haveMdbJson();
        // A copy: compacting locks its source, and other tests read the shared files meanwhile.
        const std::string src = copy(original, "src.mdb");
        const std::string out = (dir_ / "out.mdb").string(), again = (dir_ / "again.mdb").string();
        fs::remove(out);
        fs::remove(again);
        const CompactReport r = compact(src, out);
        EXPECT_LE(fs::file_size(out), fs::file_size(src));
        EXPECT_EQ(r.sizeAfter, fs::file_size(out));
        if (original.parent_path().filename() == "generated") {
            EXPECT_LE(fs::file_size(out) * 10, fs::file_size(src) * 8);
        }
        const auto compacted = Database::open(out);
        const CheckReport c = check(*compacted);
        EXPECT_TRUE(c.sound()) << (c.problems.empty() ? "" : c.problems.front().text());
        // The exact format is kept: version byte and the byte after it.
        const auto source = Database::open(src);
        EXPECT_EQ(compacted->header().aceVersion, source->header().aceVersion);
        EXPECT_EQ(compacted->header().decoded[0x15], source->header().decoded[0x15]);
        const Rows rows = userRows(src);
        EXPECT_EQ(userRows(out), rows);
        // Row counts are those of the rows written, even where the source's was stale.
        for (const auto* t : compacted->tables(false))
            EXPECT_EQ(compacted->tableDef(*t).rowCount, rows.at(t->name).size()) << t->name;
        if (mdbJson)
            for (const auto& [table, lines] : rows) {
                const auto a = sortedLines(run("mdb-json '" + src + "' '" + table + "'"));
                const auto b = sortedLines(run("mdb-json '" + out + "' '" + table + "'"));
                EXPECT_EQ(a, b) << "mdb-json, table " << table;
            }
        // A compacted file compacts to the same size and rows.
        compact(out, again);
        EXPECT_EQ(fs::file_size(again), fs::file_size(out));
        EXPECT_EQ(userRows(again), rows);
    }
}

// A large table's rows are prepared on two threads when pages can be read at once, and page
// by page otherwise: both must write the same file.
TEST_F(Compact, SameFileWhetherRowsArePreparedOnOneThreadOrTwo) {
    const B bytes = readAll(corpusDir() / "generated/gen2000-s303-6m.mdb");
    auto rebuildInto = [&](std::unique_ptr<ByteSource> source, const std::string& name) {
        auto db = Database::open(std::move(source));
        const std::string path = (dir_ / name).string();
        PageWriter out(path, db->format(), 0);
        rebuildDatabase(*db, out, {});
        return readAll(path);
    };
    const B two = rebuildInto(memorySource(bytes), "two.mdb");
    const B one = rebuildInto(unmappedSource(bytes), "one.mdb");
    EXPECT_TRUE(one == two) << one.size() << " and " << two.size() << " bytes";
}

// Index entries beyond the budget are sorted in runs through a temporary file and merged: the
// file is the one written holding them all, and the command with its smallest budget runs
// within an address-space limit of its two mapped files, that budget and a fixed part.
TEST_F(Compact, SpilledIndexEntriesWriteTheSameFileWithinAnAddressLimit) {
    const fs::path src = corpusDir() / "generated/gen2000-s303-6m.mdb";
    const B bytes = readAll(src);
    auto rebuildInto = [&](const std::string& name, std::size_t entryMemory) {
        auto db = Database::open(memorySource(bytes));
        const std::string path = (dir_ / name).string();
        PageWriter out(path, db->format(), 0);
        RebuildOptions ro;
        ro.entryMemory = entryMemory;
        ro.spillFolder = dir_.string();
        rebuildDatabase(*db, out, ro);
        return readAll(path);
    };
    const B whole = rebuildInto("whole.mdb", 0);
    const B spilled = rebuildInto("spilled.mdb", 1); // runs of the fewest entries
    EXPECT_TRUE(spilled == whole) << spilled.size() << " and " << whole.size() << " bytes";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory needs more address space than that";
#endif

    const std::string out = (dir_ / "limited.mdb").string();
    const std::size_t limitKiB = (2 * bytes.size() + ((16u + 32u) << 20)) >> 10;
    int status = -1;
    const std::string text =
        run("ulimit -v " + std::to_string(limitKiB) + " && MALLOC_ARENA_MAX=1 " +
                TARNWICK_JET_TOOL + " compact " + src.string() + " --out " + out + " --memory 16",
            &status, true);
    ASSERT_EQ(status, 0) << text;
    EXPECT_TRUE(readAll(out) == whole);
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_EQ(e.path().extension(), ".mdb") << "left behind: " << e.path();
}

// What check and info say a compaction wins back is within a tenth of what it wins.
TEST_F(Compact, EstimateIsWithinATenthOfTheGain) {
    for (const auto& e : fs::directory_iterator(corpusDir() / "generated")) {
        if (e.path().extension() != ".mdb") continue;
        SCOPED_TRACE(e.path().filename().string());
        const std::string out = (dir_ / "out.mdb").string();
        fs::remove(out);
        const double estimate =
            static_cast<double>(estimateCompaction(*Database::open(e.path())).reclaimable());
        compact(e.path().string(), out);
        const double gain = static_cast<double>(fs::file_size(e.path()) - fs::file_size(out));
        ASSERT_GT(gain, 0);
        EXPECT_NEAR(estimate, gain, gain / 10);
    }
}

TEST_F(Compact, EncryptThenDecryptRoundTrips) {
    for (const char* rel : {"V1997/testV1997.mdb", "V2000/test2V2000.mdb"}) {
        SCOPED_TRACE(rel);
        const std::string src = copy(corpusDir() / rel, "src.mdb");
        const std::string plain = (dir_ / "plain.mdb").string(), enc = (dir_ / "enc.mdb").string(),
                          dec = (dir_ / "dec.mdb").string();
        for (const auto& p : {plain, enc, dec})
            fs::remove(p);
        CompactOptions encrypt, decrypt;
        encrypt.encoding = PageEncoding::Encrypt;
        decrypt.encoding = PageEncoding::Decrypt;
        compact(src, plain);
        compact(src, enc, encrypt);
        auto db = Database::open(enc);
        EXPECT_NE(db->header().databaseKey, 0u);
        EXPECT_TRUE(check(*db).sound());
        EXPECT_EQ(userRows(enc), userRows(src));
        EXPECT_NE(readAll(enc), readAll(plain));
        compact(enc, dec, decrypt);
        EXPECT_EQ(Database::open(dec)->header().databaseKey, 0u);
        EXPECT_EQ(readAll(dec), readAll(plain)); // the rebuild is deterministic
    }
}

TEST_F(Compact, UnsupportedOptionsAreRefusedBeforeWriting) {
    const std::string src = (corpusDir() / "V2000/testV2000.mdb").string();
    const std::string out = (dir_ / "out.mdb").string();
    CompactOptions sort;
    sort.sortOrder = 1053;
    CompactOptions format;
    format.formatVersion = 2;
    CompactOptions password;
    password.password = "secret";
    for (const auto& o : {sort, format, password}) {
        EXPECT_THROW(compact(src, out, o), JetError);
        EXPECT_FALSE(fs::exists(out));
    }
    // ACE files are protected by Office encryption, never by the Jet page key.
    CompactOptions encrypt;
    encrypt.encoding = PageEncoding::Encrypt;
    EXPECT_THROW(compact((corpusDir() / "V2010/testV2010.accdb").string(), out, encrypt),
                 RewriteRefused);
    EXPECT_FALSE(fs::exists(out));
    const std::string taken = write("taken.mdb", {1, 2, 3});
    EXPECT_THROW(compact(src, taken), JetError);
    EXPECT_EQ(readAll(taken), (B{1, 2, 3}));
}

// Where the damage kinds below strike: the user table with the most rows among those with an
// index, a live row of it, a leaf of its first index, and a long value stored as a chain of
// segments (user tables first).
const TableDef& victim(const Database& db) {
    const TableDef* best = nullptr;
    for (const auto* t : db.tables(false)) {
        const TableDef& d = db.tableDef(*t);
        if (!d.realIndexes.empty() && (!best || d.rowCount > best->rowCount)) best = &d;
    }
    if (!best) throw std::runtime_error("no indexed user table");
    return *best;
}

std::size_t firstRowAt(const Database& db, const TableDef& def) {
    RowPointer at;
    db.forEachRawRow(def, [&](const RowLocation& where, Bytes) {
        at = where.data;
        return false;
    });
    const DataPage dp = readDataPage(db.file(), at.page, "page");
    return std::size_t{at.page} * db.format().pageSize + dp.slots[at.row].start;
}

// Where the first segment of a long value stored as a chain begins, and where it points;
// chains of more than one segment first.
std::pair<std::size_t, std::uint32_t> chainSegmentAt(const Database& db) {
    auto tables = db.tables(false);
    for (const auto* t : db.tables(true))
        if (std::find(tables.begin(), tables.end(), t) == tables.end()) tables.push_back(t);
    std::optional<std::pair<std::size_t, std::uint32_t>> single;
    for (const auto* t : tables) {
        const TableDef& def = db.tableDef(*t);
        std::optional<std::pair<std::size_t, std::uint32_t>> found;
        db.forEachRawRow(def, [&](const RowLocation& where, Bytes row) {
            const auto fields = splitRow(db.format(), def, row, "row", where.data.page, 0);
            for (std::size_t c = 0; c < def.columns.size() && !found; ++c) {
                if (!def.columns[c].isLong() || !fields[c].present || fields[c].data.size() < 12)
                    continue;
                const LongValueRef ref = parseLongValueRef(fields[c].data, "lv", 0);
                if (ref.kind != LongValueKind::Chain) continue;
                const DataPage seg = readDataPage(db.file(), ref.first.page, "page");
                const std::pair at{std::size_t{ref.first.page} * db.format().pageSize +
                                       seg.slots[ref.first.row].start,
                                   ref.first.page << 8 | ref.first.row};
                if (le32(seg.row(ref.first.row).data()) != 0)
                    found = at;
                else if (!single)
                    single = at;
            }
            return !found;
        });
        if (found) return *found;
    }
    if (!single) throw std::runtime_error("no long value in a chain");
    return *single;
}

// Each kind of damage the checker names, in a Jet file and in Access 2007+ files (one with
// attachments), repaired into a clean file keeping every row that was readable; a repair with
// losses reports them and leaves the damaged file as it was.
TEST_F(Compact, RepairSalvagesEachDamageKind) {
    const std::vector<std::string> ace = {"V2010/complexDataTestV2010.accdb",
                                          "V2007/testV2007.accdb",
                                          "generated/gen2016-s606-3m.accdb"};
    struct Case {
        const char* name;
        const char* file; // besides the Access 2007+ ones
        std::function<void(B&, const Database&)> damage;
    } cases[] = {
        // A chain of one segment (some files hold no longer ones) is looped instead.
        {"long-value chain cut short or looped", "V1997/testV1997.mdb",
         [](B& b, const Database& db) {
             const auto [at, self] = chainSegmentAt(db);
             put32(b.data() + at, le32(b.data() + at) ? 0 : self);
         }},
        {"index leaf overwritten", "V1997/compIndexTestV1997.mdb",
         [](B& b, const Database& db) {
             const TableDef& def = victim(db);
             const IndexWalk w = walkIndex(db.file(), def.realIndexes[0].rootPage, def.page);
             std::vector<std::uint32_t> leaves;
             for (std::size_t i = 0; i < w.pages.size(); ++i)
                 if (w.heads[i].leaf) leaves.push_back(w.pages[i]);
             b[std::size_t{leaves[leaves.size() / 2]} * db.format().pageSize] = 0x09;
         }},
        {"row column count", "V2000/testV2000.mdb",
         [](B& b, const Database& db) { put16(b.data() + firstRowAt(db, victim(db)), 0xFFFF); }},
        {"owned map emptied", "V2000/indexTestV2000.mdb",
         [](B& b, const Database& db) {
             const TableDef& def = victim(db);
             const DataPage host = readDataPage(db.file(), def.ownedMap.page, "host");
             const RowSlot& slot = host.slots[def.ownedMap.row];
             const std::size_t at =
                 std::size_t{def.ownedMap.page} * db.format().pageSize + slot.start;
             // Past the type byte: the bitmap of an inline map, the bitmap pages of a reference
             // map.
             std::fill(b.begin() + static_cast<std::ptrdiff_t>(at + (b[at] ? 1 : 5)),
                       b.begin() + static_cast<std::ptrdiff_t>(
                                       at + std::min<std::size_t>(69, slot.length())),
                       0);
         }},
        {"definition length beyond the file", "V2000/testV2000.mdb",
         [](B& b, const Database& db) {
             put32(b.data() + std::size_t{victim(db).page} * db.format().pageSize + 8, 0x7FFFFFF0);
         }},
    };
    for (const auto& c : cases) {
        std::vector<std::string> files = {c.file};
        files.insert(files.end(), ace.begin(), ace.end());
        for (const auto& file : files) {
            SCOPED_TRACE(std::string(c.name) + " in " + file);
            for (const auto& e : fs::directory_iterator(dir_))
                fs::remove(e.path());
            B bytes = readAll(corpusDir() / file);
            {
                auto db = Database::open(memorySource(bytes));
                c.damage(bytes, *db);
            }
            const std::string ext = fs::path(file).extension().string();
            const std::string path = write("db" + ext, bytes);
            const Rows before = userRows(path, true);
            ASSERT_FALSE(check(*Database::open(path)).sound());
            // Names a salvage could take this minute are someone's files: never replaced.
            std::vector<std::string> taken;
            for (std::time_t t = std::time(nullptr), end = t + 60; t < end; ++t) {
                char stamp[32];
                std::tm tm{};
                ::localtime_r(&t, &tm);
                std::strftime(stamp, sizeof stamp, "db.repaired-%Y%m%d-%H%M%S", &tm);
                taken.push_back(write(stamp + ext, {1}));
            }
            const RepairReport r = repair(path);
            for (const auto& t : taken)
                EXPECT_EQ(readAll(t), B{1}) << t;
            // A repair that would lose something leaves the file and writes its salvage beside.
            EXPECT_NE(r.repaired, r.lost);
            if (r.lost) {
                EXPECT_EQ(readAll(path), bytes);
                EXPECT_NE(r.salvaged.find(".repaired-"), std::string::npos) << r.salvaged;
                EXPECT_EQ(fs::path(r.salvaged).parent_path(), fs::path(path).parent_path());
                EXPECT_FALSE(r.lossSummary.empty());
            }
            const std::string out = r.lost ? r.salvaged : path;
            const CheckReport after = check(*Database::open(out));
            EXPECT_TRUE(after.sound())
                << (after.problems.empty() ? "" : after.problems.front().text());
            const Rows now = userRows(out);
            for (const auto& [table, lines] : before) {
                if (!now.count(table)) {
                    EXPECT_TRUE(r.lost) << table << " dropped silently";
                    EXPECT_NE(r.lossSummary.find(table), std::string::npos) << r.lossSummary;
                    continue;
                }
                for (const auto& line : lines)
                    EXPECT_TRUE(
                        std::binary_search(now.at(table).begin(), now.at(table).end(), line))
                        << "readable row lost from " << table << ": " << line;
            }
        }
    }
    // A sound file is not written at all.
    for (const auto& e : fs::directory_iterator(dir_))
        fs::remove(e.path());
    const std::string sound = copy(corpusDir() / "V2000/testV2000.mdb", "sound.mdb");
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, sound.c_str(), old, 0), 0);
    const RepairReport r = repair(sound);
    EXPECT_FALSE(r.repaired);
    struct stat st {};
    ASSERT_EQ(::stat(sound.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(readAll(sound), readAll(corpusDir() / "V2000/testV2000.mdb"));
    EXPECT_EQ(strays({"sound.mdb"}), std::vector<std::string>{});
}

// Random damage: repair never crashes, leaves a file that checks clean, and keeps every row of
// each table that was wholly readable before.
TEST_F(Compact, RepairOfRandomDamage) {
    std::mt19937 rng(11);
    for (const char* rel : {"V1997/indexTestV1997.mdb", "V2000/overflowTestV2000.mdb",
                            "V2010/complexDataTestV2010.accdb"}) {
        const B good = readAll(corpusDir() / rel);
        for (int round = 0; round < 15; ++round) {
            SCOPED_TRACE(std::string(rel) + " round " + std::to_string(round));
            for (const auto& e : fs::directory_iterator(dir_))
                fs::remove(e.path());
            B bad = good;
            const std::size_t pageSize = bad[0x14] ? 4096 : 2048;
            for (int k = 0; k < 6; ++k) {
                const std::size_t page = 2 + rng() % (bad.size() / pageSize - 2); // not the header
                bad[page * pageSize + rng() % pageSize] = static_cast<std::uint8_t>(rng());
            }
            const std::string path = write("db.mdb", bad);
            Rows before;
            try {
                before = userRows(path, true);
            } catch (const JetError&) {
                continue; // the catalog itself is gone
            }
            RepairReport r;
            try {
                r = repair(path);
            } catch (const JetError&) {
                EXPECT_EQ(readAll(path), bad); // refused: untouched
                continue;
            }
            if (r.lost) {
                EXPECT_EQ(readAll(path), bad);
            }
            const std::string out = r.lost ? r.salvaged : path;
            EXPECT_TRUE(check(*Database::open(out)).sound());
            const Rows now = userRows(out, true);
            for (const auto& [table, lines] : before) {
                if (lines.empty() || !now.count(table)) continue;
                for (const auto& line : lines)
                    EXPECT_TRUE(
                        std::binary_search(now.at(table).begin(), now.at(table).end(), line))
                        << table << ": " << line;
            }
        }
    }
}

// A minimal POSIX access ACL: owner rw, user 65534 r, group r, mask r, other none.
B aclWithEntry() {
    B acl(4 + 5 * 8);
    put32(acl.data(), 2);
    const std::uint16_t tags[] = {0x01, 0x02, 0x04, 0x10, 0x20};
    const std::uint16_t perms[] = {6, 4, 4, 4, 0};
    for (int i = 0; i < 5; ++i) {
        put16(acl.data() + 4 + 8 * i, tags[i]);
        put16(acl.data() + 6 + 8 * i, perms[i]);
        put32(acl.data() + 8 + 8 * i, tags[i] == 0x02 ? 65534 : 0xFFFFFFFF);
    }
    return acl;
}

B xattr(const std::string& path, const char* name) {
    const ssize_t n = ::getxattr(path.c_str(), name, nullptr, 0);
    if (n < 0) return {};
    B v(static_cast<std::size_t>(n));
    ::getxattr(path.c_str(), name, v.data(), v.size());
    return v;
}

TEST_F(Compact, InPlaceKeepsModeGroupAclAndAttributes) {
    const std::string db = copy(corpusDir() / "generated/gen2000-s101-3m.mdb", "db.mdb");
    ASSERT_EQ(::chmod(db.c_str(), 0640), 0);
    const bool otherGroup = ::chown(db.c_str(), static_cast<uid_t>(-1), 65534) == 0;
    const B acl = aclWithEntry();
    if (::setxattr(db.c_str(), "user.tarnwick-test", "kept", 4, 0) != 0 ||
        ::setxattr(db.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes or ACLs";
    struct stat before {};
    ASSERT_EQ(::stat(db.c_str(), &before), 0);
    const Rows rows = userRows(db);

    const CompactReport r = compactInPlace(db);
    EXPECT_FALSE(r.alreadyCompact);
    EXPECT_LT(r.sizeAfter, r.sizeBefore);
    struct stat after {};
    ASSERT_EQ(::stat(db.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
    EXPECT_EQ(after.st_uid, before.st_uid);
    if (otherGroup) {
        EXPECT_EQ(after.st_gid, 65534u);
    }
    EXPECT_EQ(xattr(db, "user.tarnwick-test"), (B{'k', 'e', 'p', 't'}));
    EXPECT_EQ(xattr(db, "system.posix_acl_access"), acl);
    EXPECT_EQ(userRows(db), rows);
    EXPECT_EQ(strays({"db.mdb"}), std::vector<std::string>{});

    // Compacting again wins nothing: the file is left as it is.
    const B bytes = readAll(db);
    const CompactReport again = compactInPlace(db);
    EXPECT_TRUE(again.alreadyCompact);
    struct stat third {};
    ASSERT_EQ(::stat(db.c_str(), &third), 0);
    EXPECT_EQ(third.st_ino, after.st_ino);
    EXPECT_EQ(readAll(db), bytes);

    // The folder's default ACL does not reach the new file of a database without an ACL.
    ASSERT_EQ(::removexattr(db.c_str(), "system.posix_acl_access"), 0);
    ASSERT_EQ(::setxattr(dir_.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
    CompactOptions encrypt;
    encrypt.encoding = PageEncoding::Encrypt;
    compactInPlace(db, encrypt);
    EXPECT_EQ(::removexattr(dir_.c_str(), "system.posix_acl_default"), 0);
    EXPECT_EQ(xattr(db, "system.posix_acl_access"), B{});
}

// A helper process holding an fcntl lock on `path` until told to go.
class LockHolder {
public:
    explicit LockHolder(const std::string& path) {
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(go[1]);
            ::close(ready[0]);
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = 0x10000000; // a byte range, as file servers lock for their clients
            fl.l_len = 1;
            const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(go[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_ = go[1];
        char c = 'n';
        locked_ = ::read(ready[0], &c, 1) == 1 && c == 'y';
        ::close(ready[0]);
    }
    ~LockHolder() {
        ::close(go_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool locked_ = false;
};

TEST_F(Compact, HeldDatabaseIsRefusedAndLeftAlone) {
    struct Case {
        const char* sample;
        const char* name;
        const char* lock;
    } cases[] = {{"generated/gen2000-s101-3m.mdb", "db.mdb", "db.ldb"},
                 {"generated/gen2016-s606-3m.accdb", "db.accdb", "db.laccdb"}};
    for (const auto& c : cases) {
        const std::string db = copy(corpusDir() / c.sample, c.name);
        const B bytes = readAll(db);
        const std::string ldb = (dir_ / c.lock).string();
        for (const std::string& held : {db, ldb}) {
            SCOPED_TRACE(held);
            LockHolder holder(held);
            ASSERT_TRUE(holder.locked());
            try {
                compactInPlace(db);
                ADD_FAILURE() << "compacted a database in use";
            } catch (const DatabaseInUse& e) {
                EXPECT_NE(std::string(e.what()).find("the database is in use"), std::string::npos);
            }
            EXPECT_THROW(repair(db), DatabaseInUse);
            EXPECT_EQ(readAll(db), bytes);
        }
        EXPECT_TRUE(fs::exists(ldb)); // a lock file is never removed
        EXPECT_EQ(strays({c.name, c.lock}), std::vector<std::string>{});
        fs::remove(db);
        fs::remove(ldb);
    }
}

// An ACE file encrypted with a database password: every command says so in one line and
// neither its bytes nor its times change.
TEST_F(Compact, EncryptedAceFileIsRefusedAndLeftAlone) {
    const std::string tool = TARNWICK_JET_TOOL;
    const std::string db = copy(corpusDir() / "encrypted/V2010_with-password.accdb", "pw.accdb");
    const B bytes = readAll(db);
    struct stat before {};
    ASSERT_EQ(::stat(db.c_str(), &before), 0);
    const std::string line =
        "tarnwick-jet: " + db + " is encrypted with a database password; Tarnwick cannot open it\n";
    for (const std::string args : {"info", "check", "export --json", "compact", "repair"}) {
        int status = -1;
        const std::string table = args == "export --json" ? " Table1" : "";
        EXPECT_EQ(run(tool + " " + args + " " + db + table, &status, true), line) << args;
        EXPECT_EQ(status, 2) << args;
    }
    EXPECT_THROW(compactInPlace(db), DatabaseEncrypted);
    EXPECT_THROW(repair(db), DatabaseEncrypted);
    struct stat after {};
    ASSERT_EQ(::stat(db.c_str(), &after), 0);
    EXPECT_EQ(readAll(db), bytes);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
    EXPECT_EQ(strays({"pw.accdb"}), std::vector<std::string>{});
}

TEST_F(Compact, TemporaryFileOfAKilledRunIsRemovedNextTime) {
    const std::string db = copy(corpusDir() / "generated/gen2000-s101-3m.mdb", "db.mdb");
    const pid_t child = ::fork();
    if (child == 0) {
        // A run that dies right after creating its temporary file.
        const int folder = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
        std::string name;
        tarnwick::posix::createTemp(folder, {}, &name);
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(strays({"db.mdb"}).size(), 1u);
    compactInPlace(db);
    EXPECT_EQ(strays({"db.mdb"}), std::vector<std::string>{});
}

// Runs `body` in a child with a private mount namespace holding a small tmpfs at `dir`; the
// child's exit status says how it went (77: no namespace to be had here).
int inPrivateTmpfs(const fs::path& dir, const std::string& options,
                   const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            const uid_t uid = ::getuid();
            const gid_t gid = ::getgid();
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(77);
            auto put = [](const char* file, const std::string& text) {
                const int fd = ::open(file, O_WRONLY);
                const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) ==
                                               static_cast<ssize_t>(text.size());
                if (fd >= 0) ::close(fd);
                return ok;
            };
            put("/proc/self/setgroups", "deny");
            if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
                ::_exit(77);
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
            ::_exit(77);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Compact, FullDiskAndReadOnlyFolderLeaveTheOriginal) {
    const fs::path src = corpusDir() / "generated/gen2000-s101-3m.mdb";
    const auto size = fs::file_size(src);
    const fs::path mnt = dir_ / "mnt";
    fs::create_directory(mnt);
    // Each body: 0 passed; 1 failed (message on stderr).
    auto attempt = [&](bool readOnly) {
        return [&, readOnly]() -> int {
            const fs::path db = mnt / "db.mdb";
            fs::copy_file(src, db);
            fs::permissions(db, fs::perms::owner_write, fs::perm_options::add);
            const B bytes = readAll(db);
            if (readOnly &&
                ::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return 77;
            try {
                compactInPlace(db.string());
                std::fprintf(stderr, "compaction succeeded where it cannot\n");
                return 1;
            } catch (const JetError& e) {
                std::fprintf(stderr, "refused as expected: %s\n", e.what());
            }
            if (readAll(db) != bytes) return std::fprintf(stderr, "original changed\n"), 1;
            for (const auto& e : fs::directory_iterator(mnt))
                if (e.path().filename() != "db.mdb")
                    return std::fprintf(stderr, "left %s\n", e.path().c_str()), 1;
            return 0;
        };
    };
    const std::string full = "size=" + std::to_string(size + size / 4);
    int status = inPrivateTmpfs(mnt, full, attempt(false));
    if (status == 77) GTEST_SKIP() << "no private mount namespace for a small tmpfs here";
    EXPECT_EQ(status, 0) << "full disk";
    EXPECT_EQ(inPrivateTmpfs(mnt, "size=16m", attempt(true)), 0) << "read-only folder";
}

TEST_F(Compact, ReplaceDatabaseTakesOnlyAVerifiedReplacement) {
    const std::string db = copy(corpusDir() / "V2000/indexTestV2000.mdb", "db.mdb");
    const std::string other = copy(corpusDir() / "V2000/delTestV2000.mdb", "other.mdb");
    const std::string good = (dir_ / "good.mdb").string(), wrong = (dir_ / "wrong.mdb").string();
    compact(db, good);
    compact(other, wrong);
    const B original = readAll(db);
    EXPECT_THROW(replaceDatabase(db, wrong), JetError); // other rows: refused
    EXPECT_EQ(readAll(db), original);
    EXPECT_FALSE(fs::exists(wrong));

    // One character changed in a value no index covers: the file still checks clean, but its
    // rows are not the source's.
    const std::string altered = (dir_ / "altered.mdb").string();
    compact(db, altered);
    std::optional<std::size_t> at;
    {
        auto a = Database::open(altered);
        for (const auto* t : a->tables(false)) {
            const TableDef& def = a->tableDef(*t);
            for (std::size_t c = 0; c < def.columns.size() && !at; ++c) {
                bool indexed = false;
                for (const auto& ri : def.realIndexes)
                    for (const auto& ic : ri.columns)
                        indexed |= ic.column == def.columns[c].number;
                if (def.columns[c].type != ColumnType::Text || indexed) continue;
                a->forEachRawRow(def, [&](const RowLocation& loc, Bytes row) {
                    const auto f = splitRow(a->format(), def, row, "row", loc.data.page, 0);
                    // A letter of the text, compressed or not, becomes another letter.
                    if (!f[c].present || f[c].data.size() < 4 || !std::isalpha(f[c].data[2]))
                        return true;
                    const Bytes page = a->file().page(loc.data.page);
                    if (f[c].data.data() < page.data() ||
                        f[c].data.data() >= page.data() + page.size())
                        return true;
                    at = std::size_t{loc.data.page} * a->file().pageSize() +
                         static_cast<std::size_t>(f[c].data.data() + 2 - page.data());
                    return false;
                });
            }
        }
    }
    ASSERT_TRUE(at) << "no unindexed text value found";
    B bytes = readAll(altered);
    bytes[*at] ^= 1;
    write("altered.mdb", bytes);
    EXPECT_TRUE(check(*Database::open(altered)).sound());
    try {
        replaceDatabase(db, altered);
        ADD_FAILURE() << "an altered row was taken";
    } catch (const JetError& e) {
        EXPECT_NE(std::string(e.what()).find("holds different rows"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(readAll(db), original);
    const B compacted = readAll(good);
    replaceDatabase(db, good);
    EXPECT_EQ(readAll(db), compacted);
    EXPECT_FALSE(fs::exists(good));
    EXPECT_EQ(strays({"db.mdb", "other.mdb"}), std::vector<std::string>{});
}

// Verification takes an index as proved when its walk equals the entries the rebuild wrote and
// every row stands where the rebuild placed it; a rebuild that wrote other entries, or rows in
// other places, is refused.
TEST_F(Compact, VerificationHoldsTheRebuildToWhatItWrote) {
    auto db = Database::open(copy(corpusDir() / "V2000/indexTestV2000.mdb", "db.mdb"));
    const std::string path = (dir_ / "new.mdb").string();
    SourceRows written;
    {
        PageWriter out(path, db->format(), 0);
        written = rebuildDatabase(*db, out, {}).digests();
    }
    auto rebuilt = Database::open(path);
    EXPECT_NO_THROW(verifyRebuilt(*db, *rebuilt, written));
    // The user table with the most rows and an index proved from its entries.
    std::string table;
    for (const auto& [name, w] : written.written)
        if (!name.starts_with("MSys") && !w.indexes.empty() &&
            (table.empty() || w.rows.rows > written.written[table].rows.rows))
            table = name;
    ASSERT_FALSE(table.empty());
    ASSERT_GE(written.written[table].rows.rows, 2u);
    // The table's rows digested as they lie, and with each moved to the next one's place.
    std::vector<std::pair<std::uint32_t, RowHashes>> rows;
    const TableDef& def = rebuilt->tableDef(*rebuilt->findTable(table));
    const RowDigester digester(table, def);
    rebuilt->forEachRawRow(def, [&](const RowLocation& loc, Bytes stored) {
        if (written.written[table].asStored) {
            rows.emplace_back(loc.header.raw(), hashStoredRow(stored));
            return true;
        }
        auto fields = splitRow(rebuilt->format(), def, stored, "row", loc.data.page, 0);
        std::vector<std::vector<std::uint8_t>> longValues(fields.size());
        for (std::size_t c = 0; c < fields.size(); ++c)
            if (def.columns[c].isLong() && fields[c].present)
                fields[c].data = longValues[c] =
                    readLongValue(rebuilt->file(), fields[c].data, loc.data.page);
        rows.emplace_back(loc.header.raw(), digester.hash(fields));
        return true;
    });
    RowDigest inPlace, rotated;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        inPlace.addPlaced(rows[i].second, rows[i].first);
        rotated.addPlaced(rows[i].second, rows[(i + 1) % rows.size()].first);
    }
    ASSERT_EQ(inPlace, written.written[table].rows);
    struct Case {
        const char* what;
        std::function<void(WrittenTable&)> change;
        const char* says;
    } cases[] = {
        {"an entry's key", [](WrittenTable& w) { w.indexes.begin()->second.sum += 1; },
         "differ from the"},
        {"an entry too few", [](WrittenTable& w) { --w.indexes.rbegin()->second.count; },
         "differ from the"},
        {"the same rows in other places", [&](WrittenTable& w) { w.rows = rotated; },
         "holds different rows"},
    };
    for (const Case& c : cases) {
        SourceRows changed = written;
        c.change(changed.written[table]);
        try {
            verifyRebuilt(*db, *rebuilt, changed);
            ADD_FAILURE() << c.what << ": taken";
        } catch (const JetError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos)
                << c.what << ": " << e.what();
        }
    }
}

TEST_F(Compact, CommandLineExitCodes) {
    const std::string tool = TARNWICK_JET_TOOL;
    const std::string src = copy(corpusDir() / "V1997/testV1997.mdb", "db.mdb");
    const std::string out = (dir_ / "out.mdb").string();
    const std::string readOnly = copy(corpusDir() / "V1997/testV1997.mdb", "ro.mdb");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    const B readOnlyBytes = readAll(readOnly);
    int status = -1;
    struct Case {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"compact " + src + " --out " + out, 0, "size after"},
        {"compact " + src + " --encrypt --decrypt", 2, ""},
        {"compact " + (dir_ / "missing.mdb").string(), 2, ""},
        {"compact " + write("junk.mdb", B(4096, 7)), 2, ""},
        {"repair " + src, 0, "nothing to repair"},
        // Read-only, even for root: refused and untouched.
        {"compact " + readOnly, 1, "ro.mdb is read-only"},
        {"repair " + readOnly, 1, "ro.mdb is read-only"},
    };
    for (const auto& c : cases) {
        const std::string text = run(tool + " " + c.args, &status, true);
        EXPECT_EQ(status, c.status) << c.args << "\n" << text;
        EXPECT_NE(text.find(c.says), std::string::npos) << c.args << "\n" << text;
    }
    {
        LockHolder holder((dir_ / "db.ldb").string());
        ASSERT_TRUE(holder.locked());
        const std::string text = run(tool + " compact " + src, &status, true);
        EXPECT_EQ(status, 1) << text;
        EXPECT_NE(text.find("the database is in use"), std::string::npos) << text;
    }
    B bytes = readAll(src);
    const std::size_t seg = 46 * 2048 + (le16(&bytes[46 * 2048 + 10]) & 0x1FFF);
    put32(bytes.data() + seg, 0); // a long-value chain cut short: repaired with a loss
    const std::string damaged = write("damaged.mdb", bytes);
    const std::string text = run(tool + " repair " + damaged, &status, true);
    EXPECT_EQ(status, 1) << text;
    EXPECT_NE(text.find("table \"MSysObjects\""), std::string::npos) << text;
    EXPECT_NE(text.find("would lose 1 long value of \"MSysObjects\""), std::string::npos) << text;
    EXPECT_NE(text.find("damaged.repaired-"), std::string::npos) << text;
    EXPECT_EQ(readAll(readOnly), readOnlyBytes);
    EXPECT_EQ(readAll(damaged), bytes);
}

} // namespace

int main(int argc, char** argv) {
    return runCorpusTests(argc, argv);
}
