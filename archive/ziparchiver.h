#pragma once

// TZipArchiver: a non-visual component that puts files into zip archives through the zip
// library, answers the library's callbacks, and reads the directory of the archive it names.

#include "archive/ziparchiverui.h"
#include "archive/zipcontents.h"
#include "runtime/component.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

struct ZipCallbackData;
struct ZipSpanCallbacks;

namespace ZipTypes {
Q_NAMESPACE
enum ProgressType { NewFile, ProgressUpdate, EndOfBatch, TotalFiles, TotalSize };
Q_ENUM_NS(ProgressType)
} // namespace ZipTypes

T_DECLARE_EVENT(TZipProgressEvent, QObject*, ZipTypes::ProgressType, QString, int)
T_DECLARE_EVENT(TZipMessageEvent, QObject*, int, QString)
T_DECLARE_EVENT(TZipSetNewNameEvent, QObject*, QString*, bool*)
T_DECLARE_EVENT(TZipNewNameEvent, QObject*, int, ZipDirEntry)
T_DECLARE_EVENT(TZipPasswordErrorEvent, QObject*, QString*, QString, uint*)
T_DECLARE_EVENT(TZipCRC32ErrorEvent, QObject*, QString, uint, uint, bool*)
T_DECLARE_EVENT(TZipExtractOverwriteEvent, QObject*, QString, bool, bool*)
T_DECLARE_EVENT(TZipExtractSkippedEvent, QObject*, QString, int, int)
T_DECLARE_EVENT(TZipCopyZipOverwriteEvent, QObject*, QString, bool*)
T_DECLARE_EVENT(TZipGetNextDiskEvent, QObject*, int, int, QString, bool*)
T_DECLARE_EVENT(TZipStatusDiskEvent, QObject*, int, QString, int, int*)
T_DECLARE_EVENT(TZipFileCommentEvent, QObject*, QString, QString*, bool*)

