// The job library on its own: names, failure cases, the compact job's order, lines and
// skipping, and the job lock.
#include "jobs/backupjob.h"
#include "jobs/catchup.h"
#include "jobs/compactjob.h"
#include "jobs/headless.h"
#include "jobs/inuse.h"
#include "jobs/joblock.h"
#include "jobs/provenance.h"
#include "jobs/runningjob.h"
#include "jobs/session.h"
#include "jobs/unattendedtools.h"
#include "jobs/verify.h"
#include "platform/formatsettings.h"
#include "platform/inikeystore.h"
#include "platform/notifier.h"
#include "platform/posix/faults.h"
#include "platform/timesource.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/common/privatehome.h"
#include "tests/sysutil/doubles.h"

using namespace tarnwick;
using namespace tarnwick::jobs;

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The headless run's tools with faults to order.
class FaultyTools : public UnattendedBackupTools {
public:
    QStringList zipMessages;   // reported by the archiver
    bool spoilArchive = false; // the archive ends up damaged
    bool abort = false;
    bool spoilCopy = false;
    CopyResult copyFiles(const QStringList& files, const QString& folder) override {
        CopyResult r = UnattendedBackupTools::copyFiles(files, folder);
        r.aborted = abort;
        if (spoilCopy && !r.written.isEmpty()) write(r.written.first(), "other bytes");
        return r;
    }
    QStringList zipFile(const QString& file, const QString& archive) override {
        if (!zipMessages.isEmpty()) return zipMessages;
        QStringList m = UnattendedBackupTools::zipFile(file, archive);
        if (spoilArchive) {
            QFile f(archive);
            if (!f.open(QIODevice::ReadWrite)) return {"cannot spoil"};
            f.seek(40);
            f.write("XXXXXXXX");
        }
        return m;
    }
};

class FakeEngine : public CompactEngine {
public:
    QStringList calls;
    QString failOn;
    bool throwOutside = false;
    bool stopOutside = false;
    void SetDatabase(const QString& p) override {
        if (throwOutside) throw std::runtime_error("outside");
        if (stopOutside) throw JobStopped("stop asked");
        calls << "Database " + QFileInfo(p).fileName();
    }
    void SetExclusive(bool) override {}
    void RepairDatabaseFile(const QString& p, const QString&) override { op("Repair", p); }
    void CompactDatabaseFile(const QString& p, const QString&) override { op("Compact", p); }
    void CompactDatabaseFileWithOptions(const QString& p, const QString& locale, bool e, bool d,
                                        int v, const QString& pw) override {
        QVERIFY(locale.isEmpty() && !e && !d && v == 0 && pw.isEmpty());
        op("CompactWithOptions", p);
    }
    void SetMemoryBudget(int mib) override { calls << QStringLiteral("Memory %1").arg(mib); }

private:
    void op(const char* what, const QString& p) {
        calls << QString::fromLatin1(what) + ' ' + QFileInfo(p).fileName();
        if (!failOn.isEmpty() && p.endsWith(failOn)) throw std::runtime_error("engine failed");
    }
};

// Holds a whole-file lock on a path through its own open file, as another program would.
class Holder {
public:
    explicit Holder(const QString& path) {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
        if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
    }
    ~Holder() {
        if (m_fd >= 0) ::close(m_fd);
    }

private:
    int m_fd = -1;
};

// Another program that keeps a file open without any lock, as some database clients do.
class OpenHolder {
public:
    explicit OpenHolder(const QString& path) {
        m_process.start("sh", {"-c", "exec 3<\"$0\" && echo ready && exec sleep 600", path});
        m_ready = m_process.waitForReadyRead(60000);
    }
    ~OpenHolder() {
        m_process.kill();
        m_process.waitForFinished(60000);
    }
    bool ready() const { return m_ready; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    bool m_ready = false;
};

} // namespace

class TestJobsLibrary : public QObject {
    Q_OBJECT
    ManualTimeSource clock{QDateTime(QDate(2026, 12, 6), QTime(10, 18, 10))};
    FormatSettings us;
    QTemporaryDir tmp;

