#include "app/form1.h"
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
        TForm1 form;
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
        TForm1 form;
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(form.Label11->Caption(), QStringLiteral("Data Repair/Compact Controls"));
        QCOMPARE(form.Label7->Caption(), QStringLiteral("File To Backup"));
        QCOMPARE(form.Label13->Caption(), QStringLiteral("File To Repair/Compact"));
        QVERIFY(form.Label4->font().bold());
        QCOMPARE(form.CheckBox2->text(), QStringLiteral("Zip Backup"));
        QCOMPARE(form.CheckBox1->text(), QStringLiteral("Defrag Memory"));
        QCOMPARE(form.CheckBox1->State(), TCheckBox::cbUnchecked);
        QCOMPARE(form.SpeedButton3->text(), QStringLiteral("Backup Now"));
        QCOMPARE(form.SpeedButton4->text(), QStringLiteral("Compact Now"));
        QCOMPARE(form.ComboBox1->Items(), (QStringList{"3.6", "3.5"}));
        // The first start applies the empty default: an engine must be chosen.
        QCOMPARE(form.ComboBox1->Text(), QString());
        QCOMPARE(form.ComboBox2->Items(), (QStringList{"Force", "Logoff", "Poweroff",
                                                       "Program Only", "Reboot", "Shutdown"}));
        QCOMPARE(form.ComboBox2->Text(), QString());
        QCOMPARE(form.BitBtn1->text(), QStringLiteral("Clear"));
        QCOMPARE(form.BitBtn2->text(), QStringLiteral("Clear "));
        QVERIFY(form.SpeedButton3->toolTip().contains("right now!"));
        // Hints keep their line breaks.
        QCOMPARE(form.CheckBox2->toolTip().count('\n'), 3);
    }

    void clearButtonsClearTheirOwnLog() {
        TForm1 form;
        form.RichEdit1->SetLines({"backup 1", "backup 2"});
        form.RichEdit2->SetLines({"compact 1"});
        form.show();
        form.BitBtn1->parentWidget()->show();

        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        QCOMPARE(form.RichEdit2->LineCount(), 0);
        QCOMPARE(form.RichEdit1->LineCount(), 2);

        QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
        QCOMPARE(form.RichEdit1->LineCount(), 0);
    }

    void settingsComeBackAtTheNextStart() {
        {
            TForm1 form;
            form.RichEdit1->SetLines({"copied a.mdb", "a|b"});
            form.RichEdit2->SetLines({"compacted"});
            form.ComboBox1->SetText("3.5");
            form.ComboBox2->SetText("Reboot");
            form.CheckBox1->SetState(TCheckBox::cbChecked);
            form.ValueSpinEdit4->SetValue(5);
            form.CheckBox4->setChecked(true);
        }
        TForm1 form;
        // A line holding "|" comes back split there.
        QCOMPARE(form.RichEdit1->Lines(), (QStringList{"copied a.mdb", "a", "b"}));
        QCOMPARE(form.RichEdit2->Lines(), QStringList{"compacted"});
        QCOMPARE(form.ComboBox1->Text(), QStringLiteral("3.5"));
        QCOMPARE(form.ComboBox2->Text(), QStringLiteral("Reboot"));
        QCOMPARE(form.CheckBox1->State(), TCheckBox::cbChecked);
        QCOMPARE(form.CheckBox2->State(), TCheckBox::cbUnchecked);
        QCOMPARE(form.ValueSpinEdit4->Value(), 5);
        QVERIFY(form.CheckBox4->isChecked());
        QVERIFY(!form.CheckBox3->isChecked());
        // As tarnwick-run reads them: catching up is on for the compaction alone.
        using namespace tarnwick::jobs;
        QCOMPARE(readSavedSettings().backup.keep, 5);
        const QDateTime now = QDateTime::currentDateTime();
        QCOMPARE(whyNoCatchUp(TimedJob::Backup, now),
                 QStringLiteral("catching up is not turned on ([Backup] CatchUp)"));
        QCOMPARE(whyNoCatchUp(TimedJob::Compact, now), QStringLiteral("the job's switch is off"));
    }

    // Logs saved when entries ended with a line feed and a carriage return load clean.
    void pickersShowHowManyFilesWerePicked() {
        TForm1 form;
        tarnwick::ScriptedPickerDialogs dialogs;
        dialogs.fileAnswers.push_back(dialogs.Picked("/data", {"a.mdb", "b.mdb", "c.mdb"}));
        dialogs.fileAnswers.push_back(dialogs.Picked("/data", {"only.mdb"}));
        dialogs.fileAnswers.push_back(dialogs.Picked("/data", {"x.mdb", "y.mdb"}));

        form.Backup1->ButtonClick();
        QCOMPARE(form.Backup1->DialogFiles().size(), 3);
        QCOMPARE(form.Label7->Caption(), QStringLiteral("3 Files to Backup-Last file shown"));
        form.Backup1->ButtonClick();
        QCOMPARE(form.Label7->Caption(), QStringLiteral("File to Backup"));

        form.FilenameEdit1->ButtonClick();
        QCOMPARE(form.Label13->Caption(),
                 QStringLiteral("2 Files to Repair/Compact-Last file shown"));
        QCOMPARE(form.Label7->Caption(), QStringLiteral("File to Backup"));
    }

    void everyComponentIsNamedOnce() {
        TForm1 form;
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
