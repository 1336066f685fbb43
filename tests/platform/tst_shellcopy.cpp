// The Linux copy operation on real files: order, collisions, replacing, cancel, errors, and
// file systems that are read-only or full.

#include "platform/linuxshellfileoperation.h"
#include "platform/widgets/qtshellcopyui.h"
#include "tests/common/tmpfs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace tarnwick;

namespace {

QByteArray pattern(qint64 size, char seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char(seed + i * 7 + i / 4099);
    return data;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(data), data.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

constexpr unsigned mainWindowFlags =
    fofFilesOnly | fofNoConfirmation | fofSimpleProgress | fofRenameOnCollision;

} // namespace

class TestShellCopy : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_tmp.isValid());
        m_src = m_tmp.filePath(QStringLiteral("src"));
        m_dst = m_tmp.filePath(QStringLiteral("dst"));
        QDir().mkpath(m_src);
        QDir().mkpath(m_dst);
    }
    void cleanup() {
        QDir(m_src).removeRecursively();
        QDir(m_dst).removeRecursively();
    }

    void collisionName_data();
    void collisionName();
    void copiesInOrderKeepingContentAndTimes();
    void renamesCollisionsTwiceInARow();
    void replacesExistingFiles_data();
    void replacesExistingFiles();
    void cancelMidwayLeavesNoPartialFile();
    void missingSource_data();
    void missingSource();
    void missingTargetFolder_data();
    void missingTargetFolder();
    void wildcardHonoursFilesOnly();
    void readOnlyTargetFolder();
    void nearlyFullFileSystem();
    void reflinkOnXfs();
    void silentShowsNoProgress();
    void realProgressWindowCancels();
    void realErrorBoxSkips();

private:
    QTemporaryDir m_tmp;
    QString m_src;
    QString m_dst;
};

void TestShellCopy::collisionName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first") << "Data.mdb" << 1 << "Data (1).mdb";
    QTest::newRow("second") << "Data.mdb" << 2 << "Data (2).mdb";
    QTest::newRow("counts on") << "Data (1).mdb" << 1 << "Data (2).mdb";
    QTest::newRow("no extension") << "README" << 1 << "README (1)";
    QTest::newRow("hidden file") << ".profile" << 1 << ".profile (1)";
    QTest::newRow("two dots") << "db.backup.mdb" << 3 << "db.backup (3).mdb";
    QTest::newRow("tarball") << "a.tar.gz" << 1 << "a (1).tar.gz";
    QTest::newRow("words in brackets") << "x (old).txt" << 1 << "x (old) (1).txt";
}

void TestShellCopy::collisionName() {
    QFETCH(QString, name);
    QFETCH(int, n);
    QFETCH(QString, expected);
    QCOMPARE(LinuxShellFileOperation::collisionName(name, n), expected);
}

