// tarnwick-run restore: a round trip from an archive and from a copy, the refusals that change
// nothing, and a restore killed at random moments that leaves the old or the new file whole.
#include "jobs/backupjob.h"
#include "jobs/inuse.h"
#include "jobs/unattendedtools.h"
#include "platform/inikeystore.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "tests/common/privatehome.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwick::jobs;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray randomBytes(qsizetype size) {
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

// Names and bytes of every file in `folder`.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files[name] =
            QCryptographicHash::hash(readAll(folder + '/' + name), QCryptographicHash::Sha256);
    return files;
}

int runTool(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral(TARNWICK_RUN), args);
    if (!p.waitForFinished(120000)) return -1;
    if (out) *out = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int restore(const QStringList& args, QByteArray* out = nullptr) {
    return runTool(QStringList{"restore"} + args, out);
}

} // namespace

class TestRestore : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    QString path(const QString& name) const { return tmp.filePath(name); }

    // Backs `source` up into `folder` as the job does; returns the backup.
    QString backUp(const QString& source, const QString& folder, bool zip) {
        UnattendedBackupTools tools;
        const BackupResult r = runBackup({source, {}, folder, zip}, tools);
        return r.outcome == BackupResult::Succeeded && r.made.size() == 1 ? r.made[0] : QString();
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QVERIFY(tmp.isValid());
    }

    void roundTrip_data() {
        QTest::addColumn<bool>("zip");
        QTest::newRow("zip") << true;
        QTest::newRow("copy") << false;
    }
    void roundTrip() {
        QFETCH(bool, zip);
        const QString dir = path(zip ? "zip" : "copy");
        QVERIFY(QDir().mkpath(dir + "/db") && QDir().mkpath(dir + "/out"));
        const QString target = dir + "/db/Data.dat";
        const QByteArray original = randomBytes(300000);
        QVERIFY(writeAll(target, original));
        const QString backup = backUp(target, dir + "/out", zip);
        QVERIFY(!backup.isEmpty());
        QVERIFY(writeAll(target, "edited since"));
        QVERIFY(::chmod(QFile::encodeName(target).constData(), 0640) == 0);

        // Each refusal changes nothing, in the database's folder or the backup's.
        const auto refused = [&](const QStringList& args, const char* what) {
            const auto db = snapshot(dir + "/db"), out = snapshot(dir + "/out");
            QByteArray said;
            const int code = restore(args, &said);
            QVERIFY2(code == 1, qPrintable(what + (": " + said)));
            QVERIFY2(!said.isEmpty(), what);
            QCOMPARE(snapshot(dir + "/db"), db);
            QCOMPARE(snapshot(dir + "/out"), out);
        };
        {
            QProcess holder; // another process has the target open
            holder.start("sh", {"-c", "exec sleep 120 <\"$0\"", target});
            QVERIFY(holder.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(fileInUse(target), 60000);
            refused({backup}, "in use");
            holder.kill();
            QVERIFY(holder.waitForFinished(60000));
        }
        // A link in the target's place is refused, never written through.
        QVERIFY(QFile::link(target, dir + "/db/Link.dat"));
        refused({backup, "--to", dir + "/db/Link.dat"}, "link");
        QVERIFY(QFile::remove(dir + "/db/Link.dat"));
        const QByteArray intact = readAll(backup);
        QByteArray flipped = intact;
        flipped[intact.size() / 2] = static_cast<char>(flipped[intact.size() / 2] ^ 0x10);
        QVERIFY(writeAll(backup, flipped));
        refused({backup}, "flipped byte");
        QVERIFY(writeAll(backup, intact));
        const QString logName = dir + "/out/Tarnwick-backups.log";
        const QByteArray log = readAll(logName);
        if (zip) {
            // The recorded SHA-256 ends the archive's comment, which ends the file.
            QByteArray other = intact;
            other.back() = other.back() == '0' ? '1' : '0';
            QVERIFY(writeAll(backup, other));
        } else {
            // A later line about the same copy is the one that counts.
            QByteArray line = log.trimmed().split('\n').last();
            const qsizetype at = line.indexOf("sha256=") + 7;
            line[at] = line[at] == '0' ? '1' : '0';
            QVERIFY(writeAll(logName, log + line + '\n'));
        }
        refused({backup}, "recorded checksum differs");
        QVERIFY(writeAll(backup, intact) && writeAll(logName, log));
        const QString restoredFrom = backup;
        QVERIFY(writeAll(target, "edited since"));

        const auto before = snapshot(dir + "/db");
        QByteArray said;
        QCOMPARE(restore({restoredFrom, "--dry-run"}, &said), 0);
        QVERIFY2(said.contains("Would restore"), said.constData());
        QCOMPARE(snapshot(dir + "/db"), before);

        QCOMPARE(restore({restoredFrom}, &said), 0);
        QCOMPARE(readAll(target), original);
        const QStringList kept = QDir(dir + "/db").entryList({"Data.before-restore-*.dat"});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readAll(dir + "/db/" + kept[0]), QByteArray("edited since"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir + "/db/" + kept[0]).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(st.st_uid, ::getuid());
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);

        QCOMPARE(restore({restoredFrom, "--to", dir + "/db/Elsewhere.dat"}), 0);
        QCOMPARE(readAll(dir + "/db/Elsewhere.dat"), original);
    }

    // A database is checked by the engine before it goes into place.
    void databasesAreChecked_data() {
        QTest::addColumn<QString>("corpusFile");
        QTest::addColumn<int>("status");
        QTest::newRow("sound Jet 3") << "V1997/compIndexTestV1997.mdb" << 0;
        QTest::newRow("sound Jet 4") << "V2000/compIndexTestV2000.mdb" << 0;
        QTest::newRow("not a database") << "" << 1;
    }
    void databasesAreChecked() {
        QFETCH(QString, corpusFile);
        QFETCH(int, status);
        QByteArray bytes = "not a database, but backed up as one";
        if (!corpusFile.isEmpty()) {
            QFile f(qEnvironmentVariable("TARNWICK_TESTDATA",
                                         TARNWICK_SOURCE_DIR "/../shared/testdata") +
                    "/jet/" + corpusFile);
            if (!f.open(QIODevice::ReadOnly))
                QSKIP("the shared test files (../shared/testdata) are absent");
            bytes = f.readAll();
        }
        const QString dir =
            path("db-" + QString::number(status) + QFileInfo(corpusFile).baseName());
        QVERIFY(QDir().mkpath(dir + "/out"));
        const QString db = dir + "/Checked.mdb";
        QVERIFY(writeAll(db, bytes));
        const QString backup = backUp(db, dir + "/out", true);
        QVERIFY(!backup.isEmpty());
        QVERIFY(writeAll(db, "current"));
        QByteArray said;
        QCOMPARE(restore({backup}, &said), status);
        QCOMPARE(readAll(db), status == 0 ? bytes : QByteArray("current"));
    }

    void badUse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("restore without a backup") << QStringList{"restore"};
        QTest::newRow("restore of two") << QStringList{"restore", "a", "b"};
        QTest::newRow("--to without restore") << QStringList{"backup", "--to", "x"};
        QTest::newRow("--dry-run without restore") << QStringList{"backups", "--dry-run"};
        QTest::newRow("--catch-up with restore") << QStringList{"restore", "a", "--catch-up"};
        QTest::newRow("backups of two") << QStringList{"backups", "a", "b"};
        QTest::newRow("unknown option") << QStringList{"restore", "a", "--bogus"};
    }
    void badUse() {
        QFETCH(QStringList, args);
        QByteArray said;
        QCOMPARE(runTool(args, &said), 2);
        QVERIFY2(said.endsWith("Try 'tarnwick-run --help'.\n"), said.constData());
    }

    // The listing says which backups still hold what their record says.
    void listing() {
        const QString dir = path("list");
        QVERIFY(QDir().mkpath(dir + "/out"));
        const QString db = dir + "/List.dat";
        QVERIFY(writeAll(db, "listed bytes"));
        const QString zip = backUp(db, dir + "/out", true), copy = backUp(db, dir + "/out", false);
        QVERIFY(!zip.isEmpty() && !copy.isEmpty());
        QVERIFY(writeAll(copy, "listed bytez"));
        {
            tarnwick::IniKeyStore reg;
            QVERIFY(reg.openKey("Backup", true));
            QVERIFY(reg.writeString("filenames", db) && reg.writeString("ToDir", dir + "/out"));
            QVERIFY(reg.flush());
        }
        QByteArray said;
        QCOMPARE(runTool({"backups"}, &said), 0);
        const QList<QByteArray> lines = said.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], db.toUtf8() + ':');
        QVERIFY2(lines[1].contains(" copy  CHANGED ") && lines[1].endsWith(copy.toUtf8()),
                 lines[1].constData());
        QVERIFY2(lines[2].contains(" zip   ok ") && lines[2].endsWith(zip.toUtf8()),
                 lines[2].constData());
    }

    // Killed at any moment, the restore leaves the old or the new file whole under the name.
    void killedAnywhere() {
        const QString dir = path("kill");
        QVERIFY(QDir().mkpath(dir + "/db") && QDir().mkpath(dir + "/out"));
        const QString target = dir + "/db/Big.dat";
        const QByteArray fresh = randomBytes(64 << 20);
        QVERIFY(writeAll(target, fresh));
        const QString backup = backUp(target, dir + "/out", false);
        QVERIFY(!backup.isEmpty());
        const QByteArray old = randomBytes(1 << 20);
        const QByteArray oldHash = QCryptographicHash::hash(old, QCryptographicHash::Sha256);
        const QByteArray freshHash = QCryptographicHash::hash(fresh, QCryptographicHash::Sha256);
        const auto temps = [&] {
            return QDir(dir + "/db")
                .entryInfoList({".tarnwick-*.part"}, QDir::Files | QDir::Hidden);
        };
        constexpr int kMoments = 30;
        int killedBeforeEnd = 0;
        for (int i = 0; i < kMoments; ++i) {
            QVERIFY(writeAll(target, old));
            QProcess p;
            p.start(QStringLiteral(TARNWICK_RUN), {"restore", backup});
            QVERIFY(p.waitForStarted());
            // A moment: just started, part of the data written, or the old file just kept.
            const int phase = i % 3;
            const qint64 want = QRandomGenerator::global()->bounded(qint64(64) << 20);
            for (QDeadlineTimer deadline(60000); !deadline.hasExpired() && phase != 0;) {
                if (p.state() == QProcess::NotRunning) break;
                if (phase == 1) {
                    const auto t = temps();
                    if (!t.isEmpty() && t.first().size() >= want) break;
                } else if (!QDir(dir + "/db").entryList({"Big.before-restore-*"}).isEmpty()) {
                    break;
                }
                QThread::usleep(200);
            }
            if (p.state() != QProcess::NotRunning) ++killedBeforeEnd;
            ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
            QVERIFY(p.waitForFinished(60000));
            const QByteArray now =
                QCryptographicHash::hash(readAll(target), QCryptographicHash::Sha256);
            QVERIFY2(now == oldHash || now == freshHash, qPrintable(QString::number(i)));
            for (const QString& k : QDir(dir + "/db").entryList({"Big.before-restore-*"}))
                QVERIFY(QFile::remove(dir + "/db/" + k));
        }
        qInfo("killed %d of %d restores before they ended", killedBeforeEnd, kMoments);
        QVERIFY(killedBeforeEnd > 0);
        // What killed runs left is swept by the next restore, which completes.
        QCOMPARE(restore({backup}), 0);
        QCOMPARE(readAll(target), fresh);
        QVERIFY(temps().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_restore.moc"
