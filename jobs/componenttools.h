#pragma once

// The backup job's tools over the copy and archiver components: the window passes its own (the
// copy's progress window and questions, the archiver's boxes), a headless run unattended ones
// (jobs/unattendedtools.h). Both run this code.

#include "jobs/backupjob.h"

class TShellFileOp;
class TZipArchiver;

namespace tarnwick {
class ShellFileOperation;
}

namespace tarnwick::jobs {

class ComponentBackupTools : public BackupTools {
public:
    // None owned. `operation` is the copy the component runs; null: the process-wide one.
    ComponentBackupTools(TShellFileOp* copier, TZipArchiver* archiver,
                         ShellFileOperation* operation = nullptr)
        : m_copier(copier), m_archiver(archiver), m_operation(operation) {}
    CopyResult copyFiles(const QStringList& files, const QString& folder) override;
    QStringList zipFile(const QString& file, const QString& archive) override;
    void setArchiveComment(const QByteArray& comment) override { m_comment = comment; }

private:
    QByteArray m_comment;
    TShellFileOp* m_copier;
    TZipArchiver* m_archiver;
    ShellFileOperation* m_operation;
};

} // namespace tarnwick::jobs
