// The single-instance guard with real processes: the program itself as the second copy.
#include "sysutil/widgets/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>

#include <sys/stat.h>

#include "tests/common/privatehome.h"

namespace {

QString runtimeDir() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

// The process holding the kernel lock on a name's lock file, as /proc/locks shows it; 0 for none.
// Read, never taken: taking it to look would race with the copies under test.
qint64 holderOf(const QString& name) {
    struct stat st {};
    if (::stat(QFile::encodeName(runtimeDir() + '/' + name + ".lock").constData(), &st) != 0)
        return 0;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) return 0;
    // "1: FLOCK  ADVISORY  WRITE 4711 00:2a:1234 0 EOF": the pid, then device:inode.
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "FLOCK" && f[5].endsWith(":" + QByteArray::number(st.st_ino)))
            return f[4].toLongLong();
    }
    return 0;
}

// Starts a copy of the program (or of a renamed copy of it) with this test's private folders.
void start(QProcess& p, const QString& program = QStringLiteral(TARNWICK_BINARY)) {
    p.setProgram(program);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start();
    QVERIFY(p.waitForStarted());
}

// Whether the process has its SIGTERM handler in place, i.e. has come far enough to end
// cleanly on it.
bool catchesSigterm(const QProcess& p) {
    QFile f(QStringLiteral("/proc/%1/status").arg(p.processId()));
    if (!f.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1));
    return false;
}

// Ends a helper (X server, window manager) or, once it can end cleanly, a copy of the program.
void endCleanly(QProcess& p, bool program = true) {
    if (p.state() == QProcess::NotRunning) return;
    if (program)
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(p) || p.state() == QProcess::NotRunning, 30000);
    p.terminate();
    if (!p.waitForFinished(20000)) p.kill();
    p.waitForFinished(5000);
}

// A later start ends with 0 at once.
void secondStartEnds() {
    QProcess second;
    start(second);
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
}

// Waits until an X probe succeeds. Unlike QTRY_VERIFY, which asks once more after success,
// one passing probe is enough: a probe can fail on its own, e.g. when its X tool cannot start.
template <typename Probe> bool eventually(Probe probe, int ms = 30000) {
    return QTest::qWaitFor(probe, ms);
}

