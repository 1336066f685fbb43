#include "archive/dialogs/archiverdialogs.h"

#include "archive/dialogs/passworddialog.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace {

bool haveWindows() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// The top-level window of the archiver's owner.
QWidget* windowOf(QObject* owner) {
    auto* w = qobject_cast<QWidget*>(owner);
    return w ? w->window() : nullptr;
}

} // namespace

void TZipArchiverDialogs::ShowMessage(QObject* owner, const QString& text) {
    if (!haveWindows()) return;
    QMessageBox::information(windowOf(owner), QCoreApplication::applicationName(), text,
                             QMessageBox::Ok);
}

QString TZipArchiverDialogs::AskPassword(QObject* owner, const QString& title,
                                         const QString& prompt, const QString& ok,
                                         const QString& cancel) {
    if (!haveWindows()) return {};
    TPasswordDlg dlg(windowOf(owner), title, prompt, ok, cancel);
    return dlg.exec() == QDialog::Accepted ? dlg.Password() : QString();
}

TZipArchiverUi::Button TZipArchiverDialogs::Ask(QObject* owner, const QString& title,
                                                const QString& text, unsigned buttons) {
    if (!haveWindows()) return TZipArchiverUi::Ask(owner, title, text, buttons);
    static const std::pair<Button, QMessageBox::StandardButton> map[] = {
        {Ok, QMessageBox::Ok}, {Cancel, QMessageBox::Cancel}, {Yes, QMessageBox::Yes},
        {No, QMessageBox::No}, {Retry, QMessageBox::Retry},
    };
    QMessageBox::StandardButtons offered;
    for (const auto& [ours, box] : map)
        if (buttons & ours) offered |= box;
    const QMessageBox::StandardButton pressed =
        QMessageBox::question(windowOf(owner), title, text, offered);
    for (const auto& [ours, box] : map)
        if (pressed == box) return ours;
    return Cancel; // the box closed by its title bar
}

void TZipArchiverDialogs::SetBusy(bool busy) {
    if (!haveWindows()) return;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void InstallZipArchiverDialogs() {
    static TZipArchiverDialogs dialogs;
    TZipArchiverUi::SetDefault(&dialogs);
}
