#include "app/mainwindow.h"
#include "controls/graphics.h"

#include "platform/inikeystore.h"

#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QTest>
#include <QUrl>

#include "tests/common/privatehome.h"

// The window's fold panels, hints, pictures and logs.
class TestWindowPanels : public QObject {
    Q_OBJECT

    static int zIndex(const QWidget* w) {
        return int(w->parentWidget()->children().indexOf(const_cast<QWidget*>(w)));
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        Graphics::InstallFontSubstitutions();
    }
    void init() { QFile::remove(tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER)); }

    void foldPanelsStartFoldedBehindTheJobAreas() {
        MainWindow form;
        const QWidget* backupArea = form.Component<QWidget>("BackupArea");
        QVERIFY(backupArea);
        const QList<std::pair<TFoldPanel*, const char*>> panels = {
            {form.logsPanel, "Action Logs"},
            {form.networksPanel, "Networks"},
            {form.aboutPanel, "About"},
            {form.memoryPanel, "Memory Defragmenter"}};
        for (const auto& [panel, caption] : panels) {
            QCOMPARE(panel->Caption(), QLatin1String(caption));
            QCOMPARE(panel->FoldStatus(), TFoldPanel::fsCollapsed);
            QCOMPARE(panel->height(), 14);
            QVERIFY(zIndex(panel) < zIndex(backupArea));
        }
        // Their controls live in their clients.
        QCOMPARE(form.backupLog->parentWidget(), form.logsPanel->Client());
        QCOMPARE(form.clearCompactLog->parentWidget(), form.logsPanel->Client());
        QCOMPARE(form.netDisconnect->parentWidget(), form.networksPanel->Client());
        QCOMPARE(form.aboutText->parentWidget(), form.aboutPanel->Client());
        QCOMPARE(form.memoryGauge->parentWidget(), form.memoryPanel->Client());
        QVERIFY(form.aboutText->isReadOnly());
        QCOMPARE(form.aboutText->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xE1));
        QVERIFY(!form.aboutText->Lines().isEmpty());
    }

    void unfoldingComesToTheFrontFoldingGoesBack() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TFoldPanel* about = form.aboutPanel;
        const int bottom = about->geometry().bottom();
        QTest::mouseClick(about, Qt::LeftButton, {}, about->GlyphRect().center());
        QCOMPARE(about->FoldStatus(), TFoldPanel::fsExpanded);
        QCOMPARE(zIndex(about), int(form.children().size()) - 1);
        QVERIFY(about->height() > 200);
        QCOMPARE(about->geometry().bottom(), bottom);
        QVERIFY(form.aboutText->isVisible());

        about->Collapse();
        QCOMPARE(zIndex(about), 0);
        QCOMPARE(about->height(), 14);
        QCOMPARE(about->geometry().bottom(), bottom);
    }

    void hintsKeepTheirLineBreaks_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("hint");
        QTest::newRow("FoldPanel1") << "FoldPanel1"
                                    << "View messages for Backups and Compacting";
        QTest::newRow("FoldPanel2") << "FoldPanel2"
                                    << "Set Network Drives";
        QTest::newRow("FoldPanel3") << "FoldPanel3"
                                    << "Credits and information about this program.";
        QTest::newRow("FoldPanel4") << "FoldPanel4"
                                    << "Memory Defrag";
        QTest::newRow("SpeedButton2") << "SpeedButton2"
                                      << "Disconnect Networked Mapped Drive";
        QTest::newRow("BitBtn1") << "BitBtn1"
                                 << "Clear Text";
        QTest::newRow("BitBtn2") << "BitBtn2"
                                 << "Clear Text";
        QTest::newRow("AlarmClock1") << "AlarmClock1"
                                     << "Current time";
        QTest::newRow("ToggleSwitch1") << "ToggleSwitch1"
                                       << "Turn backup off or on.  The switch \nmust be set at the "
                                          "on position to backup\nat the set time.";
        QTest::newRow("SwitchHousing1")
            << "SwitchHousing1"
            << "Turn backup off or on.  The switch \nmust be set at the "
               "on position to Backup\nat the set time.";
        QTest::newRow("SwitchHousing2")
            << "SwitchHousing2"
            << "Turn backup off or on.  The switch \nmust be set at the "
               "on position to Compact\nat the set time.";
        QTest::newRow("ComboBox1")
            << "ComboBox1"
            << "Pick which JET Engine you want.\n3.5 is for Access 97 *.mdb\n"
               "3..6 is for Access 2000 *.mdb\n12.0 is for Access 2007+ *.accdb\n\n"
               "Remember! All select *.mdb *.accdb Must\nbe the  same JET Engine type!";
        QTest::newRow("FilenameEdit1") << "FilenameEdit1"
                                       << "Pick which files you want to Compact\nYou can use "
                                          "Drag&Drop or the Dialog\nButton to add files.  ";
    }
    void hintsKeepTheirLineBreaks() {
        QFETCH(QString, control);
        QFETCH(QString, hint);
        MainWindow form;
        auto* w = form.Component<QWidget>(control);
        QVERIFY(w);
        QCOMPARE(w->toolTip(), hint);
    }

    void hintWindowShowsAtThePointerInTheWindowsColours() {
        MainWindow form;
        QVERIFY(form.hintWindow->Active());
        QCOMPARE(form.hintWindow->HintColor(), QColor(255, 255, 213));
        QCOMPARE(form.hintWindow->HintFont().pixelSize(), 13);
        QCOMPARE(form.hintWindow->TransparencyStyle(), TZPHint::tsNone);
        QCOMPARE(ApplicationHints::ShortPause(), 15);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        // A control without a hint of its own shows its panel's.
        auto* onLabel = form.Component<QWidget>("OnLabel1");
        QVERIFY(onLabel && onLabel->toolTip().isEmpty());
        const QList<std::pair<QWidget*, QString>> cases = {
            {form.backupTime, form.backupTime->toolTip()},
            {onLabel, onLabel->parentWidget()->toolTip()}};
        for (const auto& [control, hint] : cases) {
            const QPoint at = control->mapToGlobal(QPoint(4, 4));
            QHelpEvent e(QEvent::ToolTip, QPoint(4, 4), at);
            QApplication::sendEvent(control, &e);
            TRegionHint* window = form.hintWindow->HintWindow();
            QVERIFY(window);
            QCOMPARE(window->Text(), hint);
            QCOMPARE(window->geometry().topLeft(), at);
            QVERIFY(window->CurrentLayout().region.contains(window->CurrentLayout().text.center()));
        }
        form.hintWindow->HideHint();
        QVERIFY(!form.hintWindow->HintWindow());
    }

    void picturesLinkToOurDocuments() {
        MainWindow form;
        for (TLinkImage* link : {form.readmeLink, form.bannerLink, form.architectureLink}) {
            QCOMPARE(link->LinkType(), TLinkImage::ltfile);
            const QUrl url(link->Address());
            QVERIFY2(QFile::exists(url.toLocalFile()), qPrintable(link->Address()));
            QVERIFY(!link->toolTip().isEmpty());
        }
    }

    void logsKeepEveryLineAcrossARestart() {
        QStringList backup, compact;
        for (int i = 0; i < 400; ++i)
            backup << QStringLiteral("07/12/2026 02:%1 copied file %2.mdb; ok").arg(i % 60).arg(i);
        backup.insert(200, QString()); // a blank line between two runs
        for (int i = 0; i < 150; ++i)
            compact << QStringLiteral("compacted \"db %1\" = done").arg(i);
        {
            MainWindow form;
            form.backupLog->SetLines(backup);
            form.compactLog->SetLines(compact);
        }
        MainWindow form;
        QCOMPARE(form.backupLog->Lines(), backup);
        QCOMPARE(form.compactLog->Lines(), compact);
    }
};

QTEST_MAIN(TestWindowPanels)
#include "tst_windowpanels.moc"
