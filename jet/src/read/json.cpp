#include "jet/json.h"

#include "jet/complex.h"

#include <cmath>

namespace tarnwick::jet {

void appendJsonString(std::string& out, std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

namespace {
void appendNumber(std::string& out, double d, const std::string& text) {
    // JSON has no NaN or infinity; keep them visible as strings.
    if (std::isfinite(d))
        out += text;
    else
        appendJsonString(out, text);
}
} // namespace

void appendJsonValue(std::string& out, const Value& v) {
    if (v.null) {
        out += "null";
        return;
    }
    switch (v.type) {
    case ColumnType::Boolean:
        out += v.integer ? "true" : "false";
        break;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt:
    case ColumnType::Complex: // the id, when the values were not read
        out += std::to_string(v.integer);
        break;
    case ColumnType::Currency:
        appendJsonString(out, formatCurrency(v.integer));
        break;
    case ColumnType::Single:
        appendNumber(out, v.real, formatSingle(static_cast<float>(v.real)));
        break;
    case ColumnType::Double:
        appendNumber(out, v.real, formatDouble(v.real));
        break;
    case ColumnType::DateTime:
        appendJsonString(out, formatDateTime(v.real));
        break;
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::ExtDateTime:
        appendJsonString(out, v.text);
        break;
    case ColumnType::Guid:
        appendJsonString(out, formatGuid(v.bytes));
        break;
    case ColumnType::Decimal:
        appendJsonString(out, formatDecimal(v.bytes, v.scale));
        break;
    default:
        appendJsonString(out, base64(v.bytes));
        break;
    }
}

void appendJsonRow(std::string& out, const TableDef& def, const std::vector<Value>& values,
                   const ComplexValues* complex) {
    out += '{';
    for (std::size_t i = 0; i < def.columns.size() && i < values.size(); ++i) {
        if (i) out += ',';
        appendJsonString(out, def.columns[i].name);
        out += ':';
        const Value& v = values[i];
        if (complex && v.type == ColumnType::Complex && !v.null)
            complex->appendJson(out, def.columns[i].number, static_cast<std::uint32_t>(v.integer));
        else
            appendJsonValue(out, v);
    }
    out += '}';
}

} // namespace tarnwick::jet
