#include "archive/ziparchiver.h"

#include "archive/zipcommand.h"
#include "archive/ziplibrary.h"
#include "archive/zipmessages.h"
#include "archive/zipsfx.h"
#include "archive/zipspan.h"
#include "platform/driveprobe.h"
#include "platform/filename.h"
#include "runtime/classregistry.h"

#include "ziplib.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <cstring>
#include <new>

#include <sys/stat.h>

namespace {

// Live archivers: the callback only trusts a caller pointer found here.
QSet<const TZipArchiver*>& liveArchivers() {
    static QSet<const TZipArchiver*> s;
    return s;
}

} // namespace

// ---- construction ----

TZipArchiver::TZipArchiver(QObject* owner) : TComponent(owner), m_ownerWindow(owner) {
    m_addStoreSuffixes = AddStoreExts(assGIF | assPNG | assZ | assZIP | assZOO | assARC | assLZH |
                                      assARJ | assTAZ | assTGZ | assLHA);
    liveArchivers().insert(this);
}

TZipArchiver::~TZipArchiver() {
    liveArchivers().remove(this);
}

void TZipArchiver::Register() {
    TClassRegistry::Register<TZipArchiver>();
}

void TZipArchiver::SetZipFileName(const QString& v) {
    m_zipFileName = v;
    // There is no design mode here: the directory is always read.
    ReadContents();
}

void TZipArchiver::SetLibraryFolder(const QString& v) {
    m_libraryFolder = v;
    if (m_libraryFolder.size() > 1 && m_libraryFolder.endsWith(QLatin1Char('/')))
        m_libraryFolder.chop(1);
}

void TZipArchiver::SetRootDir(const QString& v) {
    m_rootDir = v;
    if (!m_rootDir.isEmpty() && !m_rootDir.endsWith(QLatin1Char('/')))
        m_rootDir += QLatin1Char('/');
}

QString TZipArchiver::AddExtLookup(AddStoreExts suffixes) {
    static const char* const texts[] = {"gif", "png", "z",   "zip", "zoo", "arc",
                                        "lzh", "arj", "taz", "tgz", "lha", "exe"};
    QString r;
    for (int i = 0; i < 12; ++i) {
        if (suffixes.testFlag(static_cast<AddStoreSuffixEnum>(1 << i)))
            r += QLatin1Char('.') + QLatin1String(texts[i]) + QLatin1Char(':');
    }
    if (!r.isEmpty()) r.chop(1);
    return r;
}

// ---- messages ----

void TZipArchiver::ShowZipMessage(int number, const QString& extra) {
    const QString text = ZipMessageText(number) + extra;
    m_lastMessage = text;
    m_errorCode = number;
    if (!m_unattended) Ui().ShowMessage(m_ownerWindow, text);
    OnMessage(this, 0, text);
}

void TZipArchiver::ShowZipException(const EZipArchiver& e) {
    if (e.Display() && !m_unattended) Ui().ShowMessage(m_ownerWindow, e.Message());
    m_errorCode = e.Number();
    m_lastMessage = e.Message();
    OnMessage(this, 0, e.Message());
}

// ---- the library ----

namespace {
ZipLibrary::Caller libraryCaller(TZipArchiver* archiver) {
    if (!archiver) return {};
    return {archiver->LibraryFolder(), archiver->Trace(),
            [archiver](int m) { archiver->ShowZipMessage(m, QString()); }};
}
} // namespace

void LoadZipLibrary(TZipArchiver* archiver) {
    ZipLibrary::Load(libraryCaller(archiver));
}

void UnloadZipLibrary(TZipArchiver*) {
    ZipLibrary::Unload();
}

int ZipLibraryVersion(TZipArchiver* archiver) {
    return ZipLibrary::Version(libraryCaller(archiver));
}

int TZipArchiver::ZipLibraryVersion() {
    return ::ZipLibraryVersion(this);
}

QString TZipArchiver::MakeTempZipName() {
    QString dir = m_tempDir;
    if (!dir.isEmpty()) {
        if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
        m_tempDir = dir;
    } else {
        dir = QDir::tempPath() + QLatin1Char('/');
    }
    QTemporaryFile f(dir + QStringLiteral("zipXXXXXX.tmp"));
    f.setAutoRemove(true);
    if (!f.open()) return {};
    QString name = f.fileName();
    f.close();
    f.remove();
    return name.left(name.size() - 4) + QStringLiteral(".zip");
}

