#include "maintain/toace.h"

#include "jet/header.h"
#include "jet/tabledef.h"

namespace tarnwick::jet {

namespace {
const std::string kStructure = "conversion";
} // namespace

std::string accdbBeside(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? path.substr(0, dot) : path) + ".accdb";
}

void checkAceConversion(const CompactOptions& options, bool newFile) {
    if (!newFile)
        throw RewriteRefused(kStructure, JetError::noPage,
                             "an ACE 12 file is written as a new file beside the source, never "
                             "over it");
    if (options.encoding == PageEncoding::Encrypt)
        throw RewriteRefused(kStructure, JetError::noPage,
                             "ACE files cannot be encrypted by Tarnwick; Access encrypts them "
                             "with a password");
}

void reportAceConversion(const Database& source, CompactReport& report) {
    report.lines.insert(report.lines.begin(), "converted from " + formatName(source.header()) +
                                                  " to ACE 12 (Access 2007); text keys in "
                                                  "General Legacy");
    if (source.header().databaseKey != 0) report.lines.push_back("pages decoded");
    // Access 2007 keeps its own objects in MSysAccessStorage; Access 2000's stay as they were.
    if (const CatalogEntry* objects = source.findTable("MSysAccessObjects");
        objects && source.tableDef(*objects).rowCount != 0)
        report.lines.push_back(
            "Access 2000 forms, reports, macros and modules, if any, are kept as "
            "stored (MSysAccessObjects); Access 2007 keeps its own in "
            "MSysAccessStorage: import them into the new file from the "
            "original in Access");
    if (!source.header().password.empty())
        report.lines.push_back("the database password was not carried over: Access protects "
                               "ACE files by encrypting them, which Tarnwick cannot do");
}

} // namespace tarnwick::jet
