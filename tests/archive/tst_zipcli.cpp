// tarnwick-zip as scripts use it: exit status, what it adds, what it lists.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
struct Result {
    int exit = -1;
    QString out;
};
Result zipTool(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TARNWICK_ZIP), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}
void write(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}
} // namespace

class TestZipCli : public QObject {
    Q_OBJECT
private slots:
    void help() {
        const auto r = zipTool({"--help"});
        QCOMPARE(r.exit, 0);
        QVERIFY(r.out.contains("tarnwick-zip add"));
        QCOMPARE(zipTool({"frobnicate"}).exit, 2);
        QCOMPARE(zipTool({"add", "--level", "12", "a.zip", "b"}).exit, 2);
    }

    void addAndList_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("main window settings")
            << QStringList{} << QStringList{"a.mdb", "sub/b.gif"} << 0
            << QStringList{"deflated", "a.mdb", "stored", "b.gif"};
        QTest::newRow("one missing")
            << QStringList{} << QStringList{"a.mdb", "missing.mdb"} << 1 << QStringList{"a.mdb"};
        QTest::newRow("level 0 and password")
            << QStringList{"-l", "0", "-p", "pw"} << QStringList{"a.mdb"} << 0
            << QStringList{"stored", "a.mdb (encrypted)"};
        QTest::newRow("recursion with paths")
            << QStringList{"-r", "--paths"} << QStringList{"sub"} << 0 << QStringList{"sub/b.gif"};
    }
    void addAndList() {
        QFETCH(QStringList, options);
        QFETCH(QStringList, names);
        QFETCH(int, exit);
        QFETCH(QStringList, listed);
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("sub"));
        write(dir.filePath("a.mdb"), QByteArray("page ").repeated(1000));
        write(dir.filePath("sub/b.gif"), "GIF89a");
        QDir::setCurrent(dir.path());
        const auto r = zipTool(QStringList{"add"} + options + QStringList{"out.zip"} + names);
        QVERIFY2(r.exit == exit, qPrintable(r.out));
        const auto l = zipTool({"list", "out.zip"});
        QCOMPARE(l.exit, 0);
        for (const auto& s : listed)
            QVERIFY2(l.out.contains(s), qPrintable(l.out));
        QCOMPARE(zipTool({"list", "absent.zip"}).exit, 1);
    }
};

QTEST_GUILESS_MAIN(TestZipCli)
#include "tst_zipcli.moc"
