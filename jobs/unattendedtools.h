#pragma once

// The backup job's tools for a run without a window: the window's copy and archiver components
// with the window's settings, but nobody to ask. Copy errors skip the file (a failure), an
// existing file is never replaced, the archiver asks for no password and shows nothing.

#include "jobs/componenttools.h"

#include <memory>

namespace tarnwick::jobs {

class UnattendedBackupTools : public BackupTools {
public:
    UnattendedBackupTools();
    ~UnattendedBackupTools() override;
    CopyResult copyFiles(const QStringList& files, const QString& folder) override;
    QStringList zipFile(const QString& file, const QString& archive) override;
    void setArchiveComment(const QByteArray& comment) override;
    // What the copy would have asked or shown, "path: message", since the last copyFiles.
    QStringList copyMessages() const;
    // Leaves the zip library loaded by the last zipFile.
    void unloadLibrary();

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

} // namespace tarnwick::jobs
