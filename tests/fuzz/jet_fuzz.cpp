// libFuzzer target: open a database from bytes, check it, and export every table.

#include "jet/check.h"
#include "jet/database.h"
#include "jet/json.h"

#include <cstddef>
#include <cstdint>

using namespace tarnwick::jet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Anything past 4 MiB only slows the search down.
    if (size > (4u << 20)) return 0;
    try {
        auto db = Database::open(memorySource(std::vector<std::uint8_t>(data, data + size)));
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
    } catch (const JetError&) {
    }
    return 0;
}
