#include "platform/shellcopyui.h"

namespace tarnwick {

ShellCopyUi::Choice UnattendedShellCopyUi::askError(const QString& path, const QString& message) {
    lines << path + QStringLiteral(": ") + message;
    return Skip;
}

ShellCopyUi::ReplaceChoice UnattendedShellCopyUi::askReplace(const QString& target) {
    lines << target + QStringLiteral(": exists; not replaced");
    return ReplaceNo;
}

void UnattendedShellCopyUi::notice(const QString& path, const QString& message) {
    lines << path + QStringLiteral(": ") + message;
}

void ScriptedShellCopyUi::begin(const QString& t, bool names, qint64 bytes, int files) {
    ++begun;
    title = t;
    showNames = names;
    totalBytes = bytes;
    totalFiles = files;
    m_cancel = false;
}

void ScriptedShellCopyUi::progress(const QString& source, const QString&, qint64) {
    if (progressSources.isEmpty() || progressSources.last() != source) progressSources << source;
    if (!cancelWhenSource.isEmpty() && source == cancelWhenSource) m_cancel = true;
}

bool ScriptedShellCopyUi::cancelRequested() {
    return m_cancel;
}

ShellCopyUi::Choice ScriptedShellCopyUi::askError(const QString& path, const QString& message) {
    errors << path + QStringLiteral(": ") + message;
    if (m_retries < retriesBeforeSkip) {
        ++m_retries;
        return Retry;
    }
    return errorAnswer;
}

ShellCopyUi::ReplaceChoice ScriptedShellCopyUi::askReplace(const QString& target) {
    replaceQuestions << target;
    return replaceAnswer;
}

} // namespace tarnwick
