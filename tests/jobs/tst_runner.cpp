// tarnwick-run: the jobs with the saved settings and no window; exit codes, overlapping runs,
// and no GUI library linked.
#include "jobs/joblock.h"
#include "platform/registry.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "tests/common/privatehome.h"

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

class TestRunner : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    static void store(const QString& section, const QString& key, const QString& value) {
        tarnwick::Registry reg;
        QVERIFY(reg.openKey(section, true));
        QVERIFY(reg.writeString(key, value));
        QVERIFY(reg.flush());
    }
    QString file(const QString& name, const QByteArray& bytes) {
        QFile f(tmp.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {};
        return f.fileName();
    }
    static QProcess* start(const QStringList& args) {
        auto* p = new QProcess;
        p->start(QStringLiteral(TARNWICK_RUN), args);
        return p;
    }
    static int run(const QStringList& args, QByteArray* output = nullptr) {
        std::unique_ptr<QProcess> p(start(args));
        if (!p->waitForFinished(120000)) return -1;
        if (output) *output = p->readAllStandardOutput();
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QFile::remove(tarnwick::Registry::storePath(tarnwick::reg::CURRENT_USER));
        QVERIFY(tmp.isValid());
        QVERIFY(QDir(tmp.path()).mkpath("out"));
    }

    void linksNoGui() {
        QProcess p;
        p.start("readelf", {"-d", TARNWICK_RUN});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray needed = p.readAllStandardOutput();
        QVERIFY(needed.contains("libQt6Core"));
        QVERIFY(!needed.contains("libQt6Widgets") && !needed.contains("libQt6Gui"));
    }

    void backupExitCodes() {
        QCOMPARE(run({"backup"}), 2); // nothing picked
        const QString a = file("One.mdb", "first"), b = file("Two.mdb", "second");
        store("Backup", "filenames", b);
        store("Backup", "dialogfiles", a + '|' + b);
        store("Backup", "ToDir", tmp.filePath("out"));
        store("Backup", "Zip", "cbChecked");
        QByteArray output;
        QCOMPARE(run({"backup"}, &output), 0);
        QVERIFY2(output.startsWith("Backup Successfully Zipped 2 Files  "), output.constData());
        const QStringList made = QDir(tmp.filePath("out")).entryList({"*.Zip"}, QDir::Files);
        QCOMPARE(made.size(), 2);
        for (const QString& m : made)
            QCOMPARE(QProcess::execute("unzip", {"-tq", tmp.filePath("out/" + m)}), 0);

        store("Backup", "Zip", "cbUnchecked");
        QCOMPARE(run({"backup"}, &output), 0);
        QVERIFY(output.startsWith("Backup Successful! for 2 Files  "));
        QCOMPARE(QFile(tmp.filePath("out/One.mdb")).size(), 5);

        QVERIFY(QFile::remove(a));
        QCOMPARE(run({"backup"}, &output), 1);
        QVERIFY(output.startsWith("Backup Unsuccessful  "));
        QCOMPARE(run({"neither"}), 2);
    }

    void compactOfAnUnreadableFileFails() {
        store("Compact", "Hx1", file("x.mdb", "database"));
        store("Compact", "Version", "3.6");
        QByteArray output;
        QCOMPARE(run({"compact"}, &output), 1);
        QVERIFY(output.contains("Repair/Compact 3.6 was started for "));
        QVERIFY(output.contains("Repair/Compact 3.6 was Unsuccessful for "));
    }

    // While another file job holds the lock of all file jobs (as the window's backup would), a
    // compaction waits, says so and for which job, and runs once that one has ended.
    void compactionWaitsForTheBackup() {
        store("Compact", "Hx1", file("y.mdb", "database"));
        store("Compact", "Version", "3.6");
        tarnwick::jobs::JobLock files("files");
        QVERIFY2(files.tryLock(), qPrintable(files.error()));
        QVERIFY(files.setHolder("backup"));
        std::unique_ptr<QProcess> p(start({"compact"}));
        QByteArray said, output;
        QTRY_VERIFY_WITH_TIMEOUT((said += p->readAllStandardError())
                                     .contains("The repair and compaction waits for the backup "
                                               "to end"),
                                 60000);
        output += p->readAllStandardOutput();
        QVERIFY2(!output.contains("was started for "), output.constData());
        files.unlock();
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitCode(), 1); // not a database
        output += p->readAllStandardOutput();
        QVERIFY2(output.contains("Repair/Compact 3.6 was started for "), output.constData());
    }

    // Two runs of the same job: while the first one runs, a second one reports that the job
    // is already running, and one with --wait says it waits and runs after the first one. The
    // first run is held deterministically: its standard output is a FIFO with a one-page buffer
    // that the test reads only when it lets the run go on, and its lines are longer than that.
    void overlappingRuns() {
        QStringList databases;
        for (int i = 0; i < 12; ++i)
            databases << file(QString(200, QChar('a' + i)) + ".mdb", "not a database");
        store("Compact", "dialogfiles", databases.join('|'));
        store("Compact", "Version", "3.6");

        const QByteArray fifo = QFile::encodeName(tmp.filePath("first.out"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        QVERIFY(::fcntl(reader, F_SETPIPE_SZ, 4096) > 0);
        const auto readable = [reader] {
            pollfd p{reader, POLLIN, 0};
            return ::poll(&p, 1, 100) > 0 && (p.revents & POLLIN);
        };

        QProcess first;
        first.setStandardOutputFile(QFile::decodeName(fifo));
        first.start(QStringLiteral(TARNWICK_RUN), {"compact"});
        QVERIFY(first.waitForStarted());
        // Its first line comes once it holds the job; it cannot end before the test reads.
        QTRY_VERIFY_WITH_TIMEOUT(readable(), 60000);

        QByteArray output;
        QCOMPARE(run({"compact"}, &output), 75);
        QVERIFY2(output.startsWith("Repair/Compact not started: the job is already running  "),
                 output.constData());

        QProcess waiting;
        waiting.start(QStringLiteral(TARNWICK_RUN), {"compact", "--wait", "300"});
        QVERIFY(waiting.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += waiting.readAllStandardError()).contains("waiting up to"),
                                 60000);
        QCOMPARE(waiting.state(), QProcess::Running);

        // Lets the first run go on to its end.
        QByteArray firstOutput;
        const auto drain = [&] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(reader, buffer, sizeof buffer)) > 0)
                firstOutput.append(buffer, n);
            return n == 0; // every writer is gone
        };
        for (QDeadlineTimer deadline(120000); !deadline.hasExpired();) {
            if (drain()) break;
            if (first.waitForFinished(50)) {
                drain();
                break;
            }
        }
        ::close(reader);
        QVERIFY(first.state() == QProcess::NotRunning || first.waitForFinished(120000));
        QCOMPARE(first.exitCode(), 1); // none of them is a database
        QCOMPARE(firstOutput.count("was started for "), 12);
        QVERIFY(waiting.waitForFinished(120000));
        QCOMPARE(waiting.exitCode(), 1);
        QCOMPARE(waiting.readAllStandardOutput().count("was started for "), 12);
        store("Compact", "dialogfiles", "");
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