    QString path(const QString& name) const { return tmp.filePath(name); }

private slots:
    void initTestCase() {
        usePrivateHome();
        us.shortDateFormat = "M/d/yyyy";
        us.longTimeFormat = "h:mm:ss AP";
        FormatSettings::install(&us);
        TimeSource::install(&clock);
        QVERIFY(tmp.isValid());
        QVERIFY(QDir(tmp.path()).mkpath("a") && QDir(tmp.path()).mkpath("b") &&
                QDir(tmp.path()).mkpath("out"));
    }
    void cleanupTestCase() {
        FormatSettings::install(nullptr);
        TimeSource::install(nullptr);
    }

    // With the buses disabled a job holds no inhibitor and starts none of Qt's bus threads,
    // whose leftovers at exit the leak checker reports now and then.
    void disabledBusStartsNoThread() {
        const auto threads = [] {
            return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        const qsizetype before = threads();
        {
            RunningJob job("backup", "Backing up databases");
            QVERIFY(job.started());
        }
        QCOMPARE(threads(), before);
    }

    void names_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::newRow("database") << "/d/Sales.mdb"
                                  << "Sales 12-6-2026 10-18-10 AM.Zip";
        QTest::newRow("short name") << "/d/a.mdb"
                                    << "a 12-6-2026 10-18-10 AM.Zip";
        QTest::newRow("four characters") << "/d/.mdb"
                                         << " 12-6-2026 10-18-10 AM.Zip";
        QTest::newRow("longer extension") << "/d/Sales.accdb"
                                          << "Sales 12-6-2026 10-18-10 AM.Zip";
        QTest::newRow("no extension") << "/d/Sales"
                                      << "Sales 12-6-2026 10-18-10 AM.Zip";
        QTest::newRow("dots in the name") << "/d/v1.2.mdb"
                                          << "v1.2 12-6-2026 10-18-10 AM.Zip";
    }
    void names() {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QCOMPARE(archiveName(file, clock.now()), name);
        // The program's own separators stay as they were.
        QCOMPARE(FormatSettings::current().timestamp(clock.now()),
                 QStringLiteral("12/6/2026 10:18:10 AM"));
        QCOMPARE(joinFolder("/x/out", name), "/x/out/" + name);
        QCOMPARE(joinFolder("/x/out/", name), "/x/out/" + name);
    }

    void lockFiles_data() {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("lock");
        QTest::newRow("mdb") << "/d/Sales.mdb"
                             << "/d/Sales.LDB";
        QTest::newRow("accdb") << "/d/Sales.accdb"
                               << "/d/Sales.laccdb";
        QTest::newRow("no extension") << "/d/Sales"
                                      << "/d/Sales.LDB";
        QTest::newRow("dots in the name") << "/d/v1.2.mdb"
                                          << "/d/v1.2.LDB";
    }
    void lockFiles() {
        QFETCH(QString, database);
        QFETCH(QString, lock);
        QCOMPARE(lockFileOf(database), lock);
    }

    // Same name from two folders in the same second: two archives, neither replaced.
    void sameNameGetsItsOwnArchive() {
        write(path("a/Sales.mdb"), "first database");
        write(path("b/Sales.mdb"), "second database");
        UnattendedBackupTools tools;
        const BackupResult r = runBackup(
            {path("b/Sales.mdb"), {path("a/Sales.mdb"), path("b/Sales.mdb")}, path("out"), true},
            tools);
        QCOMPARE(r.outcome, BackupResult::Succeeded);
        QCOMPARE(r.line,
                 QStringLiteral("Backup Successfully Zipped 2 Files  12/6/2026 10:18:10 AM"));
        const QString first = path("out/Sales 12-6-2026 10-18-10 AM.Zip");
        const QString second = path("out/Sales 12-6-2026 10-18-10 AM (2).Zip");
        QCOMPARE(r.made, QStringList({first, second}));
        QVERIFY(checkArchive(first, path("b/Sales.mdb")).isEmpty());
        QVERIFY(checkArchive(second, path("a/Sales.mdb")).isEmpty());
        QVERIFY(!checkArchive(second, path("b/Sales.mdb")).isEmpty());
    }

