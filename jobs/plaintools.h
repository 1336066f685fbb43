#pragma once

// Copying and archiving without a desktop, for headless runs: no progress window, no questions.

#include "jobs/backupjob.h"

namespace tarnwick::jobs {

class PlainBackupTools : public BackupTools {
public:
    // Each file is written to a temporary file in the folder, synced, then given its name; an
    // existing name is never replaced (the copy gets "name (2).ext" instead).
    CopyResult copyFiles(const QStringList& files, const QString& folder) override;
    // A new archive with the file deflated at level 9, written beside its name and renamed.
    QStringList zipFile(const QString& file, const QString& archive) override;
    // What went wrong in the last copyFiles, file by file.
    QStringList lastErrors;
};

} // namespace tarnwick::jobs
