#include "pickertest.h"

#include "controls/pickerdialogs.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using tarnwick::ScriptedPickerDialogs;

namespace {

const QString createQuestion = QStringLiteral("The specified directory does not exist. Create it?");

QString expand(QString s, const QString& dir) {
    return s.replace(QLatin1String("$T"), dir);
}

using Opts = TDirectoryEdit::TSelectDirOpts;

} // namespace

class TestDirectoryEdit : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        QVERIFY(QDir(m_tmp.path()).mkpath("Backups"));
        QFile f(m_tmp.filePath("a file"));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

    void startFolder_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("initialDir");
        QTest::addColumn<QString>("start");
        QTest::newRow("nothing: the root") << ""
                                           << ""
                                           << "/";
        QTest::newRow("initial folder") << ""
                                        << "$T/Backups"
                                        << "$T/Backups";
        QTest::newRow("initial folder under home") << ""
                                                   << "~"
                                                   << "~";
        QTest::newRow("initial folder missing") << ""
                                                << "$T/none"
                                                << "/";
        QTest::newRow("text is a folder") << "$T/Backups"
                                          << "~"
                                          << "$T/Backups";
        QTest::newRow("text is no folder") << "$T/a file"
                                           << "~"
                                           << "/";
        QTest::newRow("several folders") << "$T;$T/Backups"
                                         << ""
                                         << "/";
    }
    void startFolder() {
        QFETCH(QString, text);
        QFETCH(QString, initialDir);
        QFETCH(QString, start);
        ScriptedPickerDialogs dialogs;
        TDirectoryEdit e;
        e.setText(expand(text, m_tmp.path()));
        e.SetInitialDir(expand(initialDir, m_tmp.path()));
        e.ButtonClick();
        QCOMPARE(dialogs.directoryRequests.size(), 1);
        QCOMPARE(dialogs.directoryRequests[0].start,
                 PickerNames::LocalDir(expand(start, m_tmp.path())));
        QCOMPARE(dialogs.directoryRequests[0].title, QStringLiteral("Select Directory"));
        QVERIFY(!dialogs.directoryRequests[0].folderBrowser);
    }

    void createAndPrompt_data() {
        QTest::addColumn<int>("options");
        QTest::addColumn<QList<bool>>("yesNo");
        QTest::addColumn<QStringList>("presses"); // folders pressed OK on; "" is Cancel
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("created");
        QTest::addColumn<int>("questions");
        const int all = TDirectoryEdit::sdAllowCreate | TDirectoryEdit::sdPerformCreate |
                        TDirectoryEdit::sdPrompt;
        QTest::newRow("asked, yes: made")
            << all << QList<bool>{true} << QStringList{"$N"} << "$N" << true << 1;
        QTest::newRow("asked, no, cancel")
            << all << QList<bool>{false} << QStringList{"$N", ""} << "" << false << 1;
        QTest::newRow("asked, no, then an existing folder")
            << all << QList<bool>{false} << QStringList{"$N", "$T/Backups"} << "$T/Backups" << false
            << 1;
        QTest::newRow("not asked: made")
            << int(TDirectoryEdit::sdAllowCreate | TDirectoryEdit::sdPerformCreate) << QList<bool>{}
            << QStringList{"$N"} << "$N" << true << 0;
        QTest::newRow("allowed, not made")
            << int(TDirectoryEdit::sdAllowCreate | TDirectoryEdit::sdPrompt) << QList<bool>{true}
            << QStringList{"$N"} << "$N" << false << 1;
        QTest::newRow("missing folders refused")
            << 0 << QList<bool>{} << QStringList{"$N", ""} << "" << false << 0;
        QTest::newRow("create with parents")
            << all << QList<bool>{true} << QStringList{"$N/deeper/still"} << "$N/deeper/still"
            << true << 1;
    }
    void createAndPrompt() {
        QFETCH(int, options);
        QFETCH(QList<bool>, yesNo);
        QFETCH(QStringList, presses);
        QFETCH(QString, text);
        QFETCH(bool, created);
        QFETCH(int, questions);
        QTemporaryDir work(m_tmp.filePath("XXXXXX"));
        const QString fresh = work.filePath("New Backups");
        auto sub = [&](QString s) {
            return expand(s.replace(QLatin1String("$N"), fresh), m_tmp.path());
        };

        ScriptedPickerDialogs dialogs;
        for (bool b : yesNo)
            dialogs.yesNoAnswers.push_back(b);
        for (const QString& p : presses)
            dialogs.directoryAnswers.push_back(p.isEmpty() ? std::nullopt
                                                           : std::optional<QString>(sub(p)));
        TRecorder rec;
        TDirectoryEdit e;
        e.setObjectName(QStringLiteral("DirectoryEdit1"));
        rec.Wire(&e);
        e.SetDialogOptions(Opts(options));
        e.ButtonClick();

        QCOMPARE(e.text(), sub(text));
        QCOMPARE(QFileInfo(sub(text)).isDir() && !text.isEmpty(),
                 created || text == QLatin1String("$T/Backups"));
        if (!created) QVERIFY(!QFileInfo::exists(fresh));
        QCOMPARE(dialogs.questions, QStringList(questions, createQuestion));
        QCOMPARE(rec.changes.size(), text.isEmpty() ? 0 : 1);
        QCOMPARE(rec.events.last(), QStringLiteral("after:%1:%2")
                                        .arg(text.isEmpty() ? QStringLiteral("/") : sub(text))
                                        .arg(!text.isEmpty()));
        // The start folder follows a folder that exists.
        QCOMPARE(e.InitialDir(), QFileInfo(sub(text)).isDir() ? sub(text) : QString());
    }

    void createFailure() {
        // A folder under a file can never be made, whoever runs the test.
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TDirectoryEdit e;
        rec.Wire(&e);
        e.setText(m_tmp.filePath("Backups"));
        rec.changes.clear();
        e.SetDialogOptions(TDirectoryEdit::sdAllowCreate | TDirectoryEdit::sdPerformCreate);
        const QString impossible = m_tmp.filePath("a file/sub");
        dialogs.directoryAnswers.push_back(impossible);
        QVERIFY_THROWS_EXCEPTION(EInOutError, e.ButtonClick());
        QCOMPARE(e.text(), m_tmp.filePath("Backups"));
        QVERIFY(!rec.events.contains(QStringLiteral("after:%1:1").arg(impossible)));

        // From the button the error is shown to the user.
        dialogs.directoryAnswers.push_back(impossible);
        QTest::mouseClick(e.Button(), Qt::LeftButton);
        QCOMPARE(dialogs.errors, QStringList{"Unable to create directory"});
        QVERIFY(rec.changes.isEmpty());
    }

    void folderBrowserWithDialogText() {
        ScriptedPickerDialogs dialogs;
        TDirectoryEdit e;
        e.SetDialogKind(TDirectoryEdit::dkWin32);
        e.SetDialogText(QStringLiteral("Backup To:"));
        e.SetDialogOptions(TDirectoryEdit::sdAllowCreate | TDirectoryEdit::sdPerformCreate |
                           TDirectoryEdit::sdPrompt);
        const QString missing = m_tmp.filePath("never made");
        dialogs.directoryAnswers.push_back(missing);
        e.ButtonClick();
        QCOMPARE(dialogs.directoryRequests[0].prompt, QStringLiteral("Backup To:"));
        QVERIFY(dialogs.directoryRequests[0].folderBrowser);
        // The options belong to our own dialog; the browser makes nothing.
        QVERIFY(!dialogs.directoryRequests[0].allowCreate);
        QVERIFY(!QFileInfo::exists(missing));
        QVERIFY(e.text().isEmpty());
    }

    void multipleDirsAndDrops() {
        ScriptedPickerDialogs dialogs;
        TRecorder rec;
        TDirectoryEdit e;
        rec.Wire(&e);
        e.SetAcceptFiles(true);
        const QString backups = m_tmp.filePath("Backups");
        const QString file = m_tmp.filePath("a file");

        // One folder: a dropped file gives its folder, with the separator; only the first counts.
        QVERIFY(DropOn(&e, {file, backups}));
        QCOMPARE(e.text(), m_tmp.path() + '/');
        QVERIFY(DropOn(&e, {backups}));
        QCOMPARE(e.text(), backups);
        QCOMPARE(rec.events, (QStringList{"drop", "drop"}));

        // Several folders: each drop and each dialog run adds.
        e.SetMultipleDirs(true);
        e.setText(QString());
        QVERIFY(DropOn(&e, {backups, file}));
        QCOMPARE(e.text(), backups + ';' + m_tmp.path() + '/');
        dialogs.directoryAnswers.push_back(m_tmp.path());
        e.ButtonClick();
        QCOMPARE(e.text(), backups + ';' + m_tmp.path() + "/;" + m_tmp.path());
    }

    void qtDialogAcceptsAFolderToMake() {
        // Our own folder dialog, answered by typing a new name and pressing OK.
        tarnwick::QtPickerDialogs qt;
        const QString fresh = m_tmp.filePath("Typed New");
        QStringList asked;
        tarnwick::DirectoryDialogRequest r;
        r.title = QStringLiteral("Select Directory");
        r.start = m_tmp.path();
        r.allowCreate = true;
        int answers = 0;
        r.acceptMissing = [&](const QString& p) {
            asked << p;
            return ++answers > 1; // No, then Yes
        };
        QStringList labels;
        auto press = [&] {
            auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dlg) return;
            labels << dlg->windowTitle() << dlg->labelText(QFileDialog::FileName);
            auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name) name->setText(QStringLiteral("Typed New"));
            QDialog* box = dlg;
            box->accept();
            if (dlg->isVisible()) {
                box->accept(); // refused once: the dialog is still open
                if (dlg->isVisible()) dlg->reject();
            }
        };
        QTimer::singleShot(0, this, press);
        const auto chosen = qt.RunDirectoryDialog(r);
        QCOMPARE(labels, (QStringList{"Select Directory", "Directory &Name:"}));
        QCOMPARE(asked, (QStringList{fresh, fresh}));
        QCOMPARE(chosen, std::optional<QString>(fresh));
    }
};

QTEST_MAIN(TestDirectoryEdit)
#include "tst_directoryedit.moc"
