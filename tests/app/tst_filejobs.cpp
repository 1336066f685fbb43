// The backup and repair-and-compact jobs through the real window, clocks faked: names, lines,
// labels and colours, failures, and what waits for a running job.
#include "app/mainwindow.h"
#include "archive/dialogs/archiverdialogs.h"
#include "controls/pickerdialogs.h"
#include "controls/ticktimer.h"
#include "jobs/catchup.h"
#include "jobs/compactjob.h"
#include "jobs/joblock.h"
#include "platform/formatsettings.h"
#include "platform/inikeystore.h"
#include "platform/linuxshellfileoperation.h"
#include "platform/notifier.h"
#include "platform/sessionend.h"
#include "platform/shellcopyui.h"
#include "platform/systemlog.h"
#include "platform/timesource.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

#include "tests/common/privatehome.h"

using namespace tarnwick;

namespace {

// Moves one second on every read; `onRead` runs at each read made while a job runs. Read by
// the window and by the jobs' thread: `set` and `setStepping` are how a test changes it then.
class SteppingClock : public TimeSource {
public:
    QDateTime now() const override {
        if (onRead) onRead();
        QMutexLocker lock(&mutex);
        if (stepping) last = last.addSecs(1);
        return last;
    }
    void setTime(QTime t) {
        QMutexLocker lock(&mutex);
        last.setTime(t);
    }
    void setDateTime(const QDateTime& t) {
        QMutexLocker lock(&mutex);
        last = t;
    }
    void setStepping(bool on) {
        QMutexLocker lock(&mutex);
        stepping = on;
    }
    mutable QMutex mutex;
    mutable QDateTime last{QDate(2026, 12, 7), QTime(2, 0)};
    bool stepping = false;
    std::function<void()> onRead;
};

// Blocks the jobs' thread where it is placed until the test lets it go on.
struct Gate {
    QSemaphore entered, released;
    std::atomic<bool> closed{false};
    void pass() {
        if (!closed || QThread::currentThread() == qApp->thread()) return;
        entered.release();
        released.acquire();
    }
    // Waits until the jobs' thread is held here.
    bool waitHeld() { return entered.tryAcquire(1, 120000); }
    void open() {
        closed = false;
        released.release();
    }
};

class QuietZipUi : public TZipArchiverUi {
public:
    void ShowMessage(QObject*, const QString& text) override { messages << text; }
    void ProcessEvents() override {
        if (during) during();
    }
    QStringList messages;
    std::function<void()> during;
};

class FakeEngine : public jobs::CompactEngine {
public:
    QStringList calls;
    bool throwOutside = false;
    std::function<void(const QString&)> during; // on the jobs' thread
    void SetDatabase(const QString&) override {
        if (throwOutside) throw std::runtime_error("outside");
    }
    void SetExclusive(bool) override {}
    void RepairDatabaseFile(const QString& p, const QString&) override { call("Repair", p); }
    void CompactDatabaseFile(const QString& p, const QString&) override { call("Compact", p); }
    void CompactDatabaseFileWithOptions(const QString& p, const QString&, bool, bool, int,
                                        const QString&) override {
        call("Options", p);
    }

private:
    void call(const QString& what, const QString& p) {
        calls << what + ' ' + QFileInfo(p).fileName();
        if (during) during(p);
    }
};

QColor color(const QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestFileJobs : public QObject {
    Q_OBJECT
    SteppingClock clock;
    FormatSettings us;
    FakeSessionEnd session;
    RecordingSystemLog syslog;
    RecordingNotifier notifier;
    ScriptedShellCopyUi* copyUi = nullptr;
    std::unique_ptr<LinuxShellFileOperation> copier;
    QTemporaryDir tmp;
    QString out;

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = tmp.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {};
        return path;
    }

    // Picks files and a folder and arms the backup for 02:00.
    void prepareBackup(MainWindow& form, const QStringList& files, bool zip) {
        form.backupFiles->SetDialogFiles(files);
        form.backupFiles->SetText(files.last());
        form.backupFolder->SetText(out);
        form.zipBackups->setChecked(zip);
        form.backupTime->SetTimeValue(2.0 / 24);
        form.backupSwitch->SetStateOn(true);
    }
    // Ticks before the alarm time, then at it; with `stepping` the clock goes on moving.
    void alarm(TAlarmClock* c, QTime at, bool stepping = false) {
        clock.setTime(at.addSecs(-60));
        c->TimerTick(c);
        clock.setTime(at.addSecs(-1));
        clock.setStepping(true);
        c->TimerTick(c);
        clock.setStepping(stepping);
    }
    QString stamp() const {
        QMutexLocker lock(&clock.mutex);
        return us.timestamp(clock.last);
    }
    // The test ticks the clocks itself: their timers would read the time too.
    static void stopClocks(MainWindow& form) {
        for (TAlarmClock* c : {form.compactClock, form.backupClock, form.shutdownClock})
            c->TickTimer()->SetEnabled(false);
    }
    // Picks databases and a version and arms the compaction for 03:00, with a fake engine.
    FakeEngine* prepareCompact(MainWindow& form, const QStringList& files, const QString& version) {
        auto engine = std::make_unique<FakeEngine>();
        FakeEngine* fake = engine.get();
        form.SetCompactEngine(std::move(engine));
        form.compactFiles->SetDialogFiles(files);
        form.compactFiles->SetText(files.last());
        form.engineVersion->SetText(version);
        form.compactTime->SetTimeValue(3.0 / 24);
        form.compactSwitch->SetStateOn(true);
        return fake;
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        QApplication::setQuitOnLastWindowClosed(false);
        us.shortDateFormat = "M/d/yyyy";
        us.longTimeFormat = "h:mm:ss AP";
        FormatSettings::install(&us);
        TimeSource::install(&clock);
        SessionEnd::install(&session);
        SystemLog::install(&syslog);
        Notifier::install(&notifier);
        copyUi = new ScriptedShellCopyUi;
        copier = std::make_unique<LinuxShellFileOperation>(copyUi);
        ShellFileOperation::install(copier.get());
        QVERIFY(tmp.isValid());
    }
    void cleanupTestCase() {
        ShellFileOperation::install(nullptr);
        FormatSettings::install(nullptr);
        TimeSource::install(nullptr);
        SessionEnd::install(nullptr);
        SystemLog::install(nullptr);
        Notifier::install(nullptr);
        copier.reset();
        delete copyUi;
    }
    void init() {
        QFile::remove(IniKeyStore::storePath(reg::CURRENT_USER));
        out = tmp.filePath("out");
        QDir(out).removeRecursively();
        QVERIFY(QDir().mkpath(out));
        syslog.lines.clear();
        notifier.sent.clear();
        session.requests.clear();
        *copyUi = ScriptedShellCopyUi();
        clock.onRead = nullptr;
        clock.setStepping(false);
        clock.setDateTime(QDateTime(QDate(2026, 12, 7), QTime(2, 0)));
    }

    void zipBackupAtItsAlarm() {
        const QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second"),
                                   file("c/Three.mdb", QByteArray(300000, 't'))};
        MainWindow form;
        stopClocks(form);
        // Without a test's answers the window's archiver asks through the window's boxes; a run
        // at the alarm asks nobody.
        QVERIFY(dynamic_cast<TZipArchiverDialogs*>(&form.zipArchiver->Ui()));
        prepareBackup(form, files, true);
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        alarm(form.backupClock, QTime(2, 0), true);
        // Its results come back through the event loop, which has not run yet.
        QCOMPARE(form.backupStatus->Caption() + ' ' + color(form.backupStatus).name(),
                 QStringLiteral("Data Backup Controls -Backing Up #0000ff"));
        QVERIFY(finished.wait(120000));
        clock.setStepping(false);
        QVERIFY(!QApplication::activeModalWidget());
        // Made last to first, each named with the time it was made at.
        const QStringList made =
            QDir(out).entryList({"*.Zip"}, QDir::Files, QDir::Time | QDir::Reversed);
        QCOMPARE(made.size(), 3);
        QMap<QString, QString> byTime;
        const QRegularExpression name(R"(^(One|Two|Three) 12-7-2026 2-00-(\d\d) AM\.Zip$)");
        for (const QString& m : made) {
            const auto match = name.match(m);
            QVERIFY2(match.hasMatch(), qPrintable(m));
            byTime[match.captured(2)] = match.captured(1);
        }
        QCOMPARE(byTime.values(), QStringList({"Three", "Two", "One"}));
        for (const QString& m : made) {
            const QString archive = QDir(out).filePath(m);
            QProcess p;
            p.start("unzip", {"-tq", archive});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            p.start("unzip", {"-p", archive});
            QVERIFY(p.waitForFinished(60000));
            const QString base = m.section(' ', 0, 0);
            const QString source = *std::find_if(files.begin(), files.end(), [&](const QString& f) {
                return f.endsWith('/' + base + ".mdb");
            });
            QCOMPARE(p.readAllStandardOutput(), readAll(source));
        }
        QCOMPARE(form.backupLog->Lines(),
                 QStringList{"Backup Successfully Zipped 3 Files  " + stamp()});
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QCOMPARE(color(form.backupStatus), QColor(255, 0, 0));
        QCOMPARE(syslog.lines, QStringList{"I Backup Successfully Zipped 3 Files  " + stamp()});
        QVERIFY(notifier.sent.isEmpty());
        // The program's own separators were never changed.
        QCOMPARE(FormatSettings::current().timeSeparator, QStringLiteral(":"));
    }

