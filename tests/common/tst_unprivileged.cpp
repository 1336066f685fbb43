// The helper that runs a test body without root: the body really runs as the unprivileged
// user, and a folder it cannot reach stops it with a reason instead of letting every
// "cannot read" check pass by accident.
#include "unprivileged.h"

#include <QTemporaryDir>

class TestUnprivileged : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!testutil::isRoot()) QSKIP("giving up root needs root");
    }

    void reachOfHandedOverFolder_data() {
        QTest::addColumn<QString>("below");
        QTest::addColumn<int>("status");
        QTest::newRow("in the temporary folder") << QString() << 0;
        QTest::newRow("behind a folder closed to others")
            << QStringLiteral("/inner") << testutil::unreachableFolderStatus;
    }
    void reachOfHandedOverFolder() {
        QFETCH(QString, below);
        QFETCH(int, status);
        QTemporaryDir top; // 0700 and root's unless it is itself handed over
        QVERIFY(top.isValid());
        const QString folder = top.path() + below;
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + "/made";
        const int result = testutil::runUnprivileged(
            [&] {
                QFile f(file);
                const bool asThatUser = ::getuid() == testutil::unprivilegedUid;
                return asThatUser && f.open(QIODevice::WriteOnly) ? 0 : 1;
            },
            {folder});
        QCOMPARE(result, status);
        QCOMPARE(QFileInfo::exists(file), status == 0);
        QCOMPARE(QFileInfo(folder).ownerId(), ::geteuid()); // given back
    }
};

QTEST_GUILESS_MAIN(TestUnprivileged)
#include "tst_unprivileged.moc"
