// Fuzz target: open a database from bytes, check it, and export every table. Built for
// libFuzzer with clang, and as a plain driver (replay.cpp) that replays the seed corpus in ctest.

#include "jet/check.h"
#include "jet/database.h"
#include "jet/json.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace tarnwick::jet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Anything past 4 MiB only slows the search down.
    if (size > (4u << 20)) return 0;
    std::unique_ptr<Database> db;
    try {
        db = Database::open(memorySource(std::vector<std::uint8_t>(data, data + size)));
    } catch (const JetError&) {
        return 0;
    }
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
    return 0;
}
