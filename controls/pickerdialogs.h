#pragma once

// The dialogs the pickers open: the file dialog, the folder dialog and their message boxes.
// The pickers call them through PickerDialogs, so tests answer them with ScriptedPickerDialogs
// instead of a person.

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class QWidget;

namespace tarnwick {

struct FileDialogRequest {
    QWidget* parent = nullptr;
    bool save = false;
    bool multiSelect = false;
    bool fileMustExist = false;
    bool overwritePrompt = false;
    bool resolveLinks = true;
    QString title;
    QString directory;       // where the dialog starts (absolute, or empty for the current one)
    QString fileName;        // the name proposed in the dialog
    QStringList nameFilters; // "Description (*.a *.b)"
    int filterIndex = 0;     // 0-based
    QString defaultSuffix;   // without the dot
};

struct FileDialogAnswer {
    bool accepted = false;
    // The names in the order the dialog returns them; a name that is not absolute lies in
    // folder.
    QString folder;
    QStringList files;
    int filterIndex = -1; // 0-based; -1 leaves the picker's as it was
};

struct DirectoryDialogRequest {
    QWidget* parent = nullptr;
    bool folderBrowser = false; // the desktop's folder browser instead of our own dialog
    QString title;
    QString prompt;
    QString start;
    bool allowCreate = false;
    // Asked when the user confirms a folder that does not exist (only with allowCreate);
    // false keeps the dialog open.
    std::function<bool(const QString& path)> acceptMissing;
};

class PickerDialogs {
public:
    virtual ~PickerDialogs() = default;

    virtual FileDialogAnswer RunFileDialog(const FileDialogRequest& request) = 0;
    // The chosen folder, or nothing when cancelled.
    virtual std::optional<QString> RunDirectoryDialog(const DirectoryDialogRequest& request) = 0;
    virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
    virtual void ShowError(QWidget* parent, const QString& text) = 0;

    // The dialogs in use: Qt's unless replaced.
    static PickerDialogs& Current();
    // Replaces them (nullptr goes back to Qt's); the caller keeps ownership.
    static void SetCurrent(PickerDialogs* dialogs);
};

// Qt's file dialog (the desktop's own where the platform offers one) and a folder dialog of
// our own that can accept folders still to be made.
class QtPickerDialogs : public PickerDialogs {
public:
    FileDialogAnswer RunFileDialog(const FileDialogRequest& request) override;
    std::optional<QString> RunDirectoryDialog(const DirectoryDialogRequest& request) override;
    bool AskYesNo(QWidget* parent, const QString& text) override;
    void ShowError(QWidget* parent, const QString& text) override;
};

// Answers from a script, in turn, and records what was asked. Installs itself while it lives.
class ScriptedPickerDialogs : public PickerDialogs {
public:
    ScriptedPickerDialogs();
    ~ScriptedPickerDialogs() override;

    // One answer per file dialog; none left is a cancel.
    std::deque<FileDialogAnswer> fileAnswers;
    // One entry per press of OK (a folder) or Cancel (nothing) in a folder dialog. A folder
    // that does not exist is refused unless the request allows creating it and its
    // acceptMissing agrees; a refused folder keeps the dialog open for the next entry. None
    // left is a cancel.
    std::deque<std::optional<QString>> directoryAnswers;
    // Answers to questions; none left is No.
    std::deque<bool> yesNoAnswers;

    QList<FileDialogRequest> fileRequests;
    QList<DirectoryDialogRequest> directoryRequests;
    QStringList questions;
    QStringList errors;

    FileDialogAnswer RunFileDialog(const FileDialogRequest& request) override;
    std::optional<QString> RunDirectoryDialog(const DirectoryDialogRequest& request) override;
    bool AskYesNo(QWidget* parent, const QString& text) override;
    void ShowError(QWidget* parent, const QString& text) override;

    // Shorthands for answers.
    static FileDialogAnswer Picked(const QString& folder, const QStringList& files) {
        return {true, folder, files, -1};
    }
    static FileDialogAnswer Cancelled() { return {}; }

private:
    PickerDialogs* m_previous = nullptr;
};

} // namespace tarnwick
