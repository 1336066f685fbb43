#include "jobs/unattendedtools.h"

#include "archive/ziparchiver.h"
#include "archive/ziplibrary.h"
#include "filecopy/shellfileop.h"
#include "platform/linuxshellfileoperation.h"
#include "platform/shellcopyui.h"

namespace tarnwick::jobs {

struct UnattendedBackupTools::Parts {
    TZipArchiverUi quiet; // the unattended answers, whatever the process installed
    TShellFileOp copier;
    TZipArchiver archiver;
    UnattendedShellCopyUi ui;
    LinuxShellFileOperation operation{&ui};
    ComponentBackupTools tools{&copier, &archiver, &operation};

    // As the window's description sets its components.
    Parts() {
        copier.SetFilesOnly(true);
        copier.SetNoConfirmation(true);
        copier.SetAutoMakeDir(false);
        copier.SetRenameOnCollision(true);
        copier.SetAnimate(true);
        copier.SetProgressTitle(QStringLiteral("Backing up Access File.."));
        archiver.SetAddCompLevel(9);
        archiver.SetAddOptions({});
        archiver.SetConfirmErase(false);
        archiver.SetAddStoreSuffixes(TZipArchiver::AddStoreExts(0xFFF));
        archiver.SetUnattended(true);
        archiver.SetUi(&quiet);
    }
};

UnattendedBackupTools::UnattendedBackupTools() : m_parts(std::make_unique<Parts>()) {}

UnattendedBackupTools::~UnattendedBackupTools() {
    unloadLibrary();
}

BackupTools::CopyResult UnattendedBackupTools::copyFiles(const QStringList& files,
                                                         const QString& folder) {
    m_parts->ui.lines.clear();
    return m_parts->tools.copyFiles(files, folder);
}

QStringList UnattendedBackupTools::zipFile(const QString& file, const QString& archive) {
    return m_parts->tools.zipFile(file, archive);
}

void UnattendedBackupTools::setArchiveComment(const QByteArray& comment) {
    m_parts->tools.setArchiveComment(comment);
}

QStringList UnattendedBackupTools::copyMessages() const {
    return m_parts->ui.lines;
}

void UnattendedBackupTools::unloadLibrary() {
    UnloadZipLibrary(&m_parts->archiver);
}

} // namespace tarnwick::jobs
