#include "write/jet4row.h"

#include "jet/bytes.h"

#include <algorithm>

namespace tarnwick::jet {

Jet4RowBuilder::Jet4RowBuilder(const TableDef& def)
    : def_(def), row_(2 + def.fixedAreaLength(), 0), mask_((def.maxColumns + 7) / 8, 0),
      variable_(def.variableColumns) {
    put16(row_.data(), def.maxColumns);
}

void Jet4RowBuilder::markPresent(const Column& c) {
    mask_[c.number / 8] = static_cast<std::uint8_t>(mask_[c.number / 8] | 1u << (c.number % 8));
}

void Jet4RowBuilder::setBoolean(const Column& c, bool value) {
    if (value) markPresent(c);
}

void Jet4RowBuilder::set(const Column& c, std::vector<std::uint8_t> bytes) {
    markPresent(c);
    if (c.isFixed())
        std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), c.length),
                    row_.begin() + 2 + c.fixedOffset);
    else
        variable_[c.varIndex] = std::move(bytes);
}

std::vector<std::uint8_t> Jet4RowBuilder::finish() {
    const std::size_t nv = variable_.size();
    if (nv != 0) {
        std::vector<std::uint16_t> offsets(nv + 1);
        for (std::size_t v = 0; v < nv; ++v) {
            offsets[v] = static_cast<std::uint16_t>(row_.size());
            row_.insert(row_.end(), variable_[v].begin(), variable_[v].end());
        }
        offsets[nv] = static_cast<std::uint16_t>(row_.size());
        for (std::size_t v = nv + 1; v-- > 0;) {
            row_.push_back(static_cast<std::uint8_t>(offsets[v]));
            row_.push_back(static_cast<std::uint8_t>(offsets[v] >> 8));
        }
        row_.push_back(static_cast<std::uint8_t>(nv));
        row_.push_back(static_cast<std::uint8_t>(nv >> 8));
    }
    row_.insert(row_.end(), mask_.begin(), mask_.end());
    return std::move(row_);
}

} // namespace tarnwick::jet
