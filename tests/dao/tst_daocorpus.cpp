// The database component on copies of the Access test files: connecting lists the tables and
// queries that mdbtools sees, engine versions refuse what they cannot read, and the file
// operations compact in place or leave the file untouched.
#include "dao/ovdaodatabase.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "jet/check.h"
#include "jet/database.h"
#include "jet/header.h"
#include "tests/common/privatehome.h"
#include "tests/common/unprivileged.h"
#include "tests/dao/daotestutil.h"

#include <csignal>
#include <sys/xattr.h>
#include <tuple>

namespace {
QString corpus() {
    const QString dir =
        qEnvironmentVariable("TARNWICK_TESTDATA", TARNWICK_SOURCE_DIR "/../shared/testdata");
    return dir + "/jet";
}

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// What mdbtools lists, one name a line.
QStringList peer(const QString& tool, const QStringList& args) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) return {"<" + tool + " failed>"};
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

const QString kWaiting = "not built yet";

// What a compaction could leave in its folder: our temporary files and the engine's old ones.
QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList({"mdb*.tmp", ".tarnwick-*"}, QDir::Files | QDir::Hidden);
}

// An access ACL: owner rw, user `reader` r, group r, mask r, other none (mode 0640).
QByteArray aclReadableBy(uid_t reader) {
    QByteArray acl(4 + 5 * 8, '\0');
    const auto put = [&](int at, quint32 v, int size) {
        for (int i = 0; i < size; ++i)
            acl[at + i] = char(v >> (8 * i));
    };
    put(0, 2, 4);
    const quint32 tags[] = {0x01, 0x02, 0x04, 0x10, 0x20}, perms[] = {6, 4, 4, 4, 0};
    for (int i = 0; i < 5; ++i) {
        put(4 + 8 * i, tags[i], 2);
        put(6 + 8 * i, perms[i], 2);
        put(8 + 8 * i, tags[i] == 0x02 ? reader : 0xFFFFFFFFu, 4);
    }
    return acl;
}

QByteArray aclOf(const QString& path) {
    QByteArray v(256, '\0');
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), "system.posix_acl_access",
                                 v.data(), size_t(v.size()));
    return n < 0 ? QByteArray() : v.left(n);
}

