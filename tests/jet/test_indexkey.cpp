// Index key segments of single values: each type, both directions, nulls, and text in both
// General sort orders. Expected bytes follow keys stored in the test databases.

#include "jet/error.h"
#include "jet/index.h"
#include "jet/indexkey.h"
#include "jet/keybytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace tarnwick::jet;
using B = std::vector<std::uint8_t>;

namespace {

Value integer(ColumnType t, std::int64_t v) {
    Value x;
    x.type = t;
    x.null = false;
    x.integer = v;
    return x;
}

Value real(ColumnType t, double v) {
    Value x;
    x.type = t;
    x.null = false;
    x.real = v;
    return x;
}

Value text(const char* s) {
    Value x;
    x.type = ColumnType::Text;
    x.null = false;
    x.text = s;
    return x;
}

Value bytes(ColumnType t, B b) {
    Value x;
    x.type = t;
    x.null = false;
    x.bytes = std::move(b);
    return x;
}

Value null(ColumnType t) {
    Value x;
    x.type = t;
    return x;
}

B segment(Version version, const Value& v, bool ascending) {
    Column c;
    c.name = "C";
    c.type = v.type;
    B key;
    appendKeySegment(key, version, 1252, c, v, ascending);
    return key;
}

TEST(IndexKey, Segments) {
    using T = ColumnType;
    const B guid{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    struct Case {
        const char* name;
        Version version;
        Value value;
        bool ascending;
        B key;
    } cases[] = {
        {"null ascending", Version::Jet4, null(T::Long), true, {0x00}},
        {"null descending", Version::Jet4, null(T::Text), false, {0xFF}},
        {"byte", Version::Jet4, integer(T::Byte, 0x12), true, {0x7F, 0x12}},
        {"byte descending", Version::Jet4, integer(T::Byte, 0x12), false, {0x80, 0xED}},
        {"integer -2", Version::Jet4, integer(T::Integer, -2), true, {0x7F, 0x7F, 0xFE}},
        {"long 1", Version::Jet4, integer(T::Long, 1), true, {0x7F, 0x80, 0, 0, 1}},
        {"long 1 descending",
         Version::Jet4,
         integer(T::Long, 1),
         false,
         {0x80, 0x7F, 0xFF, 0xFF, 0xFE}},
        {"currency 1.0000",
         Version::Jet3,
         integer(T::Currency, 10000),
         true,
         {0x7F, 0x80, 0, 0, 0, 0, 0, 0x27, 0x10}},
        {"boolean true", Version::Jet4, integer(T::Boolean, 1), true, {0x7F, 0x00}},
        {"boolean false descending", Version::Jet4, integer(T::Boolean, 0), false, {0x80, 0x00}},
        {"double 1.0",
         Version::Jet4,
         real(T::Double, 1.0),
         true,
         {0x7F, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
        {"double -1.0",
         Version::Jet4,
         real(T::Double, -1.0),
         true,
         {0x7F, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"double -1.0 descending",
         Version::Jet4,
         real(T::Double, -1.0),
         false,
         {0x80, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
        {"single 2.0", Version::Jet4, real(T::Single, 2.0), true, {0x7F, 0xC0, 0, 0, 0}},
        {"guid",
         Version::Jet4,
         bytes(T::Guid, guid),
         true,
         {0x7F, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x09, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
          0xDD, 0xEE, 0xFF, 0x08}},
        {"binary of 3 descending",
         Version::Jet4,
         bytes(T::Binary, {1, 2, 3}),
         false,
         {0x80, 0xFE, 0xFD, 0xFC, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC}},
        // Jet 3 General 97: codes, then the accent nibbles (A is significant, Ú an accent).
        {"general 97",
         Version::Jet3,
         text("AA\xC3\x9A"
              "AA"),
         true,
         {0x7F, 0x60, 0x60, 0x78, 0x60, 0x60, 0x02, 0x24, 0x00}},
        {"general 97 descending",
         Version::Jet3,
         text("a/a"),
         false,
         {0x80, 0x9F, 0xDF, 0x9F, 0xFF}},
        {"general 97 folds case, drops trailing spaces",
         Version::Jet3,
         text("Table1  "),
         true,
         {0x7F, 0x77, 0x60, 0x61, 0x6D, 0x66, 0x57, 0x00}},
        // Jet 4 General Legacy: codes, 01, accents, unprintables by position, 00.
        {"general legacy",
         Version::Jet4,
         text("C0000016"),
         true,
         {0x7F, 0x4D, 0x36, 0x36, 0x36, 0x36, 0x36, 0x38, 0x42, 0x01, 0x00}},
        {"general legacy accent and apostrophe",
         Version::Jet4,
         text("\xC3\x84r O'N"),
         true,
         {0x7F, 0x4A, 0x69, 0x07, 0x64, 0x62, 0x01, 0x13, 0x01, 0x01, 0x01, 0x80, 0x17, 0x06, 0x80,
          0x00}},
        {"general legacy descending",
         Version::Jet4,
         text("ab"),
         false,
         {0x80, 0xB5, 0xB3, 0xFE, 0xFF, 0x00}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(segment(c.version, c.value, c.ascending), c.key) << c.name;
}

TEST(IndexKey, WholeKeyAndErrors) {
    TableDef def;
    Column a, b;
    a.name = "Id";
    a.type = ColumnType::Long;
    a.number = 0;
    b.name = "Name";
    b.type = ColumnType::Text;
    b.number = 1;
    def.columns = {a, b};
    RealIndex idx;
    idx.columns = {{1, true}, {0, false}};
    const std::vector<Value> row{integer(ColumnType::Long, 1), text("ab")};
    EXPECT_EQ(encodeIndexKey(Version::Jet4, 1252, def, idx, row),
              (B{0x7F, 0x4A, 0x4C, 0x01, 0x00, 0x80, 0x7F, 0xFF, 0xFF, 0xFE}));

    // A code point that is no character (U+FFFF) names the column and the value.
    const std::vector<Value> odd{integer(ColumnType::Long, 1), text("x\xEF\xBF\xBF")};
    try {
        encodeIndexKey(Version::Jet4, 1252, def, idx, odd);
        ADD_FAILURE() << "U+FFFF encoded";
    } catch (const JetError& e) {
        EXPECT_NE(std::string(e.what()).find("column \"Name\""), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("U+FFFF"), std::string::npos) << e.what();
    }

    // The column's sort order version picks the table: General (1) expands and weighs
    // differently from General Legacy (0).
    const struct {
        const char* text;
        B legacy, general;
    } orders[] = {
        {"A", {0x7F, 0x4A, 0x01, 0x00}, {0x7F, 0x0E, 0x02, 0x01, 0x00}},
        {"\xC3\x9C", {0x7F, 0x6F, 0x01, 0x13, 0x00}, {0x7F, 0x0E, 0x9F, 0x0E, 0x21, 0x01, 0x00}},
        {"a'b",
         {0x7F, 0x4A, 0x4C, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x80, 0x00},
         {0x7F, 0x0E, 0x02, 0x0E, 0x09, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x80, 0x00}},
    };
    for (const auto& o : orders)
        for (int version : {0, 1}) {
            b.sortOrderVersion = version;
            B key;
            appendKeySegment(key, Version::Jet4, 1252, b, text(o.text), true);
            EXPECT_EQ(key, version ? o.general : o.legacy) << o.text << " " << version;
        }
    idx.columns = {{7, true}};
    EXPECT_THROW(encodeIndexKey(Version::Jet4, 1252, def, idx, row), JetError);
}

// Sorting must give exactly `compare`'s order however keys tie: equal leading bytes with
// different lengths, keys that are prefixes of others (within and across eight-byte steps),
// equal keys settled by page and row, short, empty and long keys, 0x00 and 0xFF bytes; with
// entries arriving in page order or not, in runs small and large.
TEST(IndexEntries, SortInCompareOrder) {
    struct Case {
        const char* name;
        std::size_t count;
        std::size_t minLength, maxLength;
        std::size_t lead; // leading bytes all keys share (as far as they reach)
        B alphabet;
        std::size_t distinct; // keys drawn from so many, or 0 for each its own
    };
    const Case cases[] = {
        {"short and empty", 600, 0, 7, 0, {0x00, 0xFF}, 0},
        {"prefixes of each other", 4000, 0, 26, 0, {0x00, 0x01}, 0},
        {"shared lead, long", 4000, 5, 45, 17, {0x00, 0x7F, 0xFF}, 0},
        {"equal keys", 4000, 0, 20, 1, {0x00, 0xFF}, 12},
        {"few", 25, 0, 20, 3, {0x00, 0xFF}, 6},
    };
    std::mt19937 rng(7);
    auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (const Case& c : cases)
        for (bool pageOrder : {true, false}) {
            std::vector<KeyBytes> pool;
            const std::size_t keys = c.distinct ? c.distinct : c.count;
            for (std::size_t k = 0; k < keys; ++k) {
                B key(c.minLength + pick(c.maxLength - c.minLength + 1));
                for (std::size_t i = 0; i < key.size(); ++i)
                    key[i] = i < c.lead ? 0x7F : c.alphabet[pick(c.alphabet.size())];
                pool.emplace_back(key.data(), key.size());
            }
            std::vector<IndexEntry> entries(c.count);
            const B stale(KeyBytes::kInline, 0xFF); // left behind a shorter key's end
            for (auto& e : entries) {
                e.key.assign(stale.data(), stale.size());
                e.key = pool[pick(pool.size())];
                e.page = pick(8) == 0 ? 0xFFFFFFFFu - static_cast<std::uint32_t>(pick(2))
                                      : static_cast<std::uint32_t>(pick(3));
                e.row = static_cast<std::uint8_t>(pick(256));
            }
            if (pageOrder)
                std::sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) {
                    return std::pair(x.page, x.row) < std::pair(y.page, y.row);
                });
            std::vector<IndexEntry> expected = entries;
            std::sort(expected.begin(), expected.end(),
                      [](const auto& x, const auto& y) { return x.compare(y) < 0; });
            sortIndexEntries(entries);
            std::size_t wrong = 0;
            for (std::size_t i = 0; i < entries.size() && !wrong; ++i)
                if (entries[i].compare(expected[i]) != 0) wrong = i + 1;
            EXPECT_EQ(wrong, 0u) << c.name << (pageOrder ? ", page order" : ", any order")
                                 << ": first wrong entry " << wrong - 1;
        }
}

// Keys move between the inline and the heap form as they grow and shrink; each form must
// survive copies, moves and reuse with its bytes intact.
TEST(KeyBytes, KeepsTheirBytesAcrossInlineAndHeapForms) {
    auto bytes = [](std::size_t n, std::uint8_t seed) {
        B b(n);
        for (std::size_t i = 0; i < n; ++i)
            b[i] = static_cast<std::uint8_t>(seed + 7 * i);
        return b;
    };
    auto same = [](const KeyBytes& k, const B& b) { return B(k.begin(), k.end()) == b; };
    const std::size_t sizes[] = {0, 1, KeyBytes::kInline, KeyBytes::kInline + 1, 300};
    for (std::size_t from : sizes)
        for (std::size_t to : sizes) {
            const B a = bytes(from, 1), b = bytes(to, 2);
            KeyBytes k(a.data(), a.size());
            KeyBytes copy = k;
            k.assign(b.data(), b.size());
            EXPECT_TRUE(same(k, b) && same(copy, a)) << from << " -> " << to;
            KeyBytes moved = std::move(k);
            k = copy;
            copy = std::move(moved);
            EXPECT_TRUE(same(k, a) && same(copy, b) && k == KeyBytes(a.data(), a.size()))
                << from << " -> " << to;
        }
}

} // namespace
