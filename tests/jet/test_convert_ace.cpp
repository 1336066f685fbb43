// Every Jet 4 test database converted to an ACE 12 (Access 2007) file: the copy checks clean,
// an independent library (jetpeer) reads it, writes into it and finds every row through every
// index, and its sorted dump equals the source's. Sources the conversion cannot take are refused
// before anything is written.

#include "corpus.h"
#include "scratch.h"

#include "jet/check.h"
#include "jet/compact.h"
#include "jet/database.h"
#include "jet/header.h"
#include "jet/tabledef.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sys/wait.h>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
namespace fs = std::filesystem;

namespace {

constexpr int kAce12 = 128;

std::string peer(const std::string& args, const fs::path& file, const std::string& tail,
                 int* status) {
    return run(quoted(jetpeer().string()) + " " + args + " " + quoted(file.string()) + tail,
               status);
}

std::vector<fs::path> jet4Files() {
    std::vector<fs::path> out;
    for (const auto& f : corpusFiles())
        if (Database::open(f.string())->format().jet4()) out.push_back(f);
    return out;
}

// A scratch folder per test, removed after it.
// A writable copy: converting locks its source, and other tests read the shared files.
class Scratch : public ScratchFolder {
protected:
    fs::path copyOf(const fs::path& original) {
        return copy(original, "src" + original.extension().string());
    }
};

class ToAce : public Scratch, public ::testing::WithParamInterface<fs::path> {};

TEST_P(ToAce, ConvertsCleanAndEqual) {
    const fs::path src = copyOf(GetParam()), out = dir_ / "out.accdb";
    CompactOptions options;
    options.formatVersion = kAce12;
    // Every index keyed anew in the target's order, none carried over from its stored keys.
    for (const auto& line : compact(src.string(), out.string(), options).lines)
        EXPECT_EQ(line.find("stored keys"), std::string::npos) << line;
    {
        const auto db = Database::open(out.string());
        EXPECT_EQ(db->header().aceVersion, 12);
        const CheckReport report = check(*db);
        EXPECT_TRUE(report.sound()) << report.problems.front().text();
        for (const auto* t : db->tables(true))
            EXPECT_EQ(db->tableDef(*t).lastComplexValue, 0u) << t->name;
        // The complex-column tables of an Access 2007 file, column for column, index for index.
        const auto made = Database::open((corpusDir() / "V2007" / "testV2007.accdb").string());
        for (const auto* t : made->tables(true)) {
            if (t->name.rfind("MSysComplex", 0) != 0) continue;
            const auto* ours = db->findTable(t->name);
            ASSERT_NE(ours, nullptr) << t->name;
            const auto& a = made->tableDef(*t).columns;
            const auto& b = db->tableDef(*ours).columns;
            ASSERT_EQ(a.size(), b.size()) << t->name;
            for (std::size_t i = 0; i < a.size(); ++i)
                EXPECT_TRUE(a[i].name == b[i].name && a[i].type == b[i].type &&
                            a[i].flags == b[i].flags && a[i].length == b[i].length)
                    << t->name << "." << a[i].name;
            const auto& x = made->tableDef(*t).realIndexes;
            const auto& y = db->tableDef(*ours).realIndexes;
            ASSERT_EQ(x.size(), y.size()) << t->name;
            for (std::size_t i = 0; i < x.size(); ++i)
                EXPECT_TRUE(x[i].flags == y[i].flags &&
                            x[i].columns[0].column == y[i].columns[0].column)
                    << t->name << " index " << i;
        }
    }
    int status = 0;
    const std::string verdict = peer("verify --write --system", out, "", &status);
    EXPECT_EQ(status, 0) << verdict;
    std::string tables; // local tables only: jetpeer stops at a linked one without its target
    const auto source = Database::open(src.string());
    for (const auto* t : source->tables(false))
        tables += " " + quoted(t->name);
    const std::string before = peer("dump --sort", src, tables, &status);
    ASSERT_EQ(status, 0) << "jetpeer cannot dump the source";
    const std::string after = peer("dump --sort", out, tables, &status);
    ASSERT_EQ(status, 0) << "jetpeer cannot dump the converted file";
    EXPECT_TRUE(before == after) << "the dumps differ";
}

std::string nameOf(const ::testing::TestParamInfo<fs::path>& info) {
    std::string n = info.param.parent_path().filename().string() + "_" + info.param.stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Jet4, ToAce, ::testing::ValuesIn(jet4Files()), nameOf);

// A Jet 3 source, a newer ACE source, a destination that exists and a Jet 4 file converted in
// place: refused, nothing written. An ACE 12 source is compacted as it is.
TEST_F(Scratch, RefusesWhatItCannotConvert) {
    const auto first = [](const std::string& folder) {
        for (const auto& f : corpusFiles())
            if (f.parent_path().filename() == folder) return f;
        for (const auto& f : aceCorpusFiles())
            if (f.parent_path().filename() == folder) return f;
        return fs::path();
    };
    struct Case {
        std::string folder;
        bool existing, refused;
    };
    for (const Case& c : {Case{"V1997", false, true}, Case{"V2010", false, true},
                          Case{"V2000", true, true}, Case{"V2007", false, false}}) {
        SCOPED_TRACE(c.folder);
        const fs::path original = first(c.folder);
        if (original.empty()) continue;
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        const fs::path src = copyOf(original), out = dir_ / "out.accdb";
        if (c.existing) std::ofstream(out) << "mine";
        CompactOptions options;
        options.formatVersion = kAce12;
        if (c.refused) {
            EXPECT_THROW(compact(src.string(), out.string(), options), JetError);
        } else {
            compact(src.string(), out.string(), options);
            EXPECT_EQ(Database::open(out.string())->header().aceVersion, 12);
        }
        // In place only an ACE 12 source, which keeps its format, may be compacted.
        if (c.refused) {
            EXPECT_THROW(compactInPlace(src.string(), options), JetError);
        }
        EXPECT_EQ(fs::exists(out), c.existing || !c.refused);
        if (c.existing) {
            EXPECT_EQ(fs::file_size(out), 4u);
        }
        EXPECT_TRUE(readAll(src) == readAll(original));
    }
}

// Jet 4 pages encoded with a database key come out plain: ACE knows no such key.
TEST_F(Scratch, DecodesAnEncodedSource) {
    const auto files = jet4Files();
    ASSERT_FALSE(files.empty());
    const fs::path src = copyOf(files.front()), encoded = dir_ / "encoded.mdb",
                   out = dir_ / "out.accdb";
    CompactOptions encrypt;
    encrypt.encoding = PageEncoding::Encrypt;
    compact(src.string(), encoded.string(), encrypt);
    CompactOptions options;
    options.formatVersion = kAce12;
    compact(encoded.string(), out.string(), options);
    const auto db = Database::open(out.string());
    EXPECT_EQ(db->header().databaseKey, 0u);
    EXPECT_TRUE(check(*db).sound());
}

} // namespace

int main(int argc, char** argv) {
    if (!corpusFiles().empty()) {
        int status = 0;
        peer("info", corpusFiles().front(), "", &status);
        if (status != 0) {
            std::cout << "SKIP: jetpeer cannot run here (Java or its libraries missing?)\n";
            return 77;
        }
    }
    return runCorpusTests(argc, argv);
}