bool soundDatabase(const QString& path) {
    try {
        return tarnwick::jet::check(
                   *tarnwick::jet::Database::open(QFile::encodeName(path).toStdString()))
            .sound();
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace

class TestDaoCorpus : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString copy(const QString& relative) {
        const QString target = dir.path() + "/" + QFileInfo(relative).fileName();
        QFile::remove(target);
        if (!QFile::copy(corpus() + "/" + relative, target)) return {};
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        if (!QFileInfo::exists(corpus() + "/V2000"))
            QSKIP("the shared test files (../shared/testdata) are absent");
        QVERIFY(dir.isValid());
    }
    void init() { registerEngines(true, true); }

    void connectListsTablesQueriesAndLanguage_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("version");
        QTest::newRow("Jet 4 queries") << "V2000/queryTestV2000.mdb"
                                       << "3.6";
        QTest::newRow("Jet 3 queries") << "V1997/queryTestV1997.mdb"
                                       << "3.5";
        QTest::newRow("Jet 3 on 3.6") << "V1997/testV1997.mdb"
                                      << "3.6";
        QTest::newRow("Jet 4 general") << "V2000/testV2000.mdb"
                                       << "3.6";
    }
    void connectListsTablesQueriesAndLanguage() {
        QFETCH(QString, file);
        QFETCH(QString, version);
        if (QStandardPaths::findExecutable("mdb-tables").isEmpty()) QSKIP("mdbtools is missing");
        const QString path = copy(file);
        TOvDaoDatabase db;
        db.SetVersion(version);
        db.SetDatabase(path);
        db.SetConnected(true);
        QCOMPARE(db.TableNames(), peer("mdb-tables", {"-1", path}));
        QCOMPARE(db.QueryNames(), peer("mdb-queries", {"-L", "-1", path}));
        QCOMPARE(
            db.DatabaseLanguage(),
            QString("General (English, French, German, Portuguese, Italian, and Modern Spanish)"));
        QCOMPARE(db.CollatingCode(), 1033);
        // Opened exclusively, nobody else gets in.
        db.SetConnected(false);
        db.SetExclusive(true);
        db.SetConnected(true);
        TOvDaoDatabase other;
        other.SetVersion(version);
        other.SetDatabase(path);
        QVERIFY(errorOf([&] { other.SetConnected(true); }).contains("in use"));
        // Nor does a compaction while it is open.
        const QByteArray before = digest(path);
        QVERIFY(errorOf([&] { other.CompactDatabaseFile(path, ""); }).contains("in use"));
        QCOMPARE(digest(path), before);
    }

    void engine35RefusesJet4AndLeavesItUntouched() {
        const QString path = copy("V2000/testV2000.mdb");
        const QByteArray before = digest(path);
        TOvDaoDatabase db;
        db.SetVersion("3.5");
        QCOMPARE(db.VersionInfo(), QString("(In Access'97 mode)"));
        for (const auto& step : std::initializer_list<std::function<void()>>{
                 [&] { db.RepairDatabaseFile(path, ""); },
                 [&] { db.CompactDatabaseFile(path, ""); }}) {
            QVERIFY(errorOf(step).contains("is not recognised by the 3.5 engine"));
            QCOMPARE(digest(path), before);
        }
        db.SetDatabase(path);
        QVERIFY(errorOf([&] { db.SetConnected(true); }).contains("is not recognised"));
        QVERIFY(!db.Connected());
        QCOMPARE(leftovers(dir.path()), QStringList());
    }

    // Each engine on each format: 3.5 opens Jet 3 files only, 3.6 Jet 3 and Jet 4 files, 12.0
    // ACE files too. A refusal names the engine the file needs and leaves the file untouched; a
    // repair and compaction keeps the file's format. No engine opens an encrypted ACE file.
    void enginesByFormat_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("refusal"); // empty: repaired and compacted in place
        const QString jet3 = "V1997/testV1997.mdb", jet4 = "V2000/testV2000.mdb",
                      ace = "V2010/testV2010.accdb";
        const QString needs36 = "it is a Jet 4 (Access 2000) database, which needs the 3.6 engine.";
        const QString needs120 =
            "it is an ACE 14 (Access 2007 or later) database, which needs the 12.0 engine.";
        QTest::newRow("3.5 Jet 3") << "3.5" << jet3 << "";
        QTest::newRow("3.5 Jet 4") << "3.5" << jet4 << "by the 3.5 engine: " + needs36;
        QTest::newRow("3.5 ACE") << "3.5" << ace << "by the 3.5 engine: " + needs120;
        QTest::newRow("3.6 Jet 3") << "3.6" << jet3 << "";
        QTest::newRow("3.6 Jet 4") << "3.6" << jet4 << "";
        QTest::newRow("3.6 ACE") << "3.6" << ace << "by the 3.6 engine: " + needs120;
        QTest::newRow("12.0 Jet 3") << "12.0" << jet3 << "";
        QTest::newRow("12.0 Jet 4") << "12.0" << jet4 << "";
        QTest::newRow("12.0 ACE") << "12.0" << ace << "";
        QTest::newRow("12.0 ACE 2016") << "12.0"
                                       << "generated/gen2016-s606-3m.accdb"
                                       << "";
        QTest::newRow("12.0 encrypted ACE")
            << "12.0"
            << "encrypted/V2010_with-password.accdb"
            << "V2010_with-password.accdb is encrypted with a database password; Tarnwick cannot "
               "open it";
    }
    void enginesByFormat() {
        QFETCH(QString, version);
        QFETCH(QString, file);
        QFETCH(QString, refusal);
        const QString path = copy(file);
        const QByteArray before = digest(path);
        TOvDaoDatabase db;
        db.SetVersion(version);
        QCOMPARE(db.Version(), version);
        db.SetExclusive(true);
        if (!refusal.isEmpty()) {
            for (const auto& step : std::initializer_list<std::function<void()>>{
                     [&] { db.RepairDatabaseFile(path, ""); },
                     [&] { db.CompactDatabaseFile(path, ""); },
                     [&] { db.CompactDatabaseFileWithOptions(path, "", false, false, 0, ""); }}) {
                const QString error = errorOf(step);
                QVERIFY2(error.startsWith("The format of " + path) || error.startsWith(path),
                         qPrintable(error));
                QVERIFY2(error.endsWith(refusal), qPrintable(error));
            }
            db.SetDatabase(path);
            QVERIFY(errorOf([&] { db.SetConnected(true); }).endsWith(refusal));
            QVERIFY(!db.Connected());
            QCOMPARE(digest(path), before);
        } else {
            const auto format = [&] {
                return tarnwick::jet::formatName(
                    tarnwick::jet::Database::open(QFile::encodeName(path).toStdString())->header());
            };
            const std::string formatBefore = format();
            QCOMPARE(errorOf([&] {
                         db.RepairDatabaseFile(path, "");
                         db.CompactDatabaseFile(path, "");
                     }),
                     QString());
            QCOMPARE(format(), formatBefore);
            QVERIFY(soundDatabase(path));
        }
        QCOMPARE(leftovers(dir.path()), QStringList());
    }

    // Jet 4 cannot go back to Jet 3 (32), 3.5 writes no Jet 4 (64), 3.6 no ACE 12 (128), and
    // Jet 3 goes to ACE through Jet 4.
    void refusedOptionsLeaveTheFileUntouched() {
        for (const auto& [file, version, format] : {std::tuple{"V2000/testV2000.mdb", "3.6", 32},
                                                    {"V1997/testV1997.mdb", "3.5", 64},
                                                    {"V2000/testV2000.mdb", "3.6", 128},
                                                    {"V1997/testV1997.mdb", "12.0", 128}}) {
            const QString path = copy(file);
            const QByteArray before = digest(path);
            TOvDaoDatabase db;
            db.SetVersion(version);
            const QString error = errorOf(
                [&] { db.CompactDatabaseFileWithOptions(path, "", true, false, format, ""); });
            QVERIFY2(!error.isEmpty(), file);
            QCOMPARE(digest(path), before);
            QCOMPARE(leftovers(dir.path()), QStringList());
            QVERIFY(!QFileInfo::exists(dir.path() + "/" + QFileInfo(path).completeBaseName() +
                                       ".accdb"));
        }
    }

    // Version 128 under 12.0 writes NAME.accdb beside a Jet 4 file and leaves the file as it
    // was; a second time the .accdb is there and nothing is written.
    void version128WritesAnAccessFileBeside() {
        const QString path = copy("V2000/testV2000.mdb");
        const QString accdb = dir.path() + "/testV2000.accdb";
        QFile::remove(accdb);
        const QByteArray before = digest(path);
        TOvDaoDatabase db;
        db.SetVersion("12.0");
        QCOMPARE(
            errorOf([&] { db.CompactDatabaseFileWithOptions(path, "", false, false, 128, ""); }),
            QString());
        QCOMPARE(digest(path), before);
        QCOMPARE(tarnwick::jet::Database::open(QFile::encodeName(accdb).toStdString())
                     ->header()
                     .aceVersion,
                 12);
        QVERIFY(soundDatabase(accdb));
        const QByteArray made = digest(accdb);
        QVERIFY(!errorOf([&] {
                     db.CompactDatabaseFileWithOptions(path, "", false, false, 128, "");
                 }).isEmpty());
        QCOMPARE(digest(accdb), made);
        QCOMPARE(digest(path), before);
        QCOMPARE(leftovers(dir.path()), QStringList());
        QFile::remove(accdb);
    }

    // Version 64 under 3.6 and 12.0 (taking turns) converts each Access 97 file to Jet 4 in
    // place: the same tables and queries, a file that checks clean.
    void version64ConvertsAccess97InPlace() {
        bool newest = false;
        for (const QString& f :
             QDir(corpus() + "/V1997").entryList({"*.mdb"}, QDir::Files, QDir::Name)) {
            const QString path = copy("V1997/" + f);
            TOvDaoDatabase db;
            db.SetVersion((newest = !newest) ? "12.0" : "3.6");
            db.SetDatabase(path);
            db.SetConnected(true);
            const QStringList tables = db.TableNames(), queries = db.QueryNames();
            db.SetConnected(false);
            QCOMPARE(
                errorOf([&] { db.CompactDatabaseFileWithOptions(path, "", false, false, 64, ""); }),
                QString());
            QCOMPARE(leftovers(dir.path()), QStringList());
            const auto converted =
                tarnwick::jet::Database::open(QFile::encodeName(path).toStdString());
            QVERIFY2(converted->format().jet4(), qPrintable(f));
            QVERIFY2(soundDatabase(path), qPrintable(f));
            db.SetConnected(true);
            QCOMPARE(db.TableNames(), tables);
            QCOMPARE(db.QueryNames(), queries);
            db.SetConnected(false);
        }
    }

    // Every test file compacted in place through the late-bound calls: 3.5 repairs and compacts
    // the Access 97 files, 3.6 compacts the Access 2000 files (also with encrypt and decrypt both
    // asked, which decrypts). The result opens with the same tables.
    void compactsTheCorpusInPlace_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("options");
        for (const QString& sub : QStringList{"V1997", "V2000"})
            for (const QString& f :
                 QDir(corpus() + "/" + sub).entryList({"*.mdb"}, QDir::Files, QDir::Name)) {
                const QString version = sub == "V1997" ? "3.5" : "3.6";
                QTest::newRow(qPrintable(f)) << sub + "/" + f << version << false;
                if (version == "3.6")
                    QTest::newRow(qPrintable(f + " options 4")) << sub + "/" + f << version << true;
            }
    }
    void compactsTheCorpusInPlace() {
        QFETCH(QString, file);
        QFETCH(QString, version);
        QFETCH(bool, options);
        const QString path = copy(file);
        QStringList tablesBefore;
        {
            TOvDaoDatabase db;
            db.SetVersion(version);
            db.SetDatabase(path);
            db.SetConnected(true);
            tablesBefore = db.TableNames();
        }
        const QByteArray before = digest(path);
        TOvDaoDatabase db;
        db.SetVersion(version);
        db.SetExclusive(true);
        db.SetDatabase(path);
        const QString error = errorOf([&] {
            if (options)
                db.CompactDatabaseFileWithOptions(path, "", true, true, 0, "");
            else if (version == "3.5") {
                db.RepairDatabaseFile(path, "");
                db.CompactDatabaseFile(path, "");
            } else {
                db.CompactDatabaseFileWithOptions(path, "", false, false, 0, "");
            }
        });
        QCOMPARE(leftovers(dir.path()), QStringList());
        if (error.contains(kWaiting)) {
            QCOMPARE(digest(path), before);
            QSKIP(
                "the Jet engine's repair or replace is not built yet; the file was left untouched");
        }
        QCOMPARE(error, QString());
        db.SetConnected(true);
        QCOMPARE(db.TableNames(), tablesBefore);
    }

    // Two users sharing a group-writable folder: each one's file is compacted only by its owner
    // (keeping owner, group, mode and ACL) or by root; everything else is refused untouched.
    void rewritesOnlyWhatKeepsOwnerGroupAndPermissions() {
        if (!testutil::isRoot()) QSKIP("playing two users needs root");
        QTemporaryDir top;
        const QString folder = top.path() + "/shared";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
        QVERIFY(::chown(QFile::encodeName(folder).constData(), 0, 3000) == 0);
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 02775) == 0);
        using testutil::Identity;
        const Identity alice{2001, 3000}, bob{2002, 3000}, aliceAlone{2001, 3001}, root{0, 0};
        struct File {
            const char* name;
            uid_t uid;
            gid_t gid;
            mode_t mode;
        };
        const File alices{"alice.mdb", 2001, 3000, 0640}, bobs{"bob.mdb", 2002, 3000, 0664},
            roots{"root.mdb", 0, 0, 0644}, readOnly{"ro.mdb", 2001, 3000, 0444};
        const struct {
            const char* name;
            Identity who;
            File file;
            QString refusal; // empty: compacted
        } cases[] = {
            {"another's, group-readable", bob, alices, "alice.mdb is owned by"},
            {"another's, group-writable", alice, bobs, "bob.mdb is owned by"},
            {"root's", bob, roots, "is owned by root"},
            {"read-only, its owner", alice, readOnly, "ro.mdb is read-only"},
            {"read-only, root", root, readOnly, "ro.mdb is read-only"},
            {"its owner, outside its group", aliceAlone, alices, "belongs to group"},
            {"its owner", alice, alices, ""},
            {"root, another's", root, bobs, ""},
        };
        bool aclKept = false;
        for (const auto& c : cases) {
            const QString path = folder + "/" + c.file.name;
            const QByteArray p = QFile::encodeName(path);
            QFile::remove(path);
            QVERIFY(QFile::copy(corpus() + "/V1997/testV1997.mdb", path));
            QVERIFY(::chown(p.constData(), c.file.uid, c.file.gid) == 0);
            QVERIFY(::chmod(p.constData(), c.file.mode) == 0);
            const QByteArray acl = aclReadableBy(2002);
            const bool withAcl =
                c.file.mode == 0640 && ::setxattr(p.constData(), "system.posix_acl_access",
                                                  acl.data(), size_t(acl.size()), 0) == 0;
            struct stat before {
            }, after{};
            QVERIFY(::stat(p.constData(), &before) == 0);
            const QByteArray bytes = digest(path);
            TOvDaoDatabase v35, v36;
            v35.SetVersion("3.5");
            v36.SetVersion("3.6");
            const int result = testutil::runAs(c.who, [&] {
                if (!testutil::blockedOnTheWayTo(folder).isEmpty())
                    return testutil::unreachableFolderStatus;
                QStringList errors = {errorOf([&] { v36.CompactDatabaseFile(path, ""); })};
                if (!c.refusal.isEmpty())
                    errors << errorOf([&] { v35.RepairDatabaseFile(path, ""); }) << errorOf([&] {
                        v36.CompactDatabaseFileWithOptions(path, "", false, false, 0, "");
                    });
                for (const QString& e : errors)
                    if (c.refusal.isEmpty() ? !e.isEmpty() : !e.contains(c.refusal)) {
                        qWarning("%s: %s", c.name, qPrintable(e));
                        return 1;
                    }
                return 0;
            });
            if (result == testutil::unreachableFolderStatus)
                QSKIP("the temporary folder is closed to other users");
            QVERIFY2(result == 0, c.name);
            QVERIFY(::stat(p.constData(), &after) == 0);
            QCOMPARE(after.st_uid, before.st_uid);
            QCOMPARE(after.st_gid, before.st_gid);
            QCOMPARE(after.st_mode, before.st_mode);
            QCOMPARE(after.st_ino != before.st_ino, c.refusal.isEmpty());
            if (!c.refusal.isEmpty()) QCOMPARE(digest(path), bytes);
            if (withAcl) QCOMPARE(aclOf(path), acl);
            aclKept |= withAcl && c.refusal.isEmpty();
            QCOMPARE(leftovers(folder), QStringList());
        }
        if (!aclKept) qInfo("this file system keeps no ACLs; their part was left out");
    }

    // A compaction killed at any moment leaves nothing that the next one does not remove, and
    // the database whole.
    void killedCompactionLeavesNothingBehind() {
        const QString path = copy("generated/gen2000-s101-3m.mdb");
        QVERIFY(!path.isEmpty());
        TOvDaoDatabase db;
        db.SetVersion("3.6");
        bool hit = false;
        for (int attempt = 0; attempt < 20 && !hit; ++attempt) {
            std::fflush(stdout);
            std::fflush(stderr);
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                for (;;)
                    if (!errorOf([&] { db.CompactDatabaseFile(path, ""); }).isEmpty()) ::_exit(3);
            }
            // Killed as soon as its temporary file is there: while the engine writes it.
            QDeadlineTimer deadline(60000);
            while (leftovers(dir.path()).isEmpty() && !deadline.hasExpired())
                ::usleep(200);
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY2(WIFSIGNALED(status), "the compaction ended by itself");
            hit = !leftovers(dir.path()).isEmpty();
        }
        QVERIFY2(hit, "no kill found a temporary file");
        QVERIFY(soundDatabase(path));
        QCOMPARE(errorOf([&] { db.CompactDatabaseFile(path, ""); }), QString());
        QCOMPARE(leftovers(dir.path()), QStringList());
        QVERIFY(soundDatabase(path));
    }
};

QTEST_GUILESS_MAIN(TestDaoCorpus)
#include "tst_daocorpus.moc"
