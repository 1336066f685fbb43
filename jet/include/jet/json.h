#pragma once

#include "jet/tabledef.h"
#include "jet/value.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::jet {

// Appends `s` as a JSON string literal (quotes included).
void appendJsonString(std::string& out, std::string_view s);
// Appends one value in the export form: numbers as numbers, Currency and Decimal as decimal
// strings, dates as ISO text, GUIDs in braces, binary as base64, null as null.
void appendJsonValue(std::string& out, const Value& v);
class ComplexValues;

// One JSON object, keys the column names in column order, no trailing newline. Complex columns
// show their values as arrays when `complex` (read for this table) is given, else their ids.
void appendJsonRow(std::string& out, const TableDef& def, const std::vector<Value>& values,
                   const ComplexValues* complex = nullptr);

} // namespace tarnwick::jet
