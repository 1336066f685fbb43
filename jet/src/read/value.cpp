#include "jet/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarnwick::jet {

std::string formatCurrency(std::int64_t v) {
    const bool neg = v < 0;
    // Work in unsigned so that INT64_MIN is fine.
    const std::uint64_t mag =
        neg ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
    char frac[8];
    std::snprintf(frac, sizeof frac, "%04u", static_cast<unsigned>(mag % 10000));
    return (neg ? "-" : "") + std::to_string(mag / 10000) + "." + frac;
}

std::string formatDecimal(const std::vector<std::uint8_t>& s, int scale) {
    if (s.size() < 17) return "";
    unsigned __int128 mag = 0;
    // Four little-endian u32 words, most significant word first.
    for (int w = 0; w < 4; ++w) {
        const std::size_t o = 1 + 4 * static_cast<std::size_t>(w);
        const std::uint32_t word = static_cast<std::uint32_t>(s[o]) |
                                   (static_cast<std::uint32_t>(s[o + 1]) << 8) |
                                   (static_cast<std::uint32_t>(s[o + 2]) << 16) |
                                   (static_cast<std::uint32_t>(s[o + 3]) << 24);
        mag = (mag << 32) | word;
    }
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
        mag /= 10;
    } while (mag != 0);
    if (scale < 0) scale = 0;
    if (scale > 38) scale = 38;
    const auto sc = static_cast<std::size_t>(scale);
    if (digits.size() <= sc) digits.insert(digits.begin(), sc + 1 - digits.size(), '0');
    std::string out =
        (s[0] & 0x80) && digits.find_first_not_of('0') != std::string::npos ? "-" : "";
    out += digits.substr(0, digits.size() - sc);
    if (sc) out += "." + digits.substr(digits.size() - sc);
    return out;
}

namespace {
// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}
} // namespace

std::string formatDateTime(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return formatDouble(days);
    // Before the base date the integer part counts days back and the fraction is still the
    // time of day: -1.25 is 1899-12-29 06:00.
    double whole = std::trunc(days);
    double frac = std::fabs(days - whole);
    auto ms = static_cast<std::int64_t>(std::llround(frac * 86400000.0));
    auto day = static_cast<std::int64_t>(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        day += days < 0 ? -1 : 1;
    }
    std::int64_t y;
    unsigned mo, d;
    civilFromDays(day - 25569, y, mo, d); // 1899-12-30 is 25569 days before 1970-01-01
    const auto secs = ms / 1000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld",
                  static_cast<long long>(y), mo, d, static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    std::string out = buf;
    if (ms % 1000) {
        std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(ms % 1000));
        out += buf;
    }
    return out;
}

std::string formatExtDateTime(const std::vector<std::uint8_t>& s) {
    // "DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSSFFFFFFF:7": days since 0001-01-01, seconds of the day,
    // 100 ns ticks. Anything else is shown as stored.
    auto digits = [&](std::size_t at, std::size_t n, std::int64_t& out) {
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    std::int64_t days = 0, secs = 0, ticks = 0;
    if (s.size() < 41 || s[19] != ':' || s[39] != ':' || !digits(0, 19, days) ||
        !digits(20, 12, secs) || !digits(32, 7, ticks) || days > 3652058 || secs >= 86400)
        return std::string(s.begin(), std::find(s.begin(), s.end(), 0));
    std::int64_t y;
    unsigned mo, d;
    civilFromDays(days - 719162, y, mo, d); // 0001-01-01 is 719162 days before 1970-01-01
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld",
                  static_cast<long long>(y), mo, d, static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    std::string out = buf;
    if (ticks % 10000)
        std::snprintf(buf, sizeof buf, ".%07lld", static_cast<long long>(ticks));
    else if (ticks)
        std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(ticks / 10000));
    else
        buf[0] = 0;
    return out + buf;
}

std::string formatGuid(const std::vector<std::uint8_t>& g) {
    if (g.size() < 16) return "";
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return buf;
}

std::string base64(const std::vector<std::uint8_t>& in) {
    static const char tbl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        out += tbl[v >> 18];
        out += tbl[(v >> 12) & 63];
        out += tbl[(v >> 6) & 63];
        out += tbl[v & 63];
    }
    if (i + 1 == in.size()) {
        const std::uint32_t v = in[i] << 16;
        out += tbl[v >> 18];
        out += tbl[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        const std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8);
        out += tbl[v >> 18];
        out += tbl[(v >> 12) & 63];
        out += tbl[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string formatDouble(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string formatSingle(float v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

} // namespace tarnwick::jet
