#include "jet/indexkey.h"

#include "jet/error.h"
#include "jet/header.h"
#include "jet/text.h"
#include "keys/collation.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace tarnwick::jet {

namespace {

constexpr std::size_t kMaxTextChars = 255;
constexpr int kGeneral = 1033;

[[noreturn]] void cannotEncode(const Column& column, const Value& value, const std::string& why) {
    std::string shown;
    if (value.type == ColumnType::Text || value.type == ColumnType::Memo) {
        std::size_t cut = std::min<std::size_t>(value.text.size(), 80);
        while (cut < value.text.size() &&
               (static_cast<unsigned char>(value.text[cut]) & 0xC0) == 0x80)
            --cut; // whole characters only
        shown = "\"" + value.text.substr(0, cut) + (cut < value.text.size() ? "...\"" : "\"");
    } else
        shown = typeName(value.type) + " value";
    throw JetError("index key", JetError::noPage,
                   "column \"" + column.name + "\", value " + shown + ": " + why);
}

std::string codePointName(std::uint32_t cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
    return buf;
}

// The low `Bytes` bytes of v, most significant first.
template <int Bytes> void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = Bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void invertFrom(std::vector<std::uint8_t>& out, std::size_t from) {
    for (std::size_t i = from; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(~out[i]);
}

// Signed integers: two's complement with the sign bit flipped sorts as unsigned bytes.
template <int Bytes> void appendInteger(std::vector<std::uint8_t>& out, std::int64_t v) {
    appendBigEndian<Bytes>(out, static_cast<std::uint64_t>(v) ^
                                    (std::uint64_t{0x80} << (8 * (Bytes - 1))));
}

// IEEE numbers: positives get the sign bit set, negatives are inverted whole.
template <int Bytes> void appendFloat(std::vector<std::uint8_t>& out, std::uint64_t bits) {
    const std::uint64_t sign = std::uint64_t{0x80} << (8 * (Bytes - 1));
    appendBigEndian<Bytes>(out, bits & sign ? ~bits : bits ^ sign);
}

// Binary values in blocks of 8 bytes; each full block but the last is followed by 9, the last
// is zero-padded and followed by its real length. Descending inverts the data, not the 9s.
void appendBinary(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& v,
                  bool ascending) {
    std::size_t i = 0;
    do {
        const std::size_t n = std::min<std::size_t>(8, v.size() - i);
        const bool last = i + n >= v.size();
        const std::size_t at = out.size();
        out.insert(out.end(), v.begin() + static_cast<std::ptrdiff_t>(i),
                   v.begin() + static_cast<std::ptrdiff_t>(i + n));
        out.insert(out.end(), 8 - n, 0);
        out.push_back(last ? static_cast<std::uint8_t>(n) : 9);
        if (!ascending) {
            invertFrom(out, at);
            if (!last) out.back() = 9;
        }
        i += n;
    } while (i < v.size());
}

// Appends a text's ascending key bytes; nothing when it throws. The scratch buffers are kept
// per thread: a large table has a text key in nearly every row.
void appendTextKey(std::vector<std::uint8_t>& out, const Column& column, const Value& value,
                   Version version, int codePage) {
    // The tables are those of the General sort order (1033); 0 is taken as the default.
    if (column.sortOrder != 0 && column.sortOrder != kGeneral)
        cannotEncode(column, value,
                     "sort order " + std::to_string(column.sortOrder) + " is not General");
    // The column's own sort order governs its keys: 0 General Legacy, 1 General (Access 2010).
    if (column.sortOrderVersion > 1)
        cannotEncode(column, value,
                     "sort order version " + std::to_string(column.sortOrderVersion) +
                         " has no tables");
    const std::size_t at = out.size();
    std::optional<std::uint32_t> missing;
    const std::string& text = value.text;
    thread_local std::u16string units;
    units.clear();
    if (version == Version::Jet4 &&
        std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        // Plain ASCII, as most keys are: each byte is a character and a UTF-16 unit.
        std::size_t n = std::min(text.size(), kMaxTextChars);
        while (n && text[n - 1] == ' ')
            --n;
        units.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    } else {
        thread_local std::u32string chars;
        utf8ToCodePoints(text, chars);
        if (version == Version::Jet3) {
            if (chars.size() > kMaxTextChars) chars.resize(kMaxTextChars);
            while (!chars.empty() && chars.back() == U' ')
                chars.pop_back();
            thread_local std::vector<std::uint8_t> bytes;
            bytes.clear();
            for (char32_t c : chars) {
                const int b = encodeCodePage(c, codePage);
                if (b < 0)
                    cannotEncode(column, value, codePointName(c) + " is not in the code page");
                bytes.push_back(static_cast<std::uint8_t>(b));
            }
            // The table is indexed by code page byte; name the character the user knows.
            if (auto b = collation::appendGeneral97(out, bytes))
                for (std::size_t i = 0; i < bytes.size(); ++i)
                    if (bytes[i] == *b) missing = chars[i];
        } else {
            for (char32_t c : chars) {
                if (c >= 0x10000) {
                    units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                    units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
                } else {
                    units.push_back(static_cast<char16_t>(c));
                }
            }
            // The limit counts UTF-16 units, as the text is stored: a character beyond the
            // Basic Multilingual Plane takes two, and the cut may fall between them.
            if (units.size() > kMaxTextChars) units.resize(kMaxTextChars);
            while (!units.empty() && units.back() == u' ')
                units.pop_back();
        }
    }
    if (version == Version::Jet4)
        missing = column.sortOrderVersion == 1 ? collation::appendGeneral(out, units)
                                               : collation::appendGeneralLegacy(out, units);
    if (missing) {
        out.resize(at);
        cannotEncode(column, value,
                     "character " + codePointName(*missing) + " has no known sort code");
    }
}

} // namespace

void appendKeySegment(std::vector<std::uint8_t>& key, Version version, int codePage,
                      const Column& column, const Value& value, bool ascending) {
    if (value.null && column.type != ColumnType::Boolean) {
        key.push_back(ascending ? 0x00 : 0xFF);
        return;
    }
    key.push_back(ascending ? 0x7F : 0x80);
    const std::size_t at = key.size();
    switch (column.type) {
    case ColumnType::Boolean:
        // True sorts first.
        key.push_back(value.integer ? 0x00 : 0xFF);
        break;
    case ColumnType::Byte:
        key.push_back(static_cast<std::uint8_t>(value.integer));
        break;
    case ColumnType::Integer:
        appendInteger<2>(key, value.integer);
        break;
    case ColumnType::Long:
    case ColumnType::Complex:
        appendInteger<4>(key, value.integer);
        break;
    case ColumnType::Currency:
    case ColumnType::BigInt:
        appendInteger<8>(key, value.integer);
        break;
    case ColumnType::Single:
        appendFloat<4>(key, std::bit_cast<std::uint32_t>(static_cast<float>(value.real)));
        break;
    case ColumnType::Double:
    case ColumnType::DateTime:
        appendFloat<8>(key, std::bit_cast<std::uint64_t>(value.real));
        break;
    case ColumnType::Guid: {
        if (value.bytes.size() != 16) cannotEncode(column, value, "a GUID needs 16 bytes");
        std::vector<std::uint8_t> g(value.bytes);
        std::swap(g[0], g[3]);
        std::swap(g[1], g[2]);
        std::swap(g[4], g[5]);
        std::swap(g[6], g[7]);
        appendBinary(key, g, ascending);
        return;
    }
    case ColumnType::Binary:
    case ColumnType::ExtDateTime: // its text sorts as time does
        appendBinary(key, value.bytes, ascending);
        return;
    case ColumnType::Decimal: {
        // Sign byte, then the magnitude most significant byte first; every negative value sorts
        // before every positive one, in both directions.
        if (value.bytes.size() != 17) cannotEncode(column, value, "a Decimal needs 17 bytes");
        const bool negative = value.bytes[0] & 0x80;
        key.push_back(value.bytes[0]);
        for (int w = 0; w < 4; ++w)
            for (int b = 3; b >= 0; --b)
                key.push_back(value.bytes[static_cast<std::size_t>(1 + 4 * w + b)]);
        if (negative == ascending) invertFrom(key, at);
        key[at] = negative ? 0x00 : 0xFF;
        return;
    }
    case ColumnType::Text:
    case ColumnType::Memo:
        appendTextKey(key, column, value, version, codePage);
        if (!ascending) {
            invertFrom(key, at);
            if (version == Version::Jet4) key.push_back(0x00);
        }
        return;
    default:
        // A type the engine does not know that allows compressed Unicode holds Jet 4 text,
        // and Access keys it as that text.
        if (version == Version::Jet4 && (column.extFlags & 0x01)) {
            Value text;
            text.type = ColumnType::Text;
            text.text = decodeJet4Text(value.bytes);
            appendTextKey(key, column, text, version, codePage);
            if (!ascending) {
                invertFrom(key, at);
                key.push_back(0x00);
            }
            return;
        }
        cannotEncode(column, value, typeName(column.type) + " columns cannot be indexed");
    }
    if (!ascending) invertFrom(key, at);
}

void encodeIndexKey(std::vector<std::uint8_t>& key, Version version, int codePage,
                    const TableDef& def, const RealIndex& index, const std::vector<Value>& row) {
    key.clear();
    appendIndexKey(key, version, codePage, def, index, row);
}

void appendIndexKey(std::vector<std::uint8_t>& keys, Version version, int codePage,
                    const TableDef& def, const RealIndex& index, const std::vector<Value>& row) {
    const std::size_t at = keys.size();
    try {
        for (const IndexColumn& ic : index.columns) {
            std::size_t i = ic.position;
            if (i >= def.columns.size() || def.columns[i].number != ic.column)
                for (i = 0; i < def.columns.size() && def.columns[i].number != ic.column;)
                    ++i;
            if (i == def.columns.size() || i >= row.size())
                throw JetError("index key", JetError::noPage,
                               "the index names column number " + std::to_string(ic.column) +
                                   ", which the table does not have");
            appendKeySegment(keys, version, codePage, def.columns[i], row[i], ic.ascending);
        }
    } catch (...) {
        keys.resize(at);
        throw;
    }
}

std::vector<std::uint8_t> encodeIndexKey(Version version, int codePage, const TableDef& def,
                                         const RealIndex& index, const std::vector<Value>& row) {
    std::vector<std::uint8_t> key;
    encodeIndexKey(key, version, codePage, def, index, row);
    return key;
}

void encodeIndexKey(std::vector<std::uint8_t>& key, const Database& db, const TableDef& def,
                    const RealIndex& index, const std::vector<Value>& row) {
    // Sort order versions past 1 (General) collate differently.
    if (db.format().version == Version::Jet4 && db.header().sortOrderVersion > 1) {
        bool text = false;
        for (const IndexColumn& ic : index.columns)
            if (const Column* c = def.columnByNumber(ic.column))
                text = text || c->type == ColumnType::Text || c->type == ColumnType::Memo;
        if (text)
            throw JetError("index key", JetError::noPage,
                           "the database's sort order version " +
                               std::to_string(db.header().sortOrderVersion) + " has no tables");
    }
    encodeIndexKey(key, db.format().version, db.header().codePage, def, index, row);
}

std::vector<std::uint8_t> encodeIndexKey(const Database& db, const TableDef& def,
                                         const RealIndex& index, const std::vector<Value>& row) {
    std::vector<std::uint8_t> key;
    encodeIndexKey(key, db, def, index, row);
    return key;
}

} // namespace tarnwick::jet
