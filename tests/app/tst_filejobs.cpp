// The backup and repair-and-compact jobs through the real window, clocks faked: names, lines,
// labels and colours, failures, and what waits for a running job.
#include "app/form1.h"
#include "archive/archiverdialogs.h"
#include "controls/pickerdialogs.h"
#include "jobs/compactjob.h"
#include "platform/formatsettings.h"
#include "platform/linuxshellfileoperation.h"
#include "platform/notifier.h"
#include "platform/registry.h"
#include "platform/sessionend.h"
#include "platform/shellcopyui.h"
#include "platform/systemlog.h"
#include "platform/timesource.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

#include "tests/common/privatehome.h"

using namespace tarnwick;

namespace {

// Moves one second on every read; `onRead` runs at each read made while a job runs.
class SteppingClock : public TimeSource {
public:
    QDateTime now() const override {
        if (onRead) onRead();
        if (stepping) last = last.addSecs(1);
        return last;
    }
    mutable QDateTime last{QDate(2026, 12, 7), QTime(2, 0)};
    bool stepping = false;
    std::function<void()> onRead;
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
    std::function<void(const QString&)> during;
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
    void prepareBackup(TForm1& form, const QStringList& files, bool zip) {
        form.Backup1->SetDialogFiles(files);
        form.Backup1->SetText(files.last());
        form.DirectoryEdit1->SetText(out);
        form.CheckBox2->setChecked(zip);
        form.ValueSpinEdit1->SetTimeValue(2.0 / 24);
        form.ToggleSwitch1->SetStateOn(true);
    }
    // Ticks before the alarm time, then at it.
    void alarm(TAlarmClock* c, QTime at) {
        clock.last.setTime(at.addSecs(-60));
        c->TimerTick(c);
        clock.last.setTime(at.addSecs(-1));
        clock.stepping = true;
        c->TimerTick(c);
        clock.stepping = false;
    }
    QString stamp() const { return us.timestamp(clock.last); }

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
        QFile::remove(Registry::storePath(reg::CURRENT_USER));
        out = tmp.filePath("out");
        QDir(out).removeRecursively();
        QVERIFY(QDir().mkpath(out));
        syslog.lines.clear();
        notifier.sent.clear();
        session.requests.clear();
        *copyUi = ScriptedShellCopyUi();
        clock.onRead = nullptr;
    }

