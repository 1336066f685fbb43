// The platform services behind the archiver: loading the zip library, and probing the drive
// that a spanned archive goes to.
#include "archive/ziplibrary.h"
#include "platform/driveprobe.h"
#include "tests/common/platformdoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
std::int32_t fakeExec(void*) {
    return 0;
}
std::int32_t fakeVersion() {
    return 4321;
}
} // namespace

class TestZipPlatform : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        ZipLibrary::Unload();
        ZipLibrary::SetSystemLibraryName(QString());
    }

    void unloadingClearsTheEntryPoints() {
        testutil::FakeLibraryLoader loader;
        loader.libraries["libziplib-fake.so"] = {
            {"ZipLibExec", reinterpret_cast<void*>(&fakeExec)},
            {"GetZipLibVersion", reinterpret_cast<void*>(&fakeVersion)}};
        ZipLibrary::SetSystemLibraryName("libziplib-fake.so");
        ZipLibrary::Load({});
        const ZipLibrary::State loaded = ZipLibrary::state();
        QVERIFY(loaded.handle);
        QCOMPARE(loaded.version(), 4321);
        ZipLibrary::Unload();
        QCOMPARE(loader.closed, QList<void*>{loaded.handle});
        QVERIFY(!ZipLibrary::state().handle);
        QVERIFY(!ZipLibrary::state().exec);
        QVERIFY(!ZipLibrary::state().version);

        // Loaded only for the question, and let go again.
        QCOMPARE(ZipLibrary::Version({}), 4321);
        QCOMPARE(loader.closed.size(), 2);
        QVERIFY(!ZipLibrary::state().exec);
    }

    void removableFlagComesFromTheFoldersDisk_data() {
        QTest::addColumn<bool>("partition");
        QTest::addColumn<QByteArray>("flag");
        QTest::addColumn<bool>("removable");
        QTest::newRow("partition of a stick") << true << QByteArray("1\n") << true;
        QTest::newRow("whole stick") << false << QByteArray("1\n") << true;
        QTest::newRow("partition of a fixed disk") << true << QByteArray("0\n") << false;
        QTest::newRow("no flag") << true << QByteArray() << false;
    }
    void removableFlagComesFromTheFoldersDisk() {
        QFETCH(bool, partition);
        QFETCH(QByteArray, flag);
        QFETCH(bool, removable);
        QTemporaryDir tmp;
        const QString folder = tmp.filePath("backup");
        QVERIFY(QDir().mkpath(folder));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        // A sysfs of our own: dev/block/MAJ:MIN leads to the device, as the kernel's does.
        const QString sys = tmp.filePath("sys");
        const QString disk = sys + "/devices/pci0/usb1/block/sdx";
        const QString device = partition ? disk + "/sdx1" : disk;
        QVERIFY(QDir().mkpath(device));
        if (partition) QVERIFY(QFile(device + "/partition").open(QIODevice::WriteOnly));
        if (!flag.isEmpty()) {
            QFile f(disk + "/removable");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(flag);
        }
        QVERIFY(QDir().mkpath(sys + "/dev/block"));
        QVERIFY(QFile::link(device, QStringLiteral("%1/dev/block/%2:%3")
                                        .arg(sys)
                                        .arg(major(st.st_dev))
                                        .arg(minor(st.st_dev))));
        tarnwick::LinuxDriveProbe probe(sys);
        QCOMPARE(probe.IsRemovable(folder), removable);
        QVERIFY(!probe.IsRemovable(tmp.filePath("missing")));
        QVERIFY(probe.FreeBytes(folder) > 0);
        QCOMPARE(probe.FreeBytes(tmp.filePath("missing")), qint64(-1));
    }
};

QTEST_GUILESS_MAIN(TestZipPlatform)
#include "tst_zipplatform.moc"
