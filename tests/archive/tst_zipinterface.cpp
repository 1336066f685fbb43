// The boundary between the archiver and the zip library: loading, the command record in
// both forms, the file pattern lines, the callback and its answers, the messages.
// A stand-in library hands each command back to the test.
#include "archive/dialogs/archiverdialogs.h"
#include "archive/dialogs/passworddialog.h"
#include "archive/ziparchiver.h"
#include "archive/zipcommand.h"
#include "archive/ziplibrary.h"
#include "archive/zipmessages.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <cstring>
#include <dlfcn.h>
#include <functional>

namespace {

std::function<int32_t(void*)> g_handler;
int32_t dispatch(void* command) {
    return g_handler ? g_handler(command) : 0;
}

QString lib(const char* kind) {
    return QStringLiteral(FAKE_DIR "/") + QLatin1String(kind);
}

// Configures the stand-in library in the process (it stays loaded by our own handle).
void* fakeHandle() {
    static void* h = dlopen(FAKE_DIR "/fake/libziplib.so", RTLD_NOW);
    return h;
}
void setFakeVersion(int v) {
    reinterpret_cast<void (*)(int32_t)>(dlsym(fakeHandle(), "FakeZipLibSetVersion"))(v);
}
void installHandler(std::function<int32_t(void*)> h) {
    g_handler = std::move(h);
    reinterpret_cast<void (*)(int32_t(*)(void*))>(dlsym(fakeHandle(), "FakeZipLibSetHandler"))(
        &dispatch);
}

QString str(const char* p) {
    return p ? QString::fromLocal8Bit(p) : QStringLiteral("<null>");
}

// Answers what the archiver would show, and counts it.
struct FakeUi : TZipArchiverUi {
    QStringList shown;
    QStringList passwords; // replies, in order
    QStringList prompts;
    void ShowMessage(QObject*, const QString& text) override { shown << text; }
    QString AskPassword(QObject*, const QString&, const QString& prompt, const QString&,
                        const QString&) override {
        prompts << prompt;
        return passwords.isEmpty() ? QString() : passwords.takeFirst();
    }
    Button Ask(QObject*, const QString&, const QString&, unsigned) override { return Cancel; }
    void ProcessEvents() override { ++processed; }
    int processed = 0;
};

} // namespace

// Receives the archiver's events.
class Events : public QObject {
    Q_OBJECT
public:
    QStringList log;
    QString newName;
    bool changeName = false;
    QString password;
    uint repeat = 99;
    bool extract = true;
    std::function<void()> onProgress;
public slots:
    void Progress(QObject*, ZipTypes::ProgressType t, QString name, int size) {
        log << QStringLiteral("progress %1 %2 %3").arg(int(t)).arg(name).arg(size);
        if (onProgress) onProgress();
    }
    void Message(QObject*, int code, QString text) {
        log << QStringLiteral("message %1 %2").arg(code).arg(text);
    }
    void SetNewName(QObject*, QString* name, bool* changed) {
        log << QStringLiteral("newname ") + *name;
        if (changeName) {
            *name = newName;
            *changed = true;
        }
    }
    void PasswordError(QObject*, QString* reply, QString file, uint* count) {
        log << QStringLiteral("password %1 %2").arg(file).arg(*count);
        *reply = password;
        *count = repeat;
    }
    void CRC(QObject*, QString file, uint found, uint expected, bool* doExtract) {
        log << QStringLiteral("crc %1 %2 %3").arg(file).arg(found).arg(expected);
        *doExtract = extract;
    }
    void Overwrite(QObject*, QString file, bool older, bool* overwrite) {
        log << QStringLiteral("overwrite %1 %2 %3").arg(file).arg(older).arg(*overwrite);
        *overwrite = !*overwrite;
    }
    void Skipped(QObject*, QString file, int type, int error) {
        log << QStringLiteral("skipped %1 %2 %3").arg(file).arg(type).arg(error);
    }
    void Comment(QObject*, QString file, QString* comment, bool* changed) {
        log << QStringLiteral("comment ") + file;
        *comment = QStringLiteral("about ") + file;
        *changed = true;
    }
};

class TestZipInterface : public QObject {
    Q_OBJECT

