// The window stays usable whatever the settings file holds or the user types: it is never
// placed where nobody sees it, a switch never arms at a time other than the one shown, and
// disabled buttons look disabled.
#include "app/mainwindow.h"
#include "app/windowplacement.h"
#include "controls/graphics.h"
#include "platform/inikeystore.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "tests/common/privatehome.h"

namespace {

void store(const QString& section, const QString& key, const QString& value) {
    tarnwick::IniKeyStore reg;
    QVERIFY(reg.openKey(section, true));
    QVERIFY(reg.writeString(key, value));
    QVERIFY(reg.flush());
}

// Closes every message box that opens while it lives and keeps its text.
struct MessageBoxes {
    QStringList texts;
    QTimer timer;
    MessageBoxes() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                box->done(QMessageBox::Ok);
            }
        });
        timer.start(10);
    }
};

} // namespace

class TestWindowGuards : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        usePrivateHome();
        Graphics::InstallFontSubstitutions();
    }
    void init() { QFile::remove(tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER)); }

    void placement_data() {
        QTest::addColumn<QRect>("restored");
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QRect>("placed");
        const QRect hd(0, 0, 1920, 1040), right(1920, 0, 1280, 1024);
        QTest::newRow("on screen")
            << QRect(100, 80, 539, 380) << QList{hd} << QRect(100, 80, 539, 380);
        QTest::newRow("off every screen")
            << QRect(50000, -30000, 539, 380) << QList{hd} << QRect(1381, 0, 539, 380);
        QTest::newRow("0 x 0") << QRect(10, 10, 0, 0) << QList{hd} << QRect(10, 10, 560, 400);
        QTest::newRow("negative size")
            << QRect(10, 10, -5, -1) << QList{hd} << QRect(10, 10, 560, 400);
        QTest::newRow("100000 x 100000") << QRect(0, 0, 100000, 100000) << QList{hd} << hd;
        QTest::newRow("hanging over the edge")
            << QRect(1800, 900, 539, 380) << QList{hd} << QRect(1381, 660, 539, 380);
        QTest::newRow("on the second screen")
            << QRect(2000, 100, 539, 380) << QList{hd, right} << QRect(2000, 100, 539, 380);
        QTest::newRow("second screen gone")
            << QRect(2000, 100, 539, 380) << QList{hd} << QRect(1381, 100, 539, 380);
        QTest::newRow("screen smaller than the window")
            << QRect(0, 0, 539, 380) << QList{QRect(0, 0, 320, 240)} << QRect(0, 0, 320, 240);
    }
    void placement() {
        QFETCH(QRect, restored);
        QFETCH(QList<QRect>, screens);
        QFETCH(QRect, placed);
        QCOMPARE(PlaceOnScreens(restored, QSize(560, 400), screens), placed);
    }

    void restoredGeometryIsKeptOnScreen_data() {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("size");
        QTest::newRow("off every screen") << -50000 << 70000 << 400;
        QTest::newRow("0 x 0") << 0 << 0 << 0;
        QTest::newRow("100000 x 100000") << 0 << 0 << 100000;
        QTest::newRow("smaller than designed") << 10 << 10 << 327;
        QTest::newRow("nothing stored") << 0 << 0 << -1;
    }
    // Wherever it was, the window comes back on a screen, never smaller than designed (so no
    // tab of the fold panels along its foot is cut off).
    void restoredGeometryIsKeptOnScreen() {
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(int, size);
        if (size >= 0) {
            for (const char* key : {"Width", "Height", "Width2", "Height2"})
                store("Form", key, QString::number(size));
            store("Form", "left", QString::number(left));
            store("Form", "Top", QString::number(top));
        }
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(form.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(form.x())
                                                                       .arg(form.y())
                                                                       .arg(form.width())
                                                                       .arg(form.height())));
        // The frame comes a little after the window is shown, and takes nothing from the client.
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(100);
            QVERIFY2(form.ClientWidth() >= 539 && form.ClientHeight() >= 352,
                     qPrintable(
                         QStringLiteral("%1x%2").arg(form.ClientWidth()).arg(form.ClientHeight())));
        }
    }

    void unreadableTimeDoesNotArm_data() {
        QTest::addColumn<int>("job");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("armedAt"); // < 0: not armed
        for (int job : {1, 2, 3}) {
            QTest::addRow("job %d, 23:4510", job) << job << "23:4510" << -1.0;
            QTest::addRow("job %d, empty", job) << job << "" << -1.0;
            QTest::addRow("job %d, 14:30", job) << job << "14:30" << 14.5 / 24;
        }
    }
    void unreadableTimeDoesNotArm() {
        QFETCH(int, job);
        QFETCH(QString, text);
        QFETCH(double, armedAt);
        MainWindow form;
        TValueSpinEdit* edit[] = {form.backupTime, form.compactTime, form.shutdownTime};
        TToggleSwitch* sw[] = {form.backupSwitch, form.compactSwitch, form.shutdownSwitch};
        TAlarmClock* clock[] = {form.backupClock, form.compactClock, form.shutdownClock};
        edit[job - 1]->setText(text);
        MessageBoxes boxes;
        sw[job - 1]->SetStateOn(true);
        if (armedAt >= 0) {
            QVERIFY(boxes.texts.isEmpty());
            QVERIFY(sw[job - 1]->StateOn());
            QVERIFY(clock[job - 1]->AlarmEnabled());
            QVERIFY(qAbs(clock[job - 1]->AlarmTime() - armedAt) < 1e-9);
            return;
        }
        QVERIFY(!sw[job - 1]->StateOn());
        QVERIFY(!clock[job - 1]->AlarmEnabled());
        QCOMPARE(edit[job - 1]->text(), text); // what the user typed stays to be mended
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].contains(QStringLiteral("\"%1\"").arg(text)) &&
                     boxes.texts[0].contains(QStringLiteral("14:30")),
                 qPrintable(boxes.texts[0]));
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(form.compactStatus->Caption(), QStringLiteral("Data Repair/Compact Controls"));
    }

    void disabledButtonsLookDisabled() {
        MainWindow form;
        for (TSpeedButton* b : {form.backupNow, form.compactNow}) {
            b->setEnabled(false); // as while a job runs
            const QImage disabled = b->grab().toImage();
            b->setEnabled(true);
            const QImage enabled = b->grab().toImage();
            QVERIFY2(disabled != enabled, qPrintable(b->text()));
            QVERIFY(b->palette().color(QPalette::Disabled, QPalette::ButtonText) !=
                    b->palette().color(QPalette::Active, QPalette::ButtonText));
        }
    }

    // The catch-up boxes and "Keep" fit into the job areas beside the other controls, also
    // when the file labels name several picked files; their texts fit their boxes.
    void addedControlsOverlapNothing() {
        MainWindow form;
        form.show();
        form.backupFilesCaption->SetCaption(QStringLiteral("12 Files to Backup-Last file shown"));
        form.compactFilesCaption->SetCaption(
            QStringLiteral("12 Files to Repair/Compact-Last file shown"));
        const auto where = [](const QWidget* w) {
            const QRect r = w->geometry();
            return QStringLiteral("%1 at %2,%3 %4x%5")
                .arg(w->objectName())
                .arg(r.x())
                .arg(r.y())
                .arg(r.width())
                .arg(r.height());
        };
        auto* keepLabel = form.Component<QWidget>(QStringLiteral("Label17"));
        QVERIFY(keepLabel);
        for (QWidget* added : {static_cast<QWidget*>(form.catchUpBackups), keepLabel,
                               static_cast<QWidget*>(form.backupsKept),
                               static_cast<QWidget*>(form.catchUpCompactions)}) {
            for (QObject* o : added->parentWidget()->children()) {
                auto* other = qobject_cast<QWidget*>(o);
                if (!other || other == added || other->isHidden()) continue;
                QVERIFY2(!added->geometry().intersects(other->geometry()),
                         qPrintable(where(added) + " overlaps " + where(other)));
            }
            if (qobject_cast<QCheckBox*>(added) || added == keepLabel) {
                const QSize wanted = added->sizeHint();
                QVERIFY2(
                    wanted.width() <= added->width() && wanted.height() <= added->height(),
                    qPrintable(
                        where(added) +
                        QStringLiteral(" wants %1x%2").arg(wanted.width()).arg(wanted.height())));
            }
        }
    }
};

QTEST_MAIN(TestWindowGuards)
#include "tst_windowguards.moc"
