// A child process saves the settings in a loop and is killed with SIGKILL at random moments; after
// every kill the store must still parse and hold one complete save, never older than the last one
// seen.

#include "platform/atomicfile.h"
#include "platform/inikeystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/prctl.h>
#include <vector>

using namespace tarnwick;

namespace {

// Big enough that writing it takes a while, with the characters that need care in the file, and
// marked with its generation at both ends.
QString payload(qint64 gen) {
    static const QString body = [] {
        QString s;
        for (int i = 0; i < 6000; ++i)
            s += QStringLiteral(" %1;|=#\\ é\n").arg(i);
        return s;
    }();
    const QString g = QString::number(gen);
    return g + QLatin1Char('\n') + body + g;
}

int runSaver() {
    qint64 gen = 0;
    {
        IniKeyStore r;
        if (r.openKey(QStringLiteral("Backup"), false))
            gen = r.readString(QStringLiteral("Gen")).value_or(QString()).toLongLong();
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (;;) {
        ++gen;
        IniKeyStore r;
        r.openKey(QStringLiteral("Messages"), true);
        r.writeString(QStringLiteral("Backup"), payload(gen));
        r.openKey(QStringLiteral("\\Backup"), true);
        r.writeString(QStringLiteral("Gen"), QString::number(gen));
        if (!r.flush()) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(r.lastError()));
            return 1;
        }
        std::fputs("saved\n", stdout);
        std::fflush(stdout);
    }
}

// Adds `count` values of its own, one save each, to a key other writers fill at the same time.
int runWriter(const QString& tag, int count) {
    for (int i = 0; i < count; ++i) {
        IniKeyStore r;
        r.openKey(QStringLiteral("Writers"), true);
        r.writeString(tag + QString::number(i), QString::number(i));
        if (!r.flush()) return 1;
    }
    return 0;
}

} // namespace

class TestRegistryKill : public QObject {
    Q_OBJECT
private slots:
    void killedSavesLeaveACompleteStore();
    void concurrentWritersLoseNothing();
};

void TestRegistryKill::killedSavesLeaveACompleteStore() {
    const QString file = IniKeyStore::storePath(reg::CURRENT_USER);
    QVERIFY2(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")) &&
                 !qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty(),
             "run through ctest, which gives the test its own XDG_CONFIG_HOME");
    QFile::remove(file);
    const QString folder = QFileInfo(file).path();
    const QString tempPrefix = atomicTempPrefix(file);
    auto temporaries = [&] {
        return QDir(folder)
            .entryList({tempPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden)
            .size();
    };

    constexpr int kRounds = 80;
    qint64 lastGen = 0;
    int midSave = 0;
    qint64 saveMicros = 0; // how long one save takes in this build, learnt in the first round
    for (int round = 0; round < kRounds; ++round) {
        const qsizetype tempsBefore = temporaries();
        QProcess child;
        child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--saver")});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForReadyRead(20000) && child.readLine() == "ready\n",
                 "the saver did not start");
        if (saveMicros == 0) {
            // Time three saves after the first, which may be slowed by start-up.
            QElapsedTimer t;
            for (int saved = 0; saved < 4; ++saved) {
                while (!child.canReadLine())
                    QVERIFY2(child.waitForReadyRead(60000), "no save completed");
                child.readLine();
                if (saved == 0) t.start();
            }
            saveMicros = qMax<qint64>(t.nsecsElapsed() / 3000, 1000);
        } else {
            // Anywhere in the first few saves, often in the middle of writing one.
            QThread::usleep(QRandomGenerator::global()->bounded(quint64(saveMicros) * 3));
        }
        QCOMPARE(child.state(), QProcess::Running); // it saves until killed
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            QCOMPARE(lastGen, 0); // only before the first save completed
            continue;
        }
        const IniDocument doc = IniDocument::parse(f.readAll());
        const qint64 gen = doc.value(QStringLiteral("Backup"), QStringLiteral("Gen"))
                               .value_or(QString())
                               .toLongLong();
        QVERIFY2(gen >= lastGen && gen > 0,
                 qPrintable(QStringLiteral("round %1: generation %2 after %3")
                                .arg(round)
                                .arg(gen)
                                .arg(lastGen)));
        QVERIFY2(
            doc.value(QStringLiteral("Messages"), QStringLiteral("Backup")) == payload(gen),
            qPrintable(
                QStringLiteral("round %1: log of generation %2 is damaged").arg(round).arg(gen)));
        lastGen = gen;
        if (temporaries() > tempsBefore) ++midSave;
    }
    qInfo("%d kills, %lld saves completed, %d kills in the middle of writing a file, one save "
          "takes about %lld us",
          kRounds, lastGen, midSave, saveMicros);
    QVERIFY2(lastGen > 0, "no save ever completed");
    QVERIFY2(midSave > 0, "no kill landed in the middle of a save; the test proved nothing");
}

void TestRegistryKill::concurrentWritersLoseNothing() {
    constexpr int kWriters = 3, kSaves = 40;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        auto p = std::make_unique<QProcess>();
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("--writer"), QStringLiteral("w%1-").arg(w), QString::number(kSaves)});
        writers.push_back(std::move(p));
    }
    for (auto& p : writers) {
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
    }
    IniKeyStore r;
    QVERIFY(r.openKey(QStringLiteral("Writers"), false));
    QCOMPARE(r.valueNames().size(), kWriters * kSaves);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--saver") == 0) return runSaver();
    if (argc > 3 && qstrcmp(argv[1], "--writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    TestRegistryKill t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_inikeystore_kill.moc"
