// Compacted copies of the test databases judged by an independent library (jetpeer): it reads
// every row, walks every index, looks every row up again through each, and for Jet 4 writes
// into a copy; its sorted dump of the copy equals that of the source.

#include "corpus.h"

#include "jet/compact.h"
#include "jet/database.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sys/wait.h>

using namespace tarnwick::jet;
using namespace tarnwick::jet::test;
namespace fs = std::filesystem;

namespace {

fs::path jetpeer() {
    return corpusDir().parent_path().parent_path() / "tools" / "jetpeer" / "jetpeer";
}

std::string run(const std::string& cmd, int* status) {
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    std::string text;
    char buf[4096];
    std::size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    const int st = p ? ::pclose(p) : -1;
    *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return text;
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

TEST(CompactJetpeer, EveryOutputPassesTheIndependentReader) {
    char tmpl[] = "/tmp/tarnwick-jetpeer-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    for (const auto& original : corpusFiles()) {
        SCOPED_TRACE(original.string());
        // A copy: compacting locks its source, and other tests read the shared files meanwhile.
        const fs::path src = dir / "src.mdb", out = dir / "out.mdb";
        fs::remove(src); // a copy of a read-only original cannot be written over
        fs::copy_file(original, src);
        fs::remove(out);
        compact(src.string(), out.string());
        const bool jet4 = Database::open(out.string())->format().jet4();
        int status = 0;
        const std::string verdict = run(
            quoted(jetpeer()) + (jet4 ? " verify --write " : " verify ") + quoted(out), &status);
        EXPECT_EQ(status, 0) << verdict;
        const std::string a = run(quoted(jetpeer()) + " dump --sort " + quoted(src), &status);
        ASSERT_EQ(status, 0) << a;
        const std::string b = run(quoted(jetpeer()) + " dump --sort " + quoted(out), &status);
        ASSERT_EQ(status, 0) << b;
        EXPECT_TRUE(a == b) << "dumps differ";
    }
    fs::remove_all(dir);
}

} // namespace

int main(int argc, char** argv) {
    if (!corpusFiles().empty()) {
        int status = 0;
        const std::string why =
            run(quoted(jetpeer()) + " info " + quoted(corpusFiles().front()), &status);
        if (status != 0) {
            std::cout << "SKIP: jetpeer cannot run here (Java or its libraries missing?): " << why
                      << "\n";
            return 77;
        }
    }
    return runCorpusTests(argc, argv);
}
