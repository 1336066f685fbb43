#pragma once

#include "jet/database.h"
#include "jet/tabledef.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::jet {

// The values of one table's complex columns (attachments, multi-value fields, version history,
// kinds this engine does not know), read from their flat tables through MSysComplexColumns.
// Each value is kept in its export form: an attachment as {"name","type","data","time","url",
// "flags"} with its content decoded, a multi-value as the value, a version as
// {"value","modified"} (newest first), any other kind as an object of its value columns.
class ComplexValues {
public:
    // Reads every flat table of `def`'s complex columns. Throws JetError on a flat table that
    // cannot be read or attachment data that does not decode.
    ComplexValues(const Database& db, const TableDef& def);

    // Appends the JSON array of the values column number `column` holds for complex value id
    // `id` ("[]" when it holds none).
    void appendJson(std::string& out, std::uint16_t column, std::uint32_t id) const;

private:
    std::map<std::uint16_t, std::map<std::uint32_t, std::vector<std::string>>> values_;
};

// The file an attachment holds, from its stored FileData (deflated or not, with the header
// that names its extension). Throws JetError naming `structure` when it does not decode.
std::vector<std::uint8_t> attachmentContent(Bytes stored, const std::string& structure);

} // namespace tarnwick::jet
