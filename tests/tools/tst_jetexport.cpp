// tarnwick-jet on a real database: export into a folder with planted links and a full disk,
// signals in the middle of an export, and check on files cut short or grown past the limit.

#include "runner.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QByteArray kJet = TARNWICK_JET;

QByteArray readBytes(const QByteArray& path) {
    QFile f(QString::fromLocal8Bit(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray database() {
    const QByteArray dir = qgetenv("TARNWICK_TESTDATA");
    const QByteArray db = dir + "/jet/V2000/compIndexTestV2000.mdb";
    return QFile::exists(QString::fromLocal8Bit(db)) ? db : QByteArray();
}

} // namespace

class TestJetExport : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;
    QByteArray m_dir;
    int m_n = 0;

    QByteArray path(const char* name) const { return m_dir + '/' + name; }
    Run runToEnd(const QList<QByteArray>& argv, const QByteArray& out = "/dev/null") {
        Run r = start(argv, out, m_tmp.path().toLocal8Bit());
        if (!r.wait(60000)) r.reap();
        return r;
    }

private slots:
    void init() {
        m_dir = m_tmp.path().toLocal8Bit() + "/t" + QByteArray::number(++m_n);
        QVERIFY(::mkdir(m_dir.constData(), 0755) == 0);
    }

    // A link planted where an export file goes is neither followed nor replaced.
    void plantedLinkIsRefused() {
        QVERIFY(QFile::copy(QString::fromLocal8Bit(database()),
                            QString::fromLocal8Bit(path("db.mdb"))));
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(path("out"))));
        QFile victim(QString::fromLocal8Bit(path("victim")));
        QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write("precious") == 8);
        victim.close();
        QVERIFY(::symlink(path("victim").constData(), path("out/Table1.json")) == 0);
        const Run r = runToEnd({kJet, "export", "--json", "--out", path("out"), path("db.mdb")});
        QCOMPARE(r.exitCode(), 2);
        QVERIFY2(r.err().contains("symbolic link") && r.err().count('\n') == 1, r.err());
        QCOMPARE(readBytes(path("victim")), QByteArray("precious"));
        struct stat st {};
        QVERIFY(::lstat(path("out/Table1.json"), &st) == 0 && S_ISLNK(st.st_mode));
    }

    // A full disk (here: the file size limit) gives the system's reason and leaves no file.
    void fullDiskLeavesNothing() {
        QVERIFY(QFile::copy(QString::fromLocal8Bit(database()),
                            QString::fromLocal8Bit(path("db.mdb"))));
        ::chmod(path("db.mdb"), 0600);
        // A small limit for the child only: the limit and the ignored SIGXFSZ survive exec.
        struct rlimit old {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        struct rlimit small = old;
        small.rlim_cur = 4096;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        Run r = start({kJet, "export", "--json", "--out", path("out"), path("db.mdb"), "Table1"},
                      "/dev/null", m_tmp.path().toLocal8Bit());
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, oldHandler);
        if (!r.wait(60000)) r.reap();
        QCOMPARE(r.exitCode(), 2);
        QVERIFY2(r.err().contains(std::strerror(EFBIG)), r.err());
        QCOMPARE(QDir(QString::fromLocal8Bit(path("out"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList());
        // Without the limit it works, and the file is no more readable than the database.
        QCOMPARE(
            runToEnd({kJet, "export", "--json", "--out", path("out"), path("db.mdb"), "Table1"})
                .exitCode(),
            0);
        struct stat st {};
        QVERIFY(::stat(path("out/Table1.json"), &st) == 0 && st.st_size > 1000);
        QCOMPARE(st.st_mode & 0077, mode_t(0));
    }

    // check reports what the pages cannot show: a zero tail and a size over the format's limit.
    void checkSeesTheFileItself_data() {
        QTest::addColumn<qint64>("grow");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("zero tail") << qint64(3 * 4096) << QByteArray("ends in 3 pages of zeros");
        QTest::newRow("over 2 GiB") << (qint64(2) << 30) << QByteArray("beyond the 2 GiB limit");
    }
    void checkSeesTheFileItself() {
        QFETCH(qint64, grow);
        QFETCH(QByteArray, expected);
        QVERIFY(QFile::copy(QString::fromLocal8Bit(database()),
                            QString::fromLocal8Bit(path("db.mdb"))));
        const QByteArray sound = m_dir + "/sound";
        QCOMPARE(runToEnd({kJet, "check", path("db.mdb")}, sound).exitCode(), 0);
        QFile f(QString::fromLocal8Bit(path("db.mdb")));
        QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(f.size() + grow)); // sparse: zeros
        f.close();
        const QByteArray report = m_dir + "/report";
        QCOMPARE(runToEnd({kJet, "check", path("db.mdb")}, report).exitCode(), 1);
        QVERIFY2(readBytes(report).contains(expected), readBytes(report).constData());
    }
};

int main(int argc, char** argv) {
    if (database().isEmpty()) {
        std::fputs("skipped: the shared Jet test databases (TARNWICK_TESTDATA) are not there\n",
                   stderr);
        return 77;
    }
    TestJetExport t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_jetexport.moc"
