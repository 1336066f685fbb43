// The real program, started as a user or the desktop would start it.
#include "platform/inidocument.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestProgram : public QObject {
    Q_OBJECT

    // Starts the program with its settings under home, waits until it runs, ends it with sig.
    static void runOnce(const QString& home, int sig = SIGTERM) {
        QProcess p;
        p.setProgram(QStringLiteral(TARNWICK_BINARY));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/config");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start();
        QVERIFY(p.waitForStarted());
        QTest::qWait(700);
        QCOMPARE(p.state(), QProcess::Running);
        ::kill(pid_t(p.processId()), sig);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

    static tarnwick::IniDocument readStore(const QString& home) {
        QFile f(home + "/config/Tarnwick/Tarnwick.ini");
        if (!f.open(QIODevice::ReadOnly)) return {};
        return tarnwick::IniDocument::parse(f.readAll());
    }

    static void writeStore(const QString& home, const tarnwick::IniDocument& doc) {
        QFile f(home + "/config/Tarnwick/Tarnwick.ini");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(doc.serialize());
    }

private slots:
    void settingsSurviveATerminatedSession() {
        QTemporaryDir home;
        runOnce(home.path());
        tarnwick::IniDocument doc = readStore(home.path());
        QVERIFY2(doc.keyExists("Form"), "nothing was saved at the first end");

        // Every item but the window's geometry, which the window manager has a say in.
        const QList<std::array<const char*, 3>> prepared = {
            {"Compact", "Hx1", "/srv/data/Sales.mdb"},
            {"Backup", "filenames", "\"/srv/data/Stock 2026.mdb\""},
            {"Messages", "Backup", "4/12/2026 02:00:01 backed up|second line"},
            {"Messages", "Compact", "compacted a.mdb"},
            {"Compact", "Version", "3.5"},
            {"Backup", "Time", "0.5"},
            {"Compact", "Time", "0.875"},
            {"Backup", "ToDir", "/srv/backup/"},
            {"Backup", "State1", "1"},
            {"Compact", "State2", "1"},
            {"Form", "State3", "0"},
            {"Form", "ShutdownText", "Program Only"},
            {"Form", "Time", "0.75"},
            {"Compact", "Defrag", "cbChecked"},
            {"Backup", "Zip", "cbChecked"},
            {"Compact", "dialogfiles", "/srv/data/Sales.mdb|/srv/data/Stock.mdb"},
            {"Backup", "dialogfiles", "/srv/data/a.mdb|/srv/data/b.mdb|/srv/data/c.mdb"},
        };
        for (const auto& [section, key, value] : prepared)
            doc.setValue(section, key, value);
        writeStore(home.path(), doc);
        const tarnwick::IniDocument before = readStore(home.path());

        runOnce(home.path(), SIGTERM);
        const tarnwick::IniDocument after = readStore(home.path());
        for (const QString& section : before.childKeys(""))
            for (const QString& key : before.valueNames(section))
                QCOMPARE(after.value(section, key), before.value(section, key));
        for (const auto& [section, key, value] : prepared)
            QCOMPARE(after.value(section, key), QString::fromUtf8(value));
    }

    void programOnlyClosesAtItsTimeAndSaves() {
        // The shutdown switch survives a restart only with its time at midnight, so the
        // program is started just before midnight on a faked clock.
        const QString faketime = QStandardPaths::findExecutable("faketime");
        if (faketime.isEmpty())
            QSKIP("faketime is not installed (scripts/install-deps.sh installs it)");
        QTemporaryDir home;
        tarnwick::IniDocument doc;
        doc.setValue("Form", "State3", "1");
        doc.setValue("Form", "ShutdownText", "Program Only");
        doc.setValue("Form", "Time", "0");
        doc.setValue("Messages", "Backup", "kept");
        QVERIFY(QDir().mkpath(home.path() + "/config/Tarnwick"));
        writeStore(home.path(), doc);

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1"); // timers keep real time
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(faketime, {"2026-12-04 23:59:57", QStringLiteral(TARNWICK_BINARY)});
        QVERIFY(p.waitForStarted());
        QVERIFY2(p.waitForFinished(30000), "the program did not close at its shutdown time");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const tarnwick::IniDocument after = readStore(home.path());
        QCOMPARE(after.value("Form", "State3"), QStringLiteral("1"));
        QCOMPARE(after.value("Messages", "Backup"), QStringLiteral("kept"));
        QVERIFY(after.value("Form", "Width2").has_value()); // everything was saved
    }

    void terminationSignalsCloseTheWindowNormally_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void terminationSignalsCloseTheWindowNormally() {
        QFETCH(int, signal);
        QProcess p;
        p.setProgram(QStringLiteral(TARNWICK_BINARY));
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start();
        QVERIFY(p.waitForStarted());
        // Give it time to build its window and enter the event loop.
        QTest::qWait(700);
        QCOMPARE(p.state(), QProcess::Running);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
