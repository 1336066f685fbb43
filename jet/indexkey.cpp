#include "jet/indexkey.h"

#include "jet/error.h"

namespace tarnwick::jet {

std::vector<std::uint8_t> encodeIndexKey(const Database& db, const TableDef& def,
                                         const RealIndex& index, const std::vector<Value>& row) {
    return encodeIndexKey(db.format().version, db.header().codePage, def, index, row);
}

std::vector<std::uint8_t> encodeIndexKey(Version, int, const TableDef&, const RealIndex&,
                                         const std::vector<Value>&) {
    throw JetError("index key", JetError::noPage, "not yet encoded");
}

void appendKeySegment(std::vector<std::uint8_t>&, Version, const Column&, const Value&, bool) {
    throw JetError("index key", JetError::noPage, "not yet encoded");
}

} // namespace tarnwick::jet
