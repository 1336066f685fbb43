// A file over 4 GiB must go through ZIP64 and come back whole. The file is sparse (zeros
// with a few marked stretches), so it costs no disk, only compression time.
#include "ziptestutil.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <unistd.h>

using namespace ziptest;

class TestZip64 : public QObject {
    Q_OBJECT
private slots:
    void overFourGiB() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString src = dir.filePath("huge.mdb");
        const qint64 size = (qint64(4) << 30) + 123457;
        const int fd = ::open(src.toLocal8Bit().constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        QVERIFY(::ftruncate(fd, size) == 0);
        // Marks near the start, across the 4 GiB line and at the end, so a wrong offset shows.
        for (qint64 at : {qint64(0), qint64(1) << 31, (qint64(1) << 32) - 3, size - 7})
            QCOMPARE(::pwrite(fd, "MARK!!!", 7, at), 7);
        ::close(fd);
        const QString zip = dir.filePath("huge.zip");
        Command c(zip, {{src.toStdString()}});
        c.cmd.head.level = 1;
        QCOMPARE(c.run(), 1);
        const auto u = tool("unzip", {"-tqq", zip});
        QVERIFY2(u.exit == 0, qPrintable(u.out));
        const auto info = inspect(zip);
        const auto e = entry(info, "huge.mdb");
        QCOMPARE(e["size"].toInteger(), size);
        QVERIFY(e["readOk"].toBool());
        // unzip and zipfile both check the data against the CRC taken from the input blocks.
        const QString zi = tool("zipinfo", {"-v", zip}).out;
        QVERIFY2(zi.contains("64-bit sizes"), qPrintable(zi));
    }
};

QTEST_GUILESS_MAIN(TestZip64)
#include "tst_zip64.moc"