    void failures_data() {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<QString>("fault");
        QTest::newRow("archiver message") << true << "message";
        QTest::newRow("damaged archive") << true << "spoil";
        QTest::newRow("vanished source") << true << "missing";
        QTest::newRow("vanished source, copy") << false << "missing";
        QTest::newRow("copy differs") << false << "spoil";
        QTest::newRow("no folder") << false << "nofolder";
        QTest::newRow("folder for a file") << true << "folder";
        QTest::newRow("FIFO for a file, copy") << false << "fifo";
    }
    void failures() {
        QFETCH(bool, zip);
        QFETCH(QString, fault);
        write(path("a/Data.mdb"), QByteArray(100000, 'd'));
        QDir(path("out")).removeRecursively();
        QVERIFY(QDir().mkpath(path("out")));
        FaultyTools tools;
        if (fault == "message") tools.zipMessages = {"Skipped: Data.mdb"};
        tools.spoilArchive = tools.spoilCopy = fault == "spoil";
        QString file = fault == "missing" ? path("a/Gone.mdb") : path("a/Data.mdb");
        // What is in the file's place is named, never taken for a missing file.
        const QHash<QString, QString> says = {{"missing", ": the file is missing"},
                                              {"folder", ": it is a folder"},
                                              {"fifo", ": it is a FIFO"}};
        if (fault == "folder") QVERIFY(QDir().mkpath(file = path("a/Folder.mdb")));
        if (fault == "fifo")
            QVERIFY(::mkfifo(QFile::encodeName(file = path("a/Fifo.mdb")).constData(), 0600) == 0 ||
                    errno == EEXIST);
        const QString folder = fault == "nofolder" ? QString() : path("out");
        const BackupResult r = runBackup({file, {}, folder, zip}, tools);
        QCOMPARE(r.outcome, BackupResult::Failed);
        QCOMPARE(r.line, QStringLiteral("Backup Unsuccessful  12/6/2026 10:18:10 AM"));
        QVERIFY(!r.problems.isEmpty());
        QCOMPARE(r.reason, "  Reason: " + r.problems.join("; "));
        if (says.contains(fault)) QCOMPARE(r.problems, QStringList{file + says[fault]});
    }

    void abortLogsNothing() {
        write(path("a/Data.mdb"), "d");
        FaultyTools tools;
        tools.abort = true;
        const BackupResult r = runBackup({path("a/Data.mdb"), {}, path("out"), false}, tools);
        QCOMPARE(r.outcome, BackupResult::Aborted);
        QVERIFY(r.line.isEmpty());
    }

