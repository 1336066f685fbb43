#include "write/tablerebuild.h"

#include <algorithm>

namespace tarnwick::jet {

namespace {

// Where a table's usage maps landed: the rows of its data and free-space maps, one per index,
// and per long-value column the positions of its two maps among them.
struct MapRows {
    std::vector<std::uint32_t> rows;
    std::map<std::uint16_t, std::pair<std::size_t, std::size_t>> longValues;
};

// Writes the table's usage maps as rows on host pages.
MapRows writeUsageMaps(const TableJob& job, CopiedRows& rows, const std::vector<BuiltIndex>& built,
                       MapHost& host) {
    PageWriter& out = job.out;
    const std::size_t mapLength = usageMapRowLength(job.outFormat());
    std::vector<std::vector<std::uint8_t>> maps;
    maps.push_back(buildUsageMap(out, rows.dataPages, mapLength));
    maps.push_back(buildUsageMap(out, rows.dataFree, mapLength));
    for (const auto& b : built)
        maps.push_back(buildUsageMap(out, b.pages, mapLength));
    MapRows at;
    for (const auto& lv : rows.longValues) {
        std::sort(lv->pages.begin(), lv->pages.end());
        std::sort(lv->freePages.begin(), lv->freePages.end());
        at.longValues[lv->column] = {maps.size(), maps.size() + 1};
        maps.push_back(buildUsageMap(out, lv->pages, mapLength));
        maps.push_back(buildUsageMap(out, lv->freePages, mapLength));
    }
    at.rows.resize(maps.size());
    for (std::size_t i = 0; i < maps.size(); ++i) {
        if (!host.builder.fits(maps[i].size())) out.write(host.page, host.builder.take());
        if (host.builder.empty()) host.page = out.allocate();
        at.rows[i] = (host.page << 8) | host.builder.add(maps[i]);
    }
    return at;
}

// The definition's bytes, with its pointers and figures renewed.
std::vector<std::uint8_t> renewDefinition(const TableJob& job, const std::vector<BuiltIndex>& built,
                                          const MapRows& maps) {
    const Format& f = job.outFormat();
    const TableDef& def = job.outDef;
    const std::vector<std::uint32_t>& mapRp = maps.rows;
    std::vector<std::uint8_t> buf = def.raw;
    // Jet 4 leaves stray bytes at 25..39, where ACE keeps the last complex value id (at 28).
    if (job.options.aceVersion != 0)
        std::fill(buf.begin() + 25,
                  buf.begin() + static_cast<std::ptrdiff_t>(f.tdefTableTypeOffset),
                  std::uint8_t{0});
    put32(buf.data() + f.tdefRowCountOffset, static_cast<std::uint32_t>(job.report.rows));
    put32(buf.data() + f.tdefOwnedMapOffset, mapRp[0]);
    put32(buf.data() + f.tdefFreeMapOffset, mapRp[1]);
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i) {
        std::uint8_t* stats = buf.data() + f.tdefHeaderLength + i * f.realIndexStatsLength;
        put32(stats, built[i].entries);
        put32(stats + 4, built[i].distinctKeys);
        std::uint8_t* block =
            buf.data() + def.realIndexBlocks + i * f.realIndexLength + (f.jet4() ? 4 : 0);
        put32(block + 30, mapRp[2 + i]);
        put32(block + 34, built[i].root);
    }
    for (std::size_t i = 0; i < def.indexes.size(); ++i) {
        std::uint8_t* block =
            buf.data() + def.logicalIndexBlocks + i * f.logicalIndexLength + (f.jet4() ? 4 : 0);
        const std::uint32_t other = le32(block + 13);
        auto it = job.tableIds.find(other);
        if (other != 0 && it != job.tableIds.end()) put32(block + 13, it->second);
    }
    for (std::size_t k = 0; k < def.longValueMaps.size(); ++k) {
        std::uint8_t* entry = buf.data() + def.longValueBlocks + 10 * k;
        auto it = maps.longValues.find(le16(entry));
        if (it == maps.longValues.end()) continue;
        put32(entry + 2, mapRp[it->second.first]);
        if (le32(entry + 6) != 0) put32(entry + 6, mapRp[it->second.second]);
    }
    return buf;
}

// Writes a definition across its pages, each continuing the one before.
void writeDefinitionPages(const Format& f, PageWriter& out, const std::vector<std::uint8_t>& buf,
                          std::span<const std::uint32_t> tdefPages) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < tdefPages.size(); ++i) {
        std::vector<std::uint8_t> page(f.pageSize, 0);
        std::size_t used;
        if (i == 0) {
            used = std::min<std::size_t>(buf.size(), f.pageSize);
            std::copy(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(used), page.begin());
            pos = used;
        } else {
            const std::size_t n = std::min<std::size_t>(buf.size() - pos, f.pageSize - 8);
            std::copy(buf.begin() + static_cast<std::ptrdiff_t>(pos),
                      buf.begin() + static_cast<std::ptrdiff_t>(pos + n), page.begin() + 8);
            pos += n;
            used = 8 + n;
        }
        page[0] = pagetype::tableDef;
        page[1] = 0x01;
        if (f.jet4()) {
            const std::size_t free = used + 8 < f.pageSize ? f.pageSize - used - 8 : 0;
            put16(page.data() + 2, static_cast<std::uint32_t>(free));
        } else {
            page[2] = 'V';
            page[3] = 'C';
        }
        put32(page.data() + 4, i + 1 < tdefPages.size() ? tdefPages[i + 1] : 0);
        out.write(tdefPages[i], std::move(page));
    }
}

} // namespace

void writeTableDefinition(const TableJob& job, CopiedRows& rows,
                          const std::vector<BuiltIndex>& built,
                          std::span<const std::uint32_t> tdefPages, MapHost& host) {
    const MapRows maps = writeUsageMaps(job, rows, built, host);
    writeDefinitionPages(job.outFormat(), job.out, renewDefinition(job, built, maps), tdefPages);
}

} // namespace tarnwick::jet
