#pragma once

#include <QString>

namespace tarnwick {

// Unique temporary file names in a given folder, as the system's temporary-name service hands
// them out: the service picks a number, creates the empty file (so the name stays taken) and
// returns its path, "<folder>/<prefix><4 hex digits>.tmp" with at most three prefix characters.
class TempFileNames {
public:
    virtual ~TempFileNames() = default;
    // The new file's path, or "" with the reason in `error`.
    virtual QString create(const QString& folder, const QString& prefix, QString* error) = 0;

    // The service in use: the system's unless a test installed another.
    static TempFileNames& current();
    // Installs `names` (not owned) for tests; nullptr restores the system's.
    static void install(TempFileNames* names);
};

// The system's: the file is created exclusively with mode 0600 and never through a link.
class SystemTempFileNames : public TempFileNames {
public:
    QString create(const QString& folder, const QString& prefix, QString* error) override;
};

} // namespace tarnwick