class TZipArchiver : public TComponent {
    Q_OBJECT
public:
    enum AddOptsEnum {
        AddDirNames = 0x1,
        AddRecurseDirs = 0x2,
        AddMove = 0x4,
        AddFreshen = 0x8,
        AddUpdate = 0x10,
        AddZipTime = 0x20,
        AddForceDOS = 0x40,
        AddHiddenFiles = 0x80,
        AddArchiveOnly = 0x100,
        AddResetArchive = 0x200,
        AddEncrypt = 0x400,
        AddSeparateDirs = 0x800,
        AddVolume = 0x1000,
        AddDiskSpan = 0x2000,
        AddDiskSpanErase = 0x4000,
    };
    Q_DECLARE_FLAGS(AddOpts, AddOptsEnum)
    Q_FLAG(AddOpts)
    enum ExtrOptsEnum {
        ExtrDirNames = 0x1,
        ExtrOverWrite = 0x2,
        ExtrFreshen = 0x4,
        ExtrUpdate = 0x8,
        ExtrTest = 0x10
    };
    Q_DECLARE_FLAGS(ExtrOpts, ExtrOptsEnum)
    Q_FLAG(ExtrOpts)
    enum SFXOptsEnum {
        SFXAskCmdLine = 0x1,
        SFXAskFiles = 0x2,
        SFXAutoRun = 0x4,
        SFXHideOverWriteBox = 0x8,
        SFXCheckSize = 0x10,
        SFXNoSuccessMsg = 0x20,
    };
    Q_DECLARE_FLAGS(SFXOpts, SFXOptsEnum)
    Q_FLAG(SFXOpts)
    enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };
    Q_ENUM(OvrOpts)
    enum CodePageOpts { cpAuto, cpNone, cpOEM };
    Q_ENUM(CodePageOpts)
    enum DeleteOpts { htdFinal, htdAllowUndo };
    Q_ENUM(DeleteOpts)
    enum AddStoreSuffixEnum {
        assGIF = 0x1,
        assPNG = 0x2,
        assZ = 0x4,
        assZIP = 0x8,
        assZOO = 0x10,
        assARC = 0x20,
        assLZH = 0x40,
        assARJ = 0x80,
        assTAZ = 0x100,
        assTGZ = 0x200,
        assLHA = 0x400,
        assEXE = 0x800,
    };
    Q_DECLARE_FLAGS(AddStoreExts, AddStoreSuffixEnum)
    Q_FLAG(AddStoreExts)

    Q_PROPERTY(bool Verbose READ Verbose WRITE SetVerbose)
    Q_PROPERTY(bool Trace READ Trace WRITE SetTrace)
    Q_PROPERTY(int AddCompLevel READ AddCompLevel WRITE SetAddCompLevel)
    Q_PROPERTY(AddOpts AddOptions READ AddOptions WRITE SetAddOptions)
    Q_PROPERTY(QString ExtrBaseDir READ ExtrBaseDir WRITE SetExtrBaseDir)
    Q_PROPERTY(ExtrOpts ExtrOptions READ ExtrOptions WRITE SetExtrOptions)
    Q_PROPERTY(SFXOpts SFXOptions READ SFXOptions WRITE SetSFXOptions)
    Q_PROPERTY(QStringList FSpecArgs READ FSpecArgs WRITE SetFSpecArgs)
    Q_PROPERTY(bool Unattended READ Unattended WRITE SetUnattended)
    Q_PROPERTY(QString ZipFileName READ ZipFileName WRITE SetZipFileName)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
    Q_PROPERTY(QString SFXPath READ SFXPath WRITE SetSFXPath)
    Q_PROPERTY(QString DLLDirectory READ LibraryFolder WRITE SetLibraryFolder)
    Q_PROPERTY(OvrOpts SFXOverWriteMode READ SFXOverWriteMode WRITE SetSFXOverWriteMode)
    Q_PROPERTY(QString SFXCaption READ SFXCaption WRITE SetSFXCaption)
    Q_PROPERTY(QString SFXDefaultDir READ SFXDefaultDir WRITE SetSFXDefaultDir)
    Q_PROPERTY(QString SFXCommandLine READ SFXCommandLine WRITE SetSFXCommandLine)
    Q_PROPERTY(QString SFXMessage READ SFXMessage WRITE SetSFXMessage)
    Q_PROPERTY(QString TempDir READ TempDir WRITE SetTempDir)
    Q_PROPERTY(int KeepFreeOnDisk1 READ KeepFreeOnDisk1 WRITE SetKeepFreeOnDisk1)
    Q_PROPERTY(int MaxVolumeSize READ MaxVolumeSize WRITE SetMaxVolumeSize)
    Q_PROPERTY(int MinFreeVolumeSize READ MinFreeVolumeSize WRITE SetMinFreeVolumeSize)
    Q_PROPERTY(bool ConfirmErase READ ConfirmErase WRITE SetConfirmErase)
    Q_PROPERTY(CodePageOpts CodePage READ CodePage WRITE SetCodePage)
    Q_PROPERTY(DeleteOpts HowToDelete READ HowToDelete WRITE SetHowToDelete)
    Q_PROPERTY(QString VersionInfo READ VersionInfo WRITE SetVersionInfo)
    Q_PROPERTY(QVariant SFXIcon READ SFXIcon WRITE SetSFXIcon)
    Q_PROPERTY(AddStoreExts AddStoreSuffixes READ AddStoreSuffixes WRITE SetAddStoreSuffixes)
    Q_PROPERTY(uint PasswordReqCount READ PasswordReqCount WRITE SetPasswordReqCount)
    Q_PROPERTY(QStringList FSpecArgsExcl READ FSpecArgsExcl WRITE SetFSpecArgsExcl)
    Q_PROPERTY(bool UseDirOnlyEntries READ UseDirOnlyEntries WRITE SetUseDirOnlyEntries)
    Q_PROPERTY(QString RootDir READ RootDir WRITE SetRootDir)

    Q_PROPERTY(TNotifyEvent OnDirUpdate MEMBER OnDirUpdate)
    Q_PROPERTY(TZipProgressEvent OnProgress MEMBER OnProgress)
    Q_PROPERTY(TZipMessageEvent OnMessage MEMBER OnMessage)
    Q_PROPERTY(TZipSetNewNameEvent OnSetNewName MEMBER OnSetNewName)
    Q_PROPERTY(TZipNewNameEvent OnNewName MEMBER OnNewName)
    Q_PROPERTY(TZipPasswordErrorEvent OnPasswordError MEMBER OnPasswordError)
    Q_PROPERTY(TZipCRC32ErrorEvent OnCRC32Error MEMBER OnCRC32Error)
    Q_PROPERTY(TZipExtractOverwriteEvent OnExtractOverwrite MEMBER OnExtractOverwrite)
    Q_PROPERTY(TZipExtractSkippedEvent OnExtractSkipped MEMBER OnExtractSkipped)
    Q_PROPERTY(TZipCopyZipOverwriteEvent OnCopyZipOverwrite MEMBER OnCopyZipOverwrite)
    Q_PROPERTY(TZipGetNextDiskEvent OnGetNextDisk MEMBER OnGetNextDisk)
    Q_PROPERTY(TZipStatusDiskEvent OnStatusDisk MEMBER OnStatusDisk)
    Q_PROPERTY(TZipFileCommentEvent OnFileComment MEMBER OnFileComment)

