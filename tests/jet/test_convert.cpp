// Jet 3 files converted to Jet 4 by compaction (format version 64): every sample converts and
// checks clean, values compare after conversion, undefined code-page bytes are reported by table
// and column, and every refused conversion leaves the file as it was.

#include "corpus.h"
#include "scratch.h"

#include "jet/check.h"
#include "jet/compact.h"
#include "jet/database.h"
#include "jet/header.h"
#include "jet/pagefile.h"
#include "jet/tabledef.h"
#include "jet/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
namespace fs = std::filesystem;
using B = std::vector<std::uint8_t>;

namespace {

class Convert : public ScratchFolder {
protected:
    static CompactOptions to(int version) {
        CompactOptions o;
        o.formatVersion = version;
        return o;
    }
};

std::vector<fs::path> jet3Samples() {
    std::vector<fs::path> out;
    for (const auto& f : corpusFiles())
        if (f.parent_path().filename() == "V1997") out.push_back(f);
    return out;
}

// Every row of every user table as text, sorted per table (system tables hold property blobs,
// which change form; the verification compares them as converted).
std::map<std::string, std::vector<std::string>> exported(const std::string& path) {
    std::map<std::string, std::vector<std::string>> rows;
    const auto db = Database::open(path);
    for (const CatalogEntry* t : db->tables(false)) {
        const TableDef& def = db->tableDef(*t);
        auto& lines = rows[t->name];
        db->forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
            std::string line;
            for (const Value& x : v)
                line += (x.null ? "-"
                                : x.text + std::to_string(x.integer) + std::to_string(x.real) +
                                      std::string(x.bytes.begin(), x.bytes.end())) +
                        "|";
            lines.push_back(std::move(line));
            return true;
        });
        std::sort(lines.begin(), lines.end());
    }
    return rows;
}

TEST_F(Convert, EveryAccess97SampleConvertsInPlaceAndKeepsItsValues) {
    ASSERT_FALSE(jet3Samples().empty());
    for (const auto& original : jet3Samples()) {
        SCOPED_TRACE(original.string());
        const std::string db = copy(original, "db.mdb");
        auto before = exported(db);
        const CompactReport r = compactInPlace(db, to(64));
        EXPECT_FALSE(r.alreadyCompact);
        const auto converted = Database::open(db);
        EXPECT_EQ(converted->header().version, Version::Jet4);
        EXPECT_EQ(converted->header().aceVersion, 0);
        EXPECT_TRUE(check(*converted).sound());
        // Values equal after conversion; only text the report names may differ (U+FFFD).
        auto after = exported(db);
        for (const auto& loss : r.losses)
            for (auto& [table, rows] : before)
                if (loss.find("table \"" + table + "\"") != std::string::npos) rows = after[table];
        EXPECT_EQ(after, before);
        EXPECT_EQ(entries(), 1u); // no temporary file left
        // Converting again has nothing to convert: it compacts, as Jet 4 asked of a Jet 4 file.
        EXPECT_NO_THROW(compactInPlace(db, to(64)));
        fs::remove(db);
    }
}

TEST_F(Convert, UndefinedCodePageBytesAreNamedByTableAndColumn) {
    const std::string db = copy(corpusDir() / "V1997/testIndexCodesV1997.mdb", "db.mdb");
    const std::string out = (dir_ / "out.mdb").string();
    const CompactReport r = compact(db, out, to(64));
    ASSERT_EQ(r.losses.size(), 4u);
    EXPECT_EQ(r.losses[0], "table \"Table1\", column \"data\": 5 bytes that code page 1252 does "
                           "not define became U+FFFD");
    // Each replaced character reads as U+FFFD, never as the control reading the source shows.
    const auto converted = Database::open(out);
    std::size_t replaced = 0;
    for (const char* table : {"Table1", "Table1_desc", "Table14", "Table14_desc"})
        converted->forEachRow(
            converted->tableDef(*converted->findTable(table)),
            [&](const RowLocation&, const std::vector<Value>& v) {
                for (const Value& x : v)
                    for (std::size_t at = 0;
                         (at = x.text.find("\xEF\xBF\xBD", at)) != std::string::npos; at += 3)
                        ++replaced;
                return true;
            });
    EXPECT_EQ(replaced, 20u);
}

