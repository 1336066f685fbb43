#pragma once

#include "platform/shellcopyui.h"

#include <QPointer>

class QProgressDialog;

namespace tarnwick {

// The window's copy: its progress window and message boxes: a progress dialog with a Cancel button,
// and message boxes for the questions.
class QtShellCopyUi : public ShellCopyUi {
public:
    QtShellCopyUi();
    ~QtShellCopyUi() override;

    void begin(const QString& title, bool showNames, qint64 totalBytes, int totalFiles) override;
    void progress(const QString& source, const QString& target, qint64 doneBytes) override;
    bool cancelRequested() override;
    void end() override;
    Choice askError(const QString& path, const QString& message) override;
    ReplaceChoice askReplace(const QString& target) override;

    // The progress window while one is shown (for tests that press its buttons).
    QProgressDialog* dialog() const;

private:
    QPointer<QProgressDialog> m_dialog;
    bool m_showNames = true;
    qint64 m_total = 0;
    bool m_cancelled = false;
};

// Makes the real windows the copy operation's default user interface for the process.
void installQtShellCopyUi();

} // namespace tarnwick
