#include "pickertest.h"

#include "controls/formreader.h"
#include "controls/pickerdialogs.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using tarnwick::ScriptedPickerDialogs;

namespace {

void touch(const QString& path) {
    QDir().mkpath(PickerNames::FolderOf(path));
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

QString expand(QString s, const QString& dir) {
    return s.replace(QLatin1String("$T"), dir);
}

} // namespace

class TestFilenameEdit : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_data; // stands for C:\Data

    // A picker set up as the window's backup picker.
    void setUpBackup(TFilenameEdit& e, TRecorder& rec) {
        e.setObjectName(QStringLiteral("Backup1"));
        e.SetDialogOptions(TFilenameEdit::ofHideReadOnly | TFilenameEdit::ofAllowMultiSelect |
                           TFilenameEdit::ofShareAware);
        e.SetFilter(QStringLiteral("Access Database (*.mdb)|*.mdb|Any File(*.*)|*.*"));
        e.SetDefaultExt(QStringLiteral("*.mdb"));
        e.SetInitialDir(QStringLiteral("~"));
        e.SetAcceptFiles(true);
        rec.Wire(&e);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        m_data = m_tmp.filePath(QStringLiteral("Data"));
        for (const char* n : {"Sales.mdb", "Stock.mdb", "Staff.mdb", "My Sales.mdb"})
            touch(m_data + '/' + QLatin1String(n));
        RegisterPickerControls();
    }

    void threeFilesPicked_data() {
        QTest::addColumn<QStringList>("returned");
        QTest::newRow("folder and names") << QStringList{"Stock.mdb", "Sales.mdb", "Staff.mdb"};
        QTest::newRow("full paths") << QStringList{"$T/Stock.mdb", "$T/Sales.mdb", "$T/Staff.mdb"};
        QTest::newRow("mixed") << QStringList{"Stock.mdb", "$T/Sales.mdb", "Staff.mdb"};
    }
    void threeFilesPicked() {
        QFETCH(QStringList, returned);
        for (QString& r : returned)
            r = expand(r, m_data);
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        setUpBackup(e, rec);
        dialogs.fileAnswers.push_back(ScriptedPickerDialogs::Picked(m_data, returned));
        e.ButtonClick();

        const QStringList expected{m_data + "/Stock.mdb", m_data + "/Sales.mdb",
                                   m_data + "/Staff.mdb"};
        QCOMPARE(e.DialogFiles(), expected);
        QCOMPARE(e.text(), expected[0]);
        QCOMPARE(e.FileName(), expected[0]);
        QCOMPARE(e.InitialDir(), m_data);
        QCOMPARE(rec.events, (QStringList{"button", "before:", "after:" + expected[0] + ":1"}));
        QCOMPARE(rec.changes.size(), 1);

        // What the dialog was asked for: a multi-selection from the home folder.
        QCOMPARE(dialogs.fileRequests.size(), 1);
        const auto& r = dialogs.fileRequests[0];
        QVERIFY(r.multiSelect);
        QVERIFY(!r.save);
        QCOMPARE(r.title, QStringLiteral("Browse"));
        QCOMPARE(r.directory, QDir::homePath());
        QCOMPARE(r.defaultSuffix, QStringLiteral("mdb"));
        QCOMPARE(r.filterIndex, 0);
        QCOMPARE(r.nameFilters, (QStringList{"Access Database (*.mdb *.MDB)", "Any File (*)"}));
    }

