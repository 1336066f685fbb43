// tarnwick-run: the jobs with the saved settings and no window; exit codes, overlapping runs,
// and no GUI library linked.
#include "jet/check.h"
#include "jet/database.h"
#include "jet/header.h"
#include "jet/tabledef.h"
#include "jet/usagemap.h"
#include "jobs/joblock.h"
#include "platform/filename.h"
#include "platform/inikeystore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "tests/common/privatehome.h"

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class TestRunner : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    static void store(const QString& section, const QString& key, const QString& value) {
        tarnwick::IniKeyStore reg;
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
    static int run(const QStringList& args, QByteArray* output = nullptr,
                   QByteArray* errors = nullptr) {
        std::unique_ptr<QProcess> p(start(args));
        if (!p->waitForFinished(120000)) return -1;
        if (output) *output = p->readAllStandardOutput();
        if (errors) *errors = p->readAllStandardError();
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QFile::remove(tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER));
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
        // Under the failure line, why.
        QVERIFY2(output.contains("\n  Reason: " + a.toUtf8() + ": the file is missing\n"),
                 output.constData());
        QCOMPARE(run({"neither"}), 2);
    }

    // A name that is not UTF-8 goes through the settings file and is backed up as it is.
    void nameNotUtf8IsBackedUp() {
        const QByteArray name = QFile::encodeName(tmp.path()) + "/b\xff\xe9.mdb";
        QFile f;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0 && f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        QCOMPARE(f.write("bytes"), 5);
        f.close();
        QVERIFY(QDir(tmp.path()).mkpath("names"));
        store("Backup", "filenames", tarnwick::fileNameFromBytes(name));
        store("Backup", "dialogfiles", "");
        store("Backup", "ToDir", tmp.filePath("names"));
        store("Backup", "Zip", "cbUnchecked");
        QByteArray output;
        QCOMPARE(run({"backup"}, &output), 0);
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(tmp.filePath("names")) + "/b\xff\xe9.mdb", &st), 0);
        QCOMPARE(st.st_size, 5);
    }

    // Settings that cannot be read are said so, not taken for nothing picked.
    void unreadableSettingsAreSaid() {
        const QString path = tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER);
        const QString kept = path + ".kept";
        QFile::remove(kept);
        QVERIFY(!QFile::exists(path) || QFile::rename(path, kept));
        QVERIFY(QDir().mkdir(path)); // a folder in its place: unreadable, whoever runs the test
        QByteArray errors;
        const int status = run({"backup"}, nullptr, &errors);
        QVERIFY(QDir().rmdir(path));
        QVERIFY(!QFile::exists(kept) || QFile::rename(kept, path));
        QCOMPARE(status, 2);
        QCOMPARE(errors, "The saved settings cannot be read: cannot read " + path.toUtf8() +
                             ": not a regular file\n");
    }

    void compactOfAnUnreadableFileFails() {
        store("Compact", "Hx1", file("x.mdb", "database"));
        store("Compact", "Version", "3.6");
        QByteArray output;
        QCOMPARE(run({"compact"}, &output), 1);
        QVERIFY(output.contains("Repair/Compact 3.6 was started for "));
        QVERIFY(output.contains("Repair/Compact 3.6 was Unsuccessful for "));
    }

    // --catch-up runs the backup only when its alarm went off after LastRun, says which run it
    // catches up, and records the run, so the next call has nothing to do.
    void catchUpRunsAMissedBackupOnce() {
        const QString db = file("Missed.mdb", "missed");
        QVERIFY(QDir(tmp.path()).mkpath("caught"));
        store("Backup", "filenames", db);
        store("Backup", "dialogfiles", "");
        store("Backup", "ToDir", tmp.filePath("caught"));
        store("Backup", "Zip", "cbUnchecked");
        store("Backup", "State1", "1");
        const QDateTime now = QDateTime::currentDateTime();
        store("Backup", "Time",
              QString::number(now.addSecs(-3600).time().msecsSinceStartOfDay() / 86400000.0));
        store("Backup", "LastRun", now.addDays(-2).toString("yyyy-MM-ddTHH:mm:ss"));
        QByteArray output, errors;
        store("Backup", "CatchUp", "0");
        QCOMPARE(run({"backup", "--catch-up"}, &output, &errors), 0);
        QCOMPARE(errors, "Nothing to catch up: catching up is not turned on ([Backup] CatchUp)\n");
        store("Backup", "CatchUp", "1");
        QCOMPARE(run({"backup", "--catch-up"}, &output, &errors), 0);
        QVERIFY2(output.startsWith("Backup started late: catch-up of the run missed at "),
                 output.constData());
        QVERIFY2(output.contains("\nBackup Successful  "), output.constData());
        QCOMPARE(run({"backup", "--catch-up"}, &output, &errors), 0);
        QVERIFY2(errors.startsWith("Nothing to catch up: it ran at "), errors.constData());
        QVERIFY(output.isEmpty());
        QCOMPARE(QDir(tmp.filePath("caught")).entryList({"*.mdb"}, QDir::Files),
                 QStringList{"Missed.mdb"});
    }

    // A repair that would lose anything fails the file, leaving it byte for byte as it was with
    // the salvaged copy beside it; one that loses nothing replaces it.
    void repairsThatWouldLoseDataFail_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("salvaged");
        for (const QString v : {"3.5", "3.6"}) {
            QTest::addRow("Jet 3 table, %s", qPrintable(v)) << "V1997/testV1997.mdb"
                                                            << "table" << v << 1 << true;
            QTest::addRow("Jet 3 index, %s", qPrintable(v)) << "V1997/compIndexTestV1997.mdb"
                                                            << "index" << v << 0 << false;
        }
        QTest::newRow("Jet 4 rows, 3.6") << "V2000/testV2000.mdb"
                                         << "rows"
                                         << "3.6" << 1 << true;
        // The 3.5 engine does not read Jet 4 files at all.
        QTest::newRow("Jet 4 rows, 3.5") << "V2000/testV2000.mdb"
                                         << "rows"
                                         << "3.5" << 1 << false;
    }
    void repairsThatWouldLoseDataFail() {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(QString, version);
        QFETCH(int, status);
        QFETCH(bool, salvaged);
        const QString corpus =
            qEnvironmentVariable("TARNWICK_TESTDATA", TARNWICK_SOURCE_DIR "/../shared/testdata") +
            "/jet/";
        QFile source(corpus + file);
        if (!source.open(QIODevice::ReadOnly))
            QSKIP("the shared test files (../shared/testdata) are absent");
        QByteArray bytes = source.readAll();
        {
            using namespace tarnwick::jet;
            auto db = Database::open(corpus.toStdString() + file.toStdString());
            const std::size_t size = db->format().pageSize;
            const TableDef& def = db->tableDef(*db->findTable("Table1"));
            if (damage == "table") // a definition longer than the file
                qToLittleEndian<quint32>(0x7FFFFFF0, bytes.data() + def.page * size + 8);
            if (damage == "index") bytes[38 * 2048] = 0x09; // a leaf overwritten
            if (damage == "rows") { // the first row's column count (Jet 4: slots from byte 14)
                const char* page =
                    bytes.data() + db->usageMap(def.ownedMap, "map").pages.front() * size;
                const quint16 start = qFromLittleEndian<quint16>(page + 14) & 0x1FFF;
                qToLittleEndian<quint16>(0xFFFF, bytes.data() + (page - bytes.data()) + start);
            }
        }
        const QDir folder(tmp.filePath(QTest::currentDataTag()));
        QVERIFY(folder.mkpath("."));
        const QString path = folder.filePath(QFileInfo(file).fileName());
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
        store("Compact", "dialogfiles", path);
        store("Compact", "Version", version);
        QByteArray output, errors;
        QCOMPARE(run({"compact"}, &output, &errors), status);
        store("Compact", "dialogfiles", "");
        const QString base = QFileInfo(file).completeBaseName();
        const QStringList beside = folder.entryList({base + ".repaired-*.mdb"}, QDir::Files);
        QCOMPARE(beside.size(), salvaged ? 1 : 0);
        QFile live(path);
        QVERIFY(live.open(QIODevice::ReadOnly));
        if (status == 0) {
            QVERIFY2(output.contains(" was Completed Successful for " + QFile::encodeName(path)),
                     output.constData());
            QVERIFY(
                tarnwick::jet::check(*tarnwick::jet::Database::open(path.toStdString())).sound());
            return;
        }
        QVERIFY2(output.contains(" was Unsuccessful for " + QFile::encodeName(path)),
                 output.constData());
        QVERIFY(live.readAll() == bytes);
        if (!salvaged) return;
        // The reason under the failure line names what would be lost and where the copy is.
        const QByteArray copy = QFile::encodeName(folder.filePath(beside.front()));
        QVERIFY2(output.contains("\n  Reason: ") && output.contains(" would lose ") &&
                     output.contains(copy) && errors.contains(copy),
                 output.constData());
        QVERIFY(tarnwick::jet::check(
                    *tarnwick::jet::Database::open(folder.filePath(beside.front()).toStdString()))
                    .sound());
    }

    // The 12.0 engine compacts an Access 2007+ file in its format; an encrypted one is refused
    // with the engine's line and one whose .laccdb another process holds is skipped, and neither
    // changes in bytes or times.
    void aceFilesUnder12() {
        const QString corpus =
            qEnvironmentVariable("TARNWICK_TESTDATA", TARNWICK_SOURCE_DIR "/../shared/testdata") +
            "/jet/";
        if (!QFileInfo::exists(corpus + "encrypted"))
            QSKIP("the shared test files (../shared/testdata) are absent");
        const QDir folder(tmp.filePath("ace"));
        QVERIFY(folder.mkpath("."));
        const QString good = folder.filePath("good.accdb"), locked = folder.filePath("held.accdb"),
                      encrypted = folder.filePath("secret.accdb");
        QVERIFY(QFile::copy(corpus + "V2007/testV2007.accdb", good));
        QVERIFY(QFile::copy(corpus + "V2010/testV2010.accdb", locked));
        QVERIFY(QFile::copy(corpus + "encrypted/V2010_with-password.accdb", encrypted));
        for (const QString& f : {good, locked, encrypted})
            QVERIFY(QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner));
        const QString lock = folder.filePath("held.laccdb");
        QVERIFY(!file("ace/held.laccdb", "lock").isEmpty());
        const int holder = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
        const auto state = [](const QString& f) {
            QFile in(f);
            struct stat st {};
            if (!in.open(QIODevice::ReadOnly) || ::stat(QFile::encodeName(f), &st) != 0)
                return QByteArray();
            return in.readAll() + QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
                   QByteArray::number(qint64(st.st_mtim.tv_nsec)) + '/' +
                   QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
                   QByteArray::number(qint64(st.st_ctim.tv_nsec));
        };
        const QByteArray lockedBefore = state(locked), encryptedBefore = state(encrypted);
        const auto format = [](const QString& f) {
            using namespace tarnwick::jet;
            return formatName(Database::open(QFile::encodeName(f).toStdString())->header());
        };
        const std::string goodFormat = format(good);
        store("Compact", "dialogfiles", QStringList{good, locked, encrypted}.join('|'));
        store("Compact", "Version", "12.0");
        QByteArray output;
        const int status = run({"compact"}, &output);
        ::close(holder);
        store("Compact", "dialogfiles", "");
        QCOMPARE(status, 1);
        QVERIFY2(output.contains("Repair/Compact 12.0 was Completed Successful for " +
                                 QFile::encodeName(good)),
                 output.constData());
        QCOMPARE(format(good), goodFormat);
        QVERIFY(tarnwick::jet::check(*tarnwick::jet::Database::open(good.toStdString())).sound());
        QVERIFY2(output.contains("\n  Reason: " + QFile::encodeName(encrypted) +
                                 " is encrypted with a database password; Tarnwick cannot open "
                                 "it\n"),
                 output.constData());
        QVERIFY2(output.contains("\n  Reason: " + QFile::encodeName(locked) + ": its lock file " +
                                 QFile::encodeName(lock) + " is "),
                 output.constData());
        QCOMPARE(state(locked), lockedBefore);
        QCOMPARE(state(encrypted), encryptedBefore);
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
