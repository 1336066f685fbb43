// Every readable Access 2007+ test database exported by the engine equals the dump of an
// independent library (jetpeer), table for table: every column type, calculated results,
// complex columns (attachments decoded, multi-values, version history) and unknown types.

#include "corpus.h"

#include "jet/check.h"
#include "jet/compact.h"
#include "jet/complex.h"
#include "jet/database.h"
#include "jet/json.h"
#include "jet/tabledef.h"
#include "jet/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <regex>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
namespace fs = std::filesystem;

namespace {

// jetpeer shows a value of a type it does not know as "RawData[(n) HH HH ...]", and an element
// of an unknown complex kind as "UnsupportedValue(id,v) {Column=RawData[...]}"; the engine
// shows the same bytes in base64, the element as an object of its columns.
void normalise(Json& j) {
    static const std::regex raw(R"(RawData\[\(\d+\)([0-9A-F ]*)\])");
    static const std::regex unsupported(R"(UnsupportedValue\(\d+,\d+\) \{(\w+)=(RawData.*)\})");
    std::smatch m;
    if (j.kind == Json::Kind::String && std::regex_match(j.text, m, unsupported)) {
        Json value{Json::Kind::String, false, 0, m[2].str(), {}, {}};
        normalise(value);
        j = Json{Json::Kind::Object, false, 0, "", {{m[1].str(), value}}, {}};
    } else if (j.kind == Json::Kind::String && std::regex_match(j.text, m, raw)) {
        std::vector<std::uint8_t> bytes;
        std::string hex = m[1].str();
        hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        j.text = base64(bytes);
    }
    for (auto& item : j.items)
        normalise(item);
    for (auto& member : j.members)
        normalise(member.second);
}

std::string canonical(const std::string& line) {
    Json j = parseJson(line);
    normalise(j);
    return canonicalJson(j);
}

class AceExport : public ::testing::TestWithParam<fs::path> {};

TEST_P(AceExport, EqualsJetpeerDump) {
    const auto db = Database::open(GetParam().string());
    // Linked tables are left out: jetpeer stops at one whose target is missing.
    std::string names;
    for (const auto* t : db->tables(false))
        names += " " + quoted(t->name);
    int status = 0;
    const std::string dump =
        run(quoted(jetpeer().string()) + " dump " + quoted(GetParam().string()) + names, &status);
    ASSERT_EQ(status, 0) << "jetpeer dump failed";
    std::map<std::string, std::vector<std::string>> peer;
    std::string table;
    std::size_t at = 0;
    while (at < dump.size()) {
        const auto nl = dump.find('\n', at);
        const std::string line = dump.substr(at, nl - at);
        at = nl == std::string::npos ? dump.size() : nl + 1;
        const Json j = parseJson(line);
        if (j.members.size() == 1 && j.members[0].first == "table")
            table = j.members[0].second.text;
        else
            peer[table].push_back(canonical(line));
    }
    for (const auto* t : db->tables(false)) {
        SCOPED_TRACE(t->name);
        const TableDef& def = db->tableDef(*t);
        const ComplexValues complex(*db, def);
        std::vector<std::string> ours;
        db->forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
            std::string line;
            appendJsonRow(line, def, v, &complex);
            ours.push_back(canonical(line));
            return true;
        });
        auto& theirs = peer[t->name];
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_EQ(ours.size(), theirs.size());
        std::vector<std::string> onlyOurs;
        std::set_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(),
                            std::back_inserter(onlyOurs));
        for (std::size_t i = 0; i < onlyOurs.size() && i < 3; ++i)
            ADD_FAILURE() << "row not in jetpeer's dump: " << onlyOurs[i];
    }
}

// Characters beyond the Basic Multilingual Plane in an indexed text column, written by the
// library under jetpeer (tools/collation/SurrogateKeys.java) in General Legacy (2007) and
// General (2010): every stored key is the engine's, and a compacted copy keeps them so that
// the library's own verify finds every row through the index again.
TEST(AceSurrogates, KeysEqualTheLibrarysAndSurviveCompaction) {
    char tmpl[] = "/tmp/tarnwick-surrogates-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const fs::path peer = jetpeer().parent_path();
    const std::string classPath =
        (peer / "jackcess.jar").string() +
        ":/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar";
    for (const std::string format : {"2007", "2010"}) {
        SCOPED_TRACE(format);
        const fs::path file = dir / ("sk" + format + ".accdb"),
                       out = dir / ("out" + format + ".accdb");
        int status = 0;
        const std::string made = run("java -cp " + quoted(classPath) + " " +
                                         quoted(std::string(TARNWICK_SURROGATE_KEYS)) + " " +
                                         quoted(file) + " " + format,
                                     &status, true);
        ASSERT_EQ(status, 0) << made;
        const CheckReport before = check(*Database::open(file.string()));
        EXPECT_TRUE(before.problems.empty()) << before.problems.front().text();
        for (const Finding& n : before.notes)
            EXPECT_EQ(n.message.find("not compared"), std::string::npos) << n.text();
        compact(file.string(), out.string());
        EXPECT_TRUE(check(*Database::open(out.string())).sound());
        const std::string verdict =
            run(quoted(jetpeer()) + " verify " + quoted(out), &status, true);
        EXPECT_EQ(status, 0) << verdict;
        const std::string a = run(quoted(jetpeer()) + " dump --sort " + quoted(file), &status);
        EXPECT_EQ(a, run(quoted(jetpeer()) + " dump --sort " + quoted(out), &status));
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Ace, AceExport, ::testing::ValuesIn(aceCorpusFiles()),
                         [](const auto& info) { return folderAndStem(info.param); });

} // namespace

int main(int argc, char** argv) {
    return runAceTests(argc, argv, []() -> std::string {
        int status = 0;
        run(quoted(jetpeer().string()) + " info " + quoted(aceCorpusFiles().front().string()),
            &status);
        return status == 0 ? "" : "jetpeer cannot run here (Java or its libraries missing?)";
    });
}
