#include "jet/complex.h"

#include "jet/json.h"

#include <algorithm>
#include <zlib.h>

namespace tarnwick::jet {

namespace {

enum class Kind { MultiValue, Attachment, VersionHistory, Other };

// Told by the template's columns, as the kinds are defined by them rather than by names.
Kind kindOf(const TableDef& templ) {
    const auto has = [&](const char* name, ColumnType t) {
        return std::any_of(templ.columns.begin(), templ.columns.end(),
                           [&](const Column& c) { return c.name == name && c.type == t; });
    };
    const auto count = [&](ColumnType t) {
        return std::count_if(templ.columns.begin(), templ.columns.end(),
                             [&](const Column& c) { return c.type == t; });
    };
    if (templ.columns.size() == 1 && templ.columns[0].type <= ColumnType::Decimal)
        return Kind::MultiValue;
    if (has("FileData", ColumnType::Ole) && has("FileName", ColumnType::Text) &&
        has("FileType", ColumnType::Text))
        return Kind::Attachment;
    if (templ.columns.size() == 2 && count(ColumnType::Memo) == 1 &&
        count(ColumnType::DateTime) == 1)
        return Kind::VersionHistory;
    return Kind::Other;
}

struct ComplexColumnRow {
    std::int64_t complexId = -1, flatTable = 0, templateTable = 0, parentTable = 0;
};

std::vector<ComplexColumnRow> complexColumns(const Database& db) {
    std::vector<ComplexColumnRow> out;
    const CatalogEntry* t = db.findTable("MSysComplexColumns");
    if (!t) return out;
    const TableDef& def = db.tableDef(*t);
    const auto col = [&](const char* name) {
        for (std::size_t i = 0; i < def.columns.size(); ++i)
            if (def.columns[i].name == name) return static_cast<int>(i);
        return -1;
    };
    const int id = col("ComplexID"), flat = col("FlatTableID"), templ = col("ComplexTypeObjectID"),
              parent = col("ConceptualTableID");
    if (id < 0 || flat < 0 || templ < 0 || parent < 0)
        throw JetError("table definition", def.page, "MSysComplexColumns lacks a column");
    db.forEachRow(def, [&](const RowLocation&, const std::vector<Value>& v) {
        out.push_back({v[static_cast<std::size_t>(id)].integer,
                       v[static_cast<std::size_t>(flat)].integer,
                       v[static_cast<std::size_t>(templ)].integer,
                       v[static_cast<std::size_t>(parent)].integer});
        return true;
    });
    return out;
}

} // namespace

std::vector<std::uint8_t> attachmentContent(Bytes stored, const std::string& structure) {
    // u32 1 = deflated, u32 length after inflating, then the content: u32 header length,
    // u32, u32 characters of the extension, the extension, the file.
    ByteReader r(stored, structure);
    const std::uint32_t kind = r.u32(0);
    const std::uint32_t length = r.u32(4);
    std::vector<std::uint8_t> content;
    if (kind == 0) {
        const Bytes rest = r.slice(8, stored.size() - 8);
        content.assign(rest.begin(), rest.end());
    } else if (kind == 1) {
        // zlib expands at most about 1032 times; a larger claim is damage.
        if (length / 1032 > stored.size()) r.fail("attachment claims an impossible length");
        content.resize(length);
        uLongf got = length;
        const int rc = ::uncompress(content.data(), &got, stored.data() + 8,
                                    static_cast<uLong>(stored.size() - 8));
        if (rc != Z_OK || got != length) r.fail("attachment data does not inflate");
    } else {
        r.fail("attachment data of unknown kind " + std::to_string(kind));
    }
    ByteReader c(content, structure);
    const std::uint32_t header = c.u32(0);
    if (header < 12 || header > content.size()) c.fail("attachment header overruns its data");
    content.erase(content.begin(), content.begin() + header);
    return content;
}

ComplexValues::ComplexValues(const Database& db, const TableDef& def) {
    std::vector<ComplexColumnRow> rows;
    bool read = false;
    for (const Column& c : def.columns) {
        if (c.type != ColumnType::Complex) continue;
        if (!read) rows = complexColumns(db);
        read = true;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const ComplexColumnRow& r) {
            return r.complexId == c.complexId;
        });
        auto& byId = values_[c.number];
        if (row == rows.end()) continue;
        const TableDef& flat = db.tableDef(static_cast<std::uint32_t>(row->flatTable));
        const TableDef& templ = db.tableDef(static_cast<std::uint32_t>(row->templateTable));
        const Kind kind = kindOf(templ);
        std::size_t link = flat.columns.size();
        std::vector<std::size_t> valueColumns;
        for (std::size_t i = 0; i < flat.columns.size(); ++i) {
            const Column& fc = flat.columns[i];
            if (fc.extFlags & 0x08)
                link = i;
            else if (!(fc.extFlags & 0x04) &&
                     std::any_of(templ.columns.begin(), templ.columns.end(),
                                 [&](const Column& tc) { return tc.name == fc.name; }))
                valueColumns.push_back(i);
        }
        if (link == flat.columns.size())
            throw JetError("table definition", flat.page,
                           "flat table of column \"" + c.name + "\" has no value link");
        std::map<std::uint32_t, std::vector<std::pair<double, std::string>>> versions;
        db.forEachRow(flat, [&](const RowLocation& where, const std::vector<Value>& v) {
            const auto id = static_cast<std::uint32_t>(v[link].integer);
            std::string json;
            const auto named = [&](const char* name) -> const Value* {
                for (std::size_t i : valueColumns)
                    if (flat.columns[i].name == name) return &v[i];
                return nullptr;
            };
            const auto field = [&](const char* key, const Value* value, bool first = false) {
                if (!first) json += ',';
                appendJsonString(json, key);
                json += ':';
                if (value)
                    appendJsonValue(json, *value);
                else
                    json += "null";
            };
            switch (kind) {
            case Kind::MultiValue:
                appendJsonValue(json, v[valueColumns.at(0)]);
                break;
            case Kind::Attachment: {
                json += '{';
                field("name", named("FileName"), true);
                field("type", named("FileType"));
                const Value* data = named("FileData");
                json += ",\"data\":";
                if (data && !data->null)
                    appendJsonString(
                        json, base64(attachmentContent(data->bytes,
                                                       "attachment of \"" + c.name + "\" (page " +
                                                           std::to_string(where.data.page) + ")")));
                else
                    json += "null";
                field("time", named("FileTimeStamp"));
                field("url", named("FileURL"));
                field("flags", named("FileFlags"));
                json += '}';
                break;
            }
            case Kind::VersionHistory: {
                const Value* text = nullptr;
                const Value* when = nullptr;
                for (std::size_t i : valueColumns) {
                    if (flat.columns[i].type == ColumnType::Memo) text = &v[i];
                    if (flat.columns[i].type == ColumnType::DateTime) when = &v[i];
                }
                json += '{';
                field("value", text, true);
                field("modified", when);
                json += '}';
                versions[id].emplace_back(when && !when->null ? when->real : 0.0, json);
                return true;
            }
            case Kind::Other:
                json += '{';
                for (std::size_t k = 0; k < valueColumns.size(); ++k) {
                    if (k) json += ',';
                    appendJsonString(json, flat.columns[valueColumns[k]].name);
                    json += ':';
                    appendJsonValue(json, v[valueColumns[k]]);
                }
                json += '}';
                break;
            }
            byId[id].push_back(std::move(json));
            return true;
        });
        // Versions newest first, as Access lists them.
        for (auto& [id, list] : versions) {
            std::stable_sort(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.first > b.first; });
            for (auto& entry : list)
                byId[id].push_back(std::move(entry.second));
        }
    }
}

void ComplexValues::appendJson(std::string& out, std::uint16_t column, std::uint32_t id) const {
    out += '[';
    const auto col = values_.find(column);
    if (col != values_.end()) {
        const auto it = col->second.find(id);
        if (it != col->second.end())
            for (std::size_t i = 0; i < it->second.size(); ++i) {
                if (i) out += ',';
                out += it->second[i];
            }
    }
    out += ']';
}

} // namespace tarnwick::jet