    void copyBackup_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("line");
        QTest::newRow("one file") << 1 << false << "Backup Successful  ";
        QTest::newRow("several files") << 2 << false << "Backup Successful! for 2 Files  ";
        // The copy gets a free name; its bytes are what is checked.
        QTest::newRow("name taken") << 1 << true << "Backup Successful  ";
    }
    void copyBackup() {
        QFETCH(int, count);
        QFETCH(bool, taken);
        QFETCH(QString, line);
        QStringList files = {file("a/One.mdb", "first")};
        if (count > 1) files << file("b/Two.mdb", "second");
        if (taken) file("out/One.mdb", "an older copy");
        MainWindow form;
        prepareBackup(form, files, false);
        form.backupSwitch->SetStateOn(false);
        QString during;
        clock.onRead = [&] {
            during = form.backupStatus->Caption() + ' ' + color(form.backupStatus).name();
        };
        form.backupNow->click();
        QCOMPARE(during, QStringLiteral("Data Backup Controls -Backing Up #0000ff"));
        for (const QString& f : files) {
            const QString name = QFileInfo(f).fileName();
            QCOMPARE(readAll(out + '/' + (taken ? QStringLiteral("One (1).mdb") : name)),
                     readAll(f));
        }
        QCOMPARE(form.backupLog->Lines(), QStringList{line + stamp()});
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(color(form.backupStatus), QColor(0, 0, 0));
    }

    // With Keep, a run removes the older backups of its database and logs each removal.
    void keepRemovesOldBackupsAndSaysSo() {
        const QStringList files = {file("a/One.mdb", "first")};
        MainWindow form;
        prepareBackup(form, files, false);
        form.backupsKept->SetValue(1);
        form.backupNow->click();
        form.backupNow->click();
        QCOMPARE(QDir(out).entryList({"*.mdb"}, QDir::Files), QStringList{"One (1).mdb"});
        const QStringList lines = form.backupLog->Lines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[2], "Removed old backup " + out + "/One.mdb  " + stamp());
    }

    void abortedCopyLogsNothing() {
        const QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second")};
        MainWindow form;
        prepareBackup(form, files, false);
        copyUi->cancelWhenSource = files.first();
        form.backupNow->click();
        QVERIFY(form.backupLog->Lines().isEmpty());
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QVERIFY(notifier.sent.isEmpty());
    }

    // A file not backed up fails the run: its line, lime green, compaction switch disabled.
    // At its alarm nobody is asked: no box, the reasons go to the system log.
    void failures_data() {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("byAlarm");
        QTest::newRow("copy, source gone") << false << "gone" << false;
        QTest::newRow("zip, source gone") << true << "gone" << false;
        QTest::newRow("zip, folder missing") << true << "folder" << false;
        QTest::newRow("copy, folder missing") << false << "folder" << false;
        QTest::newRow("copy, folder missing, at its alarm") << false << "folder" << true;
        QTest::newRow("zip, source gone, at its alarm") << true << "gone" << true;
    }
    void failures() {
        QFETCH(bool, zip);
        QFETCH(QString, fault);
        QFETCH(bool, byAlarm);
        QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second")};
        if (fault == "gone") QVERIFY(QFile::remove(files.first()));
        MainWindow form;
        stopClocks(form);
        QuietZipUi zipUi;
        form.zipArchiver->SetUi(&zipUi);
        prepareBackup(form, files, zip);
        if (fault == "folder") {
            form.backupFolder->SetText(out + "/missing");
            form.backupSwitch->SetStateOn(true); // the edit turned it off
        }
        copyUi->errorAnswer = ScriptedShellCopyUi::Skip;
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        if (byAlarm) {
            alarm(form.backupClock, QTime(2, 0));
            QVERIFY(finished.wait(120000));
            QVERIFY(!QApplication::activeModalWidget());
            QVERIFY(copyUi->errors.isEmpty());
            QVERIFY(zipUi.messages.isEmpty());
            QVERIFY2(!syslog.lines.filter(QRegularExpression("^E Backup: .*One\\.mdb")).isEmpty(),
                     qPrintable(syslog.lines.join('\n')));
        } else {
            form.backupNow->click();
            QCOMPARE(finished.size(), 1);
        }
        // The failure line, and under it why, naming the file.
        const QStringList lines = form.backupLog->Lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "Backup Unsuccessful  " + stamp());
        QVERIFY2(lines[1].startsWith("  Reason: " + tmp.path()), qPrintable(lines[1]));
        if (fault == "gone") QVERIFY2(lines[1].contains(files.first()), qPrintable(lines[1]));
        QVERIFY(syslog.lines.contains("E " + lines[1]));
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls -Deactived"));
        QCOMPARE(color(form.backupStatus), QColor(0, 255, 0));
        QVERIFY(!form.compactSwitch->isEnabled());
        QCOMPARE(notifier.sent.size(), 1);
        QVERIFY(syslog.lines.contains("E Backup Unsuccessful  " + stamp()));
    }

    // Inside a running job: the buttons are disabled and a click is ignored, the shutdown alarm
    // and a close wait.
    void whatWaitsForARunningJob() {
        const QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second")};
        MainWindow form;
        form.show();
        QuietZipUi zipUi;
        form.zipArchiver->SetUi(&zipUi);
        prepareBackup(form, files, true);
        form.shutdownAction->SetText("Poweroff");
        form.shutdownTime->SetTimeValue(2.0 / 24);
        form.shutdownSwitch->SetStateOn(true);
        bool once = false;
        zipUi.during = [&] {
            if (once) return;
            once = true;
            QVERIFY(form.FileJobRunning());
            QVERIFY(!form.backupNow->isEnabled() && !form.compactNow->isEnabled());
            form.backupNow->click();
            form.AlarmClock3Alarm(form.shutdownClock);
            form.close();
            QVERIFY(session.requests.isEmpty());
        };
        form.backupNow->click();
        QVERIFY(once);
        QVERIFY(form.backupNow->isEnabled() && form.compactNow->isEnabled());
        QCOMPARE(QDir(out).entryList({"*.mdb", "*.Zip"}, QDir::Files).size(), 2); // not four
        QCOMPARE(form.backupLog->Lines().size(), 1);
        QTRY_COMPARE(session.requests.size(), 1);
        QTRY_VERIFY(!form.isVisible());
    }

    void compactAtItsAlarm_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("3.6") << "3.6"
                             << QStringList{"Options c.mdb", "Options b.mdb", "Options a.mdb"};
        QTest::newRow("3.5") << "3.5"
                             << QStringList{"Repair c.mdb",  "Compact c.mdb", "Repair b.mdb",
                                            "Compact b.mdb", "Repair a.mdb",  "Compact a.mdb"};
    }
    void compactAtItsAlarm() {
        QFETCH(QString, version);
        QFETCH(QStringList, calls);
        QStringList files;
        for (const char* n : {"a.mdb", "held.mdb", "b.mdb", "c.mdb"})
            files << file(QStringLiteral("db/") + n, "database");
        const int held = ::open(QFile::encodeName(files[1]).constData(), O_RDWR);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        MainWindow form;
        stopClocks(form);
        FakeEngine* fake = prepareCompact(form, files, version);
        Gate gate;
        gate.closed = true;
        fake->during = [&](const QString&) { gate.pass(); };
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        alarm(form.compactClock, QTime(3, 0));
        // The window shows the database being compacted while the engine works on it.
        QVERIFY(gate.waitHeld());
        QTRY_COMPARE(form.compactStatus->Caption(), "Data Repair/Compact " + files.last());
        QVERIFY(!form.compactStatusBevel->isVisibleTo(&form));
        QVERIFY(!form.compactNow->isEnabled() && !form.backupNow->isEnabled());
        gate.open();
        QVERIFY(finished.wait(120000));
        QVERIFY(form.compactNow->isEnabled() && form.backupNow->isEnabled());
        ::close(held);
        QVERIFY2(fake->calls == calls, qPrintable(form.compactLog->toPlainText()));
        // Each line has the time it was written at; the clock moved on every read.
        const QString s = "  S\n";
        const QString text = form.compactLog->toPlainText().replace(
            QRegularExpression("  12/7/2026 3:00:\\d\\d AM"), "  S");
        QString expected;
        for (const QString& p : {files[3], files[2], files[1], files[0]}) {
            expected += "Repair/Compact " + version + " was started for " + p + " at" + s;
            expected += p == files[1]
                            ? "Repair/Compact " + version + " was Unsuccessful for " + p + s +
                                  "  Reason: " + p + ": the database is locked by another process\n"
                            : "Repair/Compact " + version + " was Completed Successful for " + p +
                                  " at" + s;
        }
        // One line per entry: no blank lines, no carriage returns.
        QCOMPARE(text + "\n", expected);
        QVERIFY(form.compactStatusBevel->isVisibleTo(&form));
        QCOMPARE(form.compactStatus->Caption(),
                 QStringLiteral("Data Repair/Compact Controls -Actived"));
        QCOMPARE(color(form.compactStatus), QColor(255, 0, 0));
        QCOMPARE(notifier.sent.size(), 1); // the held database
    }

    void compactFailuresRestoreTheWindow_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("outside");
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown version") << "4.0" << false
                                         << "Repair/Compact was not started: the Jet Engine "
                                            "version '4.0' is unknown  ";
        QTest::newRow("error outside one database")
            << "3.6" << true << "Repair/Compact 3.6 was Unsuccessful for ";
    }
    void compactFailuresRestoreTheWindow() {
        QFETCH(QString, version);
        QFETCH(bool, outside);
        QFETCH(QString, line);
        const QString db = file("db/x.mdb", "database");
        MainWindow form;
        auto engine = std::make_unique<FakeEngine>();
        engine->throwOutside = outside;
        form.SetCompactEngine(std::move(engine));
        form.compactFiles->SetText(db);
        form.engineVersion->SetText(version);
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        form.compactNow->click();
        QVERIFY(finished.wait(120000));
        QVERIFY(form.compactLog->toPlainText().startsWith(line));
        QVERIFY(form.compactStatusBevel->isVisibleTo(&form));
        QCOMPARE(form.compactStatus->Caption(), QStringLiteral("Data Repair/Compact Controls"));
        QCOMPARE(color(form.compactStatus), QColor(0, 0, 0));
        QCOMPARE(notifier.sent.size(), 1);
    }

    // A long compaction: the clocks go on ticking, a backup alarm due meanwhile waits and runs
    // after it, saying why it is late.
    void backupAlarmDuringACompactionRunsAfterIt() {
        const QStringList files = {file("a/One.mdb", "first")};
        const QString db = file("db/long.mdb", "database");
        MainWindow form;
        form.show();
        FakeEngine* fake = prepareCompact(form, {db}, "3.6");
        prepareBackup(form, files, false);
        Gate gate;
        gate.closed = true;
        fake->during = [&](const QString&) { gate.pass(); };
        std::atomic<int> ticks{0};
        clock.onRead = [&] {
            if (QThread::currentThread() == qApp->thread()) ++ticks;
        };
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        form.compactNow->click();
        QVERIFY(gate.waitHeld());
        ticks = 0;
        QTRY_VERIFY(ticks >= 3); // the clocks' timers read the time on the window's thread
        alarm(form.backupClock, QTime(2, 0));
        // Not started: its status is unchanged and its job lock is free.
        QCOMPARE(form.backupStatus->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QVERIFY(jobs::JobLock("backup").tryLock());
        QVERIFY(form.FileJobRunning());
        // The database component is the compaction's until it ends.
        const QString version = form.database->Version();
        form.engineVersion->SetText(version == "3.5" ? "3.6" : "3.5");
        form.ComboBox1Change(form.engineVersion);
        QCOMPARE(form.database->Version(), version);
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 120000);
        QCOMPARE(form.database->Version(), form.engineVersion->Text());
        QCOMPARE(fake->calls, QStringList{"Options long.mdb"});
        QCOMPARE(
            form.backupLog->Lines(),
            QStringList({"Backup started late: the repair and compaction was running  " + stamp(),
                         "Backup Successful  " + stamp()}));
        QCOMPARE(readAll(out + "/One.mdb"), QByteArray("first"));
    }

    void compactionAlarmDuringABackupWaitsForIt() {
        const QStringList files = {file("a/One.mdb", "first")};
        const QString db = file("db/x.mdb", "database");
        MainWindow form;
        stopClocks(form);
        prepareBackup(form, files, false);
        FakeEngine* fake = prepareCompact(form, {db}, "3.6");
        bool backedUpFirst = false;
        fake->during = [&](const QString&) { backedUpFirst = QFile::exists(out + "/One.mdb"); };
        // The backup's thread reads the time for its line once it has copied.
        Gate gate;
        gate.closed = true;
        clock.onRead = [&] { gate.pass(); };
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        alarm(form.backupClock, QTime(2, 0));
        QVERIFY(gate.waitHeld());
        alarm(form.compactClock, QTime(3, 0));
        QCOMPARE(form.compactStatus->Caption(),
                 QStringLiteral("Data Repair/Compact Controls -Actived"));
        QVERIFY(jobs::JobLock("compact").tryLock());
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 120000);
        QVERIFY(backedUpFirst);
        QCOMPARE(fake->calls, QStringList{"Options x.mdb"});
        QCOMPARE(form.backupLog->Lines(), QStringList{"Backup Successful  " + stamp()});
        QVERIFY2(form.compactLog->toPlainText().startsWith(
                     "Repair/Compact started late: the backup was running  " + stamp()),
                 qPrintable(form.compactLog->toPlainText()));
    }

    // Ending the program during a compaction: the database being compacted is finished, the
    // next one is not started, and the window closes.
    void endingStopsAtTheNextDatabase() {
        const QStringList dbs = {file("db/first.mdb", "database"), file("db/second.mdb", "data")};
        MainWindow form;
        stopClocks(form);
        form.show();
        FakeEngine* fake = prepareCompact(form, dbs, "3.6");
        Gate gate;
        gate.closed = true;
        fake->during = [&](const QString&) { gate.pass(); };
        form.compactNow->click();
        QVERIFY(gate.waitHeld());
        form.EndAtSafePoint();
        QVERIFY(form.isVisible());
        gate.open();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 120000);
        QCOMPARE(fake->calls, QStringList{"Options second.mdb"});
        const QString log = form.compactLog->toPlainText();
        QVERIFY2(log.contains("Repair/Compact 3.6 was Unsuccessful for " + dbs[0]),
                 qPrintable(log));
        QVERIFY(!log.contains("was started for " + dbs[0]));
        // Its notification says it was stopped, not that it failed.
        QCOMPARE(notifier.sent.size(), 1);
        QVERIFY2(notifier.sent[0].startsWith("Tarnwick repair and compaction stopped: "),
                 qPrintable(notifier.sent[0]));
    }

    // A clock that jumps over the alarm (suspend, a time step) runs the job at once, saying so;
    // a clock set back does not run it again that day.
    void clockJumpsRunTheJobOnce() {
        const QStringList files = {file("a/One.mdb", "first")};
        MainWindow form;
        stopClocks(form);
        prepareBackup(form, files, false);
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        clock.setTime(QTime(1, 59));
        form.backupClock->TimerTick(form.backupClock);
        clock.setTime(QTime(5, 0));
        form.backupClock->TimerTick(form.backupClock);
        QVERIFY(finished.wait(120000));
        const QStringList lines = {"Backup started late: the clock jumped past its time  " +
                                       stamp(),
                                   "Backup Successful  " + stamp()};
        QCOMPARE(form.backupLog->Lines(), lines);
        for (QTime t : {QTime(1, 59, 30), QTime(2, 0), QTime(2, 0, 30), QTime(5, 0)}) {
            clock.setTime(t);
            form.backupClock->TimerTick(form.backupClock);
            QVERIFY(!form.FileJobRunning());
        }
        QCOMPARE(form.backupLog->Lines(), lines);
        QCOMPARE(QDir(out).entryList({"*.mdb"}, QDir::Files), QStringList{"One.mdb"});
    }

    // A backup missed while the window was not running runs at once, saying which run it
    // catches up; the alarm's time coming round again after the clock is set back does not
    // run it twice, and a jump over midnight and the next alarm still runs the next day's.
    void catchUpRunsOnceAcrossClockJumps() {
        const QStringList files = {file("a/One.mdb", "first")};
        const QDate day(2026, 12, 7);
        clock.setDateTime(QDateTime(day, QTime(3, 0)));
        MainWindow form;
        stopClocks(form);
        prepareBackup(form, files, false);
        form.catchUpBackups->setChecked(true);
        QVERIFY(jobs::saveLastRun(jobs::TimedJob::Backup, QDateTime(day.addDays(-1), QTime(2, 0)))
                    .isEmpty());
        QSignalSpy finished(&form, &MainWindow::fileJobFinished);
        form.CatchUpMissedRuns();
        QVERIFY(finished.wait(120000));
        QStringList lines = {
            "Backup started late: catch-up of the run missed at 12/7/2026 2:00:00 AM  " + stamp(),
            "Backup Successful  " + stamp()};
        QCOMPARE(form.backupLog->Lines(), lines);
        QCOMPARE(jobs::lastRun(jobs::TimedJob::Backup), QDateTime(day, QTime(3, 0)));

        // Set back over 02:00, and the window started again.
        for (QTime t : {QTime(1, 59, 30), QTime(2, 0), QTime(2, 0, 30)}) {
            clock.setTime(t);
            form.backupClock->TimerTick(form.backupClock);
            QVERIFY(!form.FileJobRunning());
        }
        form.CatchUpMissedRuns();
        QVERIFY(!form.FileJobRunning());

        // Forward from the evening over midnight and the next alarm: that day's run, once.
        clock.setDateTime(QDateTime(day, QTime(23, 0)));
        form.backupClock->TimerTick(form.backupClock);
        clock.setDateTime(QDateTime(day.addDays(1), QTime(5, 0)));
        form.backupClock->TimerTick(form.backupClock);
        QVERIFY(finished.wait(120000));
        lines << "Backup started late: catch-up of the run missed at 12/8/2026 2:00:00 AM  " +
                     stamp()
              << "Backup Successful  " + stamp();
        QCOMPARE(form.backupLog->Lines(), lines);
        for (QTime t : {QTime(5, 0, 30), QTime(1, 59, 30), QTime(2, 0), QTime(2, 0, 30)}) {
            clock.setTime(t);
            form.backupClock->TimerTick(form.backupClock);
            QVERIFY(!form.FileJobRunning());
        }
        form.CatchUpMissedRuns();
        QVERIFY(!form.FileJobRunning());
        QCOMPARE(form.backupLog->Lines(), lines);
        QCOMPARE(QDir(out).entryList({"*.mdb"}, QDir::Files).size(), 2);
    }
};

QTEST_MAIN(TestFileJobs)
#include "tst_filejobs.moc"