    std::unique_ptr<TZipArchiver> makeArchiver(QObject* owner = nullptr) {
        auto z = std::make_unique<TZipArchiver>(owner);
        z->SetUi(&m_ui);
        return z;
    }

private slots:
    void init() {
        m_ui = FakeUi();
        UnloadZipLibrary(nullptr);
        ZipLibrary::SetSystemLibraryName(QStringLiteral("libziplib-absent-for-tests.so"));
        setFakeVersion(160);
        installHandler({});
    }
    void cleanup() { UnloadZipLibrary(nullptr); }

    void recordLayoutIsLp64() {
        QCOMPARE(sizeof(ZipCommandShort), size_t(272));
        QCOMPARE(offsetof(ZipCommandShort, check), size_t(264));
        QCOMPARE(sizeof(ZipFileSpec), size_t(120));
        QCOMPARE(offsetof(ZipCallbackData, text), size_t(36));
    }

    void shortFormOfTheMainWindowSettings() {
        // The main window: level 9, no options, all twelve suffixes, attended, no password.
        QWidget window;
        auto z = makeArchiver(&window);
        z->SetAddStoreSuffixes(TZipArchiver::AddStoreExts(0xFFF));
        z->SetLibraryFolder(lib("fake") + "/");
        QCOMPARE(z->LibraryFolder(), lib("fake"));
        QTemporaryDir dir;
        z->SetZipFileName(dir.filePath("db 07-12-2026 02-00-00.Zip"));
        z->FSpecArgsRef() << QStringLiteral("/data/base.mdb");
        ZipCommandShort c{};
        ZipFileSpec file_spec{};
        QStringList texts;
        installHandler([&](void* p) {
            std::memcpy(&c, p, sizeof c);
            std::memcpy(&file_spec, c.specs, sizeof file_spec);
            texts << str(c.head.store_suffixes) << str(c.head.archive_name)
                  << str(file_spec.file_spec) << str(c.temp_dir) << str(c.archive_comment)
                  << str(file_spec.password) << str(file_spec.root_dir);
            return 0;
        });
        z->Add();
        const ZipCommandHead& h = c.head;
        QCOMPARE(h.owner_window, static_cast<void*>(&window));
        QCOMPARE(h.caller, static_cast<void*>(z.get()));
        QCOMPARE(h.version, 160);
        QVERIFY(h.callback == &TZipArchiver::ZipCallback);
        for (int32_t v :
             {h.trace, h.encrypt, h.system_files, h.volume_label, h.extra_attributes, h.date_filter,
              h.verbose, h.eol_translation, h.force_dos, h.move, h.delete_entries, h.update,
              h.freshen, h.junk_sfx, h.latest_time, h.compress_special})
            QCOMPARE(v, 0);
        for (int32_t v : {h.quiet, h.grow, h.no_dir_entries, h.junk_dirs})
            QCOMPARE(v, -1);
        QCOMPARE(h.recurse, uint16_t(0));
        QCOMPARE(h.level, 9);
        QVERIFY(h.password == nullptr);
        QCOMPARE(texts[0], QString(".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.exe"));
        QCOMPARE(texts[1], dir.filePath("db 07-12-2026 02-00-00.Zip"));
        QCOMPARE(h.spec_count, 1);
        QCOMPARE(texts[2], QString("/data/base.mdb"));
        QCOMPARE(texts[3], QString("<null>")); // no temporary folder
        QCOMPARE(texts[4], QString("<null>")); // no comment: the archive does not exist
        QCOMPARE(texts[5], QString("<null>"));
        QCOMPARE(file_spec.encrypt, 0);
        QCOMPARE(file_spec.recurse, uint16_t(0));
        QCOMPARE(texts[6], QString("<null>"));
        QCOMPARE(c.archive_only, uint16_t(0));
        QCOMPARE(c.reset_archive, uint16_t(0));
        QCOMPARE(c.exclusion_count, 0);
        QVERIFY(c.exclusions == nullptr);
        QCOMPARE(c.check, 7);
        // Afterwards the list is empty, the library was freed again (Add loaded it), nothing added.
        QVERIFY(z->FSpecArgs().isEmpty());
        QVERIFY(!ZipLibrary::state().handle);
        QCOMPARE(z->AddedCount(), 0);
        QVERIFY(!z->Busy());
    }

