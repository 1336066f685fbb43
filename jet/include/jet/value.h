#pragma once

#include "jet/tabledef.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::jet {

// One decoded column value. Which member holds the value follows from `type`:
//   Boolean, Byte, Integer, Long      -> integer
//   Currency                          -> integer (the stored value, ten-thousandths)
//   Single, Double, DateTime          -> real (DateTime: days since 1899-12-30)
//   Text, Memo                        -> text (UTF-8)
//   Binary, Ole, FixedBinary          -> bytes
//   Guid                              -> bytes (16, as stored)
//   Decimal                           -> bytes (17, as stored) with scale
//   BigInt                            -> integer
//   ExtDateTime                       -> bytes (42, as stored) and text (formatExtDateTime)
//   Complex                           -> integer (the complex value id; see jet/complex.h)
// A calculated column's value has the type of its result.
struct Value {
    ColumnType type = ColumnType::Text;
    bool null = true;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
    std::vector<std::uint8_t> bytes;
    std::uint8_t scale = 0;
};

// Text forms used by the exporter and the tools.
std::string formatCurrency(std::int64_t tenThousandths);                       // "-12.3400"
std::string formatDecimal(const std::vector<std::uint8_t>& stored, int scale); // "-1.50"
std::string formatDateTime(double days); // "2001-02-03T04:05:06[.789]"
// "2021-06-14T12:45:00[.123][.1234567]" from the 42 stored bytes of an extended date/time.
std::string formatExtDateTime(const std::vector<std::uint8_t>& stored);
std::string formatGuid(const std::vector<std::uint8_t>& stored); // "{XXXXXXXX-...}"
std::string base64(const std::vector<std::uint8_t>& bytes);
std::string formatDouble(double v); // shortest round trip
std::string formatSingle(float v);

} // namespace tarnwick::jet
