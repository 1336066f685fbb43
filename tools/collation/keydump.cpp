// Prints every text key of every index of the given files, one line per leaf entry:
//   <format> <asc|desc> <code points, hex, space separated> | <key bytes of that column, hex>
// Indexes with one text column are printed; the collation tables are derived from them
// (see derive.py).
#include "jet/database.h"
#include "jet/header.h"
#include "jet/index.h"
#include "jet/indexkey.h"
#include "jet/tabledef.h"
#include "jet/text.h"
#include "jet/value.h"

#include <algorithm>

#include <cstdio>
#include <map>
#include <string>

using namespace tarnwick::jet;

namespace {

std::vector<std::uint32_t> codePoints(const std::string& s) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        int n = 0;
        if (c >= 0xF0)
            cp = c & 0x07, n = 3;
        else if (c >= 0xE0)
            cp = c & 0x0F, n = 2;
        else if (c >= 0xC0)
            cp = c & 0x1F, n = 1;
        ++i;
        for (int k = 0; k < n && i < s.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        out.push_back(cp);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    for (int a = 1; a < argc; ++a) {
        auto db = Database::open(argv[a]);
        const bool jet3 = db->format().version == Version::Jet3;
        for (const CatalogEntry* t : db->tables(true)) {
            const TableDef& def = db->tableDef(*t);
            std::map<std::uint64_t, std::vector<Value>> rows;
            db->forEachRow(def, [&](const RowLocation& loc, const std::vector<Value>& v) {
                rows[(std::uint64_t(loc.header.page) << 8) | loc.header.row] = v;
                return true;
            });
            for (const RealIndex& ri : def.realIndexes) {
                for (const IndexEntry& e : db->indexEntries(def, ri)) {
                    auto it = rows.find((std::uint64_t(e.page) << 8) | e.row);
                    if (it == rows.end()) continue;
                    // Walk the key column by column: other types are encoded (they need no
                    // collation) and skipped; a text segment runs to the end of the key, or in
                    // Jet 4 ascending to its 0x00 terminator.
                    std::size_t pos = 0;
                    for (std::size_t k = 0; k < ri.columns.size() && pos < e.key.size(); ++k) {
                        const IndexColumn& ic = ri.columns[k];
                        std::size_t vi = 0;
                        while (vi < def.columns.size() && def.columns[vi].number != ic.column)
                            ++vi;
                        if (vi == def.columns.size()) break;
                        const Column& col = def.columns[vi];
                        const Value& v = it->second[vi];
                        const bool text =
                            col.type == ColumnType::Text || col.type == ColumnType::Memo;
                        if (!text || v.null) {
                            std::vector<std::uint8_t> seg;
                            appendKeySegment(seg, db->format().version, db->header().codePage, col,
                                             v, ic.ascending);
                            if (e.key.size() - pos < seg.size() ||
                                !std::equal(seg.begin(), seg.end(), e.key.begin() + long(pos)))
                                break;
                            pos += seg.size();
                            continue;
                        }
                        std::size_t end = e.key.size();
                        if (k + 1 < ri.columns.size()) {
                            if (jet3 || !ic.ascending) break;
                            end = pos + 1;
                            while (end < e.key.size() && e.key[end] != 0)
                                ++end;
                            if (end == e.key.size()) break;
                            ++end;
                        }
                        std::printf("%s %s", jet3 ? "jet3" : "jet4", ic.ascending ? "asc" : "desc");
                        for (auto cp : codePoints(v.text))
                            std::printf(" %x", cp);
                        std::printf(" |");
                        for (std::size_t j = pos; j < end; ++j)
                            std::printf(" %02x", e.key[j]);
                        std::printf("\n");
                        pos = end;
                    }
                }
            }
        }
    }
}
