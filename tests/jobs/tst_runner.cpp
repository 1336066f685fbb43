// tarnwick-run: the jobs with the saved settings and no window; exit codes, overlapping runs,
// and no GUI library linked.
#include "jobs/joblock.h"
#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "tests/common/privatehome.h"

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

    // A run of the same job elsewhere: reported at once, or waited for.
    void overlappingRuns() {
        tarnwick::jobs::JobLock other("backup");
        QVERIFY(other.tryLock());
        QByteArray output;
        QCOMPARE(run({"backup"}, &output), 75);
        QVERIFY(output.startsWith("Backup not started: the job is already running  "));
        std::unique_ptr<QProcess> waiting(start({"backup", "--wait", "100"}));
        QVERIFY(waiting->waitForStarted());
        QVERIFY(!waiting->waitForFinished(500)); // still waiting for the lock
        other.unlock();
        QVERIFY(waiting->waitForFinished(120000));
        QCOMPARE(waiting->exitCode(), 1); // One.mdb is gone since the last case
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
