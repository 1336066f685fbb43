#pragma once

#include "jet/tabledef.h"

#include <cstdint>
#include <vector>

namespace tarnwick::jet {

// A row laid out for a Jet 4 or ACE table: fixed columns at their offsets, variable ones one
// after another, then the variable columns' offsets (end of data first, last column first),
// their count and the null mask. A column given no value is null.
class Jet4RowBuilder {
public:
    explicit Jet4RowBuilder(const TableDef& def);

    // A Yes/No column stores no data: its value is its bit in the null mask.
    void setBoolean(const Column& c, bool value);
    // A fixed column takes its length: longer data is cut, shorter is padded with zeros.
    void set(const Column& c, std::vector<std::uint8_t> bytes);
    // The row; over 0xFFFF bytes it cannot be stored, which the caller reports.
    std::vector<std::uint8_t> finish();

private:
    void markPresent(const Column& c);

    const TableDef& def_;
    std::vector<std::uint8_t> row_, mask_;
    std::vector<std::vector<std::uint8_t>> variable_;
};

} // namespace tarnwick::jet
