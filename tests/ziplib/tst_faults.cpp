// What must never happen: a stop, a full disk or an unreadable file damaging the archive
// that was there before, or leaving a temporary file behind.
#include "ziptestutil.h"

#include "tests/common/tmpfs.h"
#include "tests/common/unprivileged.h"

#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

using namespace ziptest;

class TestZipFaults : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(Library::get().exec);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void stopFromCallback_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("nth");
        QTest::newRow("at the totals") << int(ZIPLIB_ACTION_TOTAL_SIZE) << 1;
        QTest::newRow("asked for a new name") << int(ZIPLIB_ACTION_NEW_NAME) << 1;
        QTest::newRow("asked for a comment") << int(ZIPLIB_ACTION_FILE_COMMENT) << 1;
        QTest::newRow("starting the file") << int(ZIPLIB_ACTION_NEW_FILE) << 1;
        QTest::newRow("half-way through the bytes") << int(ZIPLIB_ACTION_PROGRESS) << 3;
        QTest::newRow("at the last bytes") << int(ZIPLIB_ACTION_PROGRESS) << 6;
    }
    void stopFromCallback() {
        QFETCH(int, action);
        QFETCH(int, nth);
        const QString zip = makeOldArchive(m_dir->path());
        const QByteArray before = readAll(zip);
        writeFile(m_dir->filePath("big.mdb"), randomBytes(6 << 20, 11));
        Command c(zip, {{m_dir->filePath("big.mdb").toStdString()}});
        int seen = 0;
        c.recorder.answer = [&](ZipCallbackData& d) {
            return d.action == action && ++seen >= nth ? -1 : 0;
        };
        QCOMPARE(c.run(), 0);
        QCOMPARE(seen, nth);
        QCOMPARE(readAll(zip), before);
        QCOMPARE(dirList(m_dir->path()), (QStringList{"big.mdb", "old.mdb", "old.zip"}));
        QVERIFY(c.recorder.count(ZIPLIB_ACTION_NEW_FILE) <= 1);
    }

    void sourceShrinkingWhileRead() {
        const QString zip = makeOldArchive(m_dir->path());
        const QByteArray before = readAll(zip);
        const QString src = m_dir->filePath("big.mdb");
        writeFile(src, randomBytes(5 << 20, 12));
        Command c(zip, {{src.toStdString()}});
        c.recorder.answer = [&](ZipCallbackData& d) {
            if (d.action == ZIPLIB_ACTION_NEW_FILE) ::truncate(src.toLocal8Bit().constData(), 1000);
            return 0;
        };
        QCOMPARE(c.run(), 0);
        QCOMPARE(readAll(zip), before);
        QCOMPARE(dirList(m_dir->path()), (QStringList{"big.mdb", "old.mdb", "old.zip"}));
        QVERIFY(!c.recorder.messages().isEmpty());
    }

    void unreadableSource_data() {
        QTest::addColumn<bool>("withReadable");
        QTest::newRow("only file") << false;
        QTest::newRow("beside a readable one") << true;
    }
    void unreadableSource() {
        QFETCH(bool, withReadable);
        const QString zip = makeOldArchive(m_dir->path());
        const QByteArray before = readAll(zip);
        const QString locked = m_dir->filePath("locked.mdb");
        writeFile(locked, "no entry");
        writeFile(m_dir->filePath("open.mdb"), "fine");
        QCOMPARE(::chmod(locked.toLocal8Bit().constData(), 0), 0);
        std::vector<FileSpecArg> specs{{locked.toStdString()}};
        if (withReadable) specs.emplace_back(m_dir->filePath("open.mdb").toStdString());
        Command c(zip, specs);
        const int added = runAsUnprivileged(c);
        QCOMPARE(added, withReadable ? 1 : 0);
        if (!withReadable)
            QCOMPARE(readAll(zip), before);
        else
            QCOMPARE(names(inspect(zip)), (QStringList{"old.mdb", "open.mdb"}));
        QCOMPARE(dirList(m_dir->path()),
                 (QStringList{"locked.mdb", "old.mdb", "old.zip", "open.mdb"}));
    }

    void fullFileSystem() {
        const QString mnt = m_dir->filePath("small");
        QDir().mkpath(mnt);
        testutil::TmpfsMount fs(mnt, "size=1m");
        if (!fs.ok()) QSKIP("cannot mount a small tmpfs here (needs root)");
        const QString zip = makeOldArchive(mnt);
        const QByteArray before = readAll(zip);
        const QString src = m_dir->filePath("big.mdb");
        writeFile(src, randomBytes(3 << 20, 13)); // cannot compress, cannot fit
        Command c(zip, {{src.toStdString()}});
        QCOMPARE(c.run(), 0);
        QCOMPARE(readAll(zip), before);
        QCOMPARE(dirList(mnt), (QStringList{"old.mdb", "old.zip"}));
        QVERIFY2(c.recorder.messages().join('\n').contains("disk is full"),
                 qPrintable(c.recorder.messages().join('\n')));

        // A temporary folder on another file system: the archive is copied across.
        writeFile(m_dir->filePath("small.mdb"), QByteArray(200000, 'q'));
        const QString tmp = m_dir->filePath("tmp");
        QDir().mkpath(tmp);
        Command d(zip, {{m_dir->filePath("small.mdb").toStdString()}});
        d.tempDir = tmp.toStdString();
        QCOMPARE(d.run(), 1);
        verifyWithTools(zip);
        QCOMPARE(names(inspect(zip)), (QStringList{"old.mdb", "small.mdb"}));
        QVERIFY(dirList(tmp).isEmpty());
        QCOMPARE(dirList(mnt), (QStringList{"old.mdb", "old.zip"}));
    }

    void corruptArchiveIsNotReplaced() {
        const QString zip = m_dir->filePath("bad.zip");
        writeFile(zip, "this is not a zip archive at all, but someone's file");
        writeFile(m_dir->filePath("a.mdb"), "a");
        Command c(zip, {{m_dir->filePath("a.mdb").toStdString()}});
        QCOMPARE(c.run(), 0);
        QCOMPARE(readAll(zip), QByteArray("this is not a zip archive at all, but someone's file"));
        QCOMPARE(c.recorder.calls.back().code & 0xFF, int(ZIPLIB_E_FORMAT));
    }

private:
    static QString makeOldArchive(const QString& dir) {
        const QString zip = dir + "/old.zip";
        writeFile(dir + "/old.mdb", "old contents");
        Command c(zip, {{(dir + "/old.mdb").toStdString()}});
        if (c.run() != 1) qFatal("could not make the first archive");
        return zip;
    }

    // Root reads every file, so the library runs as a user who gave up root.
    int runAsUnprivileged(Command& c) {
        return testutil::runUnprivileged([&] { return c.run(); }, {m_dir->path()});
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestZipFaults)
#include "tst_faults.moc"
