// The durable replace with each step failing in turn, hostile targets, and the clean-up of
// temporary files left by killed runs.

#include "platform/posix/durablereplace.h"
#include "platform/posix/faults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnwick::posix;
Q_DECLARE_METATYPE(tarnwick::posix::FaultPoint)

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QStringList temporaries(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral(".tarnwick-*")},
                                  QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestDurableReplace : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setFaultInjector({}); }

    void failingStep_data() {
        QTest::addColumn<FaultPoint>("point");
        QTest::addColumn<bool>("oldStays");
        QTest::newRow("write") << FaultPoint::Write << true;
        QTest::newRow("sync") << FaultPoint::Sync << true;
        QTest::newRow("rename") << FaultPoint::Rename << true;
        // After the rename only the new, complete file can be there; the failure still counts.
        QTest::newRow("folder sync") << FaultPoint::FolderSync << false;
    }
    void failingStep() {
        QFETCH(FaultPoint, point);
        QFETCH(bool, oldStays);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("a.mdb"));
        writeFile(target, "old content");
        setFaultInjector([&](FaultPoint p) { return p == point ? ENOSPC : 0; });
        DurableReplace r;
        QVERIFY(r.open(QFile::encodeName(target).toStdString()));
        const bool ok = r.write("new content", 11) && r.commit();
        QVERIFY(!ok);
        QCOMPARE(r.errorCode(), ENOSPC);
        QVERIFY2(QString::fromStdString(r.errorMessage())
                     .endsWith(QStringLiteral(": ") + qt_error_string(ENOSPC)),
                 r.errorMessage().c_str());
        QCOMPARE(readAll(target), oldStays ? QByteArray("old content") : QByteArray("new content"));
        QCOMPARE(temporaries(dir.path()), QStringList());
    }

    void keepsModeAndWritesThroughLinks() {
        QTemporaryDir dir;
        const QString real = dir.filePath(QStringLiteral("real.zip"));
        const QString link = dir.filePath(QStringLiteral("link.zip"));
        writeFile(real, "old");
        QVERIFY(::chmod(QFile::encodeName(real).constData(), 0640) == 0);
        QVERIFY(QFile::link(real, link));
        DurableReplace r;
        QVERIFY(r.open(QFile::encodeName(link).toStdString()));
        QVERIFY(r.write("new", 3) && r.commit());
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readAll(real), QByteArray("new"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(real).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));

        ReplaceOptions noLinks;
        noLinks.followSymlink = false;
        DurableReplace refused;
        QVERIFY(!refused.open(QFile::encodeName(link).toStdString(), noLinks));
        QCOMPARE(refused.errorCode(), ELOOP);
        QVERIFY(QFileInfo(link).isSymLink());
    }

    void refusesTargetsThatAreNotFiles() {
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        QVERIFY(::mkfifo(base + "/fifo", 0600) == 0);
        QVERIFY(::mkdir(base + "/folder", 0700) == 0);
        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, base + "/socket", sizeof addr.sun_path);
        QVERIFY(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
        QStringList names{QStringLiteral("fifo"), QStringLiteral("folder"),
                          QStringLiteral("socket")};
        if (::mknod(base + "/null", S_IFCHR | 0666, makedev(1, 3)) == 0)
            names << QStringLiteral("null");
        else
            qInfo("no device node test: mknod needs root");
        for (const QString& name : names) {
            struct stat before {};
            QVERIFY(::lstat(base + '/' + QFile::encodeName(name), &before) == 0);
            DurableReplace r;
            QVERIFY2(!r.open((base + '/' + QFile::encodeName(name)).toStdString()),
                     qPrintable(name));
            QVERIFY(r.errorMessage().find("will not replace") != std::string::npos);
            struct stat after {};
            QVERIFY(::lstat(base + '/' + QFile::encodeName(name), &after) == 0);
            QCOMPARE(after.st_ino, before.st_ino);
            QCOMPARE(after.st_mode, before.st_mode);
        }
        ::close(sock);
        QCOMPARE(temporaries(dir.path()), QStringList());
    }

    // Written on another file system first (a temporary folder elsewhere), then brought over.
    void scratchOnAnotherFileSystem() {
        QTemporaryDir dir;
        QTemporaryDir scratch(QStringLiteral("/dev/shm/tarnwick-XXXXXX"));
        struct stat a {
        }, b{};
        if (!scratch.isValid() || ::stat(QFile::encodeName(dir.path()), &a) != 0 ||
            ::stat(QFile::encodeName(scratch.path()), &b) != 0 || a.st_dev == b.st_dev)
            QSKIP("no second file system at /dev/shm");
        const int scratchFd = ::open(QFile::encodeName(scratch.path()), O_RDONLY | O_DIRECTORY);
        ReplaceOptions options;
        options.scratchFolderFd = scratchFd;
        // The move across (a real EXDEV) copies the data over: its write and its rename fail.
        for (FaultPoint point : {FaultPoint::Rename, FaultPoint::Write}) {
            int calls = 0;
            setFaultInjector([&](FaultPoint p) { return p == point && ++calls == 2 ? EIO : 0; });
            DurableReplace failing;
            QVERIFY(failing.open(QFile::encodeName(dir.filePath(QStringLiteral("a"))).toStdString(),
                                 options));
            QVERIFY(failing.write("x", 1));
            QVERIFY(!failing.commit());
            QCOMPARE(failing.errorCode(), EIO);
            QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("a"))));
            QCOMPARE(temporaries(dir.path()) + temporaries(scratch.path()), QStringList());
        }
        setFaultInjector({});
        DurableReplace r;
        QVERIFY(
            r.open(QFile::encodeName(dir.filePath(QStringLiteral("a"))).toStdString(), options));
        QVERIFY(r.write("across", 6) && r.commit());
        ::close(scratchFd);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("a"))), QByteArray("across"));
        QCOMPARE(temporaries(dir.path()), QStringList());
        QCOMPARE(temporaries(scratch.path()), QStringList());
    }

    void newNameNeverReplaces() {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("b")), "theirs");
        DurableReplace r;
        QVERIFY(r.open(QFile::encodeName(dir.filePath(QStringLiteral("a"))).toStdString()));
        QVERIFY(r.write("ours", 4));
        QVERIFY(!r.commitAsNew("b"));
        QCOMPARE(r.errorCode(), EEXIST);
        QVERIFY(r.commitAsNew("c"));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("b"))), QByteArray("theirs"));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("c"))), QByteArray("ours"));
    }

    // Only ours, only unlocked, only of dead writers (or old enough when the writer is unknown).
    void sweepsOnlyOrphansOfOurs() {
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path()) + '/';
        // A process that is surely gone: a finished child.
        const pid_t child = ::fork();
        if (child == 0) _exit(0);
        QVERIFY(child > 0 && ::waitpid(child, nullptr, 0) == child);
        const QByteArray dead = QByteArray::number(child);
        const QByteArray alive = QByteArray::number(::getpid());
        writeFile(QString::fromUtf8(base + ".tarnwick-" + dead + "-abcdef.part"), "orphan");
        writeFile(QString::fromUtf8(base + ".tarnwick-" + alive + "-abcdef.part"), "young, live");
        writeFile(QString::fromUtf8(base + ".tarnwick-" + dead + "-locked.part"), "being written");
        writeFile(QString::fromUtf8(base + ".tarnwick-" + dead + "-abcdef.txt"), "not our name");
        QVERIFY(::mkfifo(base + ".tarnwick-" + dead + "-fifo00.part", 0600) == 0);
        const int lock = ::open(base + ".tarnwick-" + dead + "-locked.part", O_RDONLY);
        QVERIFY(::flock(lock, LOCK_EX) == 0);
        const int folder = ::open(base, O_RDONLY | O_DIRECTORY);
        QCOMPARE(sweepOrphans(folder, TempNaming{}), 1);
        ::close(folder);
        ::close(lock);
        QCOMPARE(temporaries(dir.path()).size(), 4);
        QVERIFY(!QFile::exists(QString::fromUtf8(base + ".tarnwick-" + dead + "-abcdef.part")));
    }

    // A run ended by SIGTERM while its temporary file exists leaves nothing behind.
    void signalRemovesTemporaryFile() {
        QTemporaryDir dir;
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            // As in a command-line program: nobody else handles the signal.
            ::signal(SIGTERM, SIG_DFL);
            DurableReplace r;
            if (!r.open(QFile::encodeName(dir.filePath(QStringLiteral("x"))).toStdString()))
                _exit(3);
            (void)r.write("partial", 7);
            for (;;)
                ::pause();
        }
        QTRY_VERIFY_WITH_TIMEOUT(temporaries(dir.path()).size() == 1, 30000);
        QVERIFY(::kill(pid, SIGTERM) == 0);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        QCOMPARE(temporaries(dir.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDurableReplace)
#include "tst_durablereplace.moc"
