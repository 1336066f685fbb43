// The real program, started as a user or the desktop would start it.
#include <QProcess>
#include <QTest>

#include <csignal>

class TestProgram : public QObject {
    Q_OBJECT
private slots:
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