void TZipArchiver::Add() {
    m_addedCount = 0;
    if (m_fSpecArgs.isEmpty()) {
        ShowZipMessage(ZipMsg::NothingToAdd, QString());
        return;
    }
    if (m_zipFileName.isEmpty()) {
        ShowZipMessage(ZipMsg::NoZipFileName, QString());
        return;
    }
    if (m_unattended && m_addOptions.testFlag(AddEncrypt) && m_password.isEmpty()) {
        ShowZipMessage(ZipMsg::EncryptNoPassword, QString());
        return;
    }
    const bool isExe = QFileInfo(m_zipFileName).suffix().toUpper() == QLatin1String("EXE");
    const bool span = m_addOptions.testFlag(AddDiskSpan) || m_addOptions.testFlag(AddDiskSpanErase);
    QString target = m_zipFileName;
    if (span) {
        if (m_addOptions.testFlag(AddFreshen) || m_addOptions.testFlag(AddUpdate)) {
            ShowZipMessage(ZipMsg::SpanWithUpdate, QString());
            return;
        }
        if (isExe) {
            ShowZipMessage(ZipMsg::SpanExe, QString());
            return;
        }
        target = MakeTempZipName();
        if (m_verbose) OnMessage(this, 0, QStringLiteral("Temporary zipfile: ") + target);
    }
    if (m_busy) return;
    if (isExe && m_directory.firstEntryOffset == 0 && !QFileInfo::exists(m_zipFileName)) {
        const int r = ConvertToSFX();
        if (r != 0) {
            ShowZipException(EZipArchiver(ZipMsg::SfxFailed, r));
            return;
        }
    }
    auto& lib = ZipLibrary::state();
    bool loadedHere = false;
    if (!lib.handle) {
        LoadZipLibrary(this);
        loadedHere = lib.handle != nullptr;
        if (!lib.handle) return;
    }
    m_busy = true;
    m_cancel = false;
    // A library without GetZipLibVersion cannot say which form it takes; it is not called.
    const int version = lib.version ? lib.version() : 0;
    try {
        if (lib.exec && lib.version) {
            ZipCommandInput in;
            in.ownerWindow = m_unattended ? nullptr : m_ownerWindow;
            in.caller = this;
            in.callback = &TZipArchiver::ZipCallback;
            in.trace = m_trace;
            in.verbose = m_verbose;
            in.password = m_password;
            in.storeSuffixes = AddExtLookup(m_addStoreSuffixes);
            in.encrypt = m_addOptions.testFlag(AddEncrypt);
            in.systemFiles = m_addOptions.testFlag(AddHiddenFiles);
            in.volumeLabel = m_addOptions.testFlag(AddVolume);
            in.separateDirs = m_addOptions.testFlag(AddSeparateDirs);
            in.level = m_addCompLevel;
            in.dirNames = m_addOptions.testFlag(AddDirNames);
            in.recurse = m_addOptions.testFlag(AddRecurseDirs);
            in.forceDos = m_addOptions.testFlag(AddForceDOS);
            in.move = m_addOptions.testFlag(AddMove);
            in.update = m_addOptions.testFlag(AddUpdate);
            in.freshen = m_addOptions.testFlag(AddFreshen);
            in.zipTime = m_addOptions.testFlag(AddZipTime);
            in.archiveOnly = m_addOptions.testFlag(AddArchiveOnly);
            in.resetArchive = m_addOptions.testFlag(AddResetArchive);
            in.archiveName = target;
            in.tempDir = m_tempDir;
            in.rootDir = m_rootDir;
            in.archiveComment = m_directory.comment;
            in.specs = m_fSpecArgs;
            in.exclusions = m_fSpecArgsExcl;
            ZipCommandRecord record(in, version);
            m_addedCount = lib.exec(record.data());
            if (m_addedCount > 0 && span) {
                if (WriteSpannedArchive(target, m_zipFileName) != 0) m_addedCount = 0;
                QFile::remove(target);
            }
        }
    } catch (...) {
        ShowZipMessage(ZipMsg::AddException, QString());
    }
    m_fSpecArgs.clear();
    m_fSpecArgsExcl.clear();
    if (loadedHere) UnloadZipLibrary(this);
    m_cancel = false;
    m_busy = false;
    if (m_addedCount > 0) ReadContents();
}

