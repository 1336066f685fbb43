// The real program, started as a user or the desktop would start it.
#include "platform/inidocument.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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

        const QList<std::array<const char*, 3>> prepared = {
            {"Messages", "Backup", "4/12/2026 02:00:01 backed up|second line"},
            {"Messages", "Compact", "compacted a.mdb"},
            {"Compact", "Version", "3.5"},
            {"Form", "ShutdownText", "Program Only"},
            {"Compact", "Defrag", "cbChecked"},
            {"Backup", "Zip", "cbChecked"},
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
