#include "maintain/target.h"

#include "jet/error.h"

#include <string>

namespace tarnwick::jet {

namespace {

constexpr int kJet3 = 32, kJet4 = 64, kAce12 = 128;

[[noreturn]] void refuse(const DatabaseHeader& h, const std::string& why) {
    throw JetError("conversion", JetError::noPage, formatName(h) + " files " + why);
}

} // namespace

TargetFormat targetFormat(const DatabaseHeader& h, int formatVersion) {
    const bool ace = h.aceVersion != 0;
    const bool jet3 = h.version == Version::Jet3;
    switch (formatVersion) {
    case 0:
        return TargetFormat::Keep;
    case kJet3:
        if (jet3) return TargetFormat::Keep;
        refuse(h, ace ? "cannot be written as Jet 3 (Access 97): it holds neither Unicode text "
                        "nor complex columns"
                      : "cannot be written as Jet 3 (Access 97): it cannot hold Unicode text");
    case kJet4:
        if (ace)
            refuse(h, "cannot be written as Jet 4 (Access 2000): it cannot hold complex columns");
        return jet3 ? TargetFormat::Jet4 : TargetFormat::Keep;
    case kAce12:
        if (jet3)
            refuse(h, "are converted to ACE (Access 2007) in two steps: to Jet 4 (Access 2000) "
                      "first");
        if (ace) {
            if (h.aceVersion == 12) return TargetFormat::Keep;
            refuse(h, "cannot be written as ACE 12 (Access 2007), an older format");
        }
        return TargetFormat::Ace12;
    default:
        throw JetError("conversion", JetError::noPage,
                       "format version " + std::to_string(formatVersion) +
                           " is not supported: 32 (Jet 3), 64 (Jet 4) or 128 (ACE 12)");
    }
}

} // namespace tarnwick::jet