    void optionsReachTheirFields() {
        auto z = makeArchiver();
        z->SetUnattended(true);
        z->SetLibraryFolder(lib("fake"));
        z->SetZipFileName("/tmp/never-written.zip");
        z->SetAddOptions(TZipArchiver::AddDirNames | TZipArchiver::AddRecurseDirs |
                         TZipArchiver::AddFreshen | TZipArchiver::AddUpdate |
                         TZipArchiver::AddEncrypt | TZipArchiver::AddSeparateDirs |
                         TZipArchiver::AddArchiveOnly | TZipArchiver::AddResetArchive |
                         TZipArchiver::AddHiddenFiles);
        z->SetPassword(QString(100, 'p'));
        z->SetTrace(true);
        z->SetTempDir("/var/tmp");
        z->SetRootDir("/data");
        z->SetAddStoreSuffixes({});
        z->SetFSpecArgs({"a.mdb"});
        z->SetFSpecArgsExcl({"*.ldb", "*.bak"});
        ZipCommandShort c{};
        QStringList texts;
        int32_t specEncrypt = 0;
        installHandler([&](void* p) {
            std::memcpy(&c, p, sizeof c);
            texts << str(c.head.password) << str(c.temp_dir) << str(c.specs[0].root_dir)
                  << str(c.exclusions[0]) << str(c.exclusions[1]) << str(c.specs[0].password)
                  << str(c.head.store_suffixes);
            specEncrypt = c.specs[0].encrypt;
            return 1;
        });
        z->Add();
        QCOMPARE(c.head.owner_window, nullptr);
        QCOMPARE(c.head.update, -1);
        QCOMPARE(c.head.freshen, 0);  // update wins
        QCOMPARE(c.head.verbose, -1); // forced by trace
        QCOMPARE(c.head.junk_dirs, 0);
        QCOMPARE(c.head.no_dir_entries, 0);
        QCOMPARE(c.head.recurse, uint16_t(0xFFFF));
        QCOMPARE(c.head.encrypt, -1);
        QCOMPARE(c.head.system_files, -1);
        QCOMPARE(c.archive_only, uint16_t(1));
        QCOMPARE(c.reset_archive, uint16_t(1));
        QCOMPARE(texts[0], QString(81, 'p'));
        QCOMPARE(texts[1], QString("/var/tmp"));
        QCOMPARE(texts[2], QString("/data/"));
        QCOMPARE(c.exclusion_count, 2);
        QCOMPARE(texts[3], QString("*.ldb"));
        QCOMPARE(texts[4], QString("*.bak"));
        QCOMPARE(texts[5], QString(81, 'p'));
        QCOMPARE(texts[6], QString("<null>"));
        QCOMPARE(specEncrypt, -1);
        QCOMPARE(z->AddedCount(), 1);
        QVERIFY(z->FSpecArgsExcl().isEmpty());
        QVERIFY(m_ui.shown.contains(ZipMessageText(ZipMsg::LibraryLoaded)) ==
                false); // unattended: no boxes
        QCOMPARE(z->LastMessage().isEmpty(), false);
    }

    void longFormForAnOldLibrary() {
        setFakeVersion(150);
        auto z = makeArchiver();
        z->SetUnattended(true);
        z->SetLibraryFolder(lib("fake"));
        z->SetZipFileName("/tmp/old.zip");
        z->SetTempDir("/var/tmp");
        z->SetFSpecArgs({">/a/*.mdb<pw", "|b.mdb", "c.mdb"});
        QByteArray record;
        QStringList lines;
        installHandler([&](void* p) {
            record = QByteArray(static_cast<const char*>(p), sizeof(ZipCommandLong));
            auto* l = static_cast<ZipCommandLong*>(p);
            for (int i = 0; i < l->head.spec_count; ++i)
                lines << str(l->specs[i]);
            lines << str(l->specs[3]);
            return 0;
        });
        z->Add();
        QCOMPARE(record.size(), qsizetype(sizeof(ZipCommandLong)));
        auto* l = reinterpret_cast<const ZipCommandLong*>(record.constData());
        QCOMPARE(l->check, 7);
        QCOMPARE(l->head.version, 160);
        QCOMPARE(l->head.spec_count, 3);
        // The long form carries the lines unchanged.
        QCOMPARE(lines, (QStringList{">/a/*.mdb<pw", "|b.mdb", "c.mdb", "<null>"}));
    }

