#pragma once

// The window's copy and archiver as the backup job's tools: the copy shows its progress window
// and asks about errors, the archiver shows its own messages.

#include "jobs/backupjob.h"

class TShellFileOp;
class TZipArchiver;

class WindowBackupTools : public tarnwick::jobs::BackupTools {
public:
    WindowBackupTools(TShellFileOp* copier, TZipArchiver* archiver)
        : m_copier(copier), m_archiver(archiver) {}
    CopyResult copyFiles(const QStringList& files, const QString& folder) override;
    QStringList zipFile(const QString& file, const QString& archive) override;

private:
    TShellFileOp* m_copier;
    TZipArchiver* m_archiver;
};
