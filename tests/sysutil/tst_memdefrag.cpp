#include "app/mainwindow.h"
#include "sysutil/memdefrag.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include "doubles.h"
#include "tests/common/privatehome.h"

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

// Records the defragmenter's events as text: "before", "12", ..., "after".
class Recorder : public QObject {
    Q_OBJECT
public:
    QStringList events;
    std::function<void()> onProgress;
public slots:
    void Before(QObject*) { events << "before"; }
    void Progress(QObject*, int p) {
        events << QString::number(p);
        if (onProgress) onProgress();
    }
    void After(QObject*) { events << "after"; }
};

void wire(TMemDefrag& d, Recorder& r) {
    d.SetOnBeforeDefrag(TNotifyEvent(&r, "Before"));
    d.SetOnProgress(TOnProgress(&r, "Progress"));
    d.SetOnAfterDefrag(TNotifyEvent(&r, "After"));
}

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

std::uint64_t vmSize() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toULongLong() * 1024;
    return 0;
}

// Run in a child under a real address-space limit (or, with "cgroup", in whatever memory
// cgroup it was started in): defragments with the system's own figures and mappings, prints
// "taken last-progress vm-before vm-after total free".
int defragChild(bool addressLimit) {
    const std::uint64_t before = vmSize();
    rlimit limit{before + 160 * MiB, before + 160 * MiB};
    if (addressLimit && setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    TMemDefrag d;
    Recorder r;
    wire(d, r);
    d.Defrag(1024);
    const std::uint64_t after = vmSize();
    printf("%d %s %llu %llu %lld %lld\n", d.LastTaken(),
           qPrintable(r.events.value(r.events.size() - 2)), static_cast<unsigned long long>(before),
           static_cast<unsigned long long>(after), static_cast<long long>(d.TotalMemory()),
           static_cast<long long>(d.FreeMemory()));
    return 0;
}

} // namespace