// ---- the callback ----

int32_t TZipArchiver::ZipCallback(ZipCallbackData* data) {
    if (!data) return -1;
    auto* self = static_cast<TZipArchiver*>(data->caller);
    // Not one of ours: nothing may be touched; stop the library.
    if (!liveArchivers().contains(self)) return -1;
    try {
        return self->callback(*data);
    } catch (...) {
        // Nothing may unwind through the library.
        return -1;
    }
}

namespace {

QString callbackText(const ZipCallbackData& d) {
    const size_t n = strnlen(d.text, sizeof d.text);
    QString t = tarnwick::fileNameFromBytes(QByteArray(d.text, static_cast<qsizetype>(n)));
    while (!t.isEmpty() && t.back().unicode() <= 0x20)
        t.chop(1);
    // Paths keep this system's separator ('/'); there is nothing to turn round.
    return t;
}

void writeText(ZipCallbackData& d, const QByteArray& text, size_t max) {
    const size_t n = std::min<size_t>({static_cast<size_t>(text.size()), max, sizeof d.text - 1});
    std::memcpy(d.text, text.constData(), n);
    d.text[n] = '\0';
}

} // namespace

int32_t TZipArchiver::callback(ZipCallbackData& d) {
    const QString text = callbackText(d);
    switch (d.action) {
    case ZIPLIB_ACTION_NEW_FILE:
        OnProgress(this, ZipTypes::NewFile, text, d.size);
        break;
    case ZIPLIB_ACTION_PROGRESS:
        OnProgress(this, ZipTypes::ProgressUpdate, QString(), d.size);
        break;
    case ZIPLIB_ACTION_END_BATCH:
        OnProgress(this, ZipTypes::EndOfBatch, QString(), 0);
        break;
    case ZIPLIB_ACTION_MESSAGE:
        m_lastMessage = text;
        if (d.code != 0) {
            m_errorCode = d.code & 0xFF;
            m_fullErrorCode = d.code;
        }
        OnMessage(this, d.code, text);
        break;
    case ZIPLIB_ACTION_TOTAL_FILES:
        OnProgress(this, ZipTypes::TotalFiles, QString(), d.size);
        break;
    case ZIPLIB_ACTION_TOTAL_SIZE:
        m_batchTotalSize = d.size;
        OnProgress(this, ZipTypes::TotalSize, QString(), d.size);
        break;
    case ZIPLIB_ACTION_NEW_NAME:
        if (OnSetNewName.Assigned()) {
            QString name = text;
            bool changed = false;
            OnSetNewName(this, &name, &changed);
            if (changed) {
                writeText(d, ZipText(name), 512);
                d.code = 1;
            } else {
                d.code = 0;
            }
        }
        break;
    case ZIPLIB_ACTION_PASSWORD: {
        QString reply;
        uint repeat = static_cast<uint>(d.size);
        if (OnPasswordError.Assigned())
            OnPasswordError(this, &reply, text, &repeat);
        else
            reply = askPassword((d.code & 1) != 0);
        if (!reply.isEmpty()) {
            writeText(d, ZipText(reply), 80);
            d.code = 1;
        } else {
            d.code = 0;
            repeat = 0;
        }
        d.size = static_cast<int32_t>(std::min<uint>(repeat, 15));
        break;
    }
    case ZIPLIB_ACTION_CRC_ERROR:
        if (OnCRC32Error.Assigned()) {
            bool extract = true;
            OnCRC32Error(this, text, static_cast<uint>(d.code), static_cast<uint>(d.size),
                         &extract);
            d.code = extract ? 1 : 0;
        } else {
            d.code = 2;
        }
        break;
    case ZIPLIB_ACTION_OVERWRITE:
        if (OnExtractOverwrite.Assigned()) {
            bool overwrite = (d.size & 0xFF) != 0;
            OnExtractOverwrite(this, text, (d.code & 1) == 1, &overwrite);
            d.size = overwrite ? 1 : 0;
        }
        break;
    case ZIPLIB_ACTION_SKIPPED:
        if (d.code != 0) {
            m_errorCode = d.code & 0xFF;
            m_fullErrorCode = d.code;
        }
        OnExtractSkipped(this, text, d.size & 0xFF, d.code);
        break;
    case ZIPLIB_ACTION_FILE_COMMENT:
        if (OnFileComment.Assigned()) {
            QString comment;
            bool changed = false;
            OnFileComment(this, text, &comment, &changed);
            const QByteArray bytes = ZipText(comment).left(511);
            if (changed && !comment.isEmpty())
                writeText(d, bytes, 511);
            else
                d.text[0] = '\0';
            d.code = changed ? 1 : 0;
            d.size = static_cast<int32_t>(bytes.size());
        }
        break;
    default:
        break; // unknown actions only get the cancel check below
    }
    const bool cancel = m_cancel;
    Ui().ProcessEvents();
    return cancel ? -1 : 0;
}

