#include "app/mainwindow.h"
#include "controls/graphics.h"
#include "controls/pickerdialogs.h"

#include "jobs/catchup.h"
#include "jobs/savedsettings.h"
#include "platform/inikeystore.h"

#include <QFile>
#include <QTest>

#include "tests/common/privatehome.h"

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        usePrivateHome();
        Graphics::InstallFontSubstitutions();
    }
    void init() { QFile::remove(tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER)); }

    void windowHasItsDesignValues() {
        MainWindow form;
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tarnwick Unattented Backup/Compactor"));
        QCOMPARE(form.ClientWidth(), 539);
        QCOMPARE(form.ClientHeight(), 352);
        QCOMPARE(form.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
        QCOMPARE(form.font().family(), QStringLiteral("Arial"));
        QCOMPARE(form.font().pixelSize(), 11);
        QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    void controlsHaveTheirCaptionsAndItems() {
        MainWindow form;
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(form.compactStatus->Caption(), QStringLiteral("Data Repair/Compact Controls"));
        QCOMPARE(form.backupFilesCaption->Caption(), QStringLiteral("File To Backup"));
        QCOMPARE(form.compactFilesCaption->Caption(), QStringLiteral("File To Repair/Compact"));
        QVERIFY(form.backupStatus->font().bold());
        QCOMPARE(form.zipBackups->text(), QStringLiteral("Zip Backup"));
        QCOMPARE(form.defragFirst->text(), QStringLiteral("Defrag Memory"));
        QCOMPARE(form.defragFirst->State(), TCheckBox::cbUnchecked);
        QCOMPARE(form.backupNow->text(), QStringLiteral("Backup Now"));
        QCOMPARE(form.compactNow->text(), QStringLiteral("Compact Now"));
        QCOMPARE(form.engineVersion->Items(), (QStringList{"12.0", "3.6", "3.5"}));
        // The first start applies the empty default: an engine must be chosen.
        QCOMPARE(form.engineVersion->Text(), QString());
        QCOMPARE(form.shutdownAction->Items(), (QStringList{"Force", "Logoff", "Poweroff",
                                                            "Program Only", "Reboot", "Shutdown"}));
        QCOMPARE(form.shutdownAction->Text(), QString());
        QCOMPARE(form.clearCompactLog->text(), QStringLiteral("Clear"));
        QCOMPARE(form.clearBackupLog->text(), QStringLiteral("Clear "));
        QVERIFY(form.backupNow->toolTip().contains("right now!"));
        // Hints keep their line breaks.
        QCOMPARE(form.zipBackups->toolTip().count('\n'), 3);
    }

    void clearButtonsClearTheirOwnLog() {
        MainWindow form;
        form.backupLog->SetLines({"backup 1", "backup 2"});
        form.compactLog->SetLines({"compact 1"});
        form.show();
        form.clearCompactLog->parentWidget()->show();

        QTest::mouseClick(form.clearCompactLog, Qt::LeftButton);
        QCOMPARE(form.compactLog->LineCount(), 0);
        QCOMPARE(form.backupLog->LineCount(), 2);

        QTest::mouseClick(form.clearBackupLog, Qt::LeftButton);
        QCOMPARE(form.backupLog->LineCount(), 0);
    }

    void settingsComeBackAtTheNextStart() {
        {
            MainWindow form;
            form.backupLog->SetLines({"copied a.mdb", "a|b"});
            form.compactLog->SetLines({"compacted"});
            form.engineVersion->SetText("3.5");
            form.shutdownAction->SetText("Reboot");
            form.defragFirst->SetState(TCheckBox::cbChecked);
            form.backupsKept->SetValue(5);
            form.catchUpCompactions->setChecked(true);
        }
        MainWindow form;
        // A line holding "|" comes back split there.
        QCOMPARE(form.backupLog->Lines(), (QStringList{"copied a.mdb", "a", "b"}));
        QCOMPARE(form.compactLog->Lines(), QStringList{"compacted"});
        QCOMPARE(form.engineVersion->Text(), QStringLiteral("3.5"));
        QCOMPARE(form.shutdownAction->Text(), QStringLiteral("Reboot"));
        QCOMPARE(form.defragFirst->State(), TCheckBox::cbChecked);
        QCOMPARE(form.zipBackups->State(), TCheckBox::cbUnchecked);
        QCOMPARE(form.backupsKept->Value(), 5);
        QVERIFY(form.catchUpCompactions->isChecked());
        QVERIFY(!form.catchUpBackups->isChecked());
        // As tarnwick-run reads them: catching up is on for the compaction alone.
        using namespace tarnwick::jobs;
        QCOMPARE(readSavedSettings().backup.keep, 5);
        const QDateTime now = QDateTime::currentDateTime();
        QCOMPARE(whyNoCatchUp(TimedJob::Backup, now),
                 QStringLiteral("catching up is not turned on ([Backup] CatchUp)"));
        QCOMPARE(whyNoCatchUp(TimedJob::Compact, now), QStringLiteral("the job's switch is off"));
    }

    // A saved 3.5 or 3.6 comes back as the choice while the component keeps its design engine,
    // as it always did; a saved 12.0 binds its engine, which alone opens .accdb files.
    void restoredEngineVersion_data() {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("mode");
        QTest::newRow("3.5") << "3.5"
                             << "3.6"
                             << "(In Access'2000 mode)";
        QTest::newRow("3.6") << "3.6"
                             << "3.6"
                             << "(In Access'2000 mode)";
        QTest::newRow("12.0") << "12.0"
                              << "12.0"
                              << "(In Access'2007 mode)";
        QTest::newRow("unknown") << "4.0"
                                 << "3.6"
                                 << "(In Access'2000 mode)";
    }
    void restoredEngineVersion() {
        QFETCH(QString, saved);
        QFETCH(QString, engine);
        QFETCH(QString, mode);
        {
            MainWindow form;
            form.engineVersion->SetText(saved);
        }
        MainWindow form;
        QCOMPARE(form.engineVersion->Text(), saved);
        QCOMPARE(form.database->Version(), engine);
        QCOMPARE(form.engineInfo->text(), mode);
    }

    // Logs saved when entries ended with a line feed and a carriage return load clean.
    void pickersShowHowManyFilesWerePicked() {
        MainWindow form;
        tarnwick::ScriptedPickerDialogs dialogs;
        dialogs.fileAnswers.push_back(dialogs.Picked("/data", {"a.mdb", "b.mdb", "c.mdb"}));
        dialogs.fileAnswers.push_back(dialogs.Picked("/data", {"only.mdb"}));
        dialogs.fileAnswers.push_back(dialogs.Picked("/data", {"x.mdb", "y.mdb"}));

        form.backupFiles->ButtonClick();
        QCOMPARE(form.backupFiles->DialogFiles().size(), 3);
        QCOMPARE(form.backupFilesCaption->Caption(),
                 QStringLiteral("3 Files to Backup-Last file shown"));
        form.backupFiles->ButtonClick();
        QCOMPARE(form.backupFilesCaption->Caption(), QStringLiteral("File to Backup"));

        form.compactFiles->ButtonClick();
        QCOMPARE(form.compactFilesCaption->Caption(),
                 QStringLiteral("2 Files to Repair/Compact-Last file shown"));
        QCOMPARE(form.backupFilesCaption->Caption(), QStringLiteral("File to Backup"));
        // Both pickers offer Access 2007+ files beside the older ones.
        const QString access = "Access databases (*.mdb *.MDB *.accdb *.ACCDB)";
        QCOMPARE(dialogs.fileRequests[0].nameFilters, (QStringList{access, "Any File (*)"}));
        QCOMPARE(dialogs.fileRequests[2].nameFilters, QStringList{access});
    }

    void everyComponentIsNamedOnce() {
        MainWindow form;
        QSet<QString> names;
        for (QObject* c : form.Components()) {
            QVERIFY2(!c->objectName().isEmpty(), c->metaObject()->className());
            QVERIFY2(!names.contains(c->objectName().toLower()), qPrintable(c->objectName()));
            names.insert(c->objectName().toLower());
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