    // A record keeps a name's bytes whatever they are, and is one ASCII line without blanks
    // inside a value; text that is not a whole record is none.
    void recordLines_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::newRow("plain") << QByteArray("/srv/db/Sales.mdb");
        QTest::newRow("blanks, % and =") << QByteArray("/srv/my db/100% a=b .mdb");
        QTest::newRow("not UTF-8, controls") << QByteArray("/srv/b\xff\xe9\t\n\x01.mdb");
    }
    void recordLines() {
        QFETCH(QByteArray, source);
        BackupRecord r;
        r.made = "2026-12-06T10:18:10Z";
        r.kind = "copy";
        r.backup = source.mid(source.lastIndexOf('/') + 1);
        r.source = source;
        r.size = 12345;
        r.mtime = "2026-12-06T10:00:00.000000001Z";
        r.sha256 = QByteArray(64, 'a');
        for (const QByteArray& line : {logLine(r), archiveComment(r)}) {
            for (const char c : line)
                QVERIFY((c > 0x20 && c < 0x7F) || c == ' ');
            BackupRecord back;
            QVERIFY(parseRecord(line, back));
            QVERIFY(back.sameSource(r));
            if (line.startsWith("made=")) QCOMPARE(back.backup, r.backup);
            QVERIFY(!parseRecord(line.chopped(1), back)); // cut short by a crash
            QVERIFY(!parseRecord("junk " + line, back));  // not ours
        }
    }

    // A name that another database's backup took later is that one's, even with equal bytes.
    void reusedNameBelongsToTheLaterBackup() {
        const QString out = path("reused");
        QVERIFY(QDir().mkpath(out) && QDir().mkpath(path("reused-a")) &&
                QDir().mkpath(path("reused-b")));
        const QString a = path("reused-a/S.mdb"), b = path("reused-b/S.mdb");
        write(a, "same bytes");
        write(b, "same bytes");
        UnattendedBackupTools tools;
        const auto backUp = [&](const QString& file) {
            const BackupResult r = runBackup({file, {}, out, false, 1}, tools);
            return r.outcome == BackupResult::Succeeded ? r.made.value(0) : QString();
        };
        QCOMPARE(backUp(a), out + "/S.mdb");
        QVERIFY(!backUp(a).isEmpty()); // removes A's S.mdb
        QCOMPARE(backUp(b), out + "/S.mdb");
        QVERIFY(!backUp(a).isEmpty());
        QVERIFY(QFileInfo::exists(out + "/S.mdb"));
    }

    // A log that is a planted link or a FIFO is neither followed nor waited on: the backup is
    // made, said to be unrecorded, and what the link points at keeps its bytes.
    void plantedLogIsRefused_data() {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("link") << false;
        QTest::newRow("FIFO") << true;
    }
    void plantedLogIsRefused() {
        QFETCH(bool, fifo);
        const QString out = path(fifo ? "log-fifo" : "log-link");
        QVERIFY(QDir().mkpath(out));
        const QByteArray log = QFile::encodeName(out + "/" + kBackupLogName);
        write(path("victim"), "victim");
        if (fifo)
            QCOMPARE(::mkfifo(log.constData(), 0600), 0);
        else
            QCOMPARE(::symlink(QFile::encodeName(path("victim")).constData(), log.constData()), 0);
        write(path("a/Logged.mdb"), "logged");
        for (const bool zip : {false, true}) {
            UnattendedBackupTools tools;
            const BackupResult r = runBackup({path("a/Logged.mdb"), {}, out, zip, 1}, tools);
            QCOMPARE(r.outcome, BackupResult::Succeeded);
            // Unrecorded, and nothing removed for want of a log to trust.
            const QString said = r.warnings.join('\n');
            QVERIFY2(said.contains(QString(kBackupLogName) + ": ") && said.contains("not recorded"),
                     qPrintable(said));
            QVERIFY(r.removed.isEmpty());
        }
        QFile victim(path("victim"));
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), QByteArray("victim"));
    }

    // Keep=3 over five runs on three databases: the newest three of each stay; files that only
    // look like backups, another database's backup and everything a failed run saw stay too.
    void keepNewest_data() {
        QTest::addColumn<bool>("zip");
        QTest::newRow("zip") << true;
        QTest::newRow("copy") << false;
    }
    void keepNewest() {
        QFETCH(bool, zip);
        const QString out = path(zip ? "keep-zip" : "keep-copy");
        QVERIFY(QDir().mkpath(out));
        QVERIFY(QDir().mkpath(path("keep")));
        const QStringList dbs = {path("keep/One.mdb"), path("keep/Two.mdb"),
                                 path("keep/Three.accdb")};
        for (const QString& db : dbs)
            write(db, db.toUtf8());
        write(path("keep/Other.mdb"), "other");
        UnattendedBackupTools tools;
        const BackupResult other = runBackup({path("keep/Other.mdb"), {}, out, zip, 3}, tools);
        QCOMPARE(other.outcome, BackupResult::Succeeded);
        // Named as backups are, but recorded nowhere; the last one in the log but not a zip.
        const QStringList lookalikes = {out + "/One 12-6-2026 10-18-10 AM (9).Zip",
                                        out + "/One (9).mdb", out + "/Two.mdb.Zip"};
        for (const QString& l : lookalikes)
            write(l, "not a backup");
        QList<QStringList> made;
        QStringList removed;
        for (int run = 0; run < 5; ++run) {
            const BackupResult r = runBackup({dbs.last(), dbs, out, zip, 3}, tools);
            QCOMPARE(r.outcome, BackupResult::Succeeded);
            QCOMPARE(r.made.size(), 3);
            made << r.made;
            removed << r.removed;
            if (run == 0) {
                // A recorded name and size, but bytes nobody backed up: not ours to remove.
                QFile f(r.made[0]);
                QVERIFY(f.open(QIODevice::ReadWrite));
                QByteArray bytes = f.readAll();
                std::reverse(bytes.begin(), bytes.end());
                QVERIFY(f.seek(0) && f.write(bytes) == bytes.size());
            }
        }
        const QString replaced = made[0].takeFirst();
        QStringList expected = made[0] + made[1];
        for (QString& e : expected)
            e = "Removed old backup " + e + "  12/6/2026 10:18:10 AM";
        expected.sort();
        removed.sort();
        QCOMPARE(removed, expected);
        QStringList kept = made[2] + made[3] + made[4] + other.made + lookalikes;
        kept << replaced;
        kept << out + "/" + kBackupLogName;
        QStringList present;
        for (const QString& name : QDir(out).entryList(QDir::Files | QDir::Hidden))
            present << out + "/" + name;
        kept.sort();
        QCOMPARE(present, kept);

        // A failed run removes nothing, not even what it would have.
        QVERIFY(QFile::remove(dbs[1]));
        const BackupResult failed = runBackup({dbs.last(), dbs, out, zip, 1}, tools);
        QCOMPARE(failed.outcome, BackupResult::Failed);
        QVERIFY(failed.removed.isEmpty());
        for (const QString& k : kept)
            QVERIFY2(QFileInfo::exists(k), qPrintable(k));
    }

    // A catch-up run is due when it is turned on, the switch is on and the last alarm moment
    // (today's, or yesterday's before it) came after LastRun. The clock reads 12/6 10:18:10.
    void catchUpDue_data() {
        QTest::addColumn<QString>("catchUp");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("due");
        QTest::newRow("not turned on") << "0"
                                       << "1"
                                       << "0.25"
                                       << "" << false;
        QTest::newRow("switch off") << "1"
                                    << "0"
                                    << "0.25"
                                    << "" << false;
        QTest::newRow("never ran") << "1"
                                   << "1"
                                   << "0.25"
                                   << "" << true;
        QTest::newRow("ran before today's alarm") << "1"
                                                  << "1"
                                                  << "0.25"
                                                  << "2026-12-06T05:59:59" << true;
        QTest::newRow("ran at today's alarm") << "1"
                                              << "1"
                                              << "0.25"
                                              << "2026-12-06T06:00:00" << false;
        QTest::newRow("alarm later today, ran after yesterday's") << "1"
                                                                  << "1"
                                                                  << "0.75"
                                                                  << "2026-12-05T18:30:00" << false;
        QTest::newRow("alarm later today, ran before yesterday's") << "1"
                                                                   << "1"
                                                                   << "0.75"
                                                                   << "2026-12-05T17:00:00" << true;
        // The clock set back after today's run: that run counts. One written by a clock days
        // ahead holds no run back.
        QTest::newRow("ran later today than the clock reads") << "1"
                                                              << "1"
                                                              << "0.25"
                                                              << "2026-12-06T11:00:00" << false;
        QTest::newRow("ran days ahead of the clock") << "1"
                                                     << "1"
                                                     << "0.25"
                                                     << "2026-12-09T06:00:00" << true;
    }
    void catchUpDue() {
        QFETCH(QString, catchUp);
        QFETCH(QString, state);
        QFETCH(QString, time);
        QFETCH(QString, last);
        QFETCH(bool, due);
        {
            IniKeyStore reg;
            QVERIFY(reg.openKey("Compact", true));
            QVERIFY(reg.writeString("CatchUp", catchUp) && reg.writeString("State2", state) &&
                    reg.writeString("Time", time));
            reg.deleteValue("LastRun"); // absent in the first row
            QVERIFY(reg.flush());
        }
        if (!last.isEmpty())
            QVERIFY(
                saveLastRun(TimedJob::Compact, QDateTime::fromString(last, Qt::ISODate)).isEmpty());
        QCOMPARE(lastRun(TimedJob::Compact).toString(Qt::ISODate), last);
        const QString why = whyNoCatchUp(TimedJob::Compact, clock.now());
        QVERIFY2(why.isEmpty() == due, qPrintable(why));
    }

    void compact_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("12.0") << "12.0"
                              << "accdb"
                              << QStringList{"Database c.accdb", "CompactWithOptions c.accdb",
                                             "Database b.accdb", "CompactWithOptions b.accdb",
                                             "Database a.accdb", "CompactWithOptions a.accdb"};
        QTest::newRow("3.6") << "3.6"
                             << "mdb" << QStringList{"Database c.mdb", "CompactWithOptions c.mdb",
                                                     "Database b.mdb", "CompactWithOptions b.mdb",
                                                     "Database a.mdb", "CompactWithOptions a.mdb"};
        QTest::newRow("3.5") << "3.5"
                             << "mdb"
                             << QStringList{"Database c.mdb", "Repair c.mdb", "Compact c.mdb",
                                            "Database b.mdb", "Repair b.mdb", "Compact b.mdb",
                                            "Database a.mdb", "Repair a.mdb", "Compact a.mdb"};
    }
    // Last picked first; a database another program holds is skipped, untouched, with its
    // start and failure lines; a stale lock file beside a database is removed.
    void compact() {
        QFETCH(QString, version);
        QFETCH(QString, ext);
        QFETCH(QStringList, calls);
        QStringList files;
        for (const QString n : {"a", "b", "c", "held"}) {
            write(path(n + "." + ext), "db");
            files << path(n + "." + ext);
        }
        files.move(3, 1); // a, held, b, c
        const bool ace = ext == "accdb";
        const QString stale = path(ace ? "a.laccdb" : "a.LDB");
        const QString heldLock = path(ace ? "held.laccdb" : "held.ldb");
        write(stale, "stale");
        write(heldLock, "lock");
        FakeEngine engine;
        QStringList lines;
        QStringList shown;
        Holder holder(heldLock);
        const CompactResult r = runCompact(
            {files, version}, engine,
            {[&](const QString& l) { lines << l; }, [&](const QString& p) { shown << p; }});
        QCOMPARE(engine.calls, calls);
        QCOMPARE(shown.size(), 4);
        QVERIFY(!QFile::exists(stale));
        QVERIFY(QFile::exists(heldLock));
        QCOMPARE(r.succeeded, 3);
        QCOMPARE(r.failed, 1);
        const QString s = "  12/6/2026 10:18:10 AM";
        QCOMPARE(lines.size(), 9);
        const QString c = path("c." + ext), held = path("held." + ext);
        QCOMPARE(lines[0], "Repair/Compact " + version + " was started for " + c + " at" + s);
        QCOMPARE(lines[1],
                 "Repair/Compact " + version + " was Completed Successful for " + c + " at" + s);
        QCOMPARE(lines[4], "Repair/Compact " + version + " was started for " + held + " at" + s);
        QCOMPARE(lines[5], "Repair/Compact " + version + " was Unsuccessful for " + held + s);
        QCOMPARE(lines[6], "  Reason: " + held + ": its lock file " + heldLock +
                               " is locked by another process");
        QFile kept(held);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("db"));
    }

    // A database another program has (locked, or merely open, itself or its lock file) is not
    // compacted and its bytes stay as they were; its backup is made, with a warning.
    void databaseInUse_data() {
        QTest::addColumn<QString>("held");
        QTest::addColumn<bool>("locked");
        QTest::newRow("database locked") << "x.mdb" << true;
        QTest::newRow("database open") << "x.mdb" << false;
        QTest::newRow("lock file open") << "x.ldb" << false;
    }
    void databaseInUse() {
        QFETCH(QString, held);
        QFETCH(bool, locked);
        write(path("x.mdb"), "database bytes");
        write(path("x.ldb"), "lock");
        std::optional<Holder> lock;
        std::optional<OpenHolder> open;
        QString why = "locked by another process";
        if (locked) {
            lock.emplace(path(held));
        } else {
            open.emplace(path(held));
            QVERIFY(open->ready());
            why = QStringLiteral("open in process %1").arg(open->pid());
        }
        FakeEngine engine;
        QStringList lines;
        const CompactResult r = runCompact({{path("x.mdb")}, "3.6"}, engine,
                                           {[&](const QString& l) { lines << l; }, {}});
        QCOMPARE(r.failed, 1);
        QVERIFY(engine.calls.isEmpty());
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].startsWith("Repair/Compact 3.6 was Unsuccessful for " + path("x.mdb")));
        QVERIFY2(lines[2].startsWith("  Reason: " + path("x.mdb") + ": ") && lines[2].contains(why),
                 qPrintable(lines[2]));
        QFile db(path("x.mdb"));
        QVERIFY(db.open(QIODevice::ReadOnly));
        QCOMPARE(db.readAll(), QByteArray("database bytes"));
        QVERIFY(QFile::exists(path("x.ldb")));

        QDir(path("out")).removeRecursively();
        QVERIFY(QDir().mkpath(path("out")));
        UnattendedBackupTools tools;
        const BackupResult b = runBackup({path("x.mdb"), {}, path("out"), false}, tools);
        QCOMPARE(b.outcome, BackupResult::Succeeded);
        QCOMPARE(b.warnings.size(), 1);
        QVERIFY2(b.warnings[0].startsWith(path("x.mdb") + ": the database is in use (" + why) &&
                     b.warnings[0].endsWith("may not be consistent"),
                 qPrintable(b.warnings[0]));
    }

    // A set budget reaches the engine before each compaction; none set, nothing is said.
    void compactPassesTheMemoryBudget() {
        write(path("m.mdb"), "db");
        FakeEngine engine;
        CompactRequest request{{path("m.mdb")}, "3.6"};
        request.memoryMiB = 64;
        QVERIFY(runCompact(request, engine, {}).ok());
        QCOMPARE(engine.calls,
                 QStringList({"Database m.mdb", "Memory 64", "CompactWithOptions m.mdb"}));
    }

    void compactFailures() {
        write(path("a.mdb"), "db");
        write(path("b.mdb"), "db");
        QStringList lines;
        auto collect = [&](const QString& l) { lines << l; };
        FakeEngine engine;
        engine.failOn = "b.mdb";
        CompactResult r =
            runCompact({{path("a.mdb"), path("b.mdb")}, "3.6"}, engine, {collect, {}});
        QCOMPARE(r.failed, 1);
        QCOMPARE(r.succeeded, 1);
        QVERIFY(lines[1].startsWith("Repair/Compact 3.6 was Unsuccessful for " + path("b.mdb")));
        QCOMPARE(lines[2], "  Reason: " + path("b.mdb") + ": engine failed");

        lines.clear();
        r = runCompact({{path("a.mdb")}, "4.0"}, engine, {collect, {}});
        QVERIFY(r.unknownVersion && !r.ok());
        QCOMPARE(lines, QStringList{"Repair/Compact was not started: the Jet Engine version '4.0' "
                                    "is unknown  12/6/2026 10:18:10 AM"});

        lines.clear();
        engine.throwOutside = true;
        r = runCompact({{path("a.mdb")}, "3.5"}, engine, {collect, {}});
        QVERIFY(r.broken);
        QCOMPARE(lines.mid(lines.size() - 2),
                 (QStringList{"Repair/Compact 3.5 was Unsuccessful for " + path("a.mdb") +
                                  "  12/6/2026 10:18:10 AM",
                              "  Reason: " + path("a.mdb") + ": the run ended early: outside"}));

        // Asked to stop: the same lines, but the run counts as stopped, not broken.
        lines.clear();
        engine.throwOutside = false;
        engine.stopOutside = true;
        r = runCompact({{path("a.mdb")}, "3.6"}, engine, {collect, {}});
        QVERIFY(r.stopped && !r.broken && !r.ok());
        QCOMPARE(lines.last(), "  Reason: " + path("a.mdb") + ": the run ended early: stop asked");
        tarnwick::RecordingNotifier notifier;
        tarnwick::Notifier::install(&notifier);
        JobSession session(TimedJob::Compact, JobSession::Start::ByAlarm, {});
        session.finish(r);
        tarnwick::Notifier::install(nullptr);
        QCOMPARE(session.outcome(), JobOutcome::Stopped);
        QCOMPARE(notifier.sent,
                 QStringList{"Tarnwick repair and compaction stopped: " + r.problems.join('\n')});
    }

    void inUseProbe() {
        write(path("probe"), "x");
        QVERIFY(!fileInUse(path("probe")));
        QVERIFY(!fileInUse(path("nothing here")));
        {
            Holder h(path("probe"));
            QVERIFY(fileInUse(path("probe")));
        }
        QVERIFY(!fileInUse(path("probe")));
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
        QVERIFY(!fileInUse(path("fifo"))); // returns at once
    }

    // A copy that is sound but whose temporary second name could not be removed: the backup
    // succeeds, and the file left behind is named as a warning, not passed over.
    void strayTemporaryFileIsReported() {
        write(path("a/Kept.mdb"), "kept database");
        QDir(path("out")).removeRecursively();
        QVERIFY(QDir().mkpath(path("out")));
        // No RENAME_NOREPLACE (so the copy is linked into place), and no removing afterwards.
        posix::setFaultInjector([](posix::FaultPoint p) {
            return p == posix::FaultPoint::Rename   ? EINVAL
                   : p == posix::FaultPoint::Unlink ? EPERM
                                                    : 0;
        });
        UnattendedBackupTools tools;
        const BackupResult r = runBackup({path("a/Kept.mdb"), {}, path("out"), false}, tools);
        posix::setFaultInjector({});
        QCOMPARE(r.outcome, BackupResult::Succeeded);
        QCOMPARE(r.made, QStringList{path("out/Kept.mdb")});
        QCOMPARE(r.warnings.size(), 1);
        QVERIFY2(r.warnings[0].contains("cannot remove the temporary file"),
                 qPrintable(r.warnings[0]));
        // The copy, its second name and the log of verified backups.
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }

    // The headless compact frees memory first exactly when the saved settings ask for it.
    void headlessCompactDefragsWhenAsked_data() {
        QTest::addColumn<bool>("defrag");
        QTest::newRow("asked") << true;
        QTest::newRow("not asked") << false;
    }
    void headlessCompactDefragsWhenAsked() {
        QFETCH(bool, defrag);
        FakeMemoryInfo memory(8ull << 30, 4ull << 30);
        FakeMemoryBlocks blocks;
        Installed<MemoryInfo, FakeMemoryInfo> i(memory);
        Installed<MemoryBlocks, FakeMemoryBlocks> b(blocks);
        write(path("d.mdb"), "db");
        SavedSettings s;
        s.compact = {{path("d.mdb")}, "3.6"};
        s.defragMemory = defrag;
        FakeEngine engine;
        QCOMPARE(runCompactHeadless(s, 0, &engine), int(HeadlessOk));
        QCOMPARE(engine.calls.size(), 2);
        QCOMPARE(blocks.taken.empty(), !defrag);
        QCOMPARE(blocks.released.size(), blocks.taken.size());
    }

    // A session's outcome and the failure mark of its lines come from the run, not its words.
    void sessionOutcomes() {
        QList<JobLine> shown;
        const auto show = [&](const JobLine& l) { shown << l; };
        {
            JobSession first(TimedJob::Backup, JobSession::Start::ByRunner, show);
            QVERIFY(first.hold());
            JobSession second(TimedJob::Backup, JobSession::Start::ByRunner, show);
            QVERIFY(!second.hold());
            second.lockRefused();
            QCOMPARE(second.outcome(), JobOutcome::Busy);
            QVERIFY(shown.last().failure);
            BackupResult failed;
            failed.line = "the line";
            failed.reason = "the reason";
            first.finish(failed);
            QCOMPARE(first.outcome(), JobOutcome::Failed);
            QVERIFY(shown.last().failure && shown[shown.size() - 2].failure);
        }
        JobSession person(TimedJob::Backup, JobSession::Start::ByPerson, show);
        QVERIFY(person.hold());
        BackupResult aborted;
        aborted.outcome = BackupResult::Aborted;
        const qsizetype before = shown.size();
        person.finish(aborted);
        QCOMPARE(person.outcome(), JobOutcome::Cancelled);
        QCOMPARE(shown.size(), before);
        CompactResult compacted;
        compacted.succeeded = 1;
        JobSession compact(TimedJob::Compact, JobSession::Start::ByAlarm, show);
        compact.finish(compacted);
        QCOMPARE(compact.outcome(), JobOutcome::Succeeded);
    }

    void jobLockExcludesASecondRun() {
        JobLock first("backup"), second("backup"), other("compact");
        QVERIFY2(first.tryLock(), qPrintable(first.error()));
        QVERIFY(!second.tryLock());
        QCOMPARE(second.error(), QStringLiteral("the job is already running"));
        QVERIFY(other.tryLock());
        QVERIFY(!second.lock(300));
    }

    // A backup and a compaction never run at once: the second waits, told which job runs, and
    // starts when the first ends; a stop ends the wait instead.
    void fileJobsFollowOneAnother() {
        std::optional<RunningJob> backup;
        backup.emplace("backup", "Backing up databases");
        QVERIFY(backup->takeFileLock());
        RunningJob compact("compact", "Compacting databases");
        QVERIFY(compact.started());
        QVERIFY(!compact.takeFileLock());
        QVERIFY(compact.error().isEmpty());

        RunningJob again("compact", "Compacting databases");
        QVERIFY(!again.started()); // the same job: its own lock says so
        QSemaphore waiting;
        QString running;
        bool took = false;
        std::thread waiter([&] {
            took = compact.waitForOtherJobs([&](const QString& job) {
                running = job;
                waiting.release();
            });
        });
        QVERIFY(waiting.tryAcquire(1, 60000));
        backup.reset();
        waiter.join();
        QVERIFY(took);
        QCOMPARE(running, QStringLiteral("backup"));

        RunningJob next("backup", "Backing up databases");
        QVERIFY(!next.waitForOtherJobs({}, [] { return true; }));
        QVERIFY(!next.error().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJobsLibrary)
#include "tst_jobslibrary.moc"