void TestShellCopy::copiesInOrderKeepingContentAndTimes() {
    const QStringList names{QStringLiteral("b.mdb"), QStringLiteral("a.mdb"),
                            QStringLiteral("empty.mdb")};
    QStringList sources;
    for (int i = 0; i < names.size(); ++i) {
        sources << m_src + QLatin1Char('/') + names[i];
        writeFile(sources.last(), pattern(i == 2 ? 0 : 300000 + i, char('a' + i)));
    }
    QVERIFY(
        QFile::setPermissions(sources[0], QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QFile f(sources[0]);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const QDateTime old = QDateTime::currentDateTime().addDays(-3);
    QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
    f.close();

    ScriptedShellCopyUi ui;
    LinuxShellFileOperation op(&ui);
    op.setChunkSize(65536);
    const ShellCopyResult r =
        op.copy({sources, m_dst, mainWindowFlags, QStringLiteral("Backing up Access File..")});

    QVERIFY(!r.anyOperationsAborted);
    QCOMPARE(r.failures, 0);
    QCOMPARE(ui.progressSources, sources);
    QCOMPARE(ui.title, QStringLiteral("Backing up Access File.."));
    QVERIFY(!ui.showNames);
    QCOMPARE(ui.totalFiles, 3);
    QCOMPARE(ui.totalBytes, qint64(300000 + 300001));
    QCOMPARE(ui.begun, 1);
    QCOMPARE(ui.ended, 1);
    QVERIFY(ui.errors.isEmpty());
    QCOMPARE(entries(m_dst), (QStringList{"a.mdb", "b.mdb", "empty.mdb"}));
    for (const QString& s : sources)
        QCOMPARE(readFile(m_dst + QLatin1Char('/') + QFileInfo(s).fileName()), readFile(s));
    const QFileInfo copied(m_dst + QStringLiteral("/b.mdb"));
    QCOMPARE(copied.lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    QCOMPARE(copied.permissions() & 0x0777, QFileInfo(sources[0]).permissions() & 0x0777);
    const LinuxShellFileOperation::Methods m = op.lastMethods();
    QCOMPARE(m.reflink + m.inKernel + m.readWrite, 3);
}

void TestShellCopy::renamesCollisionsTwiceInARow() {
    const QString source = m_src + QStringLiteral("/Data.mdb");
    writeFile(m_dst + QStringLiteral("/Data.mdb"), "older backup");
    ScriptedShellCopyUi ui;
    LinuxShellFileOperation op(&ui);
    for (int round = 1; round <= 2; ++round) {
        writeFile(source, "round " + QByteArray::number(round));
        const ShellCopyResult r = op.copy({{source}, m_dst, mainWindowFlags, QString()});
        QVERIFY(!r.anyOperationsAborted);
        QCOMPARE(r.written, QStringList{m_dst + QStringLiteral("/Data (%1).mdb").arg(round)});
    }
    QCOMPARE(readFile(m_dst + QStringLiteral("/Data.mdb")), QByteArray("older backup"));
    QCOMPARE(readFile(m_dst + QStringLiteral("/Data (1).mdb")), QByteArray("round 1"));
    QCOMPARE(readFile(m_dst + QStringLiteral("/Data (2).mdb")), QByteArray("round 2"));
    QCOMPARE(entries(m_dst).size(), 3);
    QVERIFY(ui.replaceQuestions.isEmpty());
}

void TestShellCopy::replacesExistingFiles_data() {
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("replaced");
    QTest::addColumn<bool>("aborted");
    QTest::newRow("no confirmation")
        << unsigned(fofNoConfirmation) << int(ShellCopyUi::ReplaceNo) << false << true << false;
    QTest::newRow("asked, yes") << 0u << int(ShellCopyUi::ReplaceYes) << true << true << false;
    QTest::newRow("asked, no") << 0u << int(ShellCopyUi::ReplaceNo) << true << false << false;
    QTest::newRow("asked, cancel")
        << 0u << int(ShellCopyUi::ReplaceCancel) << true << false << true;
}

void TestShellCopy::replacesExistingFiles() {
    QFETCH(unsigned, flags);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, replaced);
    QFETCH(bool, aborted);
    const QString source = m_src + QStringLiteral("/x.mdb");
    writeFile(source, "new");
    writeFile(m_dst + QStringLiteral("/x.mdb"), "old");
    ScriptedShellCopyUi ui;
    ui.replaceAnswer = ShellCopyUi::ReplaceChoice(answer);
    LinuxShellFileOperation op(&ui);
    const ShellCopyResult r = op.copy({{source}, m_dst, flags | fofSilent, QString()});
    QCOMPARE(r.anyOperationsAborted, aborted);
    QCOMPARE(!ui.replaceQuestions.isEmpty(), asked);
    QCOMPARE(readFile(m_dst + QStringLiteral("/x.mdb")), replaced ? QByteArray("new") : "old");
    QCOMPARE(entries(m_dst), QStringList{"x.mdb"});
}

void TestShellCopy::cancelMidwayLeavesNoPartialFile() {
    QStringList sources;
    for (const char* n : {"1.mdb", "2.mdb", "3.mdb"}) {
        sources << m_src + QLatin1Char('/') + QLatin1String(n);
        writeFile(sources.last(), pattern(1 << 20, n[0]));
    }
    ScriptedShellCopyUi ui;
    ui.cancelWhenSource = sources[1];
    LinuxShellFileOperation op(&ui);
    op.setChunkSize(32768);
    const ShellCopyResult r = op.copy({sources, m_dst, mainWindowFlags, QStringLiteral("T")});
    QVERIFY(r.anyOperationsAborted);
    QCOMPARE(r.written, QStringList{m_dst + QStringLiteral("/1.mdb")});
    QCOMPARE(entries(m_dst), QStringList{"1.mdb"});
    QCOMPARE(readFile(m_dst + QStringLiteral("/1.mdb")), readFile(sources[0]));
    QCOMPARE(ui.ended, 1);
}

void TestShellCopy::missingSource_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("aborted");
    QTest::addColumn<QStringList>("copied");
    QTest::newRow("skip") << int(ShellCopyUi::Skip) << false << QStringList{"a.mdb", "c.mdb"};
    QTest::newRow("cancel") << int(ShellCopyUi::Cancel) << true << QStringList{"a.mdb"};
}

void TestShellCopy::missingSource() {
    QFETCH(int, answer);
    QFETCH(bool, aborted);
    QFETCH(QStringList, copied);
    writeFile(m_src + QStringLiteral("/a.mdb"), "a");
    writeFile(m_src + QStringLiteral("/c.mdb"), "c");
    ScriptedShellCopyUi ui;
    ui.errorAnswer = ShellCopyUi::Choice(answer);
    ui.retriesBeforeSkip = 1; // a retry finds it still missing
    LinuxShellFileOperation op(&ui);
    const QStringList sources{m_src + "/a.mdb", m_src + "/b.mdb", m_src + "/c.mdb"};
    const ShellCopyResult r = op.copy({sources, m_dst, mainWindowFlags, QString()});
    QCOMPARE(r.anyOperationsAborted, aborted);
    QCOMPARE(r.failures, aborted ? 0 : 1);
    QCOMPARE(ui.errors.size(), 2);
    QVERIFY2(ui.errors[0].startsWith(m_src + "/b.mdb: The file cannot be found"),
             qPrintable(ui.errors[0]));
    QCOMPARE(entries(m_dst), copied);
}

void TestShellCopy::missingTargetFolder_data() {
    QTest::addColumn<bool>("makeDir");
    QTest::newRow("left alone") << false;
    QTest::newRow("created when asked") << true;
}

void TestShellCopy::missingTargetFolder() {
    QFETCH(bool, makeDir);
    writeFile(m_src + QStringLiteral("/a.mdb"), "a");
    const QString target = m_dst + QStringLiteral("/new/deeper");
    ScriptedShellCopyUi ui;
    LinuxShellFileOperation op(&ui);
    const unsigned flags = mainWindowFlags | (makeDir ? fofNoConfirmMkdir : 0u);
    const ShellCopyResult r = op.copy({{m_src + "/a.mdb"}, target, flags, QString()});
    QVERIFY(!r.anyOperationsAborted);
    QCOMPARE(QFileInfo(target).isDir(), makeDir);
    QCOMPARE(r.failures, makeDir ? 0 : 1);
    QCOMPARE(ui.errors.size(), makeDir ? 0 : 1);
    if (makeDir)
        QCOMPARE(readFile(target + QStringLiteral("/a.mdb")), QByteArray("a"));
    else
        QVERIFY(ui.errors[0].contains(QStringLiteral("does not exist")));
}

void TestShellCopy::wildcardHonoursFilesOnly() {
    writeFile(m_src + QStringLiteral("/one.mdb"), "1");
    writeFile(m_src + QStringLiteral("/two.mdb"), "2");
    writeFile(m_src + QStringLiteral("/notes.txt"), "n");
    QDir().mkpath(m_src + QStringLiteral("/folder.mdb"));
    // A real file whose name looks like a pattern is taken as it stands.
    writeFile(m_src + QStringLiteral("/[a].dat"), "bracket");
    ScriptedShellCopyUi ui;
    LinuxShellFileOperation op(&ui);
    ShellCopyResult r =
        op.copy({{m_src + "/*.mdb", m_src + "/[a].dat"}, m_dst, mainWindowFlags, QString()});
    QVERIFY(ui.errors.isEmpty());
    QCOMPARE(entries(m_dst), (QStringList{"[a].dat", "one.mdb", "two.mdb"}));
    QCOMPARE(readFile(m_dst + QStringLiteral("/[a].dat")), QByteArray("bracket"));

    cleanup();
    init();
    writeFile(m_src + QStringLiteral("/one.mdb"), "1");
    QDir().mkpath(m_src + QStringLiteral("/folder.mdb"));
    r = op.copy({{m_src + "/*.mdb"}, m_dst, mainWindowFlags & ~fofFilesOnly, QString()});
    QCOMPARE(r.failures, 1); // folders are not copied, and say so
    QCOMPARE(entries(m_dst), QStringList{"one.mdb"});
}

void TestShellCopy::readOnlyTargetFolder() {
    const QString mnt = m_tmp.filePath(QStringLiteral("ro"));
    testutil::TmpfsMount fs(mnt, "size=1m");
    if (!fs.ok()) QSKIP("cannot mount a tmpfs here (needs root)");
    if (!fs.makeReadOnly()) QSKIP("cannot remount the tmpfs read-only");
    writeFile(m_src + QStringLiteral("/a.mdb"), "a");
    writeFile(m_src + QStringLiteral("/b.mdb"), "b");
    ScriptedShellCopyUi ui;
    LinuxShellFileOperation op(&ui);
    const ShellCopyResult r =
        op.copy({{m_src + "/a.mdb", m_src + "/b.mdb"}, mnt, mainWindowFlags, QString()});
    QVERIFY(!r.anyOperationsAborted);
    QCOMPARE(r.failures, 2);
    QCOMPARE(ui.errors.size(), 2);
    QVERIFY2(ui.errors[0].contains(QStringLiteral("Access is denied")), qPrintable(ui.errors[0]));
    QVERIFY(entries(mnt).isEmpty());
}

void TestShellCopy::nearlyFullFileSystem() {
    const QString mnt = m_tmp.filePath(QStringLiteral("full"));
    testutil::TmpfsMount fs(mnt, "size=1m");
    if (!fs.ok()) QSKIP("cannot mount a tmpfs here (needs root)");
    writeFile(mnt + QStringLiteral("/already.there"), pattern(600 * 1024, 'x'));
    const QString big = m_src + QStringLiteral("/big.mdb");
    const QString small = m_src + QStringLiteral("/small.mdb");
    writeFile(big, pattern(2 << 20, 'b'));
    writeFile(small, pattern(20000, 's'));
    ScriptedShellCopyUi ui;
    ui.retriesBeforeSkip = 1;
    LinuxShellFileOperation op(&ui);
    op.setChunkSize(65536);
    const ShellCopyResult r = op.copy({{big, small}, mnt, mainWindowFlags, QString()});
    QVERIFY(!r.anyOperationsAborted);
    QCOMPARE(r.failures, 1);
    QCOMPARE(ui.errors.size(), 2); // once, then again after Retry
    QVERIFY2(ui.errors[0].contains(QStringLiteral("not enough free space")),
             qPrintable(ui.errors[0]));
    QCOMPARE(entries(mnt), (QStringList{"already.there", "small.mdb"}));
    QCOMPARE(readFile(mnt + QStringLiteral("/small.mdb")), readFile(small));
    QCOMPARE(r.written, QStringList{mnt + QStringLiteral("/small.mdb")});
}

// Within an XFS file system with shared blocks the copy is a reflink; from another file system
// into it, the in-kernel copy is refused and read and write take over.
void TestShellCopy::reflinkOnXfs() {
    const QString mkfs = QStandardPaths::findExecutable(
        QStringLiteral("mkfs.xfs"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (mkfs.isEmpty()) QSKIP("mkfs.xfs is missing (xfsprogs)");
    const QString image = m_tmp.filePath(QStringLiteral("xfs.img"));
    const QString mnt = m_tmp.filePath(QStringLiteral("xfs"));
    QDir().mkpath(mnt);
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(300LL << 20));
    }
    if (QProcess::execute(mkfs, {"-q", "-m", "reflink=1", image}) != 0) QSKIP("mkfs.xfs failed");
    if (QProcess::execute(QStringLiteral("mount"), {"-o", "loop", image, mnt}) != 0)
        QSKIP("cannot mount a loop device here (needs root)");
    struct Unmount {
        QByteArray where;
        ~Unmount() { ::umount2(where.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(mnt)};

    const QString inside = mnt + QStringLiteral("/src.mdb");
    const QString outside = m_src + QStringLiteral("/out.mdb");
    writeFile(inside, pattern(3 << 20, 'r'));
    writeFile(outside, pattern(1 << 20, 'o'));
    QDir().mkpath(mnt + QStringLiteral("/dst"));
    ScriptedShellCopyUi ui;
    LinuxShellFileOperation op(&ui);
    op.setChunkSize(65536);
    ShellCopyResult r = op.copy({{inside}, mnt + "/dst", mainWindowFlags, QString()});
    QCOMPARE(r.failures, 0);
    QCOMPARE(op.lastMethods().reflink, 1);
    QCOMPARE(readFile(mnt + QStringLiteral("/dst/src.mdb")), readFile(inside));

    r = op.copy({{outside}, mnt + "/dst", mainWindowFlags, QString()});
    QCOMPARE(r.failures, 0);
    const LinuxShellFileOperation::Methods m = op.lastMethods();
    QCOMPARE(m.reflink, 0);
    QCOMPARE(m.inKernel + m.readWrite, 1);
    qInfo("ext4 to XFS: %s", m.readWrite ? "read and write" : "in-kernel copy");
    QCOMPARE(readFile(mnt + QStringLiteral("/dst/out.mdb")), readFile(outside));
    QCOMPARE(entries(mnt + QStringLiteral("/dst")), (QStringList{"out.mdb", "src.mdb"}));
}

void TestShellCopy::silentShowsNoProgress() {
    writeFile(m_src + QStringLiteral("/a.mdb"), "a");
    ScriptedShellCopyUi ui;
    ui.cancelWhenSource = m_src + QStringLiteral("/a.mdb"); // no window, so nothing to press
    LinuxShellFileOperation op(&ui);
    const ShellCopyResult r =
        op.copy({{m_src + "/a.mdb"}, m_dst, fofSilent | fofSimpleProgress, QStringLiteral("T")});
    QVERIFY(!r.anyOperationsAborted);
    QCOMPARE(ui.begun, 0);
    QVERIFY(ui.progressSources.isEmpty());
    QCOMPARE(entries(m_dst), QStringList{"a.mdb"});
}

// The real progress window: its title, and its Cancel button pressed while the second file
// is being copied.
void TestShellCopy::realProgressWindowCancels() {
    struct Pressing : QtShellCopyUi {
        QString pressOn;
        QString* title = nullptr;
        void begin(const QString& t, bool names, qint64 bytes, int files) override {
            QtShellCopyUi::begin(t, names, bytes, files);
            *title = dialog()->windowTitle();
        }
        void progress(const QString& s, const QString& t, qint64 done) override {
            QtShellCopyUi::progress(s, t, done);
            if (s == pressOn)
                if (auto* button = dialog()->findChild<QPushButton*>()) button->click();
        }
    };
    QStringList sources;
    for (const char* n : {"1.mdb", "2.mdb"}) {
        sources << m_src + QLatin1Char('/') + QLatin1String(n);
        writeFile(sources.last(), pattern(1 << 20, n[0]));
    }
    QString title;
    LinuxShellFileOperation op([&]() -> std::unique_ptr<ShellCopyUi> {
        auto p = std::make_unique<Pressing>();
        p->pressOn = sources[1];
        p->title = &title;
        return p;
    });
    op.setChunkSize(32768);
    const ShellCopyResult r =
        op.copy({sources, m_dst, mainWindowFlags, QStringLiteral("Backing up Access File..")});
    QVERIFY(r.anyOperationsAborted);
    QCOMPARE(title, QStringLiteral("Backing up Access File.."));
    QCOMPARE(entries(m_dst), QStringList{"1.mdb"});
    const auto dialogs = QApplication::topLevelWidgets();
    for (QWidget* w : dialogs)
        QVERIFY2(!qobject_cast<QProgressDialog*>(w), "the progress window outlived the copy");
}

// The real error box, answered by pressing its Skip button.
void TestShellCopy::realErrorBoxSkips() {
    writeFile(m_src + QStringLiteral("/a.mdb"), "a");
    QString shown;
    QTimer presser;
    presser.setInterval(10);
    connect(&presser, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown = box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == QStringLiteral("Skip")) b->click();
    });
    presser.start();
    LinuxShellFileOperation op([] { return std::make_unique<QtShellCopyUi>(); });
    const ShellCopyResult r =
        op.copy({{m_src + "/a.mdb", m_src + "/gone.mdb"}, m_dst, mainWindowFlags, QString()});
    presser.stop();
    QVERIFY(!r.anyOperationsAborted);
    QCOMPARE(r.failures, 1);
    QCOMPARE(shown, QStringLiteral("Cannot copy \"gone.mdb\": The file cannot be found."));
    QCOMPARE(entries(m_dst), QStringList{"a.mdb"});
}

QTEST_MAIN(TestShellCopy)
#include "tst_shellcopy.moc"