    void singleSelectionKeepsOneFile() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        rec.Wire(&e);
        dialogs.fileAnswers.push_back(
            ScriptedPickerDialogs::Picked(m_data, {"My Sales.mdb", "Stock.mdb"}));
        e.ButtonClick();
        const QString picked = m_data + "/My Sales.mdb";
        QCOMPARE(e.DialogFiles(), QStringList{picked});
        QCOMPARE(e.text(), '"' + picked + '"');
        QCOMPARE(e.FileName(), picked);
    }

    void cancelAfterMultiSelection() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        setUpBackup(e, rec);
        dialogs.fileAnswers.push_back(
            ScriptedPickerDialogs::Picked(m_data, {"Sales.mdb", "Stock.mdb", "Staff.mdb"}));
        dialogs.fileAnswers.push_back(ScriptedPickerDialogs::Cancelled());
        e.ButtonClick();
        rec.events.clear();
        rec.changes.clear();
        e.ButtonClick();

        QVERIFY(e.DialogFiles().isEmpty());
        QCOMPARE(e.text(), m_data + "/Sales.mdb");
        QCOMPARE(rec.events, (QStringList{"button", "before:" + m_data + "/Sales.mdb",
                                          "after:" + m_data + "/Sales.mdb:0"}));
        QVERIFY(rec.changes.isEmpty());
        // The second run started at the file shown.
        QCOMPARE(dialogs.fileRequests[1].directory, m_data);
        QCOMPARE(dialogs.fileRequests[1].fileName, m_data + "/Sales.mdb");
    }

    void dialogEventsSteerTheRun() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        setUpBackup(e, rec);
        e.SetDialogFiles({"/kept/a.mdb", "/kept/b.mdb"});

        // OnBeforeDialog says no: no dialog, the list stays.
        rec.beforeAction = false;
        e.ButtonClick();
        QVERIFY(dialogs.fileRequests.isEmpty());
        QCOMPARE(e.DialogFiles().size(), 2);

        // OnBeforeDialog proposes a name: the dialog starts in its folder.
        rec.beforeAction = true;
        rec.beforeName = m_data + "/Stock.mdb";
        e.ButtonClick();
        QCOMPARE(dialogs.fileRequests.size(), 1);
        QCOMPARE(dialogs.fileRequests[0].directory, m_data);
        QCOMPARE(dialogs.fileRequests[0].fileName, m_data + "/Stock.mdb");
        QVERIFY(e.DialogFiles().isEmpty());
        QVERIFY(e.text().isEmpty()); // cancelled

        // OnAfterDialog refuses a choice: the list holds it, the text does not.
        rec.beforeName.clear();
        rec.afterAction = false;
        dialogs.fileAnswers.push_back(ScriptedPickerDialogs::Picked(m_data, {"Staff.mdb"}));
        e.ButtonClick();
        QCOMPARE(e.DialogFiles(), QStringList{m_data + "/Staff.mdb"});
        QVERIFY(e.text().isEmpty());
        QVERIFY(rec.changes.isEmpty());
    }

    void dropOfFourFiles() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        setUpBackup(e, rec);
        e.SetDialogFiles({m_data + "/Stock.mdb", m_data + "/Staff.mdb"});
        const QStringList dropped{m_data + "/My Sales.mdb", m_data + "/Sales.mdb",
                                  m_data + "/Stock.mdb", m_data + "/Staff.mdb"};
        QVERIFY(DropOn(&e, dropped));
        QCOMPARE(e.text(), '"' + dropped[0] + '"');
        QCOMPARE(e.FileName(), dropped[0]);
        QCOMPARE(e.DialogFiles(), (QStringList{m_data + "/Stock.mdb", m_data + "/Staff.mdb"}));
        QCOMPARE(rec.events, QStringList{"drop"});
        QCOMPARE(rec.changes.size(), 1);
        QVERIFY(dialogs.errors.isEmpty());
    }

    void dropRefusedWithoutAcceptFiles() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        rec.Wire(&e);
        e.setText(QStringLiteral("/old.mdb"));
        QVERIFY(!DropOn(&e, {m_data + "/Sales.mdb"}));
        QCOMPARE(e.text(), QStringLiteral("/old.mdb"));
        QCOMPARE(rec.events, QStringList{});
    }

    void droppedNameWithSquareBracket() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        setUpBackup(e, rec);
        e.setText(m_data + "/Sales.mdb");
        rec.changes.clear();
        const QString bad = m_data + "/Sales[1].mdb";
        touch(bad);
        DropOn(&e, {bad, m_data + "/Stock.mdb"});
        QCOMPARE(dialogs.errors, QStringList{"Invalid file name - " + bad});
        QCOMPARE(e.text(), m_data + "/Sales.mdb");
        QVERIFY(rec.events.isEmpty()); // no OnDropFiles
        QVERIFY(rec.changes.isEmpty());

        // Called directly, the error reaches the caller.
        QVERIFY_THROWS_EXCEPTION(EComboEditError, e.DropFiles({bad}));
    }

    void fileNameRead_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fileName");
        // The C:\My Documents\x.mdb case: typed without quotes, the item ends at the blank.
        QTest::newRow("blank, no such file") << "$T/My Documents/x.mdb"
                                             << "$T/My";
        QTest::newRow("blank, file exists") << "$T/My Sales.mdb"
                                            << "$T/My Sales.mdb";
        QTest::newRow("quoted") << "\"$T/My Documents/x.mdb\""
                                << "$T/My Documents/x.mdb";
        QTest::newRow("quoted, more after") << "\"$T/My Sales.mdb\" /other.mdb"
                                            << "$T/My Sales.mdb";
        QTest::newRow("leading blanks and empty quotes") << "  \"\" \"\"/a b/c"
                                                         << "/a";
        QTest::newRow("quotes inside") << "/a\"b c\"d e"
                                       << "/ab cd";
        QTest::newRow("unterminated quote") << "\"/a b/c"
                                            << "/a b/c";
        QTest::newRow("tab ends it") << "/a\tb"
                                     << "/a";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fileNameRead() {
        QFETCH(QString, text);
        QFETCH(QString, fileName);
        TFilenameEdit e;
        e.setText(expand(text, m_data));
        QCOMPARE(e.FileName(), expand(fileName, m_data));
    }

    void fileNameWrite_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("text"); // expected text, or the error's name
        QTest::addColumn<bool>("fails");
        QTest::newRow("empty clears") << ""
                                      << "" << false;
        QTest::newRow("plain") << "/x/a.mdb"
                               << "/x/a.mdb" << false;
        QTest::newRow("blank is quoted") << "/x/My Docs/a.mdb"
                                         << "\"/x/My Docs/a.mdb\"" << false;
        QTest::newRow("already quoted") << "\"/x/My Docs/a.mdb\""
                                        << "\"/x/My Docs/a.mdb\"" << false;
        // Only the first item is checked when the whole does not name a file.
        QTest::newRow("bracket after a blank") << "/x/My [1].mdb"
                                               << "\"/x/My [1].mdb\"" << false;
        QTest::newRow("existing file with bracket") << "$T/Sales[1].mdb"
                                                    << "" << true;
        QTest::newRow("less than") << "/x/a<b.mdb"
                                   << "" << true;
        QTest::newRow("greater than") << "/x/a>b.mdb"
                                      << "" << true;
        QTest::newRow("bar") << "/x/a|b.mdb"
                             << "" << true;
        QTest::newRow("closing bracket") << "/x/a].mdb"
                                         << "" << true;
        // Quotes group and vanish, so only a file that exists can bring one in.
        QTest::newRow("quotes vanish") << "/x/\"\"a\"b"
                                       << "/x/\"\"a\"b" << false;
        QTest::newRow("existing file with quote") << "$T/Say \"hi\".mdb"
                                                  << "" << true;
        QTest::newRow("blanks only") << "   "
                                     << "" << true;
    }
    void fileNameWrite() {
        QFETCH(QString, value);
        QFETCH(QString, text);
        QFETCH(bool, fails);
        touch(m_data + "/Sales[1].mdb");
        touch(m_data + "/Say \"hi\".mdb");
        value = expand(value, m_data);
        TRecorder rec;
        TFilenameEdit e;
        rec.Wire(&e);
        e.setText(QStringLiteral("/before.mdb"));
        rec.changes.clear();
        try {
            e.SetFileName(value);
            QVERIFY2(!fails, "no error");
            QCOMPARE(e.text(), text);
            QCOMPARE(rec.changes.size(), 1);
        } catch (const EComboEditError& x) {
            QVERIFY2(fails, x.what());
            QCOMPARE(QString::fromUtf8(x.what()), "Invalid file name - " + value);
            QCOMPARE(e.text(), QStringLiteral("/before.mdb"));
            QVERIFY(rec.changes.isEmpty());
        }
    }

    void initialDir_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        // C:\Data\ and C:\ of the original, and their counterparts here.
        QTest::newRow("folder with separator") << "/srv/Data/"
                                               << "/srv/Data";
        QTest::newRow("folder") << "/srv/Data"
                                << "/srv/Data";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("home with separator") << "~/"
                                             << "~";
        QTest::newRow("windows folder") << "C:\\Data\\"
                                        << "C:\\Data";
        QTest::newRow("windows drive root") << "C:\\"
                                            << "C:\\";
        QTest::newRow("empty") << ""
                               << "";
    }
    void initialDir() {
        QFETCH(QString, value);
        QFETCH(QString, stored);
        TFilenameEdit e;
        e.SetInitialDir(value);
        QCOMPARE(e.InitialDir(), stored);
    }

    void startFoldersOfThisSystem_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("local"); // ~ home, @ documents
        QTest::newRow("home") << "~"
                              << "~";
        QTest::newRow("under home") << "~/Data"
                                    << "~/Data";
        QTest::newRow("drive root") << "C:\\"
                                    << "~";
        QTest::newRow("lower-case drive root") << "c:\\"
                                               << "~";
        QTest::newRow("drive") << "D:"
                               << "~";
        QTest::newRow("my documents") << "C:\\My Documents\\"
                                      << "@";
        QTest::newRow("under my documents") << "C:\\my documents\\Db"
                                            << "@/Db";
        QTest::newRow("other folder") << "C:\\Data\\Old\\"
                                      << "~/Data/Old";
        QTest::newRow("not my documents") << "C:\\My Documentsx"
                                          << "~/My Documentsx";
        QTest::newRow("local path") << "/srv/x"
                                    << "/srv/x";
        QTest::newRow("empty") << ""
                               << "";
    }
    void startFoldersOfThisSystem() {
        QFETCH(QString, dir);
        QFETCH(QString, local);
        if (local.startsWith('~')) local.replace(0, 1, QDir::homePath());
        if (local.startsWith('@'))
            local.replace(0, 1,
                          QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
        QCOMPARE(PickerNames::LocalDir(dir), local);
    }

    void dialogStartsAtInitialDirOrTheFileShown() {
        ScriptedPickerDialogs dialogs;
        TFilenameEdit e;
        e.SetInitialDir(QStringLiteral("~/"));
        // A text that names no usable file leaves the start folder as it is.
        e.setText(QStringLiteral("/no/such/folder/a.mdb"));
        e.ButtonClick();
        e.setText(QStringLiteral("bad<name"));
        e.ButtonClick();
        e.setText(m_data + "/Stock.mdb");
        e.ButtonClick();
        QCOMPARE(dialogs.fileRequests.size(), 3);
        QCOMPARE(dialogs.fileRequests[0].directory, QDir::homePath());
        QCOMPARE(dialogs.fileRequests[0].fileName, QStringLiteral("/no/such/folder/a.mdb"));
        QCOMPARE(dialogs.fileRequests[1].directory, QDir::homePath());
        QCOMPARE(dialogs.fileRequests[2].directory, m_data);
        QCOMPARE(e.InitialDir(), m_data);
        // A file picked in the root leaves the root as the start folder.
        dialogs.fileAnswers.push_back(ScriptedPickerDialogs::Picked("/", {"x.mdb"}));
        e.ButtonClick();
        QCOMPARE(e.text(), QStringLiteral("/x.mdb"));
        QCOMPARE(e.InitialDir(), QStringLiteral("/"));
    }

    void onChangeOnEveryRealChangeBeforeShow() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        setUpBackup(e, rec);
        QVERIFY(!e.isVisible());
        QList<int> counts;
        auto step = [&](auto&& action) {
            const auto before = rec.changes.size();
            action();
            counts << int(rec.changes.size() - before);
        };
        step([&] { e.setProperty("Text", m_data + "/Sales.mdb"); });
        step([&] { e.setProperty("Text", m_data + "/Sales.mdb"); }); // same text
        step([&] { e.SetFileName(m_data + "/Stock.mdb"); });
        step([&] { e.SetFileName(m_data + "/Stock.mdb"); });
        step([&] { QTest::keyClicks(&e, QStringLiteral("x")); });
        step([&] {
            dialogs.fileAnswers.push_back(ScriptedPickerDialogs::Picked(m_data, {"Staff.mdb"}));
            e.ButtonClick();
        });
        step([&] { e.ButtonClick(); }); // cancelled
        step([&] { DropOn(&e, {m_data + "/Sales.mdb"}); });
        step([&] { e.SetDialogFiles({"/a", "/b"}); });
        step([&] { e.SetFileName(QString()); });
        QCOMPARE(counts, (QList<int>{1, 0, 1, 0, 1, 1, 0, 1, 0, 1}));
        QVERIFY(!e.isVisible());
    }

    void clickKeyAndButton() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TFilenameEdit e;
        rec.Wire(&e);
        QCOMPARE(e.ClickKey(), 0x8028); // Alt+Down
        QTest::keyClick(&e, Qt::Key_Down);
        QCOMPARE(dialogs.fileRequests.size(), 0);
        QTest::keyClick(&e, Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(dialogs.fileRequests.size(), 1);
        QTest::mouseClick(e.Button(), Qt::LeftButton);
        QCOMPARE(dialogs.fileRequests.size(), 2);
        QCOMPARE(rec.events.count(QStringLiteral("button")), 2);

        e.SetClickKey(TCustomComboEdit::scCtrl | 'O');
        QTest::keyClick(&e, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(dialogs.fileRequests.size(), 3);
        QVERIFY(e.text().isEmpty()); // swallowed

        // Read-only: neither the key nor the button does anything.
        e.SetReadOnly(true);
        e.ButtonClick();
        QTest::keyClick(&e, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(dialogs.fileRequests.size(), 3);
        // No direct input: typing is refused but the button works.
        e.SetReadOnly(false);
        e.SetDirectInput(false);
        QTest::keyClicks(&e, QStringLiteral("abc"));
        QVERIFY(e.text().isEmpty());
        e.ButtonClick();
        QCOMPARE(dialogs.fileRequests.size(), 4);
    }

    void qtFileDialogReturnsFullPaths() {
        // Qt's own dialog, answered by typing two names and pressing Open.
        tarnwick::QtPickerDialogs qt;
        tarnwick::FileDialogRequest r;
        r.title = QStringLiteral("Browse");
        r.multiSelect = true;
        r.directory = m_data;
        r.nameFilters = TFilenameEdit::NameFilters(QStringLiteral("Any File(*.*)|*.*"));
        QStringList seen;
        QTimer::singleShot(0, this, [&] {
            auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dlg) return;
            seen << dlg->windowTitle() << dlg->directory().absolutePath();
            if (auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(QStringLiteral("\"Stock.mdb\" \"My Sales.mdb\""));
            static_cast<QDialog*>(dlg)->accept();
            if (dlg->isVisible()) dlg->reject();
        });
        const tarnwick::FileDialogAnswer a = qt.RunFileDialog(r);
        QCOMPARE(seen, (QStringList{"Browse", m_data}));
        QVERIFY(a.accepted);
        QCOMPARE(a.files, (QStringList{m_data + "/Stock.mdb", m_data + "/My Sales.mdb"}));
        QCOMPARE(a.filterIndex, 0);
    }

    void readFromDescription() {
        // The window's backup picker with this system's folders.
        TRecorder form;
        QTemporaryDir dir;
        QFile f(dir.filePath("form.dfm"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("object Form1: TRecorder\n"
                "  object Backup1: TFilenameEdit\n"
                "    Left = 10\n"
                "    Width = 240\n"
                "    Hint = 'Pick which files you want to backup'#13#10'You can use Drag&Drop'\n"
                "    AcceptFiles = True\n"
                "    DefaultExt = '*.mdb'\n"
                "    Filter = 'Access Database (*.mdb)|*.mdb|Any File(*.*)|*.*'\n"
                "    FileEditStyle = fsComboBox\n"
                "    InitialDir = '~/'\n"
                "    DialogOptions = [ofHideReadOnly, ofAllowMultiSelect, ofShareAware]\n"
                "    Text = '/x/a.mdb'\n"
                "    OnChange = EditChange\n"
                "    OnAfterDialog = EditAfterDialog\n"
                "  end\n"
                "end\n");
        f.close();
        form.CreateFromDescription(f.fileName());
        auto* e = form.Component<TFilenameEdit>(QStringLiteral("Backup1"));
        QVERIFY(e);
        QVERIFY(e->AcceptFiles());
        QCOMPARE(e->FileEditStyle(), TFilenameEdit::fsComboBox);
        QCOMPARE(e->InitialDir(), QStringLiteral("~"));
        QCOMPARE(int(e->DialogOptions()),
                 int(TFilenameEdit::ofHideReadOnly | TFilenameEdit::ofAllowMultiSelect |
                     TFilenameEdit::ofShareAware));
        QCOMPARE(e->text(), QStringLiteral("/x/a.mdb"));
        QCOMPARE(e->toolTip(), QStringLiteral("Pick which files you want to backup\nYou can use "
                                              "Drag&Drop"));
        QVERIFY(e->OnAfterDialog().Assigned());
        // A restore after loading goes through the setters and raises OnChange.
        auto text = *ComponentModel::FindProperty(e, "text");
        QVERIFY(text.write(e, QStringLiteral("/y/b.mdb")));
        auto files = *ComponentModel::FindProperty(e, "DialogFiles");
        QVERIFY(files.write(e, QStringList{"/y/b.mdb", "/y/c.mdb"}));
        QCOMPARE(form.changes, QStringList{"Backup1"});
        QCOMPARE(e->DialogFiles().size(), 2);
    }
};

QTEST_MAIN(TestFilenameEdit)
#include "tst_filenameedit.moc"
