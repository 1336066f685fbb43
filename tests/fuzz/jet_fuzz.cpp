// Fuzz target: open a database from bytes, check it, export every table, then compact and
// repair it in a private temporary folder. Built for libFuzzer with clang, and as a plain
// driver (replay.cpp) that replays the seed corpus in ctest.

#include "jet/check.h"
#include "jet/compact.h"
#include "jet/database.h"
#include "jet/index.h"
#include "jet/json.h"
#include "jet/tabledef.h"
#include "jet/value.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace tarnwick::jet;

namespace {

// One private folder for the whole run, emptied before each input and removed at exit.
class WorkFolder {
public:
    WorkFolder() {
        char tmpl[] = "/tmp/tarnwick-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        m_path = tmpl;
    }
    ~WorkFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

const std::filesystem::path& workFolder() {
    static const WorkFolder folder;
    return folder.path();
}

void compactAndRepair(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    const fs::path& dir = workFolder();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        fs::remove(e.path(), ec);
    const fs::path db = dir / "db.mdb";
    std::ofstream(db, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    try {
        (void)compact(db.string(), (dir / "compacted.mdb").string());
    } catch (const JetError&) {
    }
    try {
        (void)repair(db.string());
    } catch (const JetError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Anything past 4 MiB only slows the search down.
    if (size > (4u << 20)) return 0;
    std::unique_ptr<Database> db;
    try {
        db = Database::open(memorySource(std::vector<std::uint8_t>(data, data + size)));
    } catch (const JetError&) {
    }
    if (db) {
        // check() promises never to throw on damage: no catch around it, so a throw is a crash.
        (void)check(*db);
        std::string out;
        for (const auto* t : db->tables(true)) {
            try {
                const TableDef& def = db->tableDef(*t);
                db->forEachRow(def, [&](const RowLocation&, const std::vector<Value>& values) {
                    out.clear();
                    appendJsonRow(out, def, values);
                    return true;
                });
                for (const auto& ri : def.realIndexes)
                    (void)db->indexEntries(def, ri);
            } catch (const JetError&) {
            }
        }
    }
    compactAndRepair(data, size);
    return 0;
}