// A converted file whose text differs from the source's in one character is caught by the
// verification that compares decoded values, and never replaces the original.
TEST_F(Convert, VerificationComparesDecodedValues) {
    const std::string db = copy(corpusDir() / "V1997/delColTestV1997.mdb", "db.mdb");
    const B original = readAll(db);
    const std::string out = (dir_ / "out.mdb").string();
    compact(db, out, to(64));
    B bytes = readAll(out);
    const B foo2 = {0xFF, 0xFE, 'f', 'o', 'o', '2'}; // compressed "foo2"
    auto at = std::search(bytes.begin(), bytes.end(), foo2.begin(), foo2.end());
    ASSERT_NE(at, bytes.end());
    at[5] = '3';
    std::ofstream(out, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    try {
        replaceDatabase(db, out);
        ADD_FAILURE() << "a changed value replaced the original";
    } catch (const JetError& e) {
        EXPECT_NE(std::string(e.what()).find("holds different values"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(readAll(db), original);
    EXPECT_FALSE(fs::exists(out));
}

// Refused conversions throw before anything is written: nothing new in the folder, the source
// byte for byte as it was.
TEST_F(Convert, RefusalsChangeNothing) {
    struct Case {
        const char* sample;
        int version;
        const char* says;
    } cases[] = {
        {"V2000/testV2000.mdb", 32, "cannot hold Unicode text"},
        {"V2010/testV2010.accdb", 64, "cannot hold complex columns"},
        {"V2010/testV2010.accdb", 32, "Jet 3"},
        {"V2010/testV2010.accdb", 128, "older format"},
        {"V1997/testV1997.mdb", 128, "Jet 4 (Access 2000) first"},
        {"V2000/testV2000.mdb", 16, "not supported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sample) + " to " + std::to_string(c.version));
        const std::string db = copy(corpusDir() / c.sample, "db");
        const B bytes = readAll(db);
        for (bool inPlace : {true, false}) {
            try {
                if (inPlace)
                    compactInPlace(db, to(c.version));
                else
                    compact(db, (dir_ / "out").string(), to(c.version));
                ADD_FAILURE() << "converted";
            } catch (const JetError& e) {
                EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
            }
            EXPECT_EQ(readAll(db), bytes);
            EXPECT_EQ(entries(), 1u);
        }
        fs::remove(db);
    }
    // A target that exists is never written over.
    const std::string db = copy(corpusDir() / "V1997/testV1997.mdb", "db.mdb");
    const std::string taken = copy(corpusDir() / "V1997/delTestV1997.mdb", "taken.mdb");
    const B takenBytes = readAll(taken);
    EXPECT_THROW(compact(db, taken, to(64)), JetError);
    EXPECT_EQ(readAll(taken), takenBytes);
    // A database in use (another program holds it) is left alone.
    const int fd = ::open(db.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // A separate process holding the file open with a lock, as Access would; without the
        // lock it ends at once, and the refusal below is then missing.
        if (::flock(fd, LOCK_SH) != 0) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    ::close(fd);
    const B bytes = readAll(db);
    EXPECT_THROW(compactInPlace(db, to(64)), DatabaseInUse);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(readAll(db), bytes);
    EXPECT_EQ(entries(), 2u);
}

// A Jet 3 file's password and page encoding survive the conversion: the Jet 4 header holds the
// password under its creation date's mask, and encoded pages stay encoded.
TEST_F(Convert, PasswordAndPageEncodingCarryOver) {
    const std::string db = copy(corpusDir() / "V1997/delTestV1997.mdb", "db.mdb");
    B bytes = readAll(db);
    static constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    const std::span<std::uint8_t> masked(bytes.data() + 0x18, 126);
    rc4(kHeaderKey, masked);
    std::memcpy(bytes.data() + 0x42, "s\xE9same", 6); // "sésame" in code page 1252
    rc4(kHeaderKey, masked);
    std::ofstream(db, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_EQ(Database::open(db)->header().password, "s\xC3\xA9same");
    CompactOptions options = to(64);
    EXPECT_THROW(compactInPlace(db, options), JetError); // no password given
    options.password = "s\xC3\xA9same";
    options.encoding = PageEncoding::Encrypt;
    compactInPlace(db, options);
    const auto converted = Database::open(db);
    EXPECT_TRUE(converted->format().jet4());
    EXPECT_EQ(converted->header().password, options.password);
    EXPECT_NE(converted->header().databaseKey, 0u);
    EXPECT_TRUE(check(*converted).sound());
    EXPECT_EQ(exported(db).at("Table").size(), 2u);
}

// tarnwick-jet convert: what it prints and leaves, for each way of asking.
TEST_F(Convert, CommandLine) {
    const std::string tool = TARNWICK_JET_TOOL;
    const std::string a97 = copy(corpusDir() / "V1997/testIndexCodesV1997.mdb", "codes.mdb");
    const std::string a2000 = copy(corpusDir() / "V2000/testV2000.mdb", "t2000.mdb");
    const std::string taken = copy(corpusDir() / "V1997/delTestV1997.mdb", "t2000.accdb");
    ASSERT_EQ(::symlink("nowhere", (dir_ / "link.accdb").c_str()), 0);
    const B codes = readAll(a97), jet4 = readAll(a2000), accdb = readAll(taken);
    const std::string loss = "loss: table \"Table14\", column \"data\": 5 bytes that code page "
                             "1252 does not define became U+FFFD";
    struct Case {
        std::string args;
        int status;
        std::string says;
    } cases[] = {
        {a97 + " --to 2000 --out " + (dir_ / "new.mdb").string(), 0, loss},
        {a97 + " --to 2007", 1, "Jet 4 (Access 2000) first"},
        {a2000 + " --to 2007", 1, "t2000.accdb already exists; nothing was written"},
        {a2000 + " --to 2007 --out " + (dir_ / "link.accdb").string(), 1, "already exists"},
        {a2000 + " --to 2000", 0, "is already Jet 4"},
        {a2000 + " --to 2007 --out " + (dir_ / "new.accdb").string(), 0, "to ACE 12 (Access 2007)"},
        {a97 + " --to 1997", 2, "--to takes 2000 or 2007"},
        {a97, 2, "--to takes 2000 or 2007"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        int status = -1;
        const std::string said = run(tool + " convert " + c.args, &status, true);
        EXPECT_EQ(status, c.status) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_EQ(readAll(a97), codes);
        EXPECT_EQ(readAll(a2000), jet4);
        EXPECT_EQ(readAll(taken), accdb);
    }
    EXPECT_TRUE(Database::open((dir_ / "new.mdb").string())->format().jet4());
    EXPECT_EQ(Database::open((dir_ / "new.accdb").string())->header().aceVersion, 12);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.accdb"));
    // In place by default: the file itself becomes Jet 4, nothing else is left.
    int status = -1;
    const std::string said = run(tool + " convert " + a97 + " --to 2000", &status, true);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find(a97 + " was converted in place"), std::string::npos) << said;
    EXPECT_NE(said.find(loss), std::string::npos) << said;
    EXPECT_TRUE(Database::open(a97)->format().jet4());
    EXPECT_EQ(entries(), 6u);
}

} // namespace

int main(int argc, char** argv) {
    return runCorpusTests(argc, argv);
}
