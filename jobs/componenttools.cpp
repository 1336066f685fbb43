#include "jobs/componenttools.h"

#include "archive/ziparchiver.h"
#include "archive/ziplibrary.h"
#include "filecopy/shellfileop.h"

namespace tarnwick::jobs {

namespace {

// Passes the request on and keeps the result, which the component does not return.
class Recording : public ShellFileOperation {
public:
    explicit Recording(ShellFileOperation& inner) : m_inner(inner) {}
    ShellCopyResult copy(const ShellCopyRequest& request) override {
        last = m_inner.copy(request);
        return last;
    }
    ShellCopyResult last;

private:
    ShellFileOperation& m_inner;
};

} // namespace

BackupTools::CopyResult ComponentBackupTools::copyFiles(const QStringList& files,
                                                        const QString& folder) {
    Recording recording(m_operation ? *m_operation : ShellFileOperation::current());
    m_copier->SetOperation(&recording);
    m_copier->AddFiles(files);
    CopyResult result;
    try {
        result.aborted = m_copier->CopyTo(folder);
    } catch (...) {
        m_copier->SetOperation(nullptr);
        throw;
    }
    m_copier->SetOperation(nullptr);
    result.written = recording.last.written;
    result.failures = recording.last.failures;
    result.warnings = recording.last.warnings;
    return result;
}

QStringList ComponentBackupTools::zipFile(const QString& file, const QString& archive) {
    LoadZipLibrary(m_archiver);
    m_archiver->SetFSpecArgs({});
    m_archiver->SetZipFileName(archive);
    // Always set: a listing leaves the comment it read in the archiver.
    m_archiver->SetArchiveComment(QString::fromLatin1(m_comment));
    m_archiver->SetFSpecArgs({file});
    // The archiver keeps its last message and code; a new one is about this file.
    const QString before = m_archiver->LastMessage();
    const int code = m_archiver->FullErrorCode();
    m_archiver->Add();
    if (m_archiver->AddedCount() < 1 || m_archiver->LastMessage() != before ||
        m_archiver->FullErrorCode() != code)
        return {m_archiver->LastMessage().isEmpty() ? QStringLiteral("the archiver added nothing")
                                                    : m_archiver->LastMessage()};
    return {};
}

} // namespace tarnwick::jobs
