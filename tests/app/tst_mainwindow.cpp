#include "app/form1.h"
#include "controls/graphics.h"

#include <QTest>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { Graphics::InstallFontSubstitutions(); }

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
        QCOMPARE(form.ComboBox1->Text(), QStringLiteral("3.6"));
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
