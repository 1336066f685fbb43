#include "jet/text.h"

namespace tarnwick::jet {

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// 0x80..0x9F of Windows-1252; zero marks the bytes the code page leaves undefined.
constexpr std::uint16_t cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Feeds UCS-2 code units, pairing surrogates.
class Ucs2Sink {
public:
    explicit Ucs2Sink(std::string& out) : out_(out) {}
    void put(std::uint16_t u) {
        if (high_) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                appendUtf8(out_, 0x10000 + ((static_cast<std::uint32_t>(high_) - 0xD800) << 10) +
                                     (u - 0xDC00));
                high_ = 0;
                return;
            }
            appendUtf8(out_, 0xFFFD);
            high_ = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            high_ = u;
            return;
        }
        appendUtf8(out_, u);
    }
    void finish() {
        if (high_) appendUtf8(out_, 0xFFFD);
        high_ = 0;
    }

private:
    std::string& out_;
    std::uint16_t high_ = 0;
};

} // namespace

std::string decodeCodePage(Bytes bytes, int codePage) {
    std::string out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        std::uint32_t cp = b;
        if (codePage == 1252 && b >= 0x80 && b < 0xA0 && cp1252High[b - 0x80] != 0)
            cp = cp1252High[b - 0x80];
        appendUtf8(out, cp);
    }
    return out;
}

int encodeCodePage(std::uint32_t cp, int codePage) {
    if (codePage == 1252) {
        for (std::size_t i = 0; i < 32; ++i)
            if (cp1252High[i] == cp) return static_cast<int>(0x80 + i);
        // Bytes the code page defines otherwise decode elsewhere, undefined ones to themselves.
        if (cp >= 0x80 && cp < 0xA0) return cp1252High[cp - 0x80] ? -1 : static_cast<int>(cp);
    }
    return cp < 0x100 ? static_cast<int>(cp) : -1;
}

std::u32string utf8ToCodePoints(std::string_view s) {
    std::u32string out;
    utf8ToCodePoints(s, out);
    return out;
}

void utf8ToCodePoints(std::string_view s, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i++]);
        int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (lead >= 0x80 && lead < 0xC0) more = -1;
        std::uint32_t cp = more == 3 ? lead & 0x07u : more == 2 ? lead & 0x0Fu : lead & 0x1Fu;
        if (more == 0) cp = lead;
        for (int k = 0; k < more; ++k) {
            if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
                more = -1;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3Fu);
        }
        out.push_back(more < 0 ? 0xFFFD : cp);
    }
}

std::string decodeUcs2(Bytes bytes) {
    // Most text is ASCII: its leading run is copied a character at a time, the rest decoded.
    std::string out(bytes.size() / 2, '\0');
    std::size_t i = 0, n = 0;
    for (; i + 1 < bytes.size() && bytes[i + 1] == 0 && bytes[i] < 0x80; i += 2)
        out[n++] = static_cast<char>(bytes[i]);
    out.resize(n);
    if (i + 1 >= bytes.size()) return out;
    Ucs2Sink sink(out);
    for (; i + 1 < bytes.size(); i += 2)
        sink.put(static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
    sink.finish();
    return out;
}

std::string decodeJet4Text(Bytes bytes) {
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return decodeUcs2(bytes);
    // A leading run of ASCII in one-byte form is copied as it is.
    std::string out(bytes.size() - 2, '\0');
    std::size_t i = 2, n = 0;
    for (; i < bytes.size() && bytes[i] != 0 && bytes[i] < 0x80; ++i)
        out[n++] = static_cast<char>(bytes[i]);
    out.resize(n);
    Ucs2Sink sink(out);
    bool compressed = true;
    while (i < bytes.size()) {
        if (bytes[i] == 0) {
            compressed = !compressed;
            ++i;
            continue;
        }
        if (compressed) {
            sink.put(bytes[i]);
            ++i;
        } else {
            if (i + 1 >= bytes.size()) break;
            sink.put(static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
            i += 2;
        }
    }
    sink.finish();
    return out;
}

} // namespace tarnwick::jet
