#include "jet/rowdigest.h"

#include "jet/bytes.h"

#include <cstring>

namespace tarnwick::jet {

bool holdsObjectIds(const std::string& table, const std::string& column) {
    if (table == "MSysObjects") return column == "Id" || column == "ParentId";
    if (table == "MSysACEs") return column == "ObjectId";
    if (table == "MSysNavPaneObjectIDs") return column == "Id";
    if (table == "MSysNavPaneGroupToObjects" || table == "MSysNavPaneGroups")
        return column == "ObjectID";
    if (table == "MSysNavPaneGroupCategories") return column == "SelectedObjectID";
    return false;
}

namespace {

std::uint64_t finish(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Two lanes of 128-bit multiply-fold steps over 16-byte blocks: fast, and independent enough
// that the sums of both over a table only agree by accident once in 2^128.
class RowHash {
public:
    void word(std::uint64_t w) { block(w, 0x9E3779B97F4A7C15ull); }
    void bytes(Bytes data) {
        const std::size_t n = data.size();
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16)
            block(load(data.data() + i, 8), load(data.data() + i + 8, 8));
        if (i + 8 <= n) {
            block(load(data.data() + i, 8), load(data.data() + i + 8, n - i - 8) ^ n << 32);
        } else {
            block(load(data.data() + i, n - i), n);
        }
    }
    std::uint64_t a() const { return finish(a_); }
    std::uint64_t b() const { return finish(b_ ^ 0x165667B19E3779F9ull); }

private:
    static std::uint64_t load(const std::uint8_t* p, std::size_t n) {
        std::uint64_t w = 0;
        if (n) std::memcpy(&w, p, n); // an empty value may have no storage at all
        return w;
    }
    static std::uint64_t fold(std::uint64_t x, std::uint64_t y) {
        const unsigned __int128 r = static_cast<unsigned __int128>(x) * y;
        return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
    }
    void block(std::uint64_t w0, std::uint64_t w1) {
        a_ = fold(w0 ^ a_ ^ 0xA0761D6478BD642Full, w1 ^ 0xE7037ED1A0B428DBull);
        b_ = fold(w1 ^ b_ ^ 0x8EBC6AF09C88C6E3ull, w0 ^ 0x589965CC75374CC3ull);
    }
    std::uint64_t a_ = 0x243F6A8885A308D3ull, b_ = 0x13198A2E03707344ull;
};

} // namespace

RowDigester::RowDigester(const std::string& table, const TableDef& def, const TableIdMap& renumber)
    : renumber_(renumber.empty() ? nullptr : &renumber) {
    for (const Column& c : def.columns) {
        types_.push_back(c.type);
        scales_.push_back(c.type == ColumnType::Decimal ? c.scale : 0);
        ids_.push_back(c.type == ColumnType::Long && holdsObjectIds(table, c.name));
    }
}

void RowDigester::add(const std::vector<RawField>& fields) {
    RowHash h;
    for (std::size_t i = 0; i < types_.size() && i < fields.size(); ++i) {
        const RawField& f = fields[i];
        const ColumnType type = types_[i];
        Bytes data = f.data;
        // A fixed-size value is its first bytes; an empty one reads as null.
        const std::size_t need = fixedSizeOf(type);
        const bool present = f.present && !(need && data.empty());
        if (need && data.size() > need) data = data.first(need);
        h.word(static_cast<std::uint64_t>(type) | std::uint64_t{present} << 8 |
               std::uint64_t{f.boolValue} << 9 | std::uint64_t{scales_[i]} << 16);
        if (!present) continue;
        std::uint8_t renumbered[4];
        if (ids_[i] && renumber_ && data.size() == 4) {
            if (auto it = renumber_->find(le32(data.data())); it != renumber_->end()) {
                for (int k = 0; k < 4; ++k)
                    renumbered[k] = static_cast<std::uint8_t>(it->second >> (8 * k));
                data = Bytes(renumbered, 4);
            }
        }
        h.bytes(data);
    }
    ++digest_.rows;
    digest_.a += h.a();
    digest_.b += h.b();
}

} // namespace tarnwick::jet
