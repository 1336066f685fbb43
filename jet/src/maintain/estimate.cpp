#include "jet/compact.h"

#include "jet/database.h"
#include "jet/index.h"
#include "jet/pagefile.h"
#include "jet/row.h"
#include "jet/tabledef.h"
#include "read/datapage.h"
#include "read/longvalue.h"
#include "write/indexbuild.h"
#include "write/pagebuild.h"
#include "write/pagewriter.h"

#include <algorithm>
#include <map>

namespace tarnwick::jet {

namespace {

// A data page filled as the rebuild fills one: rows while they fit, at most 255.
class PageFill {
public:
    explicit PageFill(const Format& f) : room_(emptyDataPageRoom(f)) {}
    void add(std::size_t length) {
        if (used_ == 0 || slots_ >= 255 || used_ + length + 2 > room_) {
            ++pages_;
            used_ = slots_ = 0;
        }
        used_ += length + 2;
        ++slots_;
    }
    void addPages(std::uint64_t n) { pages_ += n; }
    std::uint64_t pages() const { return pages_; }

private:
    std::size_t room_, used_ = 0, slots_ = 0;
    std::uint64_t pages_ = 0;
};

std::uint64_t tdefPages(const Format& f, std::size_t length) {
    if (length <= f.pageSize) return 1;
    const std::size_t body = f.pageSize - 8;
    return 1 + (length - f.pageSize + body - 1) / body;
}

// Pages of a usage map row: none when its pages fit the inline window, else its bitmap pages.
std::uint64_t mapPages(const Format& f, std::uint64_t pages) {
    const std::uint64_t inlineWindow = (usageMapRowLength(f) - 5) * 8;
    if (pages <= inlineWindow) return 0;
    const std::uint64_t perPage = (f.pageSize - 4) * 8;
    return (pages + perPage - 1) / perPage;
}

} // namespace

CompactEstimate estimateCompaction(const Database& db) {
    const Format& f = db.format();
    const PageFile& file = db.file();
    CompactEstimate e;
    e.sizeBefore = file.fileSize();
    std::uint64_t dataPagesBefore = 0, indexPagesBefore = 0, freePages = 0;
    for (std::uint32_t p = 2; p < file.pageCount(); ++p) {
        const std::uint8_t type = file.page(p)[0];
        if (type == pagetype::data) {
            ++dataPagesBefore;
            try {
                const DataPage page = readDataPage(file, p, "data page");
                for (const RowSlot& s : page.slots)
                    if (s.valid && s.isDeleted()) e.deletedRows += s.length();
            } catch (const JetError&) {
            }
        } else if (type == pagetype::indexNode || type == pagetype::indexLeaf) {
            ++indexPagesBefore;
        } else if (type != pagetype::tableDef && type != pagetype::usageBitmap) {
            ++freePages;
        }
    }
    file.releaseCache();

    std::uint64_t pages = 2, mapRows = 0, dataPagesAfter = 0, indexPagesAfter = 0;
    const std::size_t singleLimit = f.jet4() ? 4076 : 2036;
    const std::size_t segment = f.jet4() ? 4072 : 2032;
    std::vector<RawField> fields;
    std::vector<Bytes> parts;
    for (const CatalogEntry* t : db.tables(true)) {
        const TableDef* def = nullptr;
        try {
            def = &db.tableDef(*t);
        } catch (const JetError&) {
            continue;
        }
        pages += tdefPages(f, def->raw.size());
        PageFill rows(f);
        std::map<std::size_t, PageFill> longValues; // by column
        try {
            db.forEachRawRow(*def, [&](const RowLocation& loc, Bytes stored) {
                rows.add(stored.size());
                bool split = false;
                for (std::size_t c = 0; c < def->columns.size(); ++c) {
                    if (!def->columns[c].isLong()) continue;
                    if (!split) {
                        splitRow(f, *def, stored, "data page", loc.data.page, loc.data.row, fields);
                        split = true;
                    }
                    if (!fields[c].present) continue;
                    const LongValueRef ref =
                        parseLongValueRef(fields[c].data, "long value", loc.data.page);
                    if (ref.kind == LongValueKind::Inline) continue;
                    parts.clear();
                    readLongValueParts(file, fields[c].data, loc.data.page, parts);
                    std::size_t total = 0;
                    for (Bytes part : parts)
                        total += part.size();
                    if (total == 0) continue;
                    PageFill& lv = longValues.try_emplace(c, f).first->second;
                    if (ref.kind != LongValueKind::Chain && total <= singleLimit) {
                        lv.add(total);
                    } else {
                        const std::size_t n = (total + segment - 1) / segment;
                        lv.add(4 + total - (n - 1) * segment);
                        lv.addPages(n - 1);
                    }
                }
                return true;
            });
        } catch (const JetError&) {
        }
        std::uint64_t tablePages = rows.pages();
        mapRows += 2;
        for (const auto& [column, lv] : longValues) {
            tablePages += lv.pages();
            mapRows += 2;
            pages += 2 * mapPages(f, lv.pages());
        }
        pages += 2 * mapPages(f, tablePages);
        dataPagesAfter += tablePages;
        for (const RealIndex& ri : def->realIndexes) {
            PageWriter counter(f);
            IndexWriter writer(counter, def->page);
            try {
                (void)walkIndex(file, ri.rootPage, def->page, [&](std::span<IndexEntry> leaf) {
                    for (IndexEntry& entry : leaf)
                        writer.add(std::move(entry));
                });
                indexPagesAfter += writer.finish().pages.size();
            } catch (const JetError&) {
            }
        }
        file.releaseCache();
    }
    PageFill hosts(f);
    for (std::uint64_t i = 0; i < mapRows; ++i)
        hosts.add(usageMapRowLength(f));
    pages += hosts.pages() + dataPagesAfter + indexPagesAfter;
    pages += mapPages(f, pages);
    e.sizeAfter = std::min(e.sizeBefore, pages * f.pageSize);

    e.freePages = freePages * f.pageSize;
    const std::uint64_t dataSlack =
        dataPagesBefore > dataPagesAfter ? (dataPagesBefore - dataPagesAfter) * f.pageSize : 0;
    e.deletedRows = std::min(e.deletedRows, dataSlack);
    e.rowRoom = dataSlack - e.deletedRows;
    e.indexSlack =
        indexPagesBefore > indexPagesAfter ? (indexPagesBefore - indexPagesAfter) * f.pageSize : 0;
    return e;
}

} // namespace tarnwick::jet
