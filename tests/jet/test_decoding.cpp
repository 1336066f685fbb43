// Decoding pieces on hand-made bytes: text, value formats, row layouts, usage maps, index pages,
// long values and the database header. None of these needs the test databases.

#include "check/rowdigest.h"
#include "jet/bytes.h"
#include "jet/complex.h"
#include "jet/header.h"
#include "jet/index.h"
#include "jet/pagefile.h"
#include "jet/row.h"
#include "jet/text.h"
#include "jet/usagemap.h"
#include "jet/value.h"
#include "read/datapage.h"
#include "read/longvalue.h"
#include "read/properties.h"
#include "write/pagewriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

using namespace tarnwick::jet;
using B = std::vector<std::uint8_t>;

namespace {

// An in-memory file of `pages` zeroed pages.
struct FakeFile {
    Format format;
    B bytes;
    FakeFile(Version v, std::uint32_t pages)
        : format(Format::forVersion(v)), bytes(pages * format.pageSize) {}
    std::uint8_t* page(std::uint32_t n) { return bytes.data() + n * format.pageSize; }
    // Writes a data page whose rows are packed downwards from the end in slot order.
    void dataPage(std::uint32_t n, std::uint32_t owner, const std::vector<B>& rows,
                  std::vector<std::uint16_t> flags = {}) {
        B p(format.pageSize);
        p[0] = 0x01;
        p[1] = 0x01;
        put32(p.data() + 4, owner);
        put16(p.data() + format.dataRowCountOffset, static_cast<std::uint16_t>(rows.size()));
        std::size_t at = format.pageSize;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            at -= rows[i].size();
            if (!rows[i].empty()) std::memcpy(p.data() + at, rows[i].data(), rows[i].size());
            const std::uint16_t f = i < flags.size() ? flags[i] : 0;
            put16(p.data() + format.dataHeaderLength + 2 * i, static_cast<std::uint16_t>(at | f));
        }
        put16(p.data() + 2,
              static_cast<std::uint16_t>(at - format.dataHeaderLength - 2 * rows.size()));
        std::memcpy(page(n), p.data(), p.size());
    }
    PageFile open() const { return PageFile(memorySource(bytes), format, 0); }
};

Bytes span(const B& b) {
    return Bytes(b.data(), b.size());
}

