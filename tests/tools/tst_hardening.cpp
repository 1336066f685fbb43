// Every program against what an unattended night run can meet: FIFOs, device nodes, links and
// folders where files are expected, a full standard output, names that are not UTF-8, signals,
// and two runs on one archive at once.

#include "runner.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

namespace {

const QByteArray kCopy = TARNWICK_COPY;
const QByteArray kZip = TARNWICK_ZIP;
const QByteArray kJet = TARNWICK_JET;
const QByteArray kRun = TARNWICK_RUN;

// By the exact bytes of the name (QFile would re-encode it).
QByteArray readBytes(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK);
    QFile f;
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return {};
    return f.readAll();
}

bool writeBytes(const QByteArray& path, const QByteArray& data) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    return ::close(fd) == 0 && ok;
}

QByteArray randomBytes(qsizetype n) {
    QByteArray b(n, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (qsizetype i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x);
    }
    return b;
}

mode_t modeOf(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode : 0;
}

// Names in `folder` that look like our temporary files.
QStringList temporaries(const QByteArray& folder) {
    return QDir(QString::fromLocal8Bit(folder))
        .entryList({QStringLiteral(".tarnwick-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestHardening : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QByteArray m_dir; // a fresh folder per test
    int m_n = 0;

    QByteArray path(const char* name) const { return m_dir + '/' + name; }
    // Runs to the end within the time limit; a run that hangs fails the test.
    Run runToEnd(const QList<QByteArray>& argv, const QByteArray& out = "/dev/null",
                 int ms = 60000) {
        Run r = start(argv, out, m_tmp.path().toLocal8Bit());
        if (!r.wait(ms)) r.reap();
        return r;
    }

private slots:
    void init() {
        m_dir = m_tmp.path().toLocal8Bit() + "/t" + QByteArray::number(++m_n);
        QVERIFY(::mkdir(m_dir.constData(), 0755) == 0);
        QVERIFY(writeBytes(path("a.mdb"), QByteArray("Standard Jet DB ").repeated(500)));
    }

    // No command waits on a FIFO, wherever it stands.
    void fifoNeverBlocks_data() {
        QTest::addColumn<QList<QByteArray>>("argv");
        QTest::addColumn<int>("exit");
        QTest::newRow("copy, FIFO source") << QList<QByteArray>{kCopy, "out", "fifo"} << 2;
        QTest::newRow("copy, FIFO target")
            << QList<QByteArray>{kCopy, "--overwrite", "fifodir", "a.mdb"} << 2;
        QTest::newRow("zip add, FIFO archive")
            << QList<QByteArray>{kZip, "add", "fifo", "a.mdb"} << 1;
        QTest::newRow("zip add, FIFO source")
            << QList<QByteArray>{kZip, "add", "x.zip", "fifo"} << 1;
        QTest::newRow("zip list") << QList<QByteArray>{kZip, "list", "fifo"} << 1;
        for (const char* cmd : {"info", "tables", "schema", "check"})
            QTest::newRow(cmd) << QList<QByteArray>{kJet, cmd, "fifo"} << 2;
        QTest::newRow("jet export")
            << QList<QByteArray>{kJet, "export", "--json", "fifo", "T"} << 2;
        QTest::newRow("jet export --out")
            << QList<QByteArray>{kJet, "export", "--json", "--out", "out", "fifo"} << 2;
    }
    void fifoNeverBlocks() {
        QFETCH(QList<QByteArray>, argv);
        QFETCH(int, exit);
        QVERIFY(::mkfifo(path("fifo"), 0644) == 0);
        QVERIFY(::mkdir(path("out"), 0755) == 0 && ::mkdir(path("fifodir"), 0755) == 0);
        QVERIFY(::mkfifo(path("fifodir/a.mdb"), 0644) == 0);
        for (QByteArray& a : argv)
            if (!a.startsWith('/') && !a.startsWith('-') && a != "info" && a != "tables" &&
                a != "schema" && a != "check" && a != "add" && a != "list" && a != "export" &&
                a != "T")
                a = path(a);
        Run r = start(argv, "/dev/null", m_tmp.path().toLocal8Bit());
        const bool ended = r.wait(20000);
        r.reap();
        QVERIFY2(ended, "the program hung on a FIFO");
        QCOMPARE(r.exitCode(), exit);
        QVERIFY2(r.err().count('\n') >= 1, r.err().constData());
        QVERIFY(S_ISFIFO(modeOf(path("fifo"))) && S_ISFIFO(modeOf(path("fifodir/a.mdb"))));
    }

    // An archive or copy target that is not a regular file is left as it is; a link to an
    // archive is written through.
    void targetsThatAreNotFiles() {
        QVERIFY(::mkdir(path("folder"), 0755) == 0);
        QVERIFY(::mkdir(path("into"), 0755) == 0);
        QVERIFY(::mkdir(path("into/a.mdb"), 0755) == 0);
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, path("socket").constData(), sizeof addr.sun_path);
        QVERIFY(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
        QList<QByteArray> targets{"folder", "socket"};
        if (::mknod(path("null"), S_IFCHR | 0666, makedev(1, 3)) == 0)
            targets << "null";
        else
            qInfo("no device node case: mknod needs root");
        for (const QByteArray& t : targets) {
            const mode_t before = modeOf(path(t));
            const Run r = runToEnd({kZip, "add", path(t), path("a.mdb")});
            QVERIFY2(r.exitCode() == 1 && r.err().contains("not a regular file"), r.err());
            QCOMPARE(modeOf(path(t)), before);
        }
        ::close(sock);
        const Run copy = runToEnd({kCopy, "--overwrite", path("into"), path("a.mdb")});
        QCOMPARE(copy.exitCode(), 2);
        QVERIFY(S_ISDIR(modeOf(path("into/a.mdb"))));

        // A copy over a link goes into the file it points at.
        QVERIFY(::mkdir(path("linked"), 0755) == 0);
        QVERIFY(writeBytes(path("real.mdb"), "old"));
        QVERIFY(::symlink("../real.mdb", path("linked/a.mdb")) == 0);
        QCOMPARE(runToEnd({kCopy, "--overwrite", path("linked"), path("a.mdb")}).exitCode(), 0);
        QVERIFY(S_ISLNK(modeOf(path("linked/a.mdb"))));
        QCOMPARE(readBytes(path("real.mdb")), readBytes(path("a.mdb")));

        QVERIFY(::symlink("real.zip", path("link.zip")) == 0);
        QCOMPARE(runToEnd({kZip, "add", path("link.zip"), path("a.mdb")}).exitCode(), 0);
        QVERIFY(S_ISLNK(modeOf(path("link.zip"))));
        QVERIFY(readBytes(path("real.zip")).startsWith("PK"));
        QCOMPARE(temporaries(m_dir), QStringList());
    }

    // Standard output that cannot be written is a failure, said in one line.
    void fullStandardOutput_data() {
        QTest::addColumn<QList<QByteArray>>("argv");
        QTest::newRow("copy --help") << QList<QByteArray>{kCopy, "--help"};
        QTest::newRow("zip --help") << QList<QByteArray>{kZip, "--help"};
        QTest::newRow("zip list") << QList<QByteArray>{kZip, "list", "made.zip"};
        QTest::newRow("jet --help") << QList<QByteArray>{kJet, "--help"};
        QTest::newRow("run --help") << QList<QByteArray>{kRun, "--help"};
        for (const QByteArray& program : {kCopy, kZip, kJet, kRun})
            QTest::newRow(QFileInfo(program).fileName().toLatin1() + " --version")
                << QList<QByteArray>{program, "--version"};
#ifdef TARNWICK_WINDOW
        // The window answers these alone, before it needs a display.
        QTest::newRow("window --help") << QList<QByteArray>{TARNWICK_WINDOW, "--help"};
        QTest::newRow("window --version") << QList<QByteArray>{TARNWICK_WINDOW, "--version"};
#endif
    }
    void fullStandardOutput() {
        QFETCH(QList<QByteArray>, argv);
        QCOMPARE(runToEnd({kZip, "add", path("made.zip"), path("a.mdb")}).exitCode(), 0);
        if (argv.last() == "made.zip") argv.last() = path("made.zip");
        const Run r = runToEnd(argv, "/dev/full");
        QVERIFY(r.exitCode() != 0 && r.exitCode() < 128);
        QCOMPARE(r.err(),
                 QByteArray(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toLocal8Bit() +
                            ": cannot write to standard output: " + std::strerror(ENOSPC) + "\n"));
    }

    // Unknown options are named in one line with a hint, and exit 2; --version says the
    // program and its version; after -- a name may start with a dash.
    void optionConventions() {
        for (const QByteArray& program : {kCopy, kZip, kJet, kRun}) {
            const QByteArray name = QFileInfo(program).fileName().toLatin1();
            const QList<QByteArray> argv =
                program == kZip   ? QList<QByteArray>{program, "add", "--frob"}
                : program == kJet ? QList<QByteArray>{program, "info", "--frob"}
                                  : QList<QByteArray>{program, "--frob"};
            const Run r = runToEnd(argv);
            QCOMPARE(r.exitCode(), 2);
            const QList<QByteArray> lines = r.err().split('\n');
            QCOMPARE(lines.size(), 3);
            QVERIFY2(lines[0].startsWith(name + ": ") && lines[0].contains("frob"), r.err());
            QCOMPARE(lines[1], "Try '" + name + " --help'.");
            const Run v = runToEnd({program, "--version"}, path("version"));
            QCOMPARE(v.exitCode(), 0);
            QCOMPARE(readBytes(path("version")), name + " " TARNWICK_VERSION "\n");
        }
        QVERIFY(::rename(path("a.mdb"), path("-a.mdb")) == 0);
        QVERIFY(::chdir(m_dir.constData()) == 0);
        const Run zip = runToEnd({kZip, "add", "--", "-x.zip", "-a.mdb"});
        const Run copy = runToEnd({kCopy, "--make-dir", "--", "-out", "-a.mdb"});
        QVERIFY(::chdir("/") == 0);
        QCOMPARE(zip.exitCode(), 0);
        QCOMPARE(copy.exitCode(), 0);
        QVERIFY(QFile::exists(QString::fromLocal8Bit(path("-x.zip"))));
        QVERIFY(QFile::exists(QString::fromLocal8Bit(path("-out/-a.mdb"))));
    }

    // Names are bytes: what is not UTF-8 is found, kept and shown as it is.
    void namesThatAreNotUtf8() {
        const QByteArray folder = path("d\xfe");
        const QByteArray source = path("b\xff.mdb");
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
        QVERIFY(writeBytes(source, "data"));
        QCOMPARE(runToEnd({kCopy, folder, source}).exitCode(), 0);
        QCOMPARE(readBytes(folder + "/b\xff.mdb"), QByteArray("data"));
        QCOMPARE(runToEnd({kZip, "add", folder + "/z\xfe.zip", source}).exitCode(), 0);
        const QByteArray listed = m_dir + "/list";
        QCOMPARE(runToEnd({kZip, "list", folder + "/z\xfe.zip"}, listed).exitCode(), 0);
        QVERIFY2(readBytes(listed).contains(" b\xff.mdb\n"), readBytes(listed).constData());
        // QTemporaryDir cannot name these to remove them.
        for (const QByteArray& n : {folder + "/b\xff.mdb", folder + "/z\xfe.zip", source})
            QVERIFY(::unlink(n.constData()) == 0);
        QVERIFY(::rmdir(folder.constData()) == 0);
    }

    // An archive is never more readable than what went in; an existing one keeps its mode.
    void modes() {
        QVERIFY(::chmod(path("a.mdb"), 0600) == 0);
        QCOMPARE(runToEnd({kZip, "add", path("new.zip"), path("a.mdb")}).exitCode(), 0);
        QCOMPARE(modeOf(path("new.zip")) & 0777, mode_t(0600));
        QVERIFY(::mkdir(path("copies"), 0755) == 0);
        QCOMPARE(runToEnd({kCopy, path("copies"), path("a.mdb")}).exitCode(), 0);
        QCOMPARE(modeOf(path("copies/a.mdb")) & 0777, mode_t(0600));

        QVERIFY(writeBytes(path("open.mdb"), "open"));
        QVERIFY(::chmod(path("open.mdb"), 0644) == 0);
        QCOMPARE(runToEnd({kZip, "add", path("kept.zip"), path("open.mdb")}).exitCode(), 0);
        QVERIFY(::chmod(path("kept.zip"), 0640) == 0);
        QCOMPARE(runToEnd({kZip, "add", path("kept.zip"), path("a.mdb")}).exitCode(), 0);
        QCOMPARE(modeOf(path("kept.zip")) & 0777, mode_t(0600)); // narrowed by the 0600 source
        QVERIFY(::chmod(path("kept.zip"), 0640) == 0);
        QCOMPARE(runToEnd({kZip, "add", path("kept.zip"), path("open.mdb")}).exitCode(), 0);
        QCOMPARE(modeOf(path("kept.zip")) & 0777, mode_t(0640)); // kept, not widened to 0644
        if (::geteuid() == 0) {
            // Someone else's archive stays theirs.
            QVERIFY(::chown(path("kept.zip"), 65534, 65534) == 0);
            QCOMPARE(runToEnd({kZip, "add", path("kept.zip"), path("a.mdb")}).exitCode(), 0);
            struct stat st {};
            QVERIFY(::stat(path("kept.zip"), &st) == 0);
            QCOMPARE(st.st_uid, uid_t(65534));
            QCOMPARE(st.st_gid, gid_t(65534));
        }
    }

    // Two updates of one archive at once: the second waits, both files are in. A new archive is
    // held through its folder, an existing one through itself (and is replaced meanwhile).
    void concurrentAdds_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("new archive") << false;
        QTest::newRow("existing archive") << true;
    }
    void concurrentAdds() {
        QFETCH(bool, existing);
        if (existing)
            QCOMPARE(runToEnd({kZip, "add", path("both.zip"), path("a.mdb")}).exitCode(), 0);
        QVERIFY(writeBytes(path("b.mdb"), randomBytes(8 << 20)));
        QVERIFY(writeBytes(path("c.mdb"), randomBytes(8 << 20).toBase64()));
        Run first = start({kZip, "add", path("both.zip"), path("b.mdb")}, "/dev/null",
                          m_tmp.path().toLocal8Bit());
        Run second = start({kZip, "add", path("both.zip"), path("c.mdb")}, "/dev/null",
                           m_tmp.path().toLocal8Bit());
        const bool ended = first.wait(120000) && second.wait(120000);
        first.reap();
        second.reap();
        QVERIFY(ended);
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        const QByteArray listed = m_dir + "/list";
        QCOMPARE(runToEnd({kZip, "list", path("both.zip")}, listed).exitCode(), 0);
        QVERIFY(readBytes(listed).contains(" b.mdb\n") && readBytes(listed).contains(" c.mdb\n"));
    }

    // A run ended by SIGINT or SIGTERM removes its temporary file; one ended by SIGKILL cannot,
    // and the next run in that folder does.
    void interruptedRuns_data() {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<int>("signal");
        QTest::newRow("zip, SIGTERM") << kZip << SIGTERM;
        QTest::newRow("zip, SIGINT") << kZip << SIGINT;
        QTest::newRow("zip, SIGKILL") << kZip << SIGKILL;
        QTest::newRow("copy, SIGTERM") << kCopy << SIGTERM;
        QTest::newRow("copy, SIGKILL") << kCopy << SIGKILL;
    }
    void interruptedRuns() {
        QFETCH(QByteArray, program);
        QFETCH(int, signal);
        const bool zip = program == kZip;
        QVERIFY(::mkdir(path("out"), 0755) == 0);
        // Long enough to be caught in the middle: incompressible for the zip, large for the copy.
        if (zip) {
            QVERIFY(writeBytes(path("big.mdb"), randomBytes(96 << 20)));
        } else {
            const int fd = ::open(path("big.mdb"), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0 && ::ftruncate(fd, off_t(4) << 30) == 0 && ::close(fd) == 0);
        }
        const QList<QByteArray> argv =
            zip ? QList<QByteArray>{kZip, "add", "-l", "9", path("out/big.zip"), path("big.mdb")}
                : QList<QByteArray>{kCopy, path("out"), path("big.mdb")};
        Run r = start(argv, "/dev/null", m_tmp.path().toLocal8Bit());
        QElapsedTimer t;
        t.start();
        while (temporaries(path("out")).isEmpty() && !r.wait(0) && t.elapsed() < 60000)
            QThread::msleep(5);
        if (r.finished) QSKIP("the run ended before it could be interrupted");
        QVERIFY(::kill(r.pid, signal) == 0);
        QVERIFY(r.wait(60000));
        QCOMPARE(r.exitCode(), 128 + signal);
        if (signal == SIGKILL) {
            QCOMPARE(temporaries(path("out")).size(), 1);
            QVERIFY(writeBytes(path("small.mdb"), "small"));
            const Run next = runToEnd(
                zip ? QList<QByteArray>{kZip, "add", path("out/big.zip"), path("small.mdb")}
                    : QList<QByteArray>{kCopy, path("out"), path("small.mdb")});
            QCOMPARE(next.exitCode(), 0);
        }
        QCOMPARE(temporaries(path("out")), QStringList());
        QVERIFY(!QFile::exists(QString::fromLocal8Bit(path("out/big.zip"))) ||
                readBytes(path("out/big.zip")).startsWith("PK"));
    }

    // The true sizes of entries over 4 GiB, from their ZIP64 field.
    void listShowsZip64Sizes() {
        // One stored entry whose directory record says 5,000,000,000 bytes through ZIP64.
        const auto le = [](quint64 v, int n) {
            QByteArray b;
            for (int i = 0; i < n; ++i)
                b += char(v >> (8 * i));
            return b;
        };
        const QByteArray name = "big.bin";
        QByteArray zip = le(0x04034b50, 4) + le(45, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) +
                         le(0, 4) + le(0, 4) + le(name.size(), 2) + le(0, 2) + name;
        const quint64 dirAt = quint64(zip.size());
        const QByteArray extra = le(1, 2) + le(16, 2) + le(5000000000ull, 8) + le(4900000000ull, 8);
        zip += le(0x02014b50, 4) + le(45, 2) + le(45, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
               le(0, 4) + le(0xFFFFFFFF, 4) + le(0xFFFFFFFF, 4) + le(name.size(), 2) +
               le(extra.size(), 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + name +
               extra;
        const quint64 dirSize = quint64(zip.size()) - dirAt;
        zip += le(0x06054b50, 4) + le(0, 2) + le(0, 2) + le(1, 2) + le(1, 2) + le(dirSize, 4) +
               le(dirAt, 4) + le(0, 2);
        QVERIFY(writeBytes(path("z64.zip"), zip));
        const QByteArray listed = m_dir + "/list";
        QCOMPARE(runToEnd({kZip, "list", path("z64.zip")}, listed).exitCode(), 0);
        QVERIFY2(readBytes(listed).contains("5000000000   4900000000"),
                 readBytes(listed).constData());
    }
};

QTEST_GUILESS_MAIN(TestHardening)
#include "tst_hardening.moc"
