#include "jet/header.h"

#include "jet/pagefile.h"
#include "jet/text.h"

#include <cmath>
#include <cstring>

namespace tarnwick::jet {

namespace {
const std::string kStructure = "database definition page";
constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr char kEngine[] = "Standard Jet DB";
constexpr char kAceEngine[] = "Standard ACE DB";
constexpr char kEncrypted[] = "is encrypted with a database password; Tarnwick cannot open it";
} // namespace

int detectAceVersion(Bytes first) {
    ByteReader r(first, kStructure, 0);
    if (r.u8(0) != 0x00 || r.u8(1) != 0x01) r.fail("first bytes are not those of a database file");
    const bool ace = std::memcmp(r.slice(4, 16).data(), kAceEngine, 16) == 0;
    if (!ace && std::memcmp(r.slice(4, 16).data(), kEngine, 16) != 0)
        r.fail("engine name is neither \"Standard Jet DB\" nor \"Standard ACE DB\"");
    // Only the byte: the one after it is set in most Access 2010 files.
    const int level = r.u8(0x14);
    if (!ace) {
        if (level > 1) r.fail("format version " + std::to_string(level) + " is not Jet 3 or Jet 4");
        return 0;
    }
    static constexpr int kAce[] = {12, 14, 15, 16, 17}; // bytes 2 ... 6
    if (level < 2 || level > 6)
        r.fail("format version " + std::to_string(level) + " is not one of ACE 12 to ACE 17");
    return kAce[level - 2];
}

Version detectVersion(Bytes first) {
    if (detectAceVersion(first) != 0) return Version::Jet4;
    return first[0x14] == 0 ? Version::Jet3 : Version::Jet4;
}

std::string formatName(const DatabaseHeader& h) {
    switch (h.aceVersion) {
    case 0:
        return h.version == Version::Jet3 ? "Jet 3 (Access 97)" : "Jet 4 (Access 2000-2003)";
    case 12:
        return "ACE 12 (Access 2007)";
    case 14:
        return "ACE 14 (Access 2010)";
    case 15:
        return "ACE 15 (Access 2013)";
    case 16:
        return "ACE 16 (Access 2016)";
    default:
        return "ACE 17 (Access 2019 / 365)";
    }
}

DatabaseHeader parseHeader(Bytes page0) {
    DatabaseHeader h;
    h.version = detectVersion(page0);
    h.aceVersion = detectAceVersion(page0);
    const Format f = Format::forVersion(h.version);
    h.pageSize = f.pageSize;
    if (page0.size() < f.pageSize) throw JetError(kStructure, 0, "file is shorter than one page");
    h.decoded.assign(page0.begin(), page0.begin() + f.pageSize);
    const std::size_t maskLen = f.jet4() ? 128 : 126;
    rc4(kHeaderKey, std::span<std::uint8_t>(h.decoded.data() + 0x18, maskLen));

    ByteReader r(h.decoded, kStructure, 0);
    h.codePage = r.u16(0x3C);
    h.databaseKey = r.u32(0x3E);
    // ACE files use no page key of their own: a key means Office encryption of every page.
    if (h.aceVersion != 0 && h.databaseKey != 0) throw DatabaseEncrypted(kStructure, 0, kEncrypted);
    if (f.jet4()) {
        h.sortOrder = r.u16(0x6E);
        h.sortOrderVersion = r.u8(0x71);
        double date;
        std::uint64_t bits = r.u64(0x72);
        std::memcpy(&date, &bits, sizeof date);
        h.creationDate = date;
        // Password: 40 bytes of UCS-2, XOR-ed with the integer part of the creation date.
        std::uint8_t mask[4] = {0, 0, 0, 0};
        if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0) {
            const auto n = static_cast<std::uint32_t>(static_cast<std::int32_t>(date));
            for (int i = 0; i < 4; ++i)
                mask[i] = static_cast<std::uint8_t>(n >> (8 * i));
        }
        std::vector<std::uint8_t> pw(40);
        for (std::size_t i = 0; i < 40; ++i)
            pw[i] = r.u8(0x42 + i) ^ mask[i % 4];
        std::size_t len = 0;
        while (len + 1 < pw.size() && (pw[len] | pw[len + 1]) != 0)
            len += 2;
        // ACE files keep only the mask there; a password is their encryption.
        if (h.aceVersion == 0) h.password = decodeUcs2(Bytes(pw.data(), len));
    } else {
        h.sortOrder = r.u16(0x3A);
        Bytes pw = r.slice(0x42, 20);
        std::size_t len = 0;
        while (len < pw.size() && pw[len] != 0)
            ++len;
        h.password = decodeCodePage(pw.first(len), h.codePage);
    }
    return h;
}

bool passwordMatches(const DatabaseHeader& header, const std::string& candidate) {
    return header.password == candidate;
}

} // namespace tarnwick::jet
