#include "write/jet4header.h"

#include "jet/error.h"
#include "read/jet4form.h"

#include <algorithm>
#include <cstring>

namespace tarnwick::jet {

std::vector<std::uint8_t> jet4Header(const DatabaseHeader& src, std::uint32_t databaseKey,
                                     double creationDate) {
    constexpr std::size_t kPage = 4096, kTail = 512;
    const std::vector<std::uint8_t>& old = src.decoded;
    if (old.size() < 2048)
        throw JetError("database definition page", 0, "page 0 is shorter than a Jet 3 page");
    std::vector<std::uint8_t> h(kPage, 0);
    std::copy(old.begin(), old.begin() + 0x30, h.begin()); // type, engine name, core pointers
    h[0x14] = 1;
    put16(h.data() + 0x3C, static_cast<std::uint32_t>(src.codePage));
    put32(h.data() + 0x3E, databaseKey);
    std::int64_t whole = static_cast<std::int64_t>(creationDate);
    std::memcpy(h.data() + 0x72, &creationDate, 8);
    // The password in UCS-2, masked with the creation date's whole days.
    std::vector<std::uint8_t> pw;
    appendUcs2(pw, src.password);
    if (pw.size() > 40)
        throw JetError("database definition page", 0, "the password is longer than Jet 4 holds");
    pw.resize(40, 0);
    const auto days = static_cast<std::uint32_t>(static_cast<std::int32_t>(whole));
    for (std::size_t i = 0; i < 40; ++i)
        h[0x42 + i] = pw[i] ^ static_cast<std::uint8_t>(days >> (8 * (i % 4)));
    put16(h.data() + 0x6E, 1033); // General, General Legacy (version byte 0x71 stays 0)
    put32(h.data() + 0x98, 0x654);
    std::memcpy(h.data() + 0x9C, "4.0", 4);
    std::copy(old.end() - kTail, old.end(), h.end() - kTail);
    return h;
}

} // namespace tarnwick::jet
