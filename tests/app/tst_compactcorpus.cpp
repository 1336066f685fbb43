// The repair-and-compact job through the real window and database component on copies of the
// corpus: "3.6" on Jet 4 files, "3.5" on Jet 3 files, "12.0" on Access 2007+ files, one copy
// held by another program (an .accdb through its .laccdb).
#include "app/mainwindow.h"
#include "platform/formatsettings.h"
#include "platform/inikeystore.h"
#include "platform/timesource.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "tests/common/privatehome.h"

class TestCompactCorpus : public QObject {
    Q_OBJECT
    tarnwick::ManualTimeSource clock{QDateTime(QDate(2026, 12, 7), QTime(2, 59))};
    QString corpus, jetpeer;

private slots:
    void initTestCase() {
        usePrivateHome();
        QApplication::setQuitOnLastWindowClosed(false);
        tarnwick::TimeSource::install(&clock);
        corpus = qEnvironmentVariable("TARNWICK_TESTDATA") + "/jet";
        if (!QDir(corpus).exists()) QSKIP("the corpus (../shared/testdata) is not there");
        jetpeer = qEnvironmentVariable("TARNWICK_TESTDATA") + "/../tools/jetpeer/jetpeer";
    }
    void cleanupTestCase() { tarnwick::TimeSource::install(nullptr); }

    void compactAtItsAlarm_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("12.0") << "12.0"
                              << QStringList{"V2007/testV2007.accdb", "V2010/testV2010.accdb",
                                             "generated/gen2016-s606-3m.accdb",
                                             "V2010/complexDataTestV2010.accdb"};
        QTest::newRow("3.6") << "3.6"
                             << QStringList{"V2000/testV2000.mdb", "V2000/delTestV2000.mdb",
                                            "V2000/overflowTestV2000.mdb", "V2000/test2V2000.mdb"};
        QTest::newRow("3.5") << "3.5"
                             << QStringList{"V1997/testV1997.mdb", "V1997/delTestV1997.mdb",
                                            "V1997/overflowTestV1997.mdb", "V1997/test2V1997.mdb"};
    }
    void compactAtItsAlarm() {
        QFETCH(QString, version);
        QFETCH(QStringList, files);
        QFile::remove(tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER));
        QTemporaryDir tmp;
        QStringList copies;
        for (const QString& f : files) {
            copies << tmp.filePath(QFileInfo(f).fileName());
            QVERIFY(QFile::copy(corpus + '/' + f, copies.last()));
            QVERIFY(QFile::setPermissions(copies.last(), QFile::ReadOwner | QFile::WriteOwner));
        }
        // The last copy is open in another program; Access 2007 and later hold the lock file.
        QString holding = copies.last();
        if (holding.endsWith(".accdb")) {
            holding.replace(".accdb", ".laccdb");
            QFile lock(holding);
            QVERIFY(lock.open(QIODevice::WriteOnly));
        }
        const int held = ::open(QFile::encodeName(holding).constData(), O_RDWR);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        const QByteArray heldBytes = [&] {
            QFile f(copies.last());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();

        MainWindow form;
        form.compactFiles->SetDialogFiles(copies);
        form.compactFiles->SetText(copies.first());
        form.engineVersion->SetText(version);
        form.ComboBox1Change(form.engineVersion); // as the user picks it
        form.compactTime->SetTimeValue(3.0 / 24);
        form.compactSwitch->SetStateOn(true);
        clock.set(QTime(2, 59));
        form.compactClock->TimerTick(form.compactClock);
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        clock.set(QTime(3, 0));
        form.compactClock->TimerTick(form.compactClock);
        QVERIFY(finished.wait(600000));
        ::close(held);

        const QString log = form.compactLog->toPlainText();
        const QString s = "  " + tarnwick::FormatSettings::current().timestamp(clock.now());
        QVERIFY2(log.contains("Repair/Compact " + version + " was started for " + copies.last() +
                              " at" + s),
                 qPrintable(log));
        QVERIFY(log.contains("Repair/Compact " + version + " was Unsuccessful for " +
                             copies.last() + s));
        QFile f(copies.last());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), heldBytes);
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(log.contains("Repair/Compact " + version + " was Completed Successful for " +
                                  copies[i] + " at" + s),
                     qPrintable(log));
            if (!QFile::exists(jetpeer)) continue;
            QProcess peer;
            peer.start(jetpeer, {"verify", copies[i]});
            QVERIFY(peer.waitForFinished(300000));
            if (peer.exitCode() == 3) QSKIP("jetpeer needs Java and its libraries");
            QVERIFY2(peer.exitCode() == 0, peer.readAll().constData());
        }
        QCOMPARE(form.compactStatus->Caption(),
                 QStringLiteral("Data Repair/Compact Controls -Actived"));
    }
};

QTEST_MAIN(TestCompactCorpus)
#include "tst_compactcorpus.moc"
