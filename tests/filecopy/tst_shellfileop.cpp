// The copy component: its source list, the flags it asks for, its result, and a real copy
// through it.

#include "filecopy/shellfileop.h"
#include "platform/linuxshellfileoperation.h"
#include "runtime/classregistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarnwick;

namespace {

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(data);
}

// The values the main window's description gives its instance.
void setUpLikeMainWindow(TShellFileOp& op) {
    op.SetFilesOnly(true);
    op.SetNoConfirmation(true);
    op.SetAutoMakeDir(false);
    op.SetRenameOnCollision(true);
    op.SetAnimate(true);
    op.SetProgressTitle(QStringLiteral("Backing up Access File.."));
}

} // namespace

class TestShellFileOp : public QObject {
    Q_OBJECT

private slots:
    void flags_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<unsigned>("flags");
        QTest::newRow("main window") << QByteArray() << QVariant() << 0x198u;
        QTest::newRow("no title") << QByteArray("ProgressTitle") << QVariant(QString()) << 0x98u;
        QTest::newRow("not animated") << QByteArray("Animate") << QVariant(false) << 0x19cu;
        QTest::newRow("make folders") << QByteArray("AutoMakeDir") << QVariant(true) << 0x398u;
        QTest::newRow("no rename") << QByteArray("RenameOnCollision") << QVariant(false) << 0x190u;
        QTest::newRow("confirm") << QByteArray("NoConfirmation") << QVariant(false) << 0x188u;
        QTest::newRow("wildcards match folders")
            << QByteArray("FilesOnly") << QVariant(false) << 0x118u;
    }

    // Flags come from the properties at each call, set by name as a window description does.
    void flags() {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(unsigned, flags);
        RecordingShellFileOperation shell;
        TShellFileOp op;
        op.SetOperation(&shell);
        setUpLikeMainWindow(op);
        op.AddFile(QStringLiteral("/data/a.mdb"));
        op.CopyTo(QStringLiteral("/backup"));
        if (!property.isEmpty())
            QVERIFY(ComponentModel::FindProperty(&op, property)->write(&op, value));
        op.AddFile(QStringLiteral("/data/a.mdb"));
        op.CopyTo(QStringLiteral("/backup"));
        QCOMPARE(shell.requests.size(), size_t(2));
        QCOMPARE(shell.requests[0].flags, 0x198u);
        QCOMPARE(shell.requests[1].flags, flags);
        QCOMPARE(shell.requests[1].progressTitle, flags & fofSimpleProgress
                                                      ? QStringLiteral("Backing up Access File..")
                                                      : QString());
        QCOMPARE(shell.requests[1].destination, QStringLiteral("/backup"));
    }

    void createdByClassName() {
        RegisterShellFileOp();
        std::unique_ptr<QObject> op(TClassRegistry::Create("TShellFileOp", nullptr));
        QVERIFY(qobject_cast<TShellFileOp*>(op.get()));
    }

    void sortedWithoutDuplicates() {
        RecordingShellFileOperation shell;
        TShellFileOp op;
        op.SetOperation(&shell);
        op.AddFile(QStringLiteral("/data/c.mdb"));
        op.AddFiles({QStringLiteral("/data/B.mdb"), QStringLiteral("/data/a.mdb"), QString(),
                     QStringLiteral("/data/b.mdb"), QStringLiteral("/data/a.mdb"),
                     QStringLiteral("/DATA/C.MDB"), QStringLiteral("/data/a (1).mdb")});
        const QStringList expected{"/data/a (1).mdb", "/data/a.mdb", "/data/B.mdb", "/data/c.mdb"};
        QCOMPARE(op.SourceFiles(), expected);
        QVERIFY(!op.CopyTo(QStringLiteral("/backup")));
        QCOMPARE(shell.requests.at(0).sources, expected);
        QVERIFY(op.SourceFiles().isEmpty());
    }

    // Two files whose names differ only in letter case are two files here: both are kept.
    void caseOnlyDifferentFilesBothKept() {
        QTemporaryDir tmp;
        writeFile(tmp.filePath("data.mdb"), "lower");
        writeFile(tmp.filePath("DATA.mdb"), "upper");
        TShellFileOp op;
        op.AddFiles({tmp.filePath("data.mdb"), tmp.filePath("DATA.mdb"), tmp.filePath("Data.mdb")});
        QCOMPARE(op.SourceFiles(),
                 (QStringList{tmp.filePath("DATA.mdb"), tmp.filePath("data.mdb")}));
    }

    void emptyListCopiesNothing() {
        RecordingShellFileOperation shell;
        TShellFileOp op;
        op.SetOperation(&shell);
        QVERIFY(!op.CopyTo(QStringLiteral("/backup")));
        op.AddFile(QString());
        QVERIFY(!op.CopyTo(QStringLiteral("/backup")));
        QVERIFY(shell.requests.empty());
        op.AddFile(QStringLiteral("/data/a.mdb"));
        QVERIFY(!op.CopyTo(QStringLiteral("/backup")));
        QVERIFY(!op.CopyTo(QStringLiteral("/backup"))); // right after: nothing left
        QCOMPARE(shell.requests.size(), size_t(1));
    }

    void abortIsTheResult() {
        RecordingShellFileOperation shell;
        shell.result.anyOperationsAborted = true;
        shell.result.failures = 1;
        TShellFileOp op;
        op.SetOperation(&shell);
        op.AddFile(QStringLiteral("/data/a.mdb"));
        QVERIFY(op.CopyTo(QStringLiteral("/backup")));
        QCOMPARE(op.LastFailures(), 1);
        QVERIFY(op.SourceFiles().isEmpty());
        QVERIFY(!op.CopyTo(QStringLiteral("/backup")));
        QCOMPARE(op.LastFailures(), 0);
    }

    // Through the real copy: sorted order, each file once, collisions renamed.
    void realCopy() {
        QTemporaryDir tmp;
        const QString src = tmp.filePath("src");
        const QString dst = tmp.filePath("dst");
        QDir().mkpath(src);
        QDir().mkpath(dst);
        for (const char* n : {"b.mdb", "A.mdb", "c.mdb"})
            writeFile(src + QLatin1Char('/') + QLatin1String(n), n);
        writeFile(dst + QStringLiteral("/c.mdb"), "old");
        ScriptedShellCopyUi ui;
        LinuxShellFileOperation shell(&ui);
        TShellFileOp op;
        op.SetOperation(&shell);
        setUpLikeMainWindow(op);
        op.AddFiles({src + "/c.mdb", src + "/b.mdb", src + "/A.mdb", src + "/a.mdb", src + "/B.mdb",
                     src + "/c.mdb"});
        QVERIFY(!op.CopyTo(dst));
        QCOMPARE(ui.progressSources, (QStringList{src + "/A.mdb", src + "/b.mdb", src + "/c.mdb"}));
        QCOMPARE(QDir(dst).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"A.mdb", "b.mdb", "c (1).mdb", "c.mdb"}));
        QCOMPARE(ui.title, QStringLiteral("Backing up Access File.."));
        QVERIFY(ui.errors.isEmpty());
    }
};

QTEST_MAIN(TestShellFileOp)
#include "tst_shellfileop.moc"
