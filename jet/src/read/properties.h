#pragma once

#include "jet/bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::jet {

// One property of an object or of one of its columns, as kept in MSysObjects.LvProp.
struct Property {
    std::string object; // the column's name; empty for the object itself
    std::string name;
    std::uint8_t type = 0; // a column type code
    std::vector<std::uint8_t> value;
};

// Every property of a Jet 4 / ACE property blob ("MR2\0" and its chunks). Throws JetError
// naming `structure` when the blob does not parse.
std::vector<Property> parseProperties(Bytes blob, const std::string& structure);

} // namespace tarnwick::jet
