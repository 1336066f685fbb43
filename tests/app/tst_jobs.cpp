// Arming, disarming and the shutdown job, driven through the real window.
#include "app/mainwindow.h"
#include "platform/inikeystore.h"
#include "platform/sessionend.h"
#include "platform/systemlog.h"
#include "platform/timesource.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTest>

#include "tests/common/privatehome.h"

using tarnwick::SessionEndKind;

Q_DECLARE_METATYPE(SessionEndKind)

class TestJobs : public QObject {
    Q_OBJECT

    tarnwick::ManualTimeSource clock{QDateTime(QDate(2026, 12, 4), QTime(17, 0))};
    tarnwick::FakeSessionEnd session;
    tarnwick::RecordingSystemLog syslog;

    static void store(const QString& section, const QString& key, const QString& value) {
        tarnwick::IniKeyStore reg;
        QVERIFY(reg.openKey(section, true));
        QVERIFY(reg.writeString(key, value));
        QVERIFY(reg.flush());
    }

    static QColor color(const TLabel* l) { return l->palette().color(QPalette::WindowText); }

    // One clock tick at the given time of day.
    void tickAt(TAlarmClock* c, QTime t) {
        clock.set(t);
        c->TimerTick(c);
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QApplication::setQuitOnLastWindowClosed(false);
        tarnwick::TimeSource::install(&clock);
        tarnwick::SessionEnd::install(&session);
        tarnwick::SystemLog::install(&syslog);
    }
    void cleanupTestCase() {
        tarnwick::TimeSource::install(nullptr);
        tarnwick::SessionEnd::install(nullptr);
        tarnwick::SystemLog::install(nullptr);
    }
    void init() {
        QFile::remove(tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER));
        session.requests.clear();
        session.answer = true;
        syslog.lines.clear();
        clock.set(QTime(17, 0));
    }

    void firstStartLeavesEveryJobOff() {
        MainWindow form;
        for (TToggleSwitch* s : {form.backupSwitch, form.compactSwitch, form.shutdownSwitch})
            QVERIFY(!s->StateOn());
        // Enabled at design time, cleared by the time edits' load step.
        for (TAlarmClock* c : {form.compactClock, form.backupClock, form.shutdownClock})
            QVERIFY(!c->AlarmEnabled());
        form.shutdownAction->SetText("Poweroff");
        tickAt(form.shutdownClock, QTime(0, 0, 1));
        QVERIFY(session.requests.isEmpty());
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls"));
    }

    void restoredSwitchesComeBackArmed() {
        store("Backup", "Time", "0.5");
        store("Backup", "State1", "1");
        store("Compact", "Time", "0.25");
        store("Compact", "State2", "1");
        MainWindow form;
        QVERIFY(form.backupSwitch->StateOn());
        QVERIFY(form.backupClock->AlarmEnabled());
        QCOMPARE(form.backupClock->AlarmTime(), 0.5);
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QCOMPARE(color(form.backupStatus), QColor(255, 0, 0));
        QVERIFY(form.compactSwitch->StateOn());
        QCOMPARE(form.compactClock->AlarmTime(), 0.25);
        QCOMPARE(form.compactStatus->Caption(),
                 QStringLiteral("Data Repair/Compact Controls -Actived"));
    }

    // The shutdown switch is restored after its time and kind, as the other switches are after
    // theirs, so it comes back armed at its own time.
    void restoredShutdownSwitchComesBackArmed_data() {
        QTest::addColumn<QString>("time");
        QTest::newRow("18:00") << "0.75";
        QTest::newRow("midnight") << "0";
    }
    void restoredShutdownSwitchComesBackArmed() {
        QFETCH(QString, time);
        store("Form", "State3", "1");
        store("Form", "Time", time);
        store("Form", "ShutdownText", "Poweroff");
        MainWindow form;
        QVERIFY(form.shutdownSwitch->StateOn());
        QVERIFY(form.shutdownClock->AlarmEnabled());
        QCOMPARE(form.shutdownClock->AlarmTime(), time.toDouble());
        QCOMPARE(form.shutdownAction->Text(), QStringLiteral("Poweroff"));
        // An edit by the user still disarms it.
        form.shutdownTime->SetTimeValue(0.5);
        QVERIFY(!form.shutdownSwitch->StateOn());
        QVERIFY(!form.shutdownClock->AlarmEnabled());
    }

    void editsDisarmTheirJob() {
        MainWindow form;
        form.backupTime->SetTimeValue(0.5);
        form.backupSwitch->SetStateOn(true);
        QVERIFY(form.backupClock->AlarmEnabled());
        // Neither do "Zip Backup", "Keep" and catching up.
        form.zipBackups->click();
        form.catchUpBackups->click();
        form.backupsKept->SetValue(2);
        QVERIFY(form.backupSwitch->StateOn());

        form.backupTime->SetTimeValue(0.6);
        QVERIFY(!form.backupSwitch->StateOn());
        QVERIFY(!form.backupClock->AlarmEnabled());
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(color(form.backupStatus), QColor(0, 0, 0));

        form.backupSwitch->SetStateOn(true);
        form.backupFolder->SetText("/srv/backup");
        QVERIFY(!form.backupSwitch->StateOn());
        form.backupSwitch->SetStateOn(true);
        form.backupFiles->SetText("/srv/data/a.mdb");
        QVERIFY(!form.backupSwitch->StateOn());

        form.compactSwitch->SetStateOn(true);
        form.compactFiles->SetText("/srv/data/a.mdb");
        QVERIFY(!form.compactSwitch->StateOn());
        QVERIFY(!form.compactClock->AlarmEnabled());
        form.compactSwitch->SetStateOn(true);
        form.show();
        QTest::keyClicks(form.engineVersion->lineEdit(), "5");
        QVERIFY(!form.compactSwitch->StateOn());
    }

    void shutdownKindChangedByTheUserDisarms() {
        MainWindow form;
        form.show();
        form.shutdownAction->SetText("Reboot"); // set from code, as the restore does: no handler
        form.shutdownSwitch->SetStateOn(true);
        QVERIFY(form.shutdownClock->AlarmEnabled());
        form.shutdownAction->SetText("Reboot");
        QVERIFY(form.shutdownSwitch->StateOn());
        QTest::keyClick(form.shutdownAction->lineEdit(), Qt::Key_Backspace);
        QVERIFY(!form.shutdownSwitch->StateOn());
        QVERIFY(!form.shutdownClock->AlarmEnabled());
    }

    void eachShutdownKindAtItsAlarm_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("request"); // -1: none
        QTest::addColumn<bool>("closes");
        QTest::newRow("Shutdown") << "Shutdown" << int(SessionEndKind::Shutdown) << false;
        QTest::newRow("Force") << "Force" << int(SessionEndKind::Force) << false;
        QTest::newRow("Poweroff") << "Poweroff" << int(SessionEndKind::PowerOff) << false;
        QTest::newRow("Logoff") << "Logoff" << int(SessionEndKind::LogOff) << false;
        QTest::newRow("Reboot") << "Reboot" << int(SessionEndKind::Reboot) << false;
        QTest::newRow("Program Only") << "Program Only" << -1 << true;
        QTest::newRow("lower case") << "shutdown" << -1 << false;
        QTest::newRow("empty") << "" << -1 << false;
    }
    void eachShutdownKindAtItsAlarm() {
        QFETCH(QString, kind);
        QFETCH(int, request);
        QFETCH(bool, closes);
        MainWindow form;
        form.show();
        form.shutdownAction->SetText(kind);
        form.shutdownTime->SetTimeValue(0.75);
        form.shutdownSwitch->SetStateOn(true);

        tickAt(form.shutdownClock, QTime(17, 59, 59));
        QVERIFY(session.requests.isEmpty());
        QVERIFY(form.isVisible());

        tickAt(form.shutdownClock, QTime(18, 0, 0));
        tickAt(form.shutdownClock, QTime(18, 0, 30)); // once a day only
        QCOMPARE(session.requests.size(), request < 0 ? 0 : 1);
        if (request >= 0) QCOMPARE(int(session.requests[0]), request);
        QCOMPARE(form.isVisible(), !closes);
    }

    // A refused request is logged and shown, without a box that waits for a click.
    void refusedSessionEndIsSaid() {
        session.answer = false;
        session.error = "org.freedesktop.DBus.Error.AccessDenied: not allowed";
        MainWindow form;
        form.show();
        form.shutdownAction->SetText("Poweroff");
        form.shutdownTime->SetTimeValue(0.75);
        form.shutdownSwitch->SetStateOn(true);
        tickAt(form.shutdownClock, QTime(18, 0, 0));
        QCOMPARE(session.requests.size(), 1);
        const QString line = "Auto Shut Down \"Poweroff\" failed: " + session.error;
        QCOMPARE(syslog.lines.size(), 1);
        QVERIFY2(syslog.lines[0].startsWith("E " + line), qPrintable(syslog.lines[0]));
        auto* box = form.findChild<QMessageBox*>();
        QVERIFY(box && box->isVisible() && !box->isModal());
        QVERIFY(box->text().startsWith(line));
        QVERIFY(form.shutdownSwitch->StateOn()); // armed for the next day
    }

    void switchOnOffOnArmsAgainAtTheSameTime() {
        MainWindow form;
        form.shutdownAction->SetText("Logoff");
        form.shutdownTime->SetTimeValue(0.75);
        form.shutdownSwitch->SetStateOn(true);
        form.shutdownSwitch->SetStateOn(false);
        QVERIFY(!form.shutdownClock->AlarmEnabled());
        form.shutdownSwitch->SetStateOn(true);
        tickAt(form.shutdownClock, QTime(18, 0, 5));
        QCOMPARE(session.requests, QList<SessionEndKind>{SessionEndKind::LogOff});
    }
};

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