    void extendedFieldsOnlyFrom160() {
        setFakeVersion(155);
        auto z = makeArchiver();
        z->SetUnattended(true);
        z->SetLibraryFolder(lib("fake"));
        z->SetAddOptions(TZipArchiver::AddArchiveOnly);
        z->SetZipFileName("/tmp/x.zip");
        z->SetTempDir("/var/tmp");
        z->SetFSpecArgs({"a"});
        z->SetFSpecArgsExcl({"b"});
        ZipCommandShort c{};
        installHandler([&](void* p) {
            std::memcpy(&c, p, sizeof c);
            return 0;
        });
        z->Add();
        QCOMPARE(c.check, 7);
        QVERIFY(c.temp_dir != nullptr);
        QCOMPARE(c.archive_only, uint16_t(0));
        QCOMPARE(c.exclusion_count, 0);
        QVERIFY(c.exclusions == nullptr);
    }

    void specLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("commandRecurse");
        QTest::addColumn<QString>("commandPassword");
        QTest::addColumn<QString>("file_spec");
        QTest::addColumn<int>("recurse");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("encrypt");
        QTest::newRow("plain takes the command's recursion") << "/d/a.mdb" << true << ""
                                                             << "/d/a.mdb" << 0xFFFF << "" << 0;
        QTest::newRow("> recurses") << ">/d/*.mdb" << false << ""
                                    << "/d/*.mdb" << 0xFFFF << "" << 0;
        QTest::newRow("| does not") << "|/d/*.mdb" << true << ""
                                    << "/d/*.mdb" << 0 << "" << 0;
        QTest::newRow("only the first character") << "|>x" << true << ""
                                                  << ">x" << 0 << "" << 0;
        QTest::newRow("< own password wins") << "/d/a.mdb<secret" << false << "cmd"
                                             << "/d/a.mdb" << 0 << "secret" << 0xFFFF;
        QTest::newRow("> and <") << ">/d<pw" << false << ""
                                 << "/d" << 0xFFFF << "pw" << 0xFFFF;
        QTest::newRow("bare < turns encryption off") << "/d/a.mdb<" << false << "cmd"
                                                     << "/d/a.mdb" << 0 << "" << 0;
        QTest::newRow("command password copied") << "/d/a.mdb" << false << "cmd"
                                                 << "/d/a.mdb" << 0 << "cmd" << -1;
    }
    void specLines() {
        QFETCH(QString, line);
        QFETCH(bool, commandRecurse);
        QFETCH(QString, commandPassword);
        QFETCH(QString, file_spec);
        QFETCH(int, recurse);
        QFETCH(QString, password);
        QFETCH(int, encrypt);
        ZipCommandInput in;
        in.recurse = commandRecurse;
        in.password = commandPassword;
        in.encrypt = !commandPassword.isEmpty();
        in.archiveName = "x.zip";
        in.specs = {line};
        ZipCommandRecord r(in, 160);
        const ZipFileSpec& f = r.shortForm()->specs[0];
        QCOMPARE(str(f.file_spec), file_spec);
        QCOMPARE(int(f.recurse), recurse);
        QCOMPARE(f.password ? str(f.password) : QString(), password);
        QCOMPARE(f.encrypt, encrypt);
    }

    void storeSuffixList_data() {
        QTest::addColumn<int>("set");
        QTest::addColumn<QString>("list");
        QTest::newRow("all twelve")
            << 0xFFF << ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha:.exe";
        QTest::newRow("default: all but exe")
            << 0x7FF << ".gif:.png:.z:.zip:.zoo:.arc:.lzh:.arj:.taz:.tgz:.lha";
        QTest::newRow("one") << int(TZipArchiver::assZ) << ".z";
        QTest::newRow("none") << 0 << "";
    }
    void storeSuffixList() {
        QFETCH(int, set);
        QFETCH(QString, list);
        QCOMPARE(TZipArchiver::AddExtLookup(TZipArchiver::AddStoreExts(set)), list);
    }

    void callbackActions_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("codeAfter");
        QTest::addColumn<int>("sizeAfter");
        QTest::addColumn<QString>("textAfter");
        QTest::newRow("1 new file") << 1 << 0 << 123 << "dir/a.mdb  \r\n"
                                    << "progress 0 dir/a.mdb 123" << 0 << 123 << "";
        QTest::newRow("2 bytes") << 2 << 0 << 4096 << "x"
                                 << "progress 1  4096" << 0 << 4096 << "";
        QTest::newRow("3 end") << 3 << 0 << 9 << ""
                               << "progress 2  0" << 0 << 9 << "";
        QTest::newRow("4 message") << 4 << 0x1234 << 0 << "disk full"
                                   << "message 4660 disk full" << 0x1234 << 0 << "";
        QTest::newRow("5 files") << 5 << 0 << 7 << ""
                                 << "progress 3  7" << 0 << 7 << "";
        QTest::newRow("6 bytes total") << 6 << 0 << 99999 << ""
                                       << "progress 4  99999" << 0 << 99999 << "";
        QTest::newRow("7 new name") << 7 << 0 << 0 << "a.mdb"
                                    << "newname a.mdb" << 1 << 0 << "b.mdb";
        QTest::newRow("8 password") << 8 << 0 << 20 << "a.mdb"
                                    << "password a.mdb 20" << 1 << 15 << "pw";
        QTest::newRow("9 crc") << 9 << 11 << 22 << "a.mdb"
                               << "crc a.mdb 11 22" << 0 << 22 << "";
        QTest::newRow("10 overwrite") << 10 << 1 << 0 << "a.mdb"
                                      << "overwrite a.mdb 1 0" << 1 << 1 << "";
        QTest::newRow("11 skipped") << 11 << 0x305 << 0x102 << "a.mdb"
                                    << "skipped a.mdb 2 773" << 0x305 << 0x102 << "";
        QTest::newRow("12 comment") << 12 << 0 << 0 << "a.mdb"
                                    << "comment a.mdb" << 1 << 11 << "about a.mdb";
        QTest::newRow("0 unknown") << 0 << 5 << 6 << "t"
                                   << "" << 5 << 6 << "";
        QTest::newRow("13 unknown") << 13 << 5 << 6 << "t"
                                    << "" << 5 << 6 << "";
        QTest::newRow("-1 unknown") << -1 << 5 << 6 << "t"
                                    << "" << 5 << 6 << "";
    }
    void callbackActions() {
        QFETCH(int, action);
        QFETCH(int, code);
        QFETCH(int, size);
        QFETCH(QString, text);
        QFETCH(QString, logged);
        QFETCH(int, codeAfter);
        QFETCH(int, sizeAfter);
        QFETCH(QString, textAfter);
        auto z = makeArchiver();
        Events ev;
        ev.changeName = true;
        ev.newName = "b.mdb";
        ev.password = "pw";
        ev.repeat = 20;
        ev.extract = false;
        z->OnProgress = TZipProgressEvent(&ev, "Progress");
        z->OnMessage = TZipMessageEvent(&ev, "Message");
        z->OnSetNewName = TZipSetNewNameEvent(&ev, "SetNewName");
        z->OnPasswordError = TZipPasswordErrorEvent(&ev, "PasswordError");
        z->OnCRC32Error = TZipCRC32ErrorEvent(&ev, "CRC");
        z->OnExtractOverwrite = TZipExtractOverwriteEvent(&ev, "Overwrite");
        z->OnExtractSkipped = TZipExtractSkippedEvent(&ev, "Skipped");
        z->OnFileComment = TZipFileCommentEvent(&ev, "Comment");
        QVERIFY(z->OnProgress.Assigned() && z->OnPasswordError.Assigned() &&
                z->OnFileComment.Assigned());
        ZipCallbackData d{};
        d.caller = z.get();
        d.action = action;
        d.code = code;
        d.size = size;
        std::strncpy(d.text, text.toUtf8().constData(), sizeof d.text - 1);
        const int before = m_ui.processed;
        QCOMPARE(TZipArchiver::ZipCallback(&d), 0);
        QCOMPARE(m_ui.processed, before + 1);
        QCOMPARE(ev.log.join('|'), logged);
        QCOMPARE(d.code, codeAfter);
        QCOMPARE(d.size, sizeAfter);
        if (!textAfter.isEmpty()) QCOMPARE(QString::fromUtf8(d.text), textAfter);
        if (action == 4) {
            QCOMPARE(z->ErrorCode(), 0x34);
            QCOMPARE(z->FullErrorCode(), 0x1234);
            QCOMPARE(z->LastMessage(), QString("disk full"));
        }
        if (action == 6) QCOMPARE(z->BatchTotalSize(), 99999);
    }

    void callbackWithoutHandlersLeavesAnswers() {
        auto z = makeArchiver();
        ZipCallbackData d{};
        d.caller = z.get();
        for (int action : {7, 10, 12}) {
            d.action = action;
            d.code = 0;
            d.size = 3;
            std::strcpy(d.text, "a.mdb");
            QCOMPARE(TZipArchiver::ZipCallback(&d), 0);
            QCOMPARE(d.code, 0);
            QCOMPARE(d.size, 3);
            QCOMPARE(QByteArray(d.text), QByteArray("a.mdb"));
        }
        d.action = 9; // CRC without a handler: code 2
        QCOMPARE(TZipArchiver::ZipCallback(&d), 0);
        QCOMPARE(d.code, 2);
    }

    void cancelMakesEveryCallbackStop() {
        auto z = makeArchiver();
        z->SetCancel(true);
        for (int action : {0, 1, 2, 4, 13}) {
            ZipCallbackData d{};
            d.caller = z.get();
            d.action = action;
            QCOMPARE(TZipArchiver::ZipCallback(&d), -1);
        }
        ZipCallbackData stranger{};
        int notAnArchiver = 0;
        stranger.caller = &notAnArchiver;
        stranger.action = 1;
        QCOMPARE(TZipArchiver::ZipCallback(&stranger), -1);
    }

    void passwordDialog_data() {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("unattended");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("message");
        QTest::addColumn<int>("asked");
        QTest::newRow("once") << false << false << QStringList{"abc"} << "abc" << 0 << 1;
        QTest::newRow("confirmed") << true << false << QStringList{"abc", "abc"} << "abc" << 0 << 2;
        QTest::newRow("differs by case") << true << false << QStringList{"abc", "ABC"} << ""
                                         << int(ZipMsg::PasswordMismatch) << 2;
        QTest::newRow("cancelled first") << true << false << QStringList{""} << "" << 0 << 1;
        QTest::newRow("unattended")
            << false << true << QStringList{"abc"} << "" << int(ZipMsg::PasswordUnattended) << 0;
        QTest::newRow("unattended, confirm") << true << true << QStringList{"abc"} << ""
                                             << int(ZipMsg::PasswordUnattendedConfirm) << 0;
    }
    void passwordDialog() {
        QFETCH(bool, confirm);
        QFETCH(bool, unattended);
        QFETCH(QStringList, typed);
        QFETCH(QString, reply);
        QFETCH(int, message);
        QFETCH(int, asked);
        auto z = makeArchiver();
        z->SetUnattended(unattended);
        m_ui.passwords = typed;
        ZipCallbackData d{};
        d.caller = z.get();
        d.action = 8;
        d.code = confirm ? 1 : 0;
        d.size = 3;
        QCOMPARE(TZipArchiver::ZipCallback(&d), 0);
        QCOMPARE(m_ui.prompts.size(), asked);
        QCOMPARE(QString::fromUtf8(d.text), reply);
        QCOMPARE(d.code, reply.isEmpty() ? 0 : 1);
        QCOMPARE(d.size, reply.isEmpty() ? 0 : 3);
        if (message) QCOMPARE(z->ErrorCode(), message);
        QVERIFY(z->Password().isEmpty()); // typed passwords are not kept
    }

    // An archiver without its own user interface uses the process's: none (nobody is asked, no
    // password is given) until the window installs its dialogs.
    void processUserInterface_data() {
        QTest::addColumn<bool>("dialogs");
        QTest::newRow("nothing installed") << false;
        QTest::newRow("the window's dialogs") << true;
    }
    void processUserInterface() {
        QFETCH(bool, dialogs);
        if (dialogs) InstallZipArchiverDialogs();
        auto z = makeArchiver();
        z->SetUi(nullptr);
        QStringList shown;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                shown << dlg->windowTitle();
                dlg->reject();
            }
        });
        closer.start(10);
        ZipCallbackData d{};
        d.caller = z.get();
        d.action = 8; // password
        QCOMPARE(TZipArchiver::ZipCallback(&d), 0);
        TZipArchiverUi::SetDefault(nullptr);
        QCOMPARE(d.code, 0); // no password
        QCOMPARE(shown.size(), dialogs ? 1 : 0);
        QCOMPARE(TZipArchiverUi().Ask(nullptr, "t", "q", TZipArchiverUi::Yes | TZipArchiverUi::No),
                 TZipArchiverUi::No);
    }

    void missingLibrary() {
        QTemporaryDir empty;
        auto z = makeArchiver();
        z->SetLibraryFolder(empty.path());
        z->SetZipFileName(empty.filePath("a.zip"));
        z->SetFSpecArgs({"/x/a.mdb"});
        z->Add();
        QVERIFY(!ZipLibrary::state().handle);
        QCOMPARE(z->ErrorCode(), int(ZipMsg::LibraryNotLoaded));
        QCOMPARE(m_ui.shown, QStringList{ZipMessageText(ZipMsg::LibraryNotLoaded)});
        QCOMPARE(z->AddedCount(), 0);
        QCOMPARE(z->FSpecArgs(), QStringList{"/x/a.mdb"}); // early return keeps the list
        QCOMPARE(z->ZipLibraryVersion(), 0);
    }

    void systemSearchWhenDirectoryLacksLibrary() {
        QTemporaryDir empty;
        ZipLibrary::SetSystemLibraryName(lib("fake") + "/libziplib.so");
        auto z = makeArchiver();
        z->SetLibraryFolder(empty.path());
        LoadZipLibrary(z.get());
        QVERIFY(ZipLibrary::state().handle);
        QCOMPARE(z->ZipLibraryVersion(), 160);
        UnloadZipLibrary(z.get());
        QVERIFY(!ZipLibrary::state().handle);
        QCOMPARE(z->ZipLibraryVersion(), 160); // loads and frees for the call
        QVERIFY(!ZipLibrary::state().handle);
    }

    void libraryWithoutEntryPoint_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("message");
        QTest::newRow("no ZipLibExec") << "noexec" << int(ZipMsg::NoZipLibExec);
        QTest::newRow("no GetZipLibVersion") << "noversion" << int(ZipMsg::NoGetZipLibVersion);
    }
    void libraryWithoutEntryPoint() {
        QFETCH(QString, kind);
        QFETCH(int, message);
        auto z = makeArchiver();
        z->SetUnattended(true);
        z->SetTrace(true);
        z->SetLibraryFolder(lib(kind.toLatin1().constData()));
        z->SetZipFileName("/tmp/none.zip");
        z->SetFSpecArgs({"/x/a.mdb"});
        QStringList messages;
        Events ev;
        z->OnMessage = TZipMessageEvent(&ev, "Message");
        z->Add(); // must not call a missing entry point
        QVERIFY(
            ev.log.contains(QStringLiteral("message 0 ") + ZipMessageText(ZipMsg::LibraryLoaded)));
        QVERIFY(ev.log.contains(QStringLiteral("message 0 ") + ZipMessageText(message)));
        QCOMPARE(z->AddedCount(), 0);
        QVERIFY(!z->Busy());
    }

    void busyRefusesSecondAdd() {
        auto z = makeArchiver();
        z->SetUnattended(true);
        z->SetLibraryFolder(lib("fake"));
        z->SetZipFileName("/tmp/busy.zip");
        z->SetFSpecArgs({"/x/a.mdb"});
        Events ev;
        z->OnProgress = TZipProgressEvent(&ev, "Progress");
        int calls = 0;
        QStringList listDuringNested;
        ev.onProgress = [&] {
            // A click that starts another backup while the library works.
            z->SetFSpecArgs({"/x/other.mdb"});
            z->Add();
            listDuringNested = z->FSpecArgs();
        };
        installHandler([&](void* p) {
            ++calls;
            ZipCallbackData d{};
            d.caller = static_cast<ZipCommandShort*>(p)->head.caller;
            d.action = 1;
            static_cast<ZipCommandShort*>(p)->head.callback(&d);
            return 1;
        });
        z->Add();
        QCOMPARE(calls, 1);
        QCOMPARE(listDuringNested, QStringList{"/x/other.mdb"});
        QCOMPARE(z->AddedCount(), 1);
    }

    void earlyRefusals_data() {
        QTest::addColumn<QStringList>("specs");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("options");
        QTest::addColumn<int>("message");
        QTest::newRow("nothing to add")
            << QStringList{} << "/tmp/a.zip" << 0 << int(ZipMsg::NothingToAdd);
        QTest::newRow("no archive name")
            << QStringList{"a"} << "" << 0 << int(ZipMsg::NoZipFileName);
        QTest::newRow("encrypt without password")
            << QStringList{"a"} << "/tmp/a.zip" << int(TZipArchiver::AddEncrypt)
            << int(ZipMsg::EncryptNoPassword);
        QTest::newRow("span with update")
            << QStringList{"a"} << "/tmp/a.zip"
            << int(TZipArchiver::AddDiskSpan | TZipArchiver::AddUpdate)
            << int(ZipMsg::SpanWithUpdate);
        QTest::newRow("span of an exe")
            << QStringList{"a"} << "/tmp/a.exe" << int(TZipArchiver::AddDiskSpanErase)
            << int(ZipMsg::SpanExe);
    }
    void earlyRefusals() {
        QFETCH(QStringList, specs);
        QFETCH(QString, archive);
        QFETCH(int, options);
        QFETCH(int, message);
        auto z = makeArchiver();
        z->SetUnattended(true);
        z->SetLibraryFolder(lib("fake"));
        z->SetZipFileName(archive);
        z->SetFSpecArgs(specs);
        z->SetAddOptions(TZipArchiver::AddOpts(options));
        int calls = 0;
        installHandler([&](void*) { return ++calls; });
        z->Add();
        QCOMPARE(z->ErrorCode(), message);
        QCOMPARE(calls, 0);
        QCOMPARE(z->FSpecArgs(), specs);
        QVERIFY(m_ui.shown.isEmpty());
    }

    void propertiesAsCreated() {
        auto z = makeArchiver();
        QCOMPARE(z->AddCompLevel(), 9);
        QCOMPARE(z->SFXPath(), QString("ZipStub.bin"));
        QCOMPARE(z->SFXCaption(), QString("Self-extracting Archive"));
        QCOMPARE(z->MinFreeVolumeSize(), 65536);
        QVERIFY(z->ConfirmErase());
        QCOMPARE(z->PasswordReqCount(), 1u);
        QCOMPARE(int(z->AddStoreSuffixes()), 0x7FF);
        QCOMPARE(int(z->SFXOptions()), int(TZipArchiver::SFXCheckSize));
        QCOMPARE(z->HowToDelete(), TZipArchiver::htdAllowUndo);
        z->SetPasswordReqCount(20);
        QCOMPARE(z->PasswordReqCount(), 15u);
        z->SetVersionInfo("9.99");
        QCOMPARE(z->VersionInfo(), QString("1.60 L"));
        z->SetRootDir("/data");
        QCOMPARE(z->RootDir(), QString("/data/"));
        // Published by name, as the window description sets them.
        QVERIFY(z->setProperty("AddOptions",
                               QVariant::fromValue(TZipArchiver::AddOpts(TZipArchiver::AddMove))));
        QCOMPARE(int(z->AddOptions()), int(TZipArchiver::AddMove));
        QVERIFY(ComponentModel::FindProperty(z.get(), "addstoresuffixes").has_value());
        QVERIFY(ComponentModel::FindProperty(z.get(), "OnProgress").has_value());
        QVERIFY(ComponentModel::IsEvent(*ComponentModel::FindProperty(z.get(), "OnProgress")));
    }

    void messagesHaveTexts() {
        for (int n : {10101, 10102, 10103, 10104, 10105, 10150, 10151, 10152, 10153, 10154,
                      10155, 10156, 10201, 10202, 10203, 10204, 10301, 10302, 10303, 10304,
                      10601, 10602, 10603, 10604, 10801, 10802, 10803, 11007, 11041})
            QVERIFY2(HasZipMessageText(n) && !ZipMessageText(n).contains("Missing String ID"),
                     qPrintable(QString::number(n)));
        QCOMPARE(ZipMessageText(12345), QString("The message table is probably not linked to the "
                                                "executable\nMissing String ID is: 12345"));
        QCOMPARE(EZipArchiver(ZipMsg::SfxFailed, 3).Message(),
                 QString("The self-extracting archive could not be made (error 3)."));
        QCOMPARE(EZipArchiver(12345, 3).Message(), ZipFallbackText(12345));
    }

    void passwordDialogLayout() {
        TPasswordDlg dlg(nullptr, "Title", "Prompt", "OK", "Cancel");
        QCOMPARE(dlg.size(), QSize(344, 137));
        QCOMPARE(dlg.Edit()->echoMode(), QLineEdit::Password);
        QCOMPARE(dlg.Edit()->maxLength(), 80);
        QCOMPARE(dlg.Edit()->geometry().topLeft(), QPoint(20, 40));
        QVERIFY(dlg.font().bold());
        dlg.Edit()->setText("typed");
        QCOMPARE(dlg.Password(), QString("typed"));
    }

private:
    FakeUi m_ui;
};

QTEST_MAIN(TestZipInterface)
#include "tst_zipinterface.moc"