public:
    explicit TZipArchiver(QObject* owner = nullptr);
    ~TZipArchiver() override;

    // Published property access.
    bool Verbose() const { return m_verbose; }
    void SetVerbose(bool v) { m_verbose = v; }
    bool Trace() const { return m_trace; }
    void SetTrace(bool v) { m_trace = v; }
    int AddCompLevel() const { return m_addCompLevel; }
    void SetAddCompLevel(int v) { m_addCompLevel = v; }
    AddOpts AddOptions() const { return m_addOptions; }
    void SetAddOptions(AddOpts v) { m_addOptions = v; }
    QString ExtrBaseDir() const { return m_extrBaseDir; }
    void SetExtrBaseDir(const QString& v) { m_extrBaseDir = v; }
    ExtrOpts ExtrOptions() const { return m_extrOptions; }
    void SetExtrOptions(ExtrOpts v) { m_extrOptions = v; }
    SFXOpts SFXOptions() const { return m_sfxOptions; }
    void SetSFXOptions(SFXOpts v) { m_sfxOptions = v; }
    QStringList FSpecArgs() const { return m_fSpecArgs; }
    void SetFSpecArgs(const QStringList& v) { m_fSpecArgs = v; }
    // The list itself, for callers that add lines one by one.
    QStringList& FSpecArgsRef() { return m_fSpecArgs; }
    bool Unattended() const { return m_unattended; }
    void SetUnattended(bool v) { m_unattended = v; }
    QString ZipFileName() const { return m_zipFileName; }
    void SetZipFileName(const QString& v);
    QString Password() const { return m_password; }
    void SetPassword(const QString& v) { m_password = v.left(255); }
    QString SFXPath() const { return m_sfxPath; }
    void SetSFXPath(const QString& v) { m_sfxPath = v; }
    // The folder looked in first for the zip library (published as DLLDirectory).
    QString LibraryFolder() const { return m_libraryFolder; }
    void SetLibraryFolder(const QString& v);
    OvrOpts SFXOverWriteMode() const { return m_sfxOverWriteMode; }
    void SetSFXOverWriteMode(OvrOpts v) { m_sfxOverWriteMode = v; }
    QString SFXCaption() const { return m_sfxCaption; }
    void SetSFXCaption(const QString& v) { m_sfxCaption = v; }
    QString SFXDefaultDir() const { return m_sfxDefaultDir; }
    void SetSFXDefaultDir(const QString& v) { m_sfxDefaultDir = v; }
    QString SFXCommandLine() const { return m_sfxCommandLine; }
    void SetSFXCommandLine(const QString& v) { m_sfxCommandLine = v; }
    QString SFXMessage() const { return m_sfxMessage; }
    void SetSFXMessage(const QString& v) { m_sfxMessage = v; }
    QString TempDir() const { return m_tempDir; }
    void SetTempDir(const QString& v) { m_tempDir = v; }
    int KeepFreeOnDisk1() const { return m_keepFreeOnDisk1; }
    void SetKeepFreeOnDisk1(int v) { m_keepFreeOnDisk1 = v; }
    int MaxVolumeSize() const { return m_maxVolumeSize; }
    void SetMaxVolumeSize(int v) { m_maxVolumeSize = v; }
    int MinFreeVolumeSize() const { return m_minFreeVolumeSize; }
    void SetMinFreeVolumeSize(int v) { m_minFreeVolumeSize = v; }
    bool ConfirmErase() const { return m_confirmErase; }
    void SetConfirmErase(bool v) { m_confirmErase = v; }
    CodePageOpts CodePage() const { return m_codePage; }
    void SetCodePage(CodePageOpts v) { m_codePage = v; }
    DeleteOpts HowToDelete() const { return m_howToDelete; }
    void SetHowToDelete(DeleteOpts v) { m_howToDelete = v; }
    QString VersionInfo() const { return QStringLiteral("1.60 L"); }
    void SetVersionInfo(const QString&) {} // read-only: the value is ignored
    // The window's icon value, kept as it is: the archiver itself needs no GUI library.
    QVariant SFXIcon() const { return m_sfxIcon; }
    void SetSFXIcon(const QVariant& v) { m_sfxIcon = v; }
    AddStoreExts AddStoreSuffixes() const { return m_addStoreSuffixes; }
    void SetAddStoreSuffixes(AddStoreExts v) { m_addStoreSuffixes = v; }
    uint PasswordReqCount() const { return m_passwordReqCount; }
    void SetPasswordReqCount(uint v) { m_passwordReqCount = v > 15 ? 15 : v; }
    QStringList FSpecArgsExcl() const { return m_fSpecArgsExcl; }
    void SetFSpecArgsExcl(const QStringList& v) { m_fSpecArgsExcl = v; }
    bool UseDirOnlyEntries() const { return m_useDirOnlyEntries; }
    void SetUseDirOnlyEntries(bool v) { m_useDirOnlyEntries = v; }
    QString RootDir() const { return m_rootDir; }
    void SetRootDir(const QString& v);

    // Events.
    TNotifyEvent OnDirUpdate;
    TZipProgressEvent OnProgress;
    TZipMessageEvent OnMessage;
    TZipSetNewNameEvent OnSetNewName;
    TZipNewNameEvent OnNewName;
    TZipPasswordErrorEvent OnPasswordError;
    TZipCRC32ErrorEvent OnCRC32Error;
    TZipExtractOverwriteEvent OnExtractOverwrite;
    TZipExtractSkippedEvent OnExtractSkipped;
    TZipCopyZipOverwriteEvent OnCopyZipOverwrite;
    TZipGetNextDiskEvent OnGetNextDisk;
    TZipStatusDiskEvent OnStatusDisk;
    TZipFileCommentEvent OnFileComment;

    // Public state.
    int AddedCount() const { return m_addedCount; }
    int ErrorCode() const { return m_errorCode; }
    int FullErrorCode() const { return m_fullErrorCode; }
    QString LastMessage() const { return m_lastMessage; }
    bool Cancel() const { return m_cancel; }
    void SetCancel(bool v) { m_cancel = v; }
    bool Busy() const { return m_busy; }
    const QList<ZipDirEntry>& Contents() const { return m_directory.entries; }
    int Count() const { return static_cast<int>(m_directory.entries.size()); }
    int SkippedDirCount() const { return m_directory.skippedDirs; }
    int BatchTotalSize() const { return m_batchTotalSize; }
    QString ArchiveComment() const { return m_directory.comment; }
    // The comment the next Add gives the archive (a listing sets it to what it read).
    void SetArchiveComment(const QString& comment) { m_directory.comment = comment; }
    qint64 FirstEntryOffset() const { return m_directory.firstEntryOffset; }
    bool IsSpanned() const { return m_directory.spanned; }

    // Operations.
    void Add();
    void ReadContents();
    int ZipLibraryVersion();
    // Makes ZipFileName a self-extracting program (stub + settings); 0 on success.
    int ConvertToSFX();
    // Copies a finished archive onto the volumes in ZipFileName's drive; 0 on success.
    int WriteSpannedArchive(const QString& tempName, const QString& targetName);
    QString MakeTempZipName();

    // Messages: the only ways this component reports faults.
    void ShowZipMessage(int number, const QString& extra);
    void ShowZipException(const class EZipArchiver& e);

    // The store-only suffix list the library gets (".gif:.png:...").
    static QString AddExtLookup(AddStoreExts suffixes);

    // Where the component shows things; not owned. Null restores the process default.
    void SetUi(TZipArchiverUi* ui) { m_ui = ui; }
    TZipArchiverUi& Ui() const { return m_ui ? *m_ui : TZipArchiverUi::Default(); }

    // The library's callback; public so tests can drive it with records of their own.
    static int32_t ZipCallback(ZipCallbackData* data);

    // Registers the class with the window description reader.
    static void Register();

