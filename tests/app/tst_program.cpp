// The real program, started as a user or the desktop would start it.
#include "platform/inidocument.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// A field of /proc/PID/status as a number, e.g. the caught-signal mask "SigCgt" (hex).
quint64 statusField(qint64 pid, const QByteArray& name, int base) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().toULongLong(nullptr, base);
    return 0;
}

// CPU time used so far, in clock ticks.
quint64 cpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toULongLong() + fields[12].toULongLong() : 0;
}

// The program's readiness for a signal: its handler is installed, which happens before the
// window is built. However loaded the machine, no fixed wait.
bool waitUntilCatching(QProcess& p, int sig) {
    const QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired() && p.state() == QProcess::Running) {
        if (statusField(p.processId(), "SigCgt", 16) & (quint64(1) << (sig - 1))) return true;
        QTest::qWait(5);
    }
    return false;
}

// Start-up is over when the program stops using the processor for a while.
bool waitUntilIdle(QProcess& p) {
    const QDeadlineTimer deadline(120000);
    quint64 last = cpuTicks(p.processId());
    int quiet = 0;
    while (!deadline.hasExpired() && p.state() == QProcess::Running) {
        QTest::qWait(50);
        const quint64 now = cpuTicks(p.processId());
        quiet = now == last ? quiet + 1 : 0;
        last = now;
        if (quiet >= 6) return true;
    }
    return false;
}

// The clock-faking library that the faketime command preloads.
QString fakeTimeLibrary() {
    if (QStandardPaths::findExecutable("faketime").isEmpty()) return {};
    for (const QString& dir : {QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime"),
                               QStringLiteral("/usr/lib/aarch64-linux-gnu/faketime"),
                               QStringLiteral("/usr/lib/faketime")})
        if (QFile::exists(dir + "/libfaketime.so.1")) return dir + "/libfaketime.so.1";
    return {};
}

// The program under a clock that reads `clockFile` (offsets written by setFakeClock) while its
// timers keep real time.
QProcessEnvironment fakeTimeEnvironment(const QString& home, const QString& library,
                                        const QString& clockFile) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("LD_PRELOAD", library);
    env.insert("FAKETIME_TIMESTAMP_FILE", clockFile);
    env.insert("FAKETIME_CACHE_DURATION", "1"); // read again every second
    env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    return env;
}

// Sets the faked clock to `t` on 4 December 2026.
bool setFakeClock(const QString& clockFile, QTime t) {
    const qint64 offset =
        QDateTime(QDate(2026, 12, 4), t).toSecsSinceEpoch() - QDateTime::currentSecsSinceEpoch();
    QFile f(clockFile);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(QByteArray::number(offset).prepend(offset < 0 ? "" : "+") + "s\n") > 0;
}