TEST(Text, Jet4Forms) {
    struct Case {
        const char* name;
        B bytes;
        std::string utf8;
    } cases[] = {
        {"compressed", {0xFF, 0xFE, 'f', 'o', 'o'}, "foo"},
        {"plain", {'f', 0, 'o', 0}, "fo"},
        {"mode switch",
         {0xFF, 0xFE, 'a', 0x00, 0xB1, 0x03, 0x00, 'b'},
         "a\xCE\xB1"
         "b"},
        {"surrogate pair", {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        {"lone surrogate", {0x3D, 0xD8, 'x', 0}, "\xEF\xBF\xBDx"},
        {"odd trailing byte", {'a', 0, 'b'}, "a"},
        {"empty compressed", {0xFF, 0xFE}, ""},
        {"ASCII, then a Latin-1 byte", {0xFF, 0xFE, 'a', 'b', 0xE9}, "ab\xC3\xA9"},
        {"plain ASCII, then a Greek unit", {'a', 0, 0xB1, 0x03}, "a\xCE\xB1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeJet4Text(span(c.bytes)), c.utf8) << c.name;
}

TEST(Text, CodePage1252) {
    const B b = {'A', 0x80, 0x81, 0xE9, 0x9F};
    EXPECT_EQ(decodeCodePage(span(b), 1252), "A\xE2\x82\xAC\xC2\x81\xC3\xA9\xC5\xB8");
    // Other code pages fall back to Latin-1 rather than failing.
    EXPECT_EQ(decodeCodePage(span(b), 1250), "A\xC2\x80\xC2\x81\xC3\xA9\xC2\x9F");
}

TEST(Values, Currency) {
    EXPECT_EQ(formatCurrency(35000), "3.5000");
    EXPECT_EQ(formatCurrency(-1), "-0.0001");
    EXPECT_EQ(formatCurrency(0), "0.0000");
    EXPECT_EQ(formatCurrency(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
}

B decimalBytes(bool negative, unsigned __int128 mag) {
    B b(17);
    b[0] = negative ? 0x80 : 0;
    for (int w = 0; w < 4; ++w) {
        const auto word = static_cast<std::uint32_t>(mag >> (32 * (3 - w)));
        put32(b.data() + 1 + 4 * static_cast<std::size_t>(w), word);
    }
    return b;
}

TEST(Values, Decimal) {
    EXPECT_EQ(formatDecimal(decimalBytes(false, 1), 0), "1");
    EXPECT_EQ(formatDecimal(decimalBytes(true, 150), 2), "-1.50");
    EXPECT_EQ(formatDecimal(decimalBytes(false, 5), 3), "0.005");
    EXPECT_EQ(formatDecimal(decimalBytes(true, 0), 2), "0.00");
    // Words are most significant first: 2^32 sits in the third word.
    EXPECT_EQ(formatDecimal(decimalBytes(false, static_cast<unsigned __int128>(1) << 32), 0),
              "4294967296");
    EXPECT_EQ(formatDecimal(decimalBytes(false, ~static_cast<unsigned __int128>(0)), 0),
              "340282366920938463463374607431768211455");
}

TEST(Values, DateTime) {
    struct Case {
        double days;
        const char* text;
    } cases[] = {
        {0.0, "1899-12-30T00:00:00"},
        {-1.25, "1899-12-29T06:00:00"},
        {36526.5, "2000-01-01T12:00:00"},
        {2.0 + 1.5 / 86400.0, "1900-01-01T00:00:01.500"},
        {60.0, "1900-02-28T00:00:00"},
        {61.0, "1900-03-01T00:00:00"},
        {1.0 - 1e-10, "1899-12-31T00:00:00"}, // rounds up to midnight of the next day
        {2958465.99998843, "9999-12-31T23:59:59"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatDateTime(c.days), c.text) << c.days;
}

TEST(Values, GuidBase64AndFloats) {
    const B g = {0x6A, 0x27, 0x39, 0x8E, 0xA8, 0xBC, 0xC4, 0x4A,
                 0x89, 0x1E, 0x49, 0x91, 0x1D, 0x84, 0x38, 0xDD};
    EXPECT_EQ(formatGuid(g), "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
    EXPECT_EQ(base64({}), "");
    EXPECT_EQ(base64({'f'}), "Zg==");
    EXPECT_EQ(base64({'f', 'o'}), "Zm8=");
    EXPECT_EQ(base64({'f', 'o', 'o', 0xFF}), "Zm9v/w==");
    EXPECT_EQ(formatDouble(0.1), "0.1");
    EXPECT_EQ(formatDouble(444.555), "444.555");
    EXPECT_EQ(formatSingle(444.555f), "444.555");
    EXPECT_EQ(formatDouble(-0.00035134), "-0.00035134");
}

Column col(std::uint16_t number, ColumnType type, bool fixed, std::uint16_t offsetOrVar,
           std::uint16_t length) {
    Column c;
    c.name = "c" + std::to_string(number);
    c.number = number;
    c.type = type;
    c.flags = fixed ? colflag::fixed : 0;
    if (fixed)
        c.fixedOffset = offsetOrVar;
    else
        c.varIndex = offsetOrVar;
    c.length = length;
    return c;
}

TEST(Rows, Jet3WorkedExample) {
    // delColTestV1997, Table1, page 31 row 0.
    const B row = {0x04, 0,   0,   0,   0,   2,    0,    0,    0,    'f', 'o',
                   'o',  'f', 'o', 'o', '2', 0x10, 0x0c, 0x09, 0x02, 0x0f};
    TableDef def;
    def.maxColumns = 4;
    def.variableColumns = 2;
    def.columns = {col(0, ColumnType::Long, true, 0, 4), col(1, ColumnType::Long, true, 4, 4),
                   col(2, ColumnType::Text, false, 0, 50), col(3, ColumnType::Text, false, 1, 50)};
    auto f = splitRow(Format::forVersion(Version::Jet3), def, span(row), "row", 31, 0);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[1].data[0], 2);
    EXPECT_EQ(std::string(f[2].data.begin(), f[2].data.end()), "foo");
    EXPECT_EQ(std::string(f[3].data.begin(), f[3].data.end()), "foo2");
}

TEST(Rows, Jet3JumpTable) {
    TableDef def;
    def.maxColumns = 2;
    def.variableColumns = 2;
    def.columns = {col(0, ColumnType::Binary, false, 0, 255),
                   col(1, ColumnType::Binary, false, 1, 255)};
    const Format f3 = Format::forVersion(Version::Jet3);
    {
        // Offsets 1, 201 and end 301: one jump byte naming entry 2 (the end) as the first past 256.
        B row(307, 0xAA);
        row[0] = 2;
        row[301] = 301 - 256;
        row[302] = 201;
        row[303] = 1;
        row[304] = 2;
        row[305] = 2;
        row[306] = 0x03;
        auto f = splitRow(f3, def, span(row), "row", 9, 0);
        EXPECT_EQ(f[0].data.size(), 200u);
        EXPECT_EQ(f[1].data.size(), 100u);
    }
    {
        // Only the trailer crosses 256: the jump slot holds the dummy 0xFF.
        B row(258, 0xAA);
        row[0] = 2;
        // var data 1..252 (0: 1..200, 1: 200..252), end 252
        row[252] = 252;
        row[253] = 200;
        row[254] = 1;
        row[255] = 0xFF;
        row[256] = 2;
        row[257] = 0x03;
        auto f = splitRow(f3, def, span(row), "row", 9, 0);
        EXPECT_EQ(f[0].data.size(), 199u);
        EXPECT_EQ(f[1].data.size(), 52u);
    }
}

TEST(Rows, Jet4ShortRowsAndNulls) {
    TableDef def;
    def.maxColumns = 4;
    def.variableColumns = 2;
    def.columns = {col(0, ColumnType::Long, true, 0, 4), col(1, ColumnType::Text, false, 0, 100),
                   col(2, ColumnType::Boolean, true, 0, 1),
                   col(3, ColumnType::Text, false, 1, 100)};
    // Written when the table had three columns and one variable slot: count 3, fixed 4 bytes,
    // var "ab", EOD, one offset, count, mask (col 0 and col 2 set, col 1 null... set as present).
    B row = {3, 0, 7, 0, 0, 0, 'a', 'b', 8, 0, 6, 0, 1, 0, 0x07};
    const Format f4 = Format::forVersion(Version::Jet4);
    auto f = splitRow(f4, def, span(row), "row", 1, 0);
    EXPECT_TRUE(f[0].present);
    EXPECT_EQ(f[0].data[0], 7);
    EXPECT_EQ(std::string(f[1].data.begin(), f[1].data.end()), "ab");
    EXPECT_TRUE(f[2].present);
    EXPECT_TRUE(f[2].boolValue);
    EXPECT_FALSE(f[3].present) << "column added after the row was written is null";
    row[14] = 0x01; // only column 0 present
    f = splitRow(f4, def, span(row), "row", 1, 0);
    EXPECT_FALSE(f[1].present);
    EXPECT_FALSE(f[2].boolValue);
}

TEST(Rows, DamagedTrailersAreErrors) {
    TableDef def;
    def.maxColumns = 2;
    def.variableColumns = 1;
    def.columns = {col(0, ColumnType::Long, true, 0, 4), col(1, ColumnType::Text, false, 0, 100)};
    const Format f4 = Format::forVersion(Version::Jet4);
    const B good = {2, 0, 7, 0, 0, 0, 'a', 'b', 8, 0, 6, 0, 1, 0, 0x03};
    EXPECT_NO_THROW(splitRow(f4, def, span(good), "data page", 1, 0));
    struct Case {
        const char* name;
        std::size_t at;
        std::uint8_t value;
    } cases[] = {{"var count too large", 12, 200},
                 {"end past trailer", 8, 40},
                 {"offset past end", 10, 9},
                 {"column count huge", 1, 0xFF},
                 {"offset before fixed", 10, 0}};
    for (const auto& c : cases) {
        B bad = good;
        bad[c.at] = c.value;
        try {
            splitRow(f4, def, span(bad), "data page", 17, 3);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const JetError& e) {
            EXPECT_EQ(e.structure(), "data page") << c.name;
            EXPECT_EQ(e.page(), 17u) << c.name;
            EXPECT_NE(std::string(e.what()).find("row 3"), std::string::npos)
                << c.name << ": " << e.what();
        }
    }
    // Fixed column wider than the fixed area.
    def.columns[0].length = 8;
    EXPECT_THROW(splitRow(f4, def, span(good), "data page", 1, 0), JetError);
}

TEST(DataPages, ExtentsFlagsAndFreeSpace) {
    FakeFile ff(Version::Jet4, 4);
    ff.dataPage(2, 9, {B(10, 1), B(), B(20, 3)}, {0, 0xC000, 0x4000});
    PageFile pf = ff.open();
    DataPage dp = readDataPage(pf, 2, "data page");
    ASSERT_EQ(dp.slots.size(), 3u);
    EXPECT_EQ(dp.owner, 9u);
    EXPECT_EQ(dp.slots[0].length(), 10u);
    EXPECT_TRUE(dp.slots[1].isDeleted());
    EXPECT_EQ(dp.slots[1].length(), 0u);
    EXPECT_TRUE(dp.slots[2].isForward());
    EXPECT_EQ(dp.slots[2].length(), 20u);
    EXPECT_EQ(dp.freeSpace, dp.computedFreeSpace(ff.format));
    EXPECT_EQ(dp.computedFreeSpace(ff.format), 4096u - 30 - 14 - 6);
    // A row count that cannot fit is refused; an offset inside the row table marks the slot bad.
    put16(ff.bytes.data() + 2 * 4096 + 12, 3000);
    EXPECT_THROW(readDataPage(ff.open(), 2, "data page"), JetError);
    put16(ff.bytes.data() + 2 * 4096 + 12, 3);
    put16(ff.bytes.data() + 2 * 4096 + 14, 4);
    EXPECT_FALSE(readDataPage(ff.open(), 2, "data page").slots[0].valid);
    EXPECT_THROW(readDataPage(ff.open(), 7, "data page"), JetError) << "page beyond the file";
}

TEST(UsageMaps, InlineAndReference) {
    FakeFile ff(Version::Jet4, 40);
    B inlineRow(69);
    put32(inlineRow.data() + 1, 8);
    inlineRow[5] = 0x05;  // pages 8, 10
    inlineRow[6] = 0x80;  // page 23
    inlineRow[10] = 0x01; // page 48: past the end of a 40-page file
    PageFile pf = ff.open();
    UsageMap m = parseUsageMap(pf, span(inlineRow), "map", 6);
    EXPECT_EQ(m.pages, (std::vector<std::uint32_t>{8, 10, 23}));
    EXPECT_EQ(m.bitsBeyondFile, 1u);
    EXPECT_EQ(m.capacityEnd, 8u + 512u);

    // Reference map: slot 0 names page 30, a bitmap page with bits for pages 3 and 39.
    std::uint8_t* bm = ff.page(30);
    bm[0] = 0x05;
    bm[1] = 0x01;
    bm[4] = 0x08;
    bm[4 + 4] = 0x80;
    B refRow(69);
    refRow[0] = 1;
    put32(refRow.data() + 1, 30);
    put32(refRow.data() + 5, 1000); // slot 1: outside the file
    PageFile pf2 = ff.open();
    m = parseUsageMap(pf2, span(refRow), "map", 6);
    EXPECT_EQ(m.pages, (std::vector<std::uint32_t>{3, 39}));
    EXPECT_EQ(m.bitmapPages, (std::vector<std::uint32_t>{30}));
    ASSERT_EQ(m.badSlots.size(), 1u);
    EXPECT_EQ(m.badSlots[0].slot, 1u);
    refRow[0] = 7;
    EXPECT_THROW(parseUsageMap(pf2, span(refRow), "map", 6), JetError);
}

// A Jet 3 leaf page holding the given full entries, stored with a shared prefix.
void leafPage(FakeFile& ff, std::uint32_t n, std::uint32_t owner, const std::vector<B>& entries,
              std::size_t prefix) {
    std::uint8_t* p = ff.page(n);
    const Format& f = ff.format;
    p[0] = 0x04;
    p[1] = 0x01;
    std::memcpy(p + 4, &owner, 4);
    p[f.indexPrefixOffset] = static_cast<std::uint8_t>(prefix);
    std::size_t pos = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t skip = i ? prefix : 0;
        std::memcpy(p + f.indexFirstEntry + pos, entries[i].data() + skip,
                    entries[i].size() - skip);
        pos += entries[i].size() - skip;
        p[f.indexMaskOffset + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
    const auto free = static_cast<std::uint16_t>(f.pageSize - f.indexFirstEntry - pos);
    std::memcpy(p + 2, &free, 2);
}

TEST(IndexPages, PrefixAndRowPointers) {
    FakeFile ff(Version::Jet3, 6);
    const std::vector<B> entries = {{0x7F, 'a', 'b', 'c', 0x00, 0x01, 0x02, 0x05},
                                    {0x7F, 'a', 'b', 'd', 0x00, 0x01, 0x02, 0x06},
                                    {0x7F, 'a', 'b', 'd', 0x01, 0x00, 0x00, 0x00}};
    leafPage(ff, 4, 2, entries, 3);
    PageFile pf = ff.open();
    IndexPage ip = readIndexPage(pf, 4);
    ASSERT_EQ(ip.entries.size(), 3u);
    EXPECT_EQ(B(ip.entries[1].key.begin(), ip.entries[1].key.end()), (B{0x7F, 'a', 'b', 'd'}));
    EXPECT_EQ(ip.entries[1].page, 0x000102u) << "page number is big-endian";
    EXPECT_EQ(ip.entries[1].row, 6u);
    EXPECT_EQ(ip.entries[2].page, 0x010000u);
    EXPECT_EQ(ip.freeSpace, ip.computedFreeSpace(ff.format));
    EXPECT_LT(ip.entries[0].compare(ip.entries[1]), 0);
    EXPECT_LT(ip.entries[1].compare(ip.entries[2]), 0);
    IndexWalk w = walkIndex(pf, 4, 2);
    EXPECT_TRUE(w.problems.empty());
    EXPECT_EQ(w.entries.size(), 3u);
    // Wrong table, and a root that is not an index page: reported, not thrown.
    EXPECT_FALSE(walkIndex(pf, 4, 3).problems.empty());
    EXPECT_FALSE(walkIndex(pf, 5, 2).problems.empty());
    EXPECT_FALSE(walkIndex(pf, 99, 2).problems.empty());
}

TEST(IndexPages, IntermediateLoopIsReported) {
    FakeFile ff(Version::Jet3, 6);
    // Page 3: intermediate whose only entry names itself as child.
    std::uint8_t* p = ff.page(3);
    p[0] = 0x03;
    p[1] = 0x01;
    p[4] = 2;
    const B entry = {0x7F, 'x', 0, 0, 1, 0, 0, 0, 0, 3};
    std::memcpy(p + ff.format.indexFirstEntry, entry.data(), entry.size());
    p[ff.format.indexMaskOffset + 1] = 0x04; // bit 10
    PageFile pf = ff.open();
    IndexWalk w = walkIndex(pf, 3, 2);
    ASSERT_FALSE(w.problems.empty());
    EXPECT_NE(w.problems[0].find("reached twice"), std::string::npos) << w.problems[0];
}

TEST(LongValues, KindsAndChains) {
    FakeFile ff(Version::Jet4, 8);
    auto seg = [](std::uint32_t next, const std::string& data) {
        B b(4);
        put32(b.data(), next);
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    // Page 3: a single-row value in row 0 and chain segments in rows 1 and 2.
    ff.dataPage(3, lvalOwner,
                {B{'h', 'e', 'l', 'l', 'o'}, seg((3u << 8) | 2, "abc"), seg(0, "de")});
    ff.dataPage(4, 1234, {B{'x'}});
    PageFile pf = ff.open();
    auto def = [](std::uint32_t word, std::uint32_t rp) {
        B b(12);
        put32(b.data(), word);
        put32(b.data() + 4, rp);
        return b;
    };
    B inl = def(0x80000003, 0);
    inl.insert(inl.end(), {'x', 'y', 'z'});
    EXPECT_EQ(readLongValue(pf, span(inl), 1), (B{'x', 'y', 'z'}));
    EXPECT_EQ(readLongValue(pf, span(def(0x40000005, 3u << 8)), 1), (B{'h', 'e', 'l', 'l', 'o'}));
    std::vector<RowPointer> visited;
    EXPECT_EQ(readLongValue(pf, span(def(5, (3u << 8) | 1)), 1, &visited),
              (B{'a', 'b', 'c', 'd', 'e'}));
    EXPECT_EQ(visited.size(), 2u);

    struct Bad {
        const char* name;
        B field;
    } bad[] = {
        {"inline longer than the field", def(0x80000010, 0)},
        {"chain shorter than declared", def(9, (3u << 8) | 1)},
        {"chain longer than declared", def(4, (3u << 8) | 1)},
        {"not a long-value page", def(0x40000001, 4u << 8)},
        {"missing row", def(0x40000001, (3u << 8) | 9)},
        {"page beyond the file", def(0x40000001, 100u << 8)},
        {"length beyond the file", def(0x3FFFFFFF, 3u << 8)},
        {"too short", B(5)},
    };
    for (const auto& b : bad) {
        try {
            readLongValue(pf, span(b.field), 1);
            ADD_FAILURE() << b.name << ": accepted";
        } catch (const JetError& e) {
            EXPECT_EQ(e.structure(), "long value") << b.name;
        }
    }
    // A chain whose second segment points back at the first.
    ff.dataPage(5, lvalOwner, {seg((5u << 8) | 1, "ab"), seg((5u << 8) | 0, "cd")});
    PageFile pf2 = ff.open();
    try {
        readLongValue(pf2, span(def(100, 5u << 8)), 1);
        ADD_FAILURE() << "loop accepted";
    } catch (const JetError& e) {
        EXPECT_NE(std::string(e.what()).find("loops"), std::string::npos) << e.what();
    }
}

B headerPage(Version v) {
    const Format f = Format::forVersion(v);
    B p(f.pageSize);
    p[1] = 0x01;
    std::memcpy(p.data() + 4, "Standard Jet DB", 16);
    p[0x14] = v == Version::Jet4 ? 1 : 0;
    return p;
}

void mask(B& p, Version v) {
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4(key, std::span<std::uint8_t>(p.data() + 0x18, v == Version::Jet4 ? 128 : 126));
}

TEST(Header, Jet4PasswordAndFields) {
    B p = headerPage(Version::Jet4);
    const double created = 44568.6769;
    std::memcpy(p.data() + 0x72, &created, 8);
    put16(p.data() + 0x3C, 1252);
    put16(p.data() + 0x6E, 1033);
    const std::uint32_t n = 44568;
    const char pw[] = "password";
    for (std::size_t i = 0; i < 40; ++i) {
        const std::uint8_t plain =
            i / 2 < 8 && i % 2 == 0 ? static_cast<std::uint8_t>(pw[i / 2]) : 0;
        p[0x42 + i] = plain ^ static_cast<std::uint8_t>(n >> (8 * (i % 4)));
    }
    mask(p, Version::Jet4);
    DatabaseHeader h = parseHeader(span(p));
    EXPECT_EQ(h.version, Version::Jet4);
    EXPECT_EQ(h.codePage, 1252);
    EXPECT_EQ(h.sortOrder, 1033);
    EXPECT_DOUBLE_EQ(*h.creationDate, created);
    EXPECT_EQ(h.password, "password");
    EXPECT_TRUE(passwordMatches(h, "password"));
    EXPECT_FALSE(passwordMatches(h, "Password"));
    EXPECT_FALSE(passwordMatches(h, ""));
}

TEST(Header, Jet3PasswordAndRejects) {
    B p = headerPage(Version::Jet3);
    put16(p.data() + 0x3A, 0x0409);
    std::memcpy(p.data() + 0x42, "geheim", 6);
    mask(p, Version::Jet3);
    DatabaseHeader h = parseHeader(span(p));
    EXPECT_EQ(h.version, Version::Jet3);
    EXPECT_EQ(h.pageSize, 2048u);
    EXPECT_EQ(h.sortOrder, 0x0409);
    EXPECT_EQ(h.password, "geheim");

    struct Case {
        const char* name;
        std::size_t at;
        std::uint8_t value;
    } cases[] = {{"page type", 0, 0x01}, {"engine name", 5, 'x'}, {"ACCDB version", 0x14, 2}};
    for (const auto& c : cases) {
        B bad = headerPage(Version::Jet3);
        bad[c.at] = c.value;
        try {
            parseHeader(span(bad));
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const JetError& e) {
            EXPECT_EQ(e.structure(), "database definition page") << c.name;
            EXPECT_EQ(e.page(), 0u);
        }
    }
    EXPECT_THROW(parseHeader(Bytes(p.data(), 100)), JetError);
}

TEST(Header, AceVersionsByPageZeroAndRejects) {
    struct Case {
        const char* engine;
        std::uint8_t level;
        std::uint32_t key;
        int ace; // 0: refused
        const char* name;
    } cases[] = {
        {"Standard ACE DB", 2, 0, 12, "ACE 12 (Access 2007)"},
        {"Standard ACE DB", 3, 0, 14, "ACE 14 (Access 2010)"},
        {"Standard ACE DB", 4, 0, 15, "ACE 15 (Access 2013)"},
        {"Standard ACE DB", 5, 0, 16, "ACE 16 (Access 2016)"},
        {"Standard ACE DB", 6, 0, 17, "ACE 17 (Access 2019 / 365)"},
        {"Standard ACE DB", 1, 0, 0, ""},
        {"Standard ACE DB", 7, 0, 0, ""},
        {"Standard Jet DB", 3, 0, 0, ""},
        {"Standard ACE DB", 3, 0x1234, -1, ""}, // encrypted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.level));
        B p = headerPage(Version::Jet4);
        std::memcpy(p.data() + 4, c.engine, 16);
        p[0x14] = c.level;
        p[0x15] = 1; // set in most 2010 files; not part of the version
        put16(p.data() + 0x6E, 1033);
        p[0x71] = 1;
        put32(p.data() + 0x3E, c.key);
        mask(p, Version::Jet4);
        try {
            const DatabaseHeader h = parseHeader(span(p));
            EXPECT_EQ(h.aceVersion, c.ace);
            EXPECT_EQ(h.version, Version::Jet4);
            EXPECT_EQ(h.sortOrderVersion, 1);
            EXPECT_EQ(formatName(h), c.name);
            EXPECT_TRUE(h.password.empty());
        } catch (const DatabaseEncrypted& e) {
            EXPECT_EQ(c.ace, -1);
            EXPECT_EQ(e.detail(), "is encrypted with a database password; Tarnwick cannot open it");
        } catch (const JetError& e) {
            EXPECT_EQ(c.ace, 0) << e.what();
            EXPECT_EQ(e.structure(), "database definition page");
        }
    }
}

TEST(AceValues, ExtendedDateTimes) {
    const struct {
        const char* stored;
        const char* shown;
    } cases[] = {
        {"0000000000000737954:0000000459000000000:7", "2021-06-14T12:45:00"},
        {"0000000000000000000:0000000000000000001:7", "0001-01-01T00:00:00.0000001"},
        {"0000000000003652058:0000000863990000000:7", "9999-12-31T23:59:59"},
        {"0000000000000737954:0000000459001230000:7", "2021-06-14T12:45:00.123"},
        {"0000000000000737954:00000004590x0000000:7", "0000000000000737954:00000004590x0000000:7"},
    };
    for (const auto& c : cases) {
        B stored(c.stored, c.stored + 41);
        stored.push_back(0);
        EXPECT_EQ(formatExtDateTime(stored), c.shown) << c.stored;
    }
}

TEST(AceValues, AttachmentContent) {
    // Content: header length, 1, characters of "txt\0", "txt\0" in UCS-2, the file.
    B content = {20, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 't', 0, 'x', 0, 't', 0, 0, 0};
    const std::string file = "this is some test data for attachment.";
    content.insert(content.end(), file.begin(), file.end());
    B raw = {0, 0, 0, 0, 0, 0, 0, 0};
    raw.insert(raw.end(), content.begin(), content.end());
    uLongf packedLength = compressBound(static_cast<uLong>(content.size()));
    B packed(packedLength);
    ASSERT_EQ(compress(packed.data(), &packedLength, content.data(), content.size()), Z_OK);
    packed.resize(packedLength);
    B deflated = {1, 0, 0, 0, static_cast<std::uint8_t>(content.size()), 0, 0, 0};
    deflated.insert(deflated.end(), packed.begin(), packed.end());
    for (const B& stored : {raw, deflated})
        EXPECT_EQ(attachmentContent(span(stored), "attachment"), B(file.begin(), file.end()));

    B cut = deflated;
    cut.resize(cut.size() - 4);
    B huge = deflated;
    huge[7] = 0x7F; // claims 2 GiB
    B kind = raw;
    kind[0] = 2;
    B header = raw;
    header[8] = 200;
    for (const B& bad : {cut, huge, kind, header, B{1, 0}})
        EXPECT_THROW(attachmentContent(span(bad), "attachment"), JetError);
}

TEST(AceValues, PropertyBlobs) {
    // Names "ResultType", "Format"; one column chunk "Calc" with ResultType = 5 (Currency).
    auto ucs2 = [](const std::string& s) {
        B out;
        for (char c : s) {
            out.push_back(static_cast<std::uint8_t>(c));
            out.push_back(0);
        }
        return out;
    };
    B names;
    for (const char* n : {"ResultType", "Format"}) {
        const B u = ucs2(n);
        names.push_back(static_cast<std::uint8_t>(u.size()));
        names.push_back(0);
        names.insert(names.end(), u.begin(), u.end());
    }
    auto chunk = [](std::uint16_t type, const B& payload) {
        B c(6);
        put32(c.data(), static_cast<std::uint32_t>(6 + payload.size()));
        put16(c.data() + 4, type);
        c.insert(c.end(), payload.begin(), payload.end());
        return c;
    };
    const B column = ucs2("Calc");
    B payload(6);
    put32(payload.data(), static_cast<std::uint32_t>(6 + column.size()));
    put16(payload.data() + 4, static_cast<std::uint16_t>(column.size()));
    payload.insert(payload.end(), column.begin(), column.end());
    const B record = {9, 0, 0, 0x02, 0, 0, 1, 0, 5};
    payload.insert(payload.end(), record.begin(), record.end());
    B blob = {'M', 'R', '2', 0};
    for (const B& c : {chunk(0x80, names), chunk(0x01, payload)})
        blob.insert(blob.end(), c.begin(), c.end());
    const auto props = parseProperties(span(blob), "properties");
    ASSERT_EQ(props.size(), 1u);
    EXPECT_EQ(props[0].object, "Calc");
    EXPECT_EQ(props[0].name, "ResultType");
    EXPECT_EQ(props[0].value, B{5});

    B badName = blob;
    badName[blob.size() - 5] = 7; // a name number past the list
    B cut = blob;
    cut.resize(cut.size() - 3);
    for (const B& bad : {badName, cut, B{'K', 'K', 'D', 0}})
        EXPECT_THROW(parseProperties(span(bad), "properties"), JetError);
}

TEST(PageFile, EncodedPagesAreDecoded) {
    // Page 1 stored encoded with key K: RC4 keyed by K xor 1.
    const std::uint32_t key = 0x12345678;
    B file(3 * 2048);
    B plain(2048, 0);
    plain[0] = 0x01;
    plain[1] = 0x01;
    B enc = plain;
    const std::uint32_t k = key ^ 1;
    const std::uint8_t kb[4] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                                static_cast<std::uint8_t>(k >> 16),
                                static_cast<std::uint8_t>(k >> 24)};
    rc4(kb, enc);
    std::memcpy(file.data() + 2048, enc.data(), 2048);
    PageFile pf(memorySource(file), Format::forVersion(Version::Jet3), key);
    Bytes page = pf.page(1);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), plain.begin()));
    EXPECT_EQ(pf.pageCount(), 3u);
    EXPECT_THROW(pf.page(3), JetError);
}

} // namespace

// A long value digests the same whole or in pieces, wherever the pieces split it; a changed
// byte, or a byte moved from one field to the next, changes the digest.
TEST(RowDigests, PiecesDigestAsTheWhole) {
    TableDef def;
    def.columns = {{"Name", ColumnType::Text}, {"Notes", ColumnType::Memo}};
    std::vector<std::uint8_t> bytes(1100);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    // Name is the first `name` bytes, Notes the `length` after them, cut at `cuts`.
    auto digest = [&](std::size_t name, std::size_t length, const std::vector<std::size_t>& cuts) {
        RowDigester d("T", def);
        const std::uint8_t* notes = bytes.data() + name;
        std::vector<RawField> fields = {{true, Bytes(bytes.data(), name)},
                                        {true, Bytes(notes, length)}};
        if (cuts.empty()) {
            d.add(fields);
            return d.digest();
        }
        std::vector<std::vector<Bytes>> pieces(2);
        std::size_t from = 0;
        for (std::size_t to : cuts) {
            pieces[1].push_back(Bytes(notes + from, to - from));
            from = to;
        }
        pieces[1].push_back(Bytes(notes + from, length - from));
        fields[1].data = {}; // not read when pieces are given
        d.add(fields, &pieces);
        return d.digest();
    };
    const std::vector<std::pair<std::size_t, std::vector<std::size_t>>> cases = {
        {0, {0}},
        {5, {2}},
        {16, {8}},
        {63, {1, 62}},
        {64, {16, 48}},
        {65, {64}},
        {200, {3, 67, 131}},
        {1000, {500}},
        {1000, {1, 999}},
        {1000, {64, 128, 640}},
    };
    for (const auto& [length, cuts] : cases) {
        const RowDigest whole = digest(21, length, {});
        EXPECT_TRUE(digest(21, length, cuts) == whole) << length;
        EXPECT_FALSE(digest(20, length + 1, {}) == whole) << length;
        if (length == 0) continue;
        bytes[21 + length - 1] ^= 1;
        EXPECT_FALSE(digest(21, length, cuts) == whole) << length;
        bytes[21 + length - 1] ^= 1;
    }
}

// Every byte of a short value counts, and no byte past it, whatever its length.
TEST(RowDigests, EveryByteOfAShortValueAndNoMore) {
    TableDef def;
    def.columns = {{"Code", ColumnType::Text}};
    std::vector<std::uint8_t> bytes(18, 0x41);
    auto digest = [&](std::size_t n) {
        RowDigester d("T", def);
        d.add({{true, Bytes(bytes.data(), n)}});
        return d.digest();
    };
    auto stored = [&](std::size_t n) { return hashStoredRow(Bytes(bytes.data(), n)).a; };
    for (std::size_t n = 1; n < bytes.size(); ++n) {
        const RowDigest before = digest(n);
        const std::uint64_t storedBefore = stored(n);
        for (std::size_t i = 0; i <= n; ++i) {
            bytes[i] ^= 0x80;
            EXPECT_EQ(digest(n) == before, i == n) << n << " bytes, byte " << i << " changed";
            EXPECT_EQ(stored(n) == storedBefore, i == n) << "stored, " << n << " bytes, byte " << i;
            bytes[i] ^= 0x80;
        }
    }
}

// Pages handed over in any order, across several batches, land at their places; a page written
// twice keeps the later bytes.
TEST(PageWriter, WritesPagesHandedOverInAnyOrder) {
    const Format f = Format::forVersion(Version::Jet4);
    char folder[] = "/tmp/tarnwick-pagewriter-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/out.mdb";
    constexpr std::uint32_t kPages = 700; // a batch holds 256
    auto pageBytes = [&](std::uint32_t page, std::uint8_t salt) {
        B b(f.pageSize);
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<std::uint8_t>(page * 31 + i / 97 + salt);
        return b;
    };
    {
        PageWriter out(path, f, 0);
        out.allocate(kPages);
        // Every page once: blocks of ten in a scattered order, each block backwards.
        for (std::uint32_t i = 0; i < kPages; ++i) {
            const std::uint32_t page = i / 10 * 3 % (kPages / 10) * 10 + 9 - i % 10;
            out.write(page, pageBytes(page, 0));
        }
        out.write(5, pageBytes(5, 1));
        out.finish(false);
    }
    std::ifstream in(path, std::ios::binary);
    const B written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(written.size(), std::size_t{kPages} * f.pageSize);
    for (std::uint32_t page = 0; page < kPages; ++page)
        ASSERT_TRUE(std::equal(written.begin() + page * f.pageSize,
                               written.begin() + (page + 1) * f.pageSize,
                               pageBytes(page, page == 5 ? 1 : 0).begin()))
            << "page " << page;
    std::remove(path.c_str());
    ::rmdir(folder);
}
