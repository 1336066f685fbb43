#include "platform/widgets/qtshellcopyui.h"

#include "platform/linuxshellfileoperation.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <algorithm>

namespace tarnwick {

namespace {
constexpr int progressSteps = 1000;

// Windows need a widget application; a console program gets none and its questions cancel.
bool haveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}
} // namespace

QtShellCopyUi::QtShellCopyUi() = default;

QtShellCopyUi::~QtShellCopyUi() {
    end();
}

void QtShellCopyUi::begin(const QString& title, bool showNames, qint64 totalBytes, int) {
    end();
    m_showNames = showNames;
    m_total = totalBytes;
    m_cancelled = false;
    if (!haveWidgets()) return;
    m_dialog = new QProgressDialog;
    m_dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    m_dialog->setWindowTitle(title.isEmpty() ? QStringLiteral("Copying...") : title);
    m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
    m_dialog->setRange(0, progressSteps);
    // Like the desktop's own copy window: small copies finish before it would flash up.
    m_dialog->setMinimumDuration(700);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumWidth(420);
    QObject::connect(m_dialog, &QProgressDialog::canceled, m_dialog,
                     [this] { m_cancelled = true; });
    m_dialog->setValue(0);
}

void QtShellCopyUi::progress(const QString& source, const QString& target, qint64 doneBytes) {
    if (!m_dialog) return;
    if (m_showNames) {
        const QString text = QStringLiteral("Copying \"%1\"\nto \"%2\"")
                                 .arg(QFileInfo(source).fileName(), QFileInfo(target).path());
        if (m_dialog->labelText() != text) m_dialog->setLabelText(text);
    }
    const int value =
        m_total > 0 ? int(double(std::min(doneBytes, m_total)) * progressSteps / double(m_total))
                    : 0;
    if (value != m_dialog->value()) m_dialog->setValue(value);
}

bool QtShellCopyUi::cancelRequested() {
    return m_cancelled || (m_dialog && m_dialog->wasCanceled());
}

void QtShellCopyUi::end() {
    if (m_dialog) {
        m_dialog->hide();
        delete m_dialog.data();
    }
}

QProgressDialog* QtShellCopyUi::dialog() const {
    return m_dialog;
}

ShellCopyUi::Choice QtShellCopyUi::askError(const QString& path, const QString& message) {
    if (!haveWidgets()) {
        qWarning("Cannot copy %s: %s", qPrintable(path), qPrintable(message));
        return Cancel;
    }
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("Error Copying File"),
        QStringLiteral("Cannot copy \"%1\": %2").arg(QFileInfo(path).fileName(), message));
    box.setDetailedText(path);
    QPushButton* retry = box.addButton(QStringLiteral("Retry"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QStringLiteral("Skip"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(skip);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == retry) return Retry;
    if (box.clickedButton() == skip) return Skip;
    return Cancel;
}

ShellCopyUi::ReplaceChoice QtShellCopyUi::askReplace(const QString& target) {
    if (!haveWidgets()) return ReplaceCancel;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm File Replace"),
                    QStringLiteral("This folder already contains a file named \"%1\".\n\n"
                                   "Do you want to replace it?")
                        .arg(QFileInfo(target).fileName()));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No |
                           QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return ReplaceYes;
    case QMessageBox::YesToAll:
        return ReplaceAll;
    case QMessageBox::No:
        return ReplaceNo;
    default:
        return ReplaceCancel;
    }
}

void installQtShellCopyUi() {
    LinuxShellFileOperation::setDefaultUi([] { return std::make_unique<QtShellCopyUi>(); });
}

} // namespace tarnwick