    void zipBackupAtItsAlarm() {
        const QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second"),
                                   file("c/Three.mdb", QByteArray(300000, 't'))};
        TForm1 form;
        // Without a test's answers the window's archiver asks through the window's boxes.
        QVERIFY(dynamic_cast<TZipArchiverDialogs*>(&form.ZipArchiver1->Ui()));
        QuietZipUi zipUi;
        form.ZipArchiver1->SetUi(&zipUi);
        prepareBackup(form, files, true);
        QStringList seen;
        zipUi.during = [&] { seen << form.Label4->Caption() + ' ' + color(form.Label4).name(); };
        alarm(form.AlarmClock2, QTime(2, 0));
        QVERIFY2(zipUi.messages.isEmpty(), qPrintable(zipUi.messages.join('\n')));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first(), QStringLiteral("Data Backup Controls -Backing Up #0000ff"));
        // Made last to first, each named with the time it was made at.
        const QStringList made = QDir(out).entryList(QDir::Files, QDir::Time | QDir::Reversed);
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
        QCOMPARE(form.RichEdit1->Lines(),
                 QStringList{"Backup Successfully Zipped 3 Files  " + stamp()});
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QCOMPARE(color(form.Label4), QColor(255, 0, 0));
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
        TForm1 form;
        prepareBackup(form, files, false);
        form.ToggleSwitch1->SetStateOn(false);
        QString during;
        clock.onRead = [&] { during = form.Label4->Caption() + ' ' + color(form.Label4).name(); };
        form.SpeedButton3->click();
        QCOMPARE(during, QStringLiteral("Data Backup Controls -Backing Up #0000ff"));
        for (const QString& f : files) {
            const QString name = QFileInfo(f).fileName();
            QCOMPARE(readAll(out + '/' + (taken ? QStringLiteral("One (1).mdb") : name)),
                     readAll(f));
        }
        QCOMPARE(form.RichEdit1->Lines(), QStringList{line + stamp()});
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls"));
        QCOMPARE(color(form.Label4), QColor(0, 0, 0));
    }

    void abortedCopyLogsNothing() {
        const QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second")};
        TForm1 form;
        prepareBackup(form, files, false);
        copyUi->cancelWhenSource = files.first();
        form.SpeedButton3->click();
        QVERIFY(form.RichEdit1->Lines().isEmpty());
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls -Actived"));
        QVERIFY(notifier.sent.isEmpty());
    }

    // A file not backed up fails the run: its line, lime green, compaction switch disabled.
    void failures_data() {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<QString>("fault");
        QTest::newRow("copy, source gone") << false << "gone";
        QTest::newRow("zip, source gone") << true << "gone";
        QTest::newRow("zip, folder missing") << true << "folder";
        QTest::newRow("copy, folder missing") << false << "folder";
    }
    void failures() {
        QFETCH(bool, zip);
        QFETCH(QString, fault);
        QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second")};
        if (fault == "gone") QVERIFY(QFile::remove(files.first()));
        TForm1 form;
        QuietZipUi zipUi;
        form.ZipArchiver1->SetUi(&zipUi);
        prepareBackup(form, files, zip);
        if (fault == "folder") form.DirectoryEdit1->SetText(out + "/missing");
        copyUi->errorAnswer = ScriptedShellCopyUi::Skip;
        form.SpeedButton3->click();
        // The failure line, and under it why, naming the file.
        const QStringList lines = form.RichEdit1->Lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "Backup Unsuccessful  " + stamp());
        QVERIFY2(lines[1].startsWith("  Reason: " + tmp.path()), qPrintable(lines[1]));
        if (fault == "gone") QVERIFY2(lines[1].contains(files.first()), qPrintable(lines[1]));
        QVERIFY(syslog.lines.contains("E " + lines[1]));
        QCOMPARE(form.Label4->Caption(), QStringLiteral("Data Backup Controls -Deactived"));
        QCOMPARE(color(form.Label4), QColor(0, 255, 0));
        QVERIFY(!form.ToggleSwitch2->isEnabled());
        QCOMPARE(notifier.sent.size(), 1);
        QVERIFY(syslog.lines.contains("E Backup Unsuccessful  " + stamp()));
    }

    // Inside a running job: the button again is ignored, the shutdown alarm and a close wait.
    void whatWaitsForARunningJob() {
        const QStringList files = {file("a/One.mdb", "first"), file("b/Two.mdb", "second")};
        TForm1 form;
        form.show();
        QuietZipUi zipUi;
        form.ZipArchiver1->SetUi(&zipUi);
        prepareBackup(form, files, true);
        form.ComboBox2->SetText("Poweroff");
        form.ValueSpinEdit3->SetTimeValue(2.0 / 24);
        form.ToggleSwitch3->SetStateOn(true);
        bool once = false;
        zipUi.during = [&] {
            if (once) return;
            once = true;
            QVERIFY(form.FileJobRunning());
            form.SpeedButton3->click();
            form.AlarmClock3Alarm(form.AlarmClock3);
            form.close();
            QVERIFY(session.requests.isEmpty());
        };
        form.SpeedButton3->click();
        QVERIFY(once);
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 2); // not four
        QCOMPARE(form.RichEdit1->Lines().size(), 1);
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
        TForm1 form;
        auto engine = std::make_unique<FakeEngine>();
        FakeEngine* fake = engine.get();
        form.SetCompactEngine(std::move(engine));
        QStringList seen;
        fake->during = [&](const QString&) {
            seen << form.Label11->Caption() + (form.Bevel2->isVisible() ? " bevel" : "");
        };
        form.FilenameEdit1->SetDialogFiles(files);
        form.FilenameEdit1->SetText(files.last());
        form.ComboBox1->SetText(version);
        form.ValueSpinEdit2->SetTimeValue(3.0 / 24);
        form.ToggleSwitch2->SetStateOn(true);
        alarm(form.AlarmClock1, QTime(3, 0));
        ::close(held);
        QVERIFY2(fake->calls == calls, qPrintable(form.RichEdit2->toPlainText()));
        QCOMPARE(seen.first(), "Data Repair/Compact " + files.last());
        // Each line has the time it was written at; the clock moved on every read.
        const QString s = "  S\n";
        const QString text = form.RichEdit2->toPlainText().replace(
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
        QVERIFY(form.Bevel2->isVisibleTo(&form));
        QCOMPARE(form.Label11->Caption(), QStringLiteral("Data Repair/Compact Controls -Actived"));
        QCOMPARE(color(form.Label11), QColor(255, 0, 0));
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
        TForm1 form;
        auto engine = std::make_unique<FakeEngine>();
        engine->throwOutside = outside;
        form.SetCompactEngine(std::move(engine));
        form.FilenameEdit1->SetText(db);
        form.ComboBox1->SetText(version);
        form.SpeedButton4->click();
        QVERIFY(form.RichEdit2->toPlainText().startsWith(line));
        QVERIFY(form.Bevel2->isVisibleTo(&form));
        QCOMPARE(form.Label11->Caption(), QStringLiteral("Data Repair/Compact Controls"));
        QCOMPARE(color(form.Label11), QColor(0, 0, 0));
        QCOMPARE(notifier.sent.size(), 1);
    }
};

QTEST_MAIN(TestFileJobs)
#include "tst_filejobs.moc"
