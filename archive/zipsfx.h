#pragma once

// Making a self-extracting archive: our extractor program (the stub) followed by a block of
// settings; the zip library then adds the archive behind them.

#include <QString>
#include <QStringList>

struct SelfExtractor {
    QString stubPath;      // tried first; then ZipStub.bin in our folders
    QString libraryFolder; // tried last
    QString target;
    int options = 0; // the SFX option bits
    int overwriteMode = 0;
    QStringList texts; // caption, default folder, command line, message
};

// Writes the stub and its settings as `target`, executable; 0 or the ZipMsg number of the fault.
int WriteSelfExtractor(const SelfExtractor& sfx);
