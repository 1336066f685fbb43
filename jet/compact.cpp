#include "jet/compact.h"

namespace tarnwick::jet {

namespace {
[[noreturn]] void notBuilt() {
    throw JetError("compaction", JetError::noPage, "not built yet");
}
} // namespace

CompactReport compact(const std::string&, const std::string&, const CompactOptions&) {
    notBuilt();
}
void replaceDatabase(const std::string&, const std::string&) {
    notBuilt();
}
CompactReport compactInPlace(const std::string&, const CompactOptions&) {
    notBuilt();
}
RepairReport repair(const std::string&, const std::string&) {
    notBuilt();
}

} // namespace tarnwick::jet
