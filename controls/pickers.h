#pragma once

// File and directory pickers: combo edits whose button opens the file or the folder dialog and
// that take files dragged from a file manager.
//
// Folders on this system. Start folders are kept as given and made local when a dialog opens
// (PickerNames::LocalDir): "~" is the user's home folder; a Windows drive root ("C:\", "c:\")
// is the home folder too, since that is where a user's files live here; "C:\My Documents\..."
// is the user's documents folder; any other "C:\a\b" is "a/b" under the home folder. So the
// window's design values can say "~" and "~/Documents" or keep the original "C:\" and
// "C:\My Documents\". The root "/" plays the part of the current drive's root "\": a directory
// dialog without a usable start folder starts there, and InitialDir keeps the separator of a
// root ("/", or "C:\") while dropping any other trailing one.

#include "controls/comboedit.h"
#include "runtime/pickernames.h"

#include <QStringList>

// procedure(Sender; var Name: string; var Action: Boolean)
T_DECLARE_EVENT(TExecOpenDialogEvent, QObject*, QString*, bool*)

// A failure of a file system operation, such as creating a folder.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The common part of both pickers: dialog events and dropped files.
class TFileDirEdit : public TCustomComboEdit {
    Q_OBJECT
    Q_PROPERTY(bool AcceptFiles READ AcceptFiles WRITE SetAcceptFiles)
    Q_PROPERTY(TExecOpenDialogEvent OnBeforeDialog READ OnBeforeDialog WRITE SetOnBeforeDialog)
    Q_PROPERTY(TExecOpenDialogEvent OnAfterDialog READ OnAfterDialog WRITE SetOnAfterDialog)
    Q_PROPERTY(TNotifyEvent OnDropFiles READ OnDropFiles WRITE SetOnDropFiles)
public:
    explicit TFileDirEdit(QWidget* parent = nullptr);

    bool AcceptFiles() const { return m_acceptFiles; }
    void SetAcceptFiles(bool a) {
        m_acceptFiles = a;
        if (a) setAcceptDrops(true);
    }
    TExecOpenDialogEvent OnBeforeDialog() const { return m_onBeforeDialog; }
    void SetOnBeforeDialog(const TExecOpenDialogEvent& e) { m_onBeforeDialog = e; }
    TExecOpenDialogEvent OnAfterDialog() const { return m_onAfterDialog; }
    void SetOnAfterDialog(const TExecOpenDialogEvent& e) { m_onAfterDialog = e; }
    TNotifyEvent OnDropFiles() const { return m_onDropFiles; }
    void SetOnDropFiles(const TNotifyEvent& e) { m_onDropFiles = e; }

    // Takes over dropped paths as a drop from a file manager does, then raises OnDropFiles.
    // Errors (an invalid file name) propagate and skip OnDropFiles.
    void DropFiles(const QStringList& paths);

protected:
    // Takes one dropped path into the text.
    virtual void TakeDropped(const QString& path) = 0;
    // Whether a drop of several items takes all of them, or only the first.
    virtual bool TakesSeveralDrops() const { return false; }

    QPixmap DefaultGlyph() const override;
    void GiveFocus();

    // Accepts or refuses a drag of files; false when it carries no files at all.
    bool judgeFileDrag(QDragMoveEvent* e) const;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

    TExecOpenDialogEvent m_onBeforeDialog;
    TExecOpenDialogEvent m_onAfterDialog;

private:
    bool m_acceptFiles = false;
    TNotifyEvent m_onDropFiles;
};

class TFilenameEdit : public TFileDirEdit {
    Q_OBJECT
    Q_PROPERTY(TFileDialogKind DialogKind READ DialogKind WRITE SetDialogKind)
    Q_PROPERTY(QStringList DialogFiles READ DialogFiles WRITE SetDialogFiles)
    Q_PROPERTY(QString DefaultExt READ DefaultExt WRITE SetDefaultExt)
    Q_PROPERTY(TFileEditStyle FileEditStyle READ FileEditStyle WRITE SetFileEditStyle)
    Q_PROPERTY(QStringList HistoryList READ HistoryList WRITE SetHistoryList)
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName STORED false)
    Q_PROPERTY(QString Filter READ Filter WRITE SetFilter)
    Q_PROPERTY(int FilterIndex READ FilterIndex WRITE SetFilterIndex)
    Q_PROPERTY(QString InitialDir READ InitialDir WRITE SetInitialDir)
    Q_PROPERTY(TOpenOptions DialogOptions READ DialogOptions WRITE SetDialogOptions)
    Q_PROPERTY(QString DialogTitle READ DialogTitle WRITE SetDialogTitle)