// ---- the password dialog ----

QString TZipArchiver::askPasswordOnce(int promptNumber) {
    auto textOr = [](int n, const QString& fallback) {
        return HasZipMessageText(n) ? ZipMessageText(n) : fallback;
    };
    const QString title = textOr(
        ZipMsg::PasswordTitle,
        QStringLiteral(
            "The message table is probably not linked to the executable\nMissing String ID is: "));
    return Ui().AskPassword(m_ownerWindow, title, textOr(promptNumber, QString()),
                            textOr(ZipMsg::PasswordOk, QString()),
                            textOr(ZipMsg::PasswordCancel, QString()));
}

QString TZipArchiver::askPassword(bool confirm) {
    if (m_unattended) {
        ShowZipMessage(confirm ? ZipMsg::PasswordUnattendedConfirm : ZipMsg::PasswordUnattended,
                       QString());
        return {};
    }
    const QString first = askPasswordOnce(ZipMsg::PasswordPrompt);
    if (!confirm || first.isEmpty()) return first;
    const QString second = askPasswordOnce(ZipMsg::PasswordConfirmPrompt);
    if (first != second) {
        ShowZipMessage(ZipMsg::PasswordMismatch, QString());
        return {};
    }
    return first;
}

// ---- the directory ----

void TZipArchiver::ReadContents() {
    m_directory = ZipContents();
    struct stat st {};
    if (m_zipFileName.isEmpty() ||
        ::stat(tarnwick::fileNameToBytes(m_zipFileName).constData(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        OnDirUpdate(this);
        return;
    }
    const ZipNameCoding coding = m_codePage == cpOEM    ? ZipNameCoding::Oem
                                 : m_codePage == cpNone ? ZipNameCoding::Native
                                                        : ZipNameCoding::Auto;
    Ui().SetBusy(true);
    try {
        ZipContentsCallbacks callbacks;
        callbacks.warning = [this](int zipMsg) { ShowZipMessage(zipMsg, QString()); };
        callbacks.volumeWanted = [this](int volume, int last, const QString& folder) {
            return askVolume(volume, last, folder);
        };
        callbacks.entryAdded = [this](int seq, const ZipDirEntry& entry) {
            OnNewName(this, seq, entry);
        };
        ReadZipContents(m_zipFileName, coding, m_useDirOnlyEntries, m_directory, callbacks);
    } catch (const EZipArchiver& e) {
        ShowZipException(e);
    } catch (const std::bad_alloc&) {
        ShowZipMessage(ZipMsg::OutOfMemory, QString());
    } catch (const std::exception& e) {
        ShowZipMessage(ZipMsg::DirOther, QString::fromLocal8Bit(e.what()));
    }
    Ui().SetBusy(false);
    OnDirUpdate(this);
}

// ---- volumes ----

bool TZipArchiver::askVolume(int volume, int total, const QString& drive) {
    if (OnGetNextDisk.Assigned()) {
        bool abort = false;
        OnGetNextDisk(this, volume, total, drive, &abort);
        return !abort;
    }
    // A fixed or network drive holds every part.
    if (!tarnwick::DriveProbe::Current().IsRemovable(drive)) return true;
    QString text = total > 0 && volume == total ? ZipMessageText(ZipMsg::SpanInsertLast)
                   : total > 0 ? ZipMessageWith(ZipMsg::SpanInsertOf, volume, total)
                               : ZipMessageWith(ZipMsg::SpanInsert, volume);
    text += ZipMessageWith(ZipMsg::SpanInDrive, drive);
    return Ui().Ask(m_ownerWindow, QCoreApplication::applicationName(), text,
                    TZipArchiverUi::Ok | TZipArchiverUi::Cancel) == TZipArchiverUi::Ok;
}

ZipSpanCallbacks TZipArchiver::spanCallbacks() {
    ZipSpanCallbacks c;
    c.volumeWanted = [this](int volume, const QString& folder) {
        return askVolume(volume, 0, folder);
    };
    c.retryWithoutRoom = [this] {
        return Ui().Ask(m_ownerWindow, QCoreApplication::applicationName(),
                        ZipMessageText(ZipMsg::SpanNoRoom),
                        TZipArchiverUi::Retry | TZipArchiverUi::Cancel) == TZipArchiverUi::Retry;
    };
    c.replaceExisting = [this](int volume, const QString& name) {
        int action = 0;
        if (OnStatusDisk.Assigned()) {
            OnStatusDisk(this, volume, name, 1, &action);
        } else {
            const auto b =
                Ui().Ask(m_ownerWindow, QStringLiteral("Confirm"),
                         ZipMessageWith(ZipMsg::SpanOverwriteFile, name),
                         TZipArchiverUi::Yes | TZipArchiverUi::No | TZipArchiverUi::Cancel);
            action = b == TZipArchiverUi::Yes ? 0 : 1;
        }
        return action == 0;
    };
    c.notice = [this](int zipMsg) { ShowZipMessage(zipMsg, QString()); };
    c.totals = [this](int files, int bytes) {
        OnProgress(this, ZipTypes::TotalFiles, QString(), files);
        OnProgress(this, ZipTypes::TotalSize, QString(), bytes);
    };
    c.copying = [this](const QString& name, int bytes) {
        OnProgress(this, ZipTypes::NewFile, name, bytes);
        OnMessage(this, 0, ZipMessageText(ZipMsg::CopyingPrefix) + name);
    };
    c.finished = [this] { OnProgress(this, ZipTypes::EndOfBatch, QString(), 0); };
    c.cancelled = [this] { return m_cancel; };
    c.idle = [this] { Ui().ProcessEvents(); };
    return c;
}

int TZipArchiver::WriteSpannedArchive(const QString& tempName, const QString& targetName) {
    const bool wasBusy = m_busy;
    m_busy = true;
    int result = 0;
    QStringList written;
    try {
        ZipSpanLimits limits;
        limits.maxVolumeSize = m_maxVolumeSize;
        limits.keepFreeOnFirst = m_keepFreeOnDisk1;
        limits.minFreeVolumeSize = m_minFreeVolumeSize;
        limits.eraseFirst = m_addOptions.testFlag(AddDiskSpanErase);
        CopyOntoVolumes(tempName, targetName, limits, spanCallbacks(), written);
    } catch (const EZipArchiver& e) {
        ShowZipException(e);
        result = -7;
    } catch (const std::bad_alloc&) {
        ShowZipMessage(ZipMsg::OutOfMemory, QString());
        result = -8;
    } catch (const std::exception& e) {
        ShowZipMessage(ZipMsg::SpanOther, QString::fromLocal8Bit(e.what()));
        result = -9;
    }
    // An incomplete set is of no use: parts written side by side in this run go again.
    if (result != 0)
        for (const auto& name : written)
            QFile::remove(name);
    m_busy = wasBusy;
    return result;
}

// ---- self-extractors ----

int TZipArchiver::ConvertToSFX() {
    SelfExtractor sfx;
    sfx.stubPath = m_sfxPath;
    sfx.libraryFolder = m_libraryFolder;
    sfx.target = m_zipFileName;
    sfx.options = static_cast<int>(m_sfxOptions);
    sfx.overwriteMode = static_cast<int>(m_sfxOverWriteMode);
    sfx.texts = {m_sfxCaption, m_sfxDefaultDir, m_sfxCommandLine, m_sfxMessage};
    const int r = WriteSelfExtractor(sfx);
    if (r != 0) ShowZipMessage(r, QString());
    return r;
}