private:
    int32_t callback(ZipCallbackData& d);
    QString askPassword(bool confirm);
    QString askPasswordOnce(int promptNumber);
    bool askVolume(int volume, int total, const QString& drive);
    // What copying onto volumes asks of the archiver.
    ZipSpanCallbacks spanCallbacks();

    bool m_verbose = false;
    bool m_trace = false;
    int m_addCompLevel = 9;
    AddOpts m_addOptions;
    QString m_extrBaseDir;
    ExtrOpts m_extrOptions;
    SFXOpts m_sfxOptions = SFXCheckSize;
    QStringList m_fSpecArgs;
    bool m_unattended = false;
    QString m_zipFileName;
    QString m_password;
    QString m_sfxPath = QStringLiteral("ZipStub.bin");
    QString m_libraryFolder;
    OvrOpts m_sfxOverWriteMode = OvrConfirm;
    QString m_sfxCaption = QStringLiteral("Self-extracting Archive");
    QString m_sfxDefaultDir, m_sfxCommandLine, m_sfxMessage;
    QString m_tempDir;
    int m_keepFreeOnDisk1 = 0;
    int m_maxVolumeSize = 0;
    int m_minFreeVolumeSize = 65536;
    bool m_confirmErase = true;
    CodePageOpts m_codePage = cpAuto;
    DeleteOpts m_howToDelete = htdAllowUndo;
    QVariant m_sfxIcon;
    AddStoreExts m_addStoreSuffixes;
    uint m_passwordReqCount = 1;
    QStringList m_fSpecArgsExcl;
    bool m_useDirOnlyEntries = false;
    QString m_rootDir;

    int m_addedCount = 0;
    int m_errorCode = 0;
    int m_fullErrorCode = 0;
    QString m_lastMessage;
    bool m_cancel = false;
    bool m_busy = false;
    ZipContents m_directory;
    int m_batchTotalSize = 0;
    QObject* m_ownerWindow = nullptr;
    bool m_inCallback = false;
    TZipArchiverUi* m_ui = nullptr;
};

// The zip library as an archiver asks for it: its library folder first, failures reported
// through its messages. A null archiver names no folder and hears of nothing.
void LoadZipLibrary(TZipArchiver* archiver);
// Frees the library if it is loaded, whichever archiver loaded it.
void UnloadZipLibrary(TZipArchiver* archiver);
// GetZipLibVersion, loading the library for this call when needed; 0 when it cannot.
int ZipLibraryVersion(TZipArchiver* archiver);

Q_DECLARE_OPERATORS_FOR_FLAGS(TZipArchiver::AddOpts)
Q_DECLARE_OPERATORS_FOR_FLAGS(TZipArchiver::ExtrOpts)
Q_DECLARE_OPERATORS_FOR_FLAGS(TZipArchiver::SFXOpts)
Q_DECLARE_OPERATORS_FOR_FLAGS(TZipArchiver::AddStoreExts)