public:
    enum TFileDialogKind { dkOpen, dkSave, dkOpenPicture, dkSavePicture };
    Q_ENUM(TFileDialogKind)
    enum TFileEditStyle { fsEdit, fsComboBox };
    Q_ENUM(TFileEditStyle)
    enum TOpenOption {
        ofReadOnly = 1 << 0,
        ofOverwritePrompt = 1 << 1,
        ofHideReadOnly = 1 << 2,
        ofNoChangeDir = 1 << 3,
        ofShowHelp = 1 << 4,
        ofNoValidate = 1 << 5,
        ofAllowMultiSelect = 1 << 6,
        ofExtensionDifferent = 1 << 7,
        ofPathMustExist = 1 << 8,
        ofFileMustExist = 1 << 9,
        ofCreatePrompt = 1 << 10,
        ofShareAware = 1 << 11,
        ofNoReadOnlyReturn = 1 << 12,
        ofNoTestFileCreate = 1 << 13,
        ofNoNetworkButton = 1 << 14,
        ofNoLongNames = 1 << 15,
        ofOldStyleDialog = 1 << 16,
        ofNoDereferenceLinks = 1 << 17,
        ofEnableIncludeNotify = 1 << 18,
        ofEnableSizing = 1 << 19,
    };
    Q_DECLARE_FLAGS(TOpenOptions, TOpenOption)
    Q_FLAG(TOpenOptions)

    explicit TFilenameEdit(QWidget* parent = nullptr);

    TFileDialogKind DialogKind() const { return m_dialogKind; }
    void SetDialogKind(TFileDialogKind k);
    // The full paths of the last dialog run. Jobs and the settings store may change the list
    // in place through DialogFilesList().
    const QStringList& DialogFiles() const { return m_dialogFiles; }
    void SetDialogFiles(const QStringList& files) { m_dialogFiles = files; }
    QStringList& DialogFilesList() { return m_dialogFiles; }
    QString DefaultExt() const { return m_defaultExt; }
    void SetDefaultExt(const QString& e) { m_defaultExt = e; }
    TFileEditStyle FileEditStyle() const { return m_fileEditStyle; }
    void SetFileEditStyle(TFileEditStyle s) { m_fileEditStyle = s; }
    QStringList HistoryList() const { return m_historyList; }
    void SetHistoryList(const QStringList& h) { m_historyList = h; }
    // The file the text names (see PickerNames::FileNameOf).
    QString FileName() const;
    // Empty clears the text; otherwise the name must be valid (EComboEditError "Invalid file
    // name - %s" leaves the text as it was) and becomes the text, quoted if it has a blank.
    void SetFileName(const QString& name);
    QString Filter() const { return m_filter; }
    void SetFilter(const QString& f) { m_filter = f; }
    int FilterIndex() const { return m_filterIndex; }
    void SetFilterIndex(int i) { m_filterIndex = i; }
    QString InitialDir() const { return m_initialDir; }
    void SetInitialDir(const QString& d) { m_initialDir = PickerNames::TrimmedDir(d); }
    TOpenOptions DialogOptions() const { return m_options; }
    void SetDialogOptions(TOpenOptions o) { m_options = o; }
    QString DialogTitle() const { return m_dialogTitle; }
    void SetDialogTitle(const QString& t) { m_dialogTitle = t; }

    // The filter as the dialog shows it: "Description (patterns)" per pair, where "*.*" is
    // every file and a lower-case pattern also matches its upper-case form.
    static QStringList NameFilters(const QString& filter);

protected:
    void DoClick() override;
    void TakeDropped(const QString& path) override;

private:
    TFileDialogKind m_dialogKind = dkOpen;
    QStringList m_dialogFiles;
    QString m_defaultExt;
    TFileEditStyle m_fileEditStyle = fsEdit;
    QStringList m_historyList;
    QString m_filter = QStringLiteral("All files (*.*)|*.*");
    int m_filterIndex = 1;
    QString m_initialDir;
    TOpenOptions m_options = ofHideReadOnly;
    QString m_dialogTitle = QStringLiteral("Browse");
    QString m_dialogFileName;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TFilenameEdit::TOpenOptions)

class TDirectoryEdit : public TFileDirEdit {
    Q_OBJECT
    Q_PROPERTY(TDirDialogKind DialogKind READ DialogKind WRITE SetDialogKind)
    Q_PROPERTY(QString DialogText READ DialogText WRITE SetDialogText)
    Q_PROPERTY(TSelectDirOpts DialogOptions READ DialogOptions WRITE SetDialogOptions)
    Q_PROPERTY(QString InitialDir READ InitialDir WRITE SetInitialDir)
    Q_PROPERTY(bool MultipleDirs READ MultipleDirs WRITE SetMultipleDirs)
public:
    enum TDirDialogKind { dkOwn, dkWin32 };
    Q_ENUM(TDirDialogKind)
    enum TSelectDirOpt { sdAllowCreate = 1, sdPerformCreate = 2, sdPrompt = 4 };
    Q_DECLARE_FLAGS(TSelectDirOpts, TSelectDirOpt)
    Q_FLAG(TSelectDirOpts)

    explicit TDirectoryEdit(QWidget* parent = nullptr);

    TDirDialogKind DialogKind() const { return m_dialogKind; }
    void SetDialogKind(TDirDialogKind k) { m_dialogKind = k; }
    QString DialogText() const { return m_dialogText; }
    void SetDialogText(const QString& t) { m_dialogText = t; }
    TSelectDirOpts DialogOptions() const { return m_options; }
    void SetDialogOptions(TSelectDirOpts o) { m_options = o; }
    QString InitialDir() const { return m_initialDir; }
    void SetInitialDir(const QString& d) { m_initialDir = d; }
    bool MultipleDirs() const { return m_multipleDirs; }
    void SetMultipleDirs(bool m) { m_multipleDirs = m; }

protected:
    void DoClick() override;
    void TakeDropped(const QString& path) override;
    bool TakesSeveralDrops() const override { return m_multipleDirs; }

private:
    void appendDir(const QString& dir);

    TDirDialogKind m_dialogKind = dkOwn;
    QString m_dialogText;
    TSelectDirOpts m_options;
    QString m_initialDir;
    bool m_multipleDirs = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TDirectoryEdit::TSelectDirOpts)

// Makes both pickers known to window descriptions.
void RegisterPickerControls();