// An X server on a display of its own, ended when the object goes.
struct XServer {
    QProcess process;
    QByteArray display;
    ~XServer() {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!process.waitForFinished(20000)) process.kill();
        process.waitForFinished(5000);
    }
    // False when it did not start or never took a client.
    bool start() {
        // Without -noreset the server resets whenever its last client leaves.
        process.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                               "-noreset"});
        if (!QTest::qWaitFor([&] { return process.canReadLine(); }, 30000)) return false;
        display = ":" + process.readLine().trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        // The server takes clients a little after it names its display.
        return QTest::qWaitFor(
            [&] {
                QProcess probe;
                probe.setProcessEnvironment(env);
                probe.start("xprop", {"-root", "-notype", "_NET_SUPPORTED"});
                return probe.waitForFinished(10000) && probe.exitCode() == 0;
            },
            60000);
    }
};

} // namespace

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
        // At once: the signal meets the program while it builds its window.
        QVERIFY(waitUntilCatching(p, sig));
        ::kill(pid_t(p.processId()), sig);
        QVERIFY(p.waitForFinished(120000));
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
            {"Backup", "Keep", "3"},
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
        // The program runs on a faked clock: an hour before midnight while it starts, however
        // long that takes, then just before midnight.
        const QString faketime = fakeTimeLibrary();
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
        const QString clockFile = home.path() + "/faketime";
        const auto setClock = [&](QTime t) { QVERIFY(setFakeClock(clockFile, t)); };
        setClock(QTime(23, 0));

        QProcess p;
        p.setProcessEnvironment(fakeTimeEnvironment(home.path(), faketime, clockFile));
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(TARNWICK_BINARY));
        QVERIFY(p.waitForStarted());
        QVERIFY(waitUntilCatching(p, SIGTERM));
        QVERIFY(waitUntilIdle(p));
        setClock(QTime(23, 59, 58));
        QVERIFY2(p.waitForFinished(120000), "the program did not close at its shutdown time");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const tarnwick::IniDocument after = readStore(home.path());
        QCOMPARE(after.value("Form", "State3"), QStringLiteral("1"));
        QCOMPARE(after.value("Messages", "Backup"), QStringLiteral("kept"));
        QVERIFY(after.value("Form", "Width2").has_value()); // everything was saved
    }

    // The real window on an X server, its clock an hour past the backup's alarm: a backup last
    // made the day before runs once as soon as the window is up, saying what it catches up; one
    // made after today's alarm is not made again.
    void missedBackupIsCaughtUpAtStart_data() {
        QTest::addColumn<QString>("lastRun");
        QTest::addColumn<bool>("runs");
        QTest::newRow("last run yesterday") << "2026-12-03T02:00:05" << true;
        QTest::newRow("last run after today's alarm") << "2026-12-04T02:00:05" << false;
    }
    void missedBackupIsCaughtUpAtStart() {
        QFETCH(QString, lastRun);
        QFETCH(bool, runs);
        const QString faketime = fakeTimeLibrary();
        if (faketime.isEmpty())
            QSKIP("faketime is not installed (scripts/install-deps.sh installs it)");
        for (const char* tool : {"Xvfb", "xprop"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QTemporaryDir home;
        const QString runtime = home.path() + "/runtime", out = home.path() + "/out";
        QVERIFY(QDir().mkpath(runtime) && QDir().mkpath(out));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString database = home.path() + "/Sales.mdb";
        {
            QFile f(database);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("database") == 8);
        }
        tarnwick::IniDocument doc;
        doc.setValue("Backup", "filenames", database);
        doc.setValue("Backup", "ToDir", out);
        doc.setValue("Backup", "Zip", "cbUnchecked");
        doc.setValue("Backup", "Time", QString::number(2.0 / 24));
        doc.setValue("Backup", "State1", "1");
        doc.setValue("Backup", "CatchUp", "1");
        doc.setValue("Backup", "LastRun", lastRun);
        QVERIFY(QDir().mkpath(home.path() + "/config/Tarnwick"));
        writeStore(home.path(), doc);
        const QString clockFile = home.path() + "/faketime";
        QVERIFY(setFakeClock(clockFile, QTime(3, 0)));
        XServer x;
        QVERIFY2(x.start(), "Xvfb did not start");

        QProcess p;
        QProcessEnvironment env = fakeTimeEnvironment(home.path(), faketime, clockFile);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", x.display);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(TARNWICK_BINARY));
        QVERIFY(p.waitForStarted());
        QVERIFY(waitUntilCatching(p, SIGTERM));
        // No alarm falls for almost a day: a copy now is the catch-up.
        if (runs) QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + "/Sales.mdb"), 120000);
        QVERIFY(waitUntilIdle(p));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const tarnwick::IniDocument after = readStore(home.path());
        const QString lines = after.value("Messages", "Backup").value_or(QString());
        QCOMPARE(lines.count("Backup started late: catch-up of the run missed at "), runs ? 1 : 0);
        QCOMPARE(lines.count("Backup Successful"), runs ? 1 : 0);
        QCOMPARE(QDir(out).entryList({"*.mdb"}, QDir::Files).size(), runs ? 1 : 0);
        const QString saved = after.value("Backup", "LastRun").value_or(QString());
        if (runs)
            QVERIFY2(saved.startsWith("2026-12-04T03:"), qPrintable(saved));
        else
            QCOMPARE(saved, lastRun);
    }

    void terminationSignalsCloseTheWindowNormally_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("duringStartUp");
        QTest::newRow("SIGTERM during start-up") << int(SIGTERM) << true;
        QTest::newRow("SIGINT during start-up") << int(SIGINT) << true;
        QTest::newRow("SIGTERM when running") << int(SIGTERM) << false;
        QTest::newRow("SIGINT when running") << int(SIGINT) << false;
    }
    void terminationSignalsCloseTheWindowNormally() {
        QFETCH(int, signal);
        QFETCH(bool, duringStartUp);
        QTemporaryDir home;
        QProcess p;
        p.setProgram(QStringLiteral(TARNWICK_BINARY));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/config");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start();
        QVERIFY(p.waitForStarted());
        QVERIFY(waitUntilCatching(p, signal));
        if (!duringStartUp) QVERIFY(waitUntilIdle(p));
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(readStore(home.path()).keyExists("Form"), "the window's settings were not saved");
    }

    // A plain-copy backup at its alarm into a folder that is missing: nobody is asked, the run
    // fails, and a termination signal then ends the program with the line saved.
    void failingBackupAtItsAlarmAsksNobody() {
        const QString faketime = fakeTimeLibrary();
        if (faketime.isEmpty())
            QSKIP("faketime is not installed (scripts/install-deps.sh installs it)");
        QTemporaryDir home;
        const QString runtime = home.path() + "/runtime";
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString database = home.path() + "/Sales.mdb";
        {
            QFile f(database);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("database") == 8);
        }
        tarnwick::IniDocument doc;
        doc.setValue("Backup", "filenames", database);
        doc.setValue("Backup", "ToDir", home.path() + "/missing");
        doc.setValue("Backup", "Zip", "cbUnchecked");
        doc.setValue("Backup", "Time", QString::number(2.0 / 24));
        doc.setValue("Backup", "State1", "1");
        QVERIFY(QDir().mkpath(home.path() + "/config/Tarnwick"));
        writeStore(home.path(), doc);
        const QString clockFile = home.path() + "/faketime";
        const auto setClock = [&](QTime t) { QVERIFY(setFakeClock(clockFile, t)); };
        setClock(QTime(1, 0));

        QProcess p;
        QProcessEnvironment env = fakeTimeEnvironment(home.path(), faketime, clockFile);
        env.insert("XDG_RUNTIME_DIR", runtime);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(TARNWICK_BINARY));
        QVERIFY(p.waitForStarted());
        QVERIFY(waitUntilCatching(p, SIGTERM));
        QVERIFY(waitUntilIdle(p));
        setClock(QTime(1, 59, 58));
        // The job's lock file is made when the job starts; then it ends, or waits for nobody.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime + "/tarnwick/backup.lock"), 120000);
        QVERIFY(waitUntilIdle(p));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY2(p.waitForFinished(60000), "a termination signal did not end the program");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(home.path() + "/missing"));
        const QString lines =
            readStore(home.path()).value("Messages", "Backup").value_or(QString());
        QVERIFY2(lines.contains("Backup Unsuccessful  "), qPrintable(lines));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
