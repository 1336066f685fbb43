#include "check/rowdigest.h"

#include "jet/bytes.h"
#include "jet/text.h"
#include "read/jet4form.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace tarnwick::jet {

bool holdsObjectIds(const std::string& table, const std::string& column) {
    if (table == "MSysObjects") return column == "Id" || column == "ParentId";
    if (table == "MSysACEs") return column == "ObjectId";
    if (table == "MSysNavPaneObjectIDs") return column == "Id";
    if (table == "MSysNavPaneGroupToObjects" || table == "MSysNavPaneGroups")
        return column == "ObjectID";
    if (table == "MSysNavPaneGroupCategories") return column == "SelectedObjectID";
    // ACE: which tables make up each complex column.
    if (table == "MSysComplexColumns")
        return column == "ConceptualTableID" || column == "FlatTableID" ||
               column == "ComplexTypeObjectID";
    return false;
}

namespace {

// The hashes below are two lanes of 128-bit multiply-fold steps over 16-byte blocks: fast, and
// independent enough that the sums of both over a table only agree by accident once in 2^128.

std::uint64_t load(const std::uint8_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

void prefetch(Bytes bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += 64)
        __builtin_prefetch(bytes.data() + at);
}

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t fold(std::uint64_t x, std::uint64_t y) {
    const unsigned __int128 r = static_cast<unsigned __int128>(x) * y;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

void block(std::uint64_t& a, std::uint64_t& b, std::uint64_t w0, std::uint64_t w1) {
    a = fold(w0 ^ a ^ 0xA0761D6478BD642Full, w1 ^ 0xE7037ED1A0B428DBull);
    b = fold(w1 ^ b ^ 0x8EBC6AF09C88C6E3ull, w0 ^ 0x589965CC75374CC3ull);
}

// A row: a stream of words, taken two to a block. Each field gives a header word (type, null,
// length) and then its bytes in words, the last one zero-padded; the length in the header
// keeps that unambiguous.
class WordHash {
public:
    void add(std::uint64_t w) {
        ++words_;
        if (!half_) {
            pending_ = w;
            half_ = true;
            return;
        }
        block(a_, b_, pending_, w);
        half_ = false;
    }
    void add(const std::uint8_t* p, std::size_t n) {
        for (; n >= 8; p += 8, n -= 8)
            add(load(p));
        if (n) add(loadPadded(p, n));
    }
    RowHashes finish() {
        if (half_) block(a_, b_, pending_, 0);
        block(a_, b_, words_, 0x2545F4914F6CDD1Dull);
        return {mix(a_), mix(b_ ^ 0x165667B19E3779F9ull)};
    }

private:
    std::uint64_t a_ = 0x243F6A8885A308D3ull, b_ = 0x13198A2E03707344ull;
    std::uint64_t pending_ = 0, words_ = 0;
    bool half_ = false;
};

// A long value: one stream of bytes across the pieces it is stored in, so that any cut gives
// the same hash. Blocks are dealt in turn to four lane pairs, which the processor runs side by
// side, and folded into one pair at the end.
class StreamHash {
public:
    void append(const std::uint8_t* p, std::size_t n) {
        if (n == 0) return; // an empty value may have no storage at all
        total_ += n;
        if (used_) {
            const std::size_t take = std::min(16 - used_, n);
            std::memcpy(pending_ + used_, p, take);
            used_ += take;
            p += take;
            n -= take;
            if (used_ < 16) return;
            next(pending_);
            used_ = 0;
        }
        while (n >= 16 && (blocks_ & 3)) {
            next(p);
            p += 16;
            n -= 16;
        }
        if (n >= 64) {
            // The lanes stay in registers: stores to members could alias the bytes read.
            std::uint64_t a0 = a_[0], b0 = b_[0], a1 = a_[1], b1 = b_[1];
            std::uint64_t a2 = a_[2], b2 = b_[2], a3 = a_[3], b3 = b_[3];
            const std::size_t quads = n / 64;
            for (std::size_t q = 0; q < quads; ++q, p += 64) {
                block(a0, b0, load(p), load(p + 8));
                block(a1, b1, load(p + 16), load(p + 24));
                block(a2, b2, load(p + 32), load(p + 40));
                block(a3, b3, load(p + 48), load(p + 56));
            }
            a_[0] = a0, b_[0] = b0, a_[1] = a1, b_[1] = b1;
            a_[2] = a2, b_[2] = b2, a_[3] = a3, b_[3] = b3;
            blocks_ += 4 * quads;
            n -= 64 * quads;
        }
        for (; n >= 16; p += 16, n -= 16)
            next(p);
        if (n) std::memcpy(pending_, p, n);
        used_ = n;
    }
    // The two lanes, after the last (zero-padded) block, the lanes that took blocks and the
    // stream's length.
    std::pair<std::uint64_t, std::uint64_t> finish() {
        std::memset(pending_ + used_, 0, 16 - used_);
        next(pending_);
        std::uint64_t a = a_[0], b = b_[0];
        for (std::size_t lane = 1; lane < 4 && lane < blocks_; ++lane)
            block(a, b, a_[lane], b_[lane]);
        block(a, b, total_, blocks_);
        return {mix(a), mix(b ^ 0x165667B19E3779F9ull)};
    }

private:
    void next(const std::uint8_t* p) {
        const std::size_t lane = blocks_++ & 3;
        block(a_[lane], b_[lane], load(p), load(p + 8));
    }
    std::uint64_t a_[4] = {0x243F6A8885A308D3ull, 0xA4093822299F31D0ull, 0x452821E638D01377ull,
                           0xC0AC29B7C97C50DDull};
    std::uint64_t b_[4] = {0x13198A2E03707344ull, 0x082EFA98EC4E6C89ull, 0xBE5466CF34E90C6Cull,
                           0x3F84D5B5B5470917ull};
    std::uint8_t pending_[16] = {};
    std::size_t used_ = 0;
    std::uint64_t total_ = 0, blocks_ = 0;
};

} // namespace

RowHashes hashStoredRow(Bytes row) {
    // The length first, so that the zero padding of the last block is unambiguous.
    std::uint64_t a = 0x243F6A8885A308D3ull, b = 0x13198A2E03707344ull;
    const std::uint8_t* p = row.data();
    std::size_t n = row.size();
    block(a, b, n, 0x2545F4914F6CDD1Dull);
    for (; n >= 16; p += 16, n -= 16)
        block(a, b, load(p), load(p + 8));
    if (n > 8)
        block(a, b, load(p), loadPadded(p + 8, n - 8));
    else if (n)
        block(a, b, loadPadded(p, n), 0);
    return {mix(a), mix(b ^ 0x165667B19E3779F9ull)};
}

RowDigester::RowDigester(const std::string& table, const TableDef& def, const TableIdMap& renumber,
                         TextForm text, int codePage)
    : renumber_(renumber.empty() ? nullptr : &renumber), text_(text), codePage_(codePage) {
    const bool decoded = text != TextForm::Stored;
    for (const Column& c : def.columns) {
        const std::uint8_t scale = c.type == ColumnType::Decimal ? c.scale : 0;
        columns_.push_back(
            {static_cast<std::uint64_t>(c.type) | std::uint64_t{scale} << 16, fixedSizeOf(c.type),
             c.type == ColumnType::Long && holdsObjectIds(table, c.name), c.isLong(), c.number,
             decoded && (c.type == ColumnType::Text || c.type == ColumnType::Memo),
             text == TextForm::Jet3 && table == "MSysObjects" && c.name == "LvProp"});
    }
}

std::pair<std::uint64_t, std::uint64_t> RowDigester::decodedLong(const Digested& c,
                                                                 std::span<const Bytes> pieces,
                                                                 std::uint64_t& length) const {
    std::vector<std::uint8_t> whole;
    for (Bytes p : pieces)
        whole.insert(whole.end(), p.begin(), p.end());
    std::vector<std::uint8_t> form;
    if (c.isProperties && !whole.empty()) {
        try {
            form = jet4PropertyBlob(whole, codePage_, "property blob");
        } catch (const JetError&) {
            form = whole; // cannot be converted: a conversion refuses it, so no digest matches
        }
    } else if (c.isText) {
        const std::string t =
            text_ == TextForm::Jet3 ? decodeJet3ForJet4(whole, codePage_) : decodeJet4Text(whole);
        form.assign(t.begin(), t.end());
    } else {
        form = std::move(whole);
    }
    StreamHash value;
    value.append(form.data(), form.size());
    length = form.size();
    return value.finish();
}

RowHashes RowDigester::hash(const std::vector<RawField>& fields,
                            const std::vector<std::vector<Bytes>>* longValues) const {
    WordHash h;
    auto header = [&](const Digested& c, bool present, bool boolValue, std::uint64_t length) {
        h.add(c.tag | std::uint64_t{present} << 8 | std::uint64_t{boolValue} << 9 | length << 24);
    };
    for (std::size_t i = 0; i < columns_.size() && i < fields.size(); ++i) {
        const RawField& f = fields[i];
        const Digested& c = columns_[i];
        if (text_ != TextForm::Stored) {
            if (!f.present || (c.fixedSize && f.data.empty())) continue;
            h.add(c.number);
        }
        if (c.isLong && f.present) {
            // The value's own hash stands for its bytes, whole or in pieces.
            const Bytes whole[1] = {f.data};
            const std::span<const Bytes> pieces =
                longValues ? std::span<const Bytes>((*longValues)[i]) : std::span(whole);
            if (c.isText || c.isProperties) {
                std::uint64_t length = 0;
                const auto [x, y] = decodedLong(c, pieces, length);
                header(c, true, f.boolValue, length);
                h.add(x);
                h.add(y);
                continue;
            }
            StreamHash value;
            std::uint64_t length = 0;
            for (std::size_t k = 0; k < pieces.size(); ++k) {
                // Pieces lie on pages of their own: the next one is fetched while this one is
                // hashed.
                if (k + 1 < pieces.size()) prefetch(pieces[k + 1]);
                value.append(pieces[k].data(), pieces[k].size());
                length += pieces[k].size();
            }
            header(c, true, f.boolValue, length);
            const auto [x, y] = value.finish();
            h.add(x);
            h.add(y);
            continue;
        }
        Bytes data = f.data;
        // A fixed-size value is its first bytes; an empty one reads as null.
        const bool present = f.present && !(c.fixedSize && data.empty());
        if (c.fixedSize && data.size() > c.fixedSize) data = data.first(c.fixedSize);
        if (c.isText && present) {
            const std::string t =
                text_ == TextForm::Jet3 ? decodeJet3ForJet4(data, codePage_) : decodeJet4Text(data);
            header(c, true, f.boolValue, t.size());
            h.add(reinterpret_cast<const std::uint8_t*>(t.data()), t.size());
            continue;
        }
        header(c, present, f.boolValue, present ? data.size() : 0);
        if (!present) continue;
        if (c.holdsIds && renumber_ && data.size() == 4) {
            auto it = renumber_->find(le32(data.data()));
            h.add(it != renumber_->end() ? it->second : le32(data.data()));
            continue;
        }
        h.add(data.data(), data.size());
    }
    return h.finish();
}

} // namespace tarnwick::jet
