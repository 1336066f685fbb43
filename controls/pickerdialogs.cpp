#include "controls/pickerdialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace tarnwick {

namespace {

PickerDialogs* current = nullptr;

// Our own folder dialog. Qt's refuses a folder that does not exist; this one lets the picker
// decide (ask, then accept it for creating).
class DirectoryDialog : public QFileDialog {
public:
    DirectoryDialog(QWidget* parent, const QString& title, const QString& start)
        : QFileDialog(parent, title, start) {}

    bool allowCreate = false;
    std::function<bool(const QString&)> acceptMissing;

    void accept() override {
        const QStringList chosen = selectedFiles();
        if (allowCreate && !chosen.isEmpty() && !QFileInfo::exists(chosen.first())) {
            if (acceptMissing && !acceptMissing(chosen.first())) return;
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

} // namespace

PickerDialogs& PickerDialogs::Current() {
    static QtPickerDialogs qtDialogs;
    return current ? *current : qtDialogs;
}

void PickerDialogs::SetCurrent(PickerDialogs* dialogs) {
    current = dialogs;
}

// --- Qt

FileDialogAnswer QtPickerDialogs::RunFileDialog(const FileDialogRequest& r) {
    QFileDialog dlg(r.parent, r.title, r.directory);
    dlg.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (r.save)
        dlg.setFileMode(QFileDialog::AnyFile);
    else if (r.multiSelect)
        dlg.setFileMode(QFileDialog::ExistingFiles);
    else
        dlg.setFileMode(r.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !r.overwritePrompt);
    dlg.setOption(QFileDialog::DontResolveSymlinks, !r.resolveLinks);
    if (!r.nameFilters.isEmpty()) {
        dlg.setNameFilters(r.nameFilters);
        if (r.filterIndex >= 0 && r.filterIndex < r.nameFilters.size())
            dlg.selectNameFilter(r.nameFilters[r.filterIndex]);
    }
    dlg.setDefaultSuffix(r.defaultSuffix);
    if (!r.fileName.isEmpty()) dlg.selectFile(r.fileName);

    FileDialogAnswer answer;
    if (dlg.exec() != QDialog::Accepted) return answer;
    answer.accepted = true;
    answer.files = dlg.selectedFiles();
    answer.folder = dlg.directory().absolutePath();
    answer.filterIndex = r.nameFilters.indexOf(dlg.selectedNameFilter());
    return answer;
}

std::optional<QString> QtPickerDialogs::RunDirectoryDialog(const DirectoryDialogRequest& r) {
    if (r.folderBrowser) {
        const QString title = r.prompt.isEmpty() ? r.title : r.prompt;
        const QString dir = QFileDialog::getExistingDirectory(r.parent, title, r.start);
        if (dir.isEmpty()) return std::nullopt;
        return dir;
    }
    DirectoryDialog dlg(r.parent, r.title, r.start);
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setOption(QFileDialog::ShowDirsOnly);
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setLabelText(QFileDialog::FileName,
                     QCoreApplication::translate("Pickers", "Directory &Name:"));
    dlg.setLabelText(QFileDialog::Accept, QCoreApplication::translate("Pickers", "OK"));
    dlg.allowCreate = r.allowCreate;
    dlg.acceptMissing = r.acceptMissing;
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().first();
}

bool QtPickerDialogs::AskYesNo(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QCoreApplication::translate("Pickers", "Confirm"), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtPickerDialogs::ShowError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QCoreApplication::applicationName(), text);
}

// --- scripted

ScriptedPickerDialogs::ScriptedPickerDialogs() : m_previous(current) {
    PickerDialogs::SetCurrent(this);
}

ScriptedPickerDialogs::~ScriptedPickerDialogs() {
    PickerDialogs::SetCurrent(m_previous);
}

FileDialogAnswer ScriptedPickerDialogs::RunFileDialog(const FileDialogRequest& request) {
    fileRequests.append(request);
    if (fileAnswers.empty()) return {};
    FileDialogAnswer a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
}

std::optional<QString> ScriptedPickerDialogs::RunDirectoryDialog(const DirectoryDialogRequest& r) {
    directoryRequests.append(r);
    while (!directoryAnswers.empty()) {
        const std::optional<QString> press = directoryAnswers.front();
        directoryAnswers.pop_front();
        if (!press) return std::nullopt;
        if (QFileInfo(*press).isDir()) return press;
        if (r.allowCreate && !QFileInfo::exists(*press) &&
            (!r.acceptMissing || r.acceptMissing(*press)))
            return press;
        // Refused: the dialog stays open.
    }
    return std::nullopt;
}

bool ScriptedPickerDialogs::AskYesNo(QWidget*, const QString& text) {
    questions.append(text);
    if (yesNoAnswers.empty()) return false;
    const bool yes = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return yes;
}

void ScriptedPickerDialogs::ShowError(QWidget*, const QString& text) {
    errors.append(text);
}

} // namespace tarnwick
