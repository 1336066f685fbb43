#include "jet/usagemap.h"

#include "jet/format.h"

#include <algorithm>

namespace tarnwick::jet {

bool UsageMap::contains(std::uint32_t page) const {
    return std::binary_search(pages.begin(), pages.end(), page);
}

namespace {
void collectBits(Bytes bitmap, std::uint64_t first, std::uint32_t pageCount, UsageMap& map) {
    for (std::size_t i = 0; i < bitmap.size(); ++i) {
        std::uint8_t b = bitmap[i];
        if (b == 0) continue;
        for (int bit = 0; bit < 8; ++bit) {
            if (!(b & (1u << bit))) continue;
            const std::uint64_t page = first + 8 * i + static_cast<unsigned>(bit);
            if (page < pageCount)
                map.pages.push_back(static_cast<std::uint32_t>(page));
            else
                ++map.bitsBeyondFile;
        }
    }
}
} // namespace

UsageMap parseUsageMap(const PageFile& file, Bytes row, const std::string& structure,
                       std::uint32_t hostPage) {
    ByteReader r(row, structure, hostPage);
    UsageMap map;
    const std::uint8_t type = r.u8(0);
    if (type == 0) {
        map.kind = UsageMap::Kind::Inline;
        map.start = r.u32(1);
        Bytes bitmap = r.slice(5, r.size() - std::min<std::size_t>(r.size(), 5));
        map.capacityEnd = static_cast<std::uint64_t>(map.start) + 8 * bitmap.size();
        collectBits(bitmap, map.start, file.pageCount(), map);
    } else if (type == 1) {
        map.kind = UsageMap::Kind::Reference;
        const std::uint64_t perPage = static_cast<std::uint64_t>(file.pageSize() - 4) * 8;
        const std::size_t slots = (r.size() - 1) / 4;
        map.capacityEnd = perPage * slots;
        for (std::size_t k = 0; k < slots; ++k) {
            const std::uint32_t target = r.u32(1 + 4 * k);
            if (target == 0) continue;
            const std::uint64_t first = perPage * k;
            if (!file.contains(target)) {
                map.badSlots.push_back(
                    {k, target, first, "names a page beyond the end of the file"});
                continue;
            }
            Bytes bitmapPage = file.page(target, structure);
            if (bitmapPage[0] != pagetype::usageBitmap) {
                map.badSlots.push_back(
                    {k, target, first, "names a page that is not a usage bitmap page"});
                continue;
            }
            map.bitmapPages.push_back(target);
            collectBits(bitmapPage.subspan(4), first, file.pageCount(), map);
        }
        std::sort(map.pages.begin(), map.pages.end());
        map.pages.erase(std::unique(map.pages.begin(), map.pages.end()), map.pages.end());
    } else {
        r.fail("unknown usage map type " + std::to_string(type));
    }
    return map;
}

} // namespace tarnwick::jet