// Output of a short X tool run, or empty.
QByteArray run(const QString& tool, const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(tool, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return p.readAllStandardOutput();
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { usePrivateHome(); }

    void defaultTitle_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << "/usr/bin/tarnwick"
                               << "Tarnwick";
        QTest::newRow("dots and capitals") << "/opt/NIGHTJOB.EXE"
                                           << "Nightjob";
        QTest::newRow("two dots") << "tarn.wick.bin"
                                  << "Tarn";
    }
    void defaultTitle() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(TPreviousInstance::DefaultTitle(path), title);
    }

    // This test is the first copy; the program started second brings its window forward from
    // minimised, then from behind another window, and ends with 0 each time.
    void secondStartBringsTheFirstForward() {
        TPreviousInstance first(QStringLiteral("Tarnwick"));
        QVERIFY(!first.Exists());
        QWidget window;
        TSingleInstance guard(&window);
        window.show();
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        secondStartEnds();
        QTRY_VERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());

        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        secondStartEnds();
        QTRY_VERIFY(window.isActiveWindow());
    }

    // A copy killed outright leaves its lock file and socket behind; one killed while starting
    // may leave an empty lock file (older copies wrote it after making it). The next start takes
    // the name either way.
    void leftoversDoNotKeepTheNextOut_data() {
        QTest::addColumn<bool>("killARunningCopy");
        QTest::newRow("killed copy") << true;
        QTest::newRow("empty lock file") << false;
    }
    void leftoversDoNotKeepTheNextOut() {
        QFETCH(bool, killARunningCopy);
        if (killARunningCopy) {
            QProcess crashed;
            start(crashed);
            // Killed once it listens: it takes the name first, then opens its socket.
            QTRY_VERIFY_WITH_TIMEOUT(holderOf("Tarnwick") == crashed.processId() &&
                                         QFile::exists(runtimeDir() + "/Tarnwick.socket"),
                                     30000);
            crashed.kill();
            QVERIFY(crashed.waitForFinished(10000));
            QVERIFY(QFile::exists(runtimeDir() + "/Tarnwick.socket"));
        } else {
            QFile empty(runtimeDir() + "/Tarnwick.lock");
            QVERIFY(empty.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }
        QVERIFY(QFile::exists(runtimeDir() + "/Tarnwick.lock"));

        QProcess next;
        start(next);
        // Once it holds the name, a third start ends while it keeps running.
        QTRY_VERIFY_WITH_TIMEOUT(holderOf("Tarnwick") == next.processId(), 30000);
        secondStartEnds();
        QCOMPARE(next.state(), QProcess::Running);
        endCleanly(next);
        QCOMPARE(next.exitStatus(), QProcess::NormalExit);
        QCOMPARE(next.exitCode(), 0);
        QCOMPARE(holderOf("Tarnwick"), 0);
        QVERIFY(!QFile::exists(runtimeDir() + "/Tarnwick.socket"));
    }

    void differentNamesBothRun() {
        QTemporaryDir dir;
        const QString renamed = dir.filePath("nightjob");
        QVERIFY(QFile::copy(QStringLiteral(TARNWICK_BINARY), renamed));
        QProcess a, b;
        start(a);
        start(b, renamed);
        QTRY_VERIFY_WITH_TIMEOUT(
            holderOf("Tarnwick") == a.processId() && holderOf("Nightjob") == b.processId(), 30000);
        QCOMPARE(a.state(), QProcess::Running);
        QCOMPARE(b.state(), QProcess::Running);
        endCleanly(a);
        endCleanly(b);
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
    }

    // Under a real X server with a window manager: the second start restores the minimised
    // first copy and raises it over another window, as the window manager sees it.
    void realWindowUnderWindowManager() {
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
        QProcess xvfb;
        // Without -noreset the server resets whenever its last client leaves, refusing
        // connections meanwhile: a probe that succeeded could be followed by one that fails.
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                            "-noreset"});
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning, 30000);
        const QByteArray display = ":" + xvfb.readLine().trimmed();
        QVERIFY2(display.size() > 1, "Xvfb did not start");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        // The server takes clients some time after it names its display; an X client reaching it
        // prints the root window's property list (empty output: no connection yet).
        QVERIFY2(
            eventually(
                [&] {
                    return !run("xprop", {"-root", "-notype", "_NET_SUPPORTED"}, env).isEmpty();
                },
                60000),
            "the X server never took a client");
        QProcess wm;
        wm.setProcessEnvironment(env);
        wm.start("openbox", {"--sm-disable"});
        // Says why when the window manager never announces itself (seen under load). Openbox
        // writes its messages to a log in the cache folder, not to its standard error.
        auto wmState = [&] {
            QFile log(qEnvironmentVariable("XDG_CACHE_HOME") + "/openbox/openbox.log");
            const QByteArray logged = log.open(QIODevice::ReadOnly) ? log.readAll() : "no log";
            return QByteArray(wm.state() == QProcess::Running ? "openbox running"
                                                              : "openbox ended with status ") +
                   (wm.state() == QProcess::Running ? QByteArray()
                                                    : QByteArray::number(wm.exitCode())) +
                   ", display " + display + ": " + wm.readAllStandardError() + logged.trimmed() +
                   "; Xvfb " + (xvfb.state() == QProcess::Running ? "running" : "ended") + ": " +
                   xvfb.readAllStandardError().right(2000).trimmed();
        };
        // Should openbox still end at once, unable to open the display, it is started again.
        QVERIFY2(eventually(
                     [&] {
                         if (wm.state() == QProcess::NotRunning)
                             wm.start("openbox", {"--sm-disable"});
                         return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, env)
                             .contains("window id");
                     },
                     60000),
                 wmState().constData());

        auto windowOf = [&](const QString& name) {
            return run("xdotool", {"search", "--onlyvisible", "--name", name}, env)
                .trimmed()
                .split('\n')
                .value(0);
        };
        auto topmost = [&] {
            const QByteArray stacking =
                run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}, env).trimmed();
            return stacking.mid(stacking.lastIndexOf(' ') + 1).toULongLong(nullptr, 16);
        };
        auto startOn = [&](QProcess& p, const QString& program) {
            p.setProcessEnvironment(env);
            start(p, program);
        };
        QProcess first, other;
        startOn(first, QStringLiteral(TARNWICK_BINARY));
        QByteArray id;
        QVERIFY(eventually([&] { return !(id = windowOf("^Tarnwick Unattented")).isEmpty(); }));

        // Asked again until the window manager, which may not manage the window yet, obeys.
        auto minimise = [&] {
            run("xdotool", {"windowminimize", id}, env);
            return run("xprop", {"-id", id, "WM_STATE"}, env).contains("Iconic");
        };
        QVERIFY(eventually(minimise));
        QProcess second;
        startOn(second, QStringLiteral(TARNWICK_BINARY));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(eventually([&] {
            return run("xprop", {"-id", id, "WM_STATE"}, env).contains("Normal");
        }));

        // Another program's window goes over it; the next start brings it back on top.
        QTemporaryDir dir;
        QVERIFY(QFile::copy(QStringLiteral(TARNWICK_BINARY), dir.filePath("nightjob")));
        startOn(other, dir.filePath("nightjob"));
        QVERIFY(eventually([&] {
            return windowOf("^Tarnwick Unattented").size() > 0 && topmost() != id.toULongLong();
        }));
        QProcess third;
        startOn(third, QStringLiteral(TARNWICK_BINARY));
        QVERIFY(third.waitForFinished(30000));
        QCOMPARE(third.exitCode(), 0);
        QVERIFY(eventually([&] { return topmost() == id.toULongLong(); }));

        endCleanly(first);
        endCleanly(other);
        endCleanly(wm, false);
        endCleanly(xvfb, false);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
