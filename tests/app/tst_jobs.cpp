// Arming, disarming and the shutdown job, driven through the real window.
#include "app/form1.h"
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
        TForm1 form;
        for (TToggleSwitch* s : {form.ToggleSwitch1, form.ToggleSwitch2, form.ToggleSwitch3})
            QVERIFY(!s->StateOn());
        // Enabled at design time, cleared by the time edits' load step.
        for (TAlarmClock* c : {form.AlarmClock1, form.AlarmClock2, form.AlarmClock3})
            QVERIFY(!c->AlarmEnabled());
        form.ComboBox2->SetText("Poweroff");
        tickAt(form.AlarmClock3, QTime(0, 0, 1));
        QVERIFY(session.requests.isEmpty());
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls"));
    }

    void restoredSwitchesComeBackArmed() {
        store("Backup", "Time", "0.5");
        store("Backup", "State1", "1");
        store("Compact", "Time", "0.25");
        store("Compact", "State2", "1");
        TForm1 form;
        QVERIFY(form.ToggleSwitch1->StateOn());
        QVERIFY(form.AlarmClock2->AlarmEnabled());
        QCOMPARE(form.AlarmClock2->AlarmTime(), 0.5);
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QCOMPARE(color(form.Label4), QColor(255, 0, 0));
        QVERIFY(form.ToggleSwitch2->StateOn());
        QCOMPARE(form.AlarmClock1->AlarmTime(), 0.25);
        QCOMPARE(form.Label11->Caption(), QStringLiteral("Data Repair/Compact Controls -Actived"));
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
        TForm1 form;
        QVERIFY(form.ToggleSwitch3->StateOn());
        QVERIFY(form.AlarmClock3->AlarmEnabled());
        QCOMPARE(form.AlarmClock3->AlarmTime(), time.toDouble());
        QCOMPARE(form.ComboBox2->Text(), QStringLiteral("Poweroff"));
        // An edit by the user still disarms it.
        form.ValueSpinEdit3->SetTimeValue(0.5);
        QVERIFY(!form.ToggleSwitch3->StateOn());
        QVERIFY(!form.AlarmClock3->AlarmEnabled());
    }

    void editsDisarmTheirJob() {
        TForm1 form;
        form.ValueSpinEdit1->SetTimeValue(0.5);
        form.ToggleSwitch1->SetStateOn(true);
        QVERIFY(form.AlarmClock2->AlarmEnabled());
        // Neither do "Zip Backup", "Keep" and catching up.
        form.CheckBox2->click();
        form.CheckBox3->click();
        form.ValueSpinEdit4->SetValue(2);
        QVERIFY(form.ToggleSwitch1->StateOn());

        form.ValueSpinEdit1->SetTimeValue(0.6);
        QVERIFY(!form.ToggleSwitch1->StateOn());
        QVERIFY(!form.AlarmClock2->AlarmEnabled());
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(color(form.Label4), QColor(0, 0, 0));

        form.ToggleSwitch1->SetStateOn(true);
        form.DirectoryEdit1->SetText("/srv/backup");
        QVERIFY(!form.ToggleSwitch1->StateOn());
        form.ToggleSwitch1->SetStateOn(true);
        form.Backup1->SetText("/srv/data/a.mdb");
        QVERIFY(!form.ToggleSwitch1->StateOn());

        form.ToggleSwitch2->SetStateOn(true);
        form.FilenameEdit1->SetText("/srv/data/a.mdb");
        QVERIFY(!form.ToggleSwitch2->StateOn());
        QVERIFY(!form.AlarmClock1->AlarmEnabled());
        form.ToggleSwitch2->SetStateOn(true);
        form.show();
        QTest::keyClicks(form.ComboBox1->lineEdit(), "5");
        QVERIFY(!form.ToggleSwitch2->StateOn());
    }

    void shutdownKindChangedByTheUserDisarms() {
        TForm1 form;
        form.show();
        form.ComboBox2->SetText("Reboot"); // set from code, as the restore does: no handler
        form.ToggleSwitch3->SetStateOn(true);
        QVERIFY(form.AlarmClock3->AlarmEnabled());
        form.ComboBox2->SetText("Reboot");
        QVERIFY(form.ToggleSwitch3->StateOn());
        QTest::keyClick(form.ComboBox2->lineEdit(), Qt::Key_Backspace);
        QVERIFY(!form.ToggleSwitch3->StateOn());
        QVERIFY(!form.AlarmClock3->AlarmEnabled());
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
        TForm1 form;
        form.show();
        form.ComboBox2->SetText(kind);
        form.ValueSpinEdit3->SetTimeValue(0.75);
        form.ToggleSwitch3->SetStateOn(true);

        tickAt(form.AlarmClock3, QTime(17, 59, 59));
        QVERIFY(session.requests.isEmpty());
        QVERIFY(form.isVisible());

        tickAt(form.AlarmClock3, QTime(18, 0, 0));
        tickAt(form.AlarmClock3, QTime(18, 0, 30)); // once a day only
        QCOMPARE(session.requests.size(), request < 0 ? 0 : 1);
        if (request >= 0) QCOMPARE(int(session.requests[0]), request);
        QCOMPARE(form.isVisible(), !closes);
    }

    // A refused request is logged and shown, without a box that waits for a click.
    void refusedSessionEndIsSaid() {
        session.answer = false;
        session.error = "org.freedesktop.DBus.Error.AccessDenied: not allowed";
        TForm1 form;
        form.show();
        form.ComboBox2->SetText("Poweroff");
        form.ValueSpinEdit3->SetTimeValue(0.75);
        form.ToggleSwitch3->SetStateOn(true);
        tickAt(form.AlarmClock3, QTime(18, 0, 0));
        QCOMPARE(session.requests.size(), 1);
        const QString line = "Auto Shut Down \"Poweroff\" failed: " + session.error;
        QCOMPARE(syslog.lines.size(), 1);
        QVERIFY2(syslog.lines[0].startsWith("E " + line), qPrintable(syslog.lines[0]));
        auto* box = form.findChild<QMessageBox*>();
        QVERIFY(box && box->isVisible() && !box->isModal());
        QVERIFY(box->text().startsWith(line));
        QVERIFY(form.ToggleSwitch3->StateOn()); // armed for the next day
    }

    void switchOnOffOnArmsAgainAtTheSameTime() {
        TForm1 form;
        form.ComboBox2->SetText("Logoff");
        form.ValueSpinEdit3->SetTimeValue(0.75);
        form.ToggleSwitch3->SetStateOn(true);
        form.ToggleSwitch3->SetStateOn(false);
        QVERIFY(!form.AlarmClock3->AlarmEnabled());
        form.ToggleSwitch3->SetStateOn(true);
        tickAt(form.AlarmClock3, QTime(18, 0, 5));
        QCOMPARE(session.requests, QList<SessionEndKind>{SessionEndKind::LogOff});
    }
};

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
