#include "read/properties.h"

#include "jet/error.h"
#include "jet/text.h"

#include <cstring>

namespace tarnwick::jet {

std::vector<Property> parseProperties(Bytes blob, const std::string& structure) {
    ByteReader r(blob, structure, JetError::noPage);
    if (blob.size() < 4 || std::memcmp(blob.data(), "MR2\0", 4) != 0)
        r.fail("property blob does not start with MR2");
    std::vector<std::string> names;
    std::vector<Property> out;
    std::size_t at = 4;
    while (at + 6 <= blob.size()) {
        const std::uint32_t length = r.u32(at);
        const std::uint16_t type = r.u16(at + 4);
        if (length < 6 || length > blob.size() - at) r.fail("a chunk overruns the blob");
        const std::size_t end = at + length;
        std::size_t p = at + 6;
        if (type == 0x80) {
            // The names that property records refer to by number.
            while (p + 2 <= end) {
                const std::uint16_t n = r.u16(p);
                if (n > end - p - 2) r.fail("a property name overruns its chunk");
                names.push_back(decodeUcs2(r.slice(p + 2, n)));
                p += 2 + n;
            }
        } else if (type == 0x00 || type == 0x01) {
            const std::uint32_t nameBlock = r.u32(p);
            if (nameBlock < 4 || nameBlock > end - p) r.fail("a chunk's name overruns it");
            std::string object;
            if (nameBlock > 6) {
                const std::uint16_t n = r.u16(p + 4);
                if (n > nameBlock - 6) r.fail("a chunk's name overruns it");
                object = decodeUcs2(r.slice(p + 6, n));
            }
            p += nameBlock;
            while (p + 8 <= end) {
                const std::uint16_t recordLength = r.u16(p);
                const std::uint16_t nameIndex = r.u16(p + 4);
                const std::uint16_t valueLength = r.u16(p + 6);
                if (recordLength < 8 || recordLength > end - p || valueLength > recordLength - 8)
                    r.fail("a property record overruns its chunk");
                if (nameIndex >= names.size()) r.fail("a property names no known name");
                Property prop;
                prop.object = object;
                prop.name = names[nameIndex];
                prop.type = r.u8(p + 3);
                const Bytes value = r.slice(p + 8, valueLength);
                prop.value.assign(value.begin(), value.end());
                out.push_back(std::move(prop));
                p += recordLength;
            }
        }
        at = end;
    }
    return out;
}

} // namespace tarnwick::jet