class TestMemDefrag : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { usePrivateHome(); }

    void progressAndEvents_data() {
        QTest::addColumn<int>("amount");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("0") << 0 << 0 << QStringList{"before", "after"};
        QTest::newRow("-3") << -3 << 0 << QStringList{"before", "after"};
        QTest::newRow("4") << 4 << 0 << QStringList{"before", "12", "25", "38",  "50",
                                                    "62",     "75", "88", "100", "after"};
        // The third block is refused: two taken, two released, still ending at 100.
        QTest::newRow("4, refused at 3")
            << 4 << 3 << QStringList{"before", "12", "25", "75", "100", "after"};
        QTest::newRow("4, refused at 1") << 4 << 1 << QStringList{"before", "after"};
    }
    void progressAndEvents() {
        QFETCH(int, amount);
        QFETCH(int, failAt);
        QFETCH(QStringList, expected);
        FakeMemoryInfo info(64ull << 30, 32ull << 30);
        FakeMemoryBlocks blocks;
        blocks.failAt = failAt;
        Installed<tarnwick::MemoryInfo, FakeMemoryInfo> i(info);
        Installed<tarnwick::MemoryBlocks, FakeMemoryBlocks> b(blocks);
        TMemDefrag d;
        Recorder r;
        wire(d, r);
        d.Defrag(amount);
        QCOMPARE(r.events, expected);
        QCOMPARE(blocks.released, blocks.taken); // all of it, in the order taken
        QVERIFY(!d.Defragging());
    }

    void largeAmountTakesAtMost1024Blocks() {
        FakeMemoryInfo info(64ull << 30, 32ull << 30);
        FakeMemoryBlocks blocks;
        Installed<tarnwick::MemoryInfo, FakeMemoryInfo> i(info);
        Installed<tarnwick::MemoryBlocks, FakeMemoryBlocks> b(blocks);
        TMemDefrag d;
        Recorder r;
        wire(d, r);
        d.Defrag(3000);
        QCOMPARE(blocks.taken.size(), size_t(1024));
        QCOMPARE(r.events.size(), 2 + 2048);
        QCOMPARE(r.events.value(2048), QStringLiteral("100"));
        QCOMPARE(TMemDefrag::Percent(1, 8), 12); // 12.5 -> 12
        QCOMPARE(TMemDefrag::Percent(3, 8), 38); // 37.5 -> 38
    }

    void secondCallDuringRunRaisesNothing() {
        FakeMemoryInfo info(64ull << 30, 32ull << 30);
        FakeMemoryBlocks blocks;
        Installed<tarnwick::MemoryInfo, FakeMemoryInfo> i(info);
        Installed<tarnwick::MemoryBlocks, FakeMemoryBlocks> b(blocks);
        TMemDefrag d;
        Recorder r;
        wire(d, r);
        int nested = 0;
        r.onProgress = [&] {
            QVERIFY(d.Defragging());
            if (nested++ == 0) d.Defrag(4);
        };
        d.Defrag(2);
        QCOMPARE(r.events, (QStringList{"before", "25", "50", "75", "100", "after"}));
        QCOMPARE(blocks.taken.size(), size_t(2));
    }

    void handlerExceptionStillReleasesEverything() {
        FakeMemoryInfo info(64ull << 30, 32ull << 30);
        FakeMemoryBlocks blocks;
        Installed<tarnwick::MemoryInfo, FakeMemoryInfo> i(info);
        Installed<tarnwick::MemoryBlocks, FakeMemoryBlocks> b(blocks);
        TMemDefrag d;
        Recorder r;
        wire(d, r);
        r.onProgress = [&] {
            if (r.events.size() == 4) throw std::runtime_error("handler failed");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, d.Defrag(8));
        QCOMPARE(blocks.released, blocks.taken);
        QCOMPARE(blocks.taken.size(), size_t(3));
        QVERIFY(!d.Defragging());
    }

    // /proc/meminfo and the cgroup files as the kernel writes them, and the cap they give.
    void figuresAndCapFromFakedFiles_data() {
        QTest::addColumn<QByteArray>("cgroup");
        QTest::addColumn<QByteArray>("max");
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("available");
        QTest::addColumn<int>("blocks");
        // 8 GiB machine, 300 MiB available: the margin is 1/32 of 8 GiB = 256 MiB.
        QTest::newRow("no limit") << QByteArray("0::/app\n") << QByteArray("max\n")
                                  << QByteArray("0\n") << qint64(8192 * MiB) << qint64(300 * MiB)
                                  << 44;
        // A 200 MiB cgroup with 100 MiB in use: 100 MiB left, under the 64 MiB floor + 36.
        QTest::newRow("cgroup v2")
            << QByteArray("0::/app\n") << QByteArray("209715200\n") << QByteArray("104857600\n")
            << qint64(200 * MiB) << qint64(100 * MiB) << 36;
    }
    void figuresAndCapFromFakedFiles() {
        QFETCH(QByteArray, cgroup);
        QFETCH(QByteArray, max);
        QFETCH(QByteArray, current);
        QFETCH(qint64, total);
        QFETCH(qint64, available);
        QFETCH(int, blocks);
        QTemporaryDir dir;
        writeFile(dir.filePath("meminfo"),
                  "MemTotal:        8388608 kB\nMemFree:          102400 kB\n"
                  "MemAvailable:     307200 kB\nBuffers:  1 kB\n");
        writeFile(dir.filePath("cgroup"), cgroup);
        QVERIFY(QDir(dir.path()).mkpath("root/app"));
        writeFile(dir.filePath("root/app/memory.max"), max);
        writeFile(dir.filePath("root/app/memory.current"), current);
        tarnwick::LinuxMemoryInfo info(dir.filePath("meminfo"), dir.filePath("cgroup"),
                                       dir.filePath("root"));
        Installed<tarnwick::MemoryInfo, tarnwick::LinuxMemoryInfo> i(info);
        FakeMemoryBlocks fake;
        Installed<tarnwick::MemoryBlocks, FakeMemoryBlocks> b(fake);
        TMemDefrag d;
        QCOMPARE(d.TotalMemory(), total);
        QCOMPARE(d.FreeMemory(), available);
        d.Defrag(1024);
        QCOMPARE(d.LastTaken(), blocks);
        QCOMPARE(fake.released, fake.taken);
    }

    // The real thing in a child process under an address-space limit of 160 MiB above what it
    // uses: the mappings stop when refused, nothing is killed, everything goes back.
    void realRunUnderAddressSpaceLimit() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer reserves more address space than any limit allows");
