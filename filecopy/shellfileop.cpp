#include "filecopy/shellfileop.h"

#include "platform/filename.h"
#include "runtime/classregistry.h"

#include <QFile>

#include <algorithm>

#include <sys/stat.h>

namespace {

// The list's order: letter case ignored, then exact, so that the order is total.
bool before(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

// Two paths that differ only in letter case name one file where names ignore case. Here they
// may also be two different files, and then both must be copied.
bool sameFile(const QString& a, const QString& b) {
    if (a == b) return true;
    struct stat sa {};
    struct stat sb {};
    if (::stat(tarnwick::fileNameToBytes(a).constData(), &sa) != 0 ||
        ::stat(tarnwick::fileNameToBytes(b).constData(), &sb) != 0)
        return true;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

TShellFileOp::TShellFileOp(QObject* owner) : TComponent(owner) {}

void TShellFileOp::AddFile(const QString& path) {
    if (path.isEmpty()) return;
    auto it = std::lower_bound(m_sources.begin(), m_sources.end(), path,
                               [](const QString& a, const QString& b) {
                                   return QString::compare(a, b, Qt::CaseInsensitive) < 0;
                               });
    for (auto same = it;
         same != m_sources.end() && QString::compare(*same, path, Qt::CaseInsensitive) == 0;
         ++same) {
        if (sameFile(*same, path)) return;
    }
    m_sources.insert(std::lower_bound(m_sources.begin(), m_sources.end(), path, before), path);
}

void TShellFileOp::AddFiles(const QStringList& paths) {
    for (const QString& path : paths)
        AddFile(path);
}

unsigned TShellFileOp::Flags() const {
    unsigned flags = 0;
    if (m_filesOnly) flags |= tarnwick::fofFilesOnly;
    if (m_noConfirmation) flags |= tarnwick::fofNoConfirmation;
    if (m_autoMakeDir) flags |= tarnwick::fofNoConfirmMkdir;
    if (m_renameOnCollision) flags |= tarnwick::fofRenameOnCollision;
    if (!m_animate) flags |= tarnwick::fofSilent;
    if (!m_progressTitle.isEmpty()) flags |= tarnwick::fofSimpleProgress;
    return flags;
}

bool TShellFileOp::CopyTo(const QString& destination) {
    m_lastFailures = 0;
    if (m_sources.isEmpty()) return false;
    tarnwick::ShellCopyRequest request;
    request.sources = m_sources;
    request.destination = destination;
    request.flags = Flags();
    if (!m_progressTitle.isEmpty()) request.progressTitle = m_progressTitle;
    tarnwick::ShellFileOperation& op =
        m_operation ? *m_operation : tarnwick::ShellFileOperation::current();
    const tarnwick::ShellCopyResult result = op.copy(request);
    m_lastFailures = result.failures;
    m_sources.clear();
    return result.anyOperationsAborted;
}

void RegisterShellFileOp() {
    TClassRegistry::Register<TShellFileOp>();
}
