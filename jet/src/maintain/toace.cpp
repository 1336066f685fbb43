#include "maintain/toace.h"

#include "jet/header.h"
#include "jet/tabledef.h"

namespace tarnwick::jet {

namespace {
const std::string kStructure = "conversion";
} // namespace

bool needsAceConversion(const Database& source, const CompactOptions& options) {
    const DatabaseHeader& h = source.header();
    if (!source.format().jet4())
        throw RewriteRefused(kStructure, JetError::noPage,
                             formatName(h) +
                                 " files cannot be converted to ACE 12 directly; convert the file "
                                 "to Jet 4 (Access 2000) first");
    if (h.aceVersion > 12)
        throw RewriteRefused(kStructure, JetError::noPage,
                             formatName(h) +
                                 " files cannot be converted to the older ACE 12: what they "
                                 "hold may not fit");
    if (options.encoding == PageEncoding::Encrypt)
        throw RewriteRefused(kStructure, JetError::noPage,
                             "ACE files cannot be encrypted by Tarnwick; Access encrypts them "
                             "with a password");
    return h.aceVersion == 0;
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