#endif
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--defrag-child"});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
        QCOMPARE(out.size(), 6);
        const int taken = out[0].toInt();
        QVERIFY2(taken > 0 && taken < 160, out[0].constData());
        QCOMPARE(out[1], QByteArray("100"));
        // Released: the address space is back to within a few MiB of where it started.
        QVERIFY(out[3].toULongLong() < out[2].toULongLong() + 16 * MiB);
    }

    // The memory panel on a machine of 268,435,456 bytes with 100,000,000 free, during and after
    // a run.
    void panelFigures() {
        FakeMemoryInfo info(268435456, 100000000);
        FakeMemoryBlocks blocks;
        Installed<tarnwick::MemoryInfo, FakeMemoryInfo> i(info);
        Installed<tarnwick::MemoryBlocks, FakeMemoryBlocks> b(blocks);
        MainWindow form;
        form.FoldPanel4BeforeExpand(nullptr);
        QCOMPARE(form.memoryFigures->Caption(), QStringLiteral("100000000 of 268435456"));
        QCOMPARE(form.memoryGauge->Position(), 100000000);
        QCOMPARE(form.memoryGauge->Max(), 268435456);

        Recorder r;
        QStringList seen;
        r.onProgress = [&] {
            info.figures.available = 90000000;
            form.MemDefrag1Progress(nullptr, r.events.last().toInt());
            seen << QStringLiteral("%1 %2 %3")
                        .arg(form.defragState->Caption())
                        .arg(!form.defragState->isHidden())
                        .arg(!form.defragProgress->isHidden());
        };
        form.memDefrag->SetOnProgress(TOnProgress(&r, "Progress"));
        form.SpeedButton5Click(form.defragNow);
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last(), QStringLiteral("Memory Defragging.. 1 1"));
        QCOMPARE(form.defragProgress->Position(), 100);
        QVERIFY(form.defragState->isHidden());
        QVERIFY(form.defragProgress->isHidden());
        // The bar shows the new figure, the text still the one from before the run.
        QCOMPARE(form.memoryGauge->Position(), 90000000);
        QCOMPARE(form.memoryFigures->Caption(), QStringLiteral("100000000 of 268435456"));

        // Figures beyond 32 bits are shown whole.
        info.figures = {48ull << 30, 40ull << 30};
        MainWindow big;
        big.FoldPanel4BeforeExpand(nullptr);
        QCOMPARE(big.memoryFigures->Caption(), QStringLiteral("42949672960 of 51539607552"));
    }

    // On this machine: the figures agree with /proc/meminfo's within what changes meanwhile.
    void realFigures() {
        TMemDefrag d;
        QFile f("/proc/meminfo");
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        const qint64 memTotal =
            text.mid(text.indexOf("MemTotal:") + 9).trimmed().split(' ').first().toLongLong() *
            1024;
        QVERIFY(d.TotalMemory() > 0 && d.TotalMemory() <= memTotal);
        QVERIFY(d.FreeMemory() > 0 && d.FreeMemory() <= d.TotalMemory());
        MainWindow form;
        form.FoldPanel4BeforeExpand(nullptr);
        QCOMPARE(form.memoryGauge->Max(), d.TotalMemory());
        QVERIFY(
            form.memoryFigures->Caption().endsWith(QStringLiteral(" of %1").arg(d.TotalMemory())));
    }
};

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--defrag-child") == 0)
        return defragChild(argc < 3 || qstrcmp(argv[2], "cgroup") != 0);
    QApplication app(argc, argv);
    TestMemDefrag t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_memdefrag.moc"
