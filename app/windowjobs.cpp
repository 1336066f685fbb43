// The window's file jobs: the backup and the repair-and-compact job, one at a time and off the
// window's thread. When they run by the clock: one run per alarm, LastRun recorded, and runs
// missed while the window was not running caught up at its start. A resume or a step of the
// clock while it runs reaches the alarm clocks, which fire a passed alarm late.
#include "app/windowjobs.h"

#include "app/statuslabel.h"
#include "archive/ziparchiver.h"
#include "archive/ziplibrary.h"
#include "controls/alarmclock.h"
#include "controls/pickerdialogs.h"
#include "controls/pickers.h"
#include "controls/stdctrls.h"
#include "controls/toggleswitch.h"
#include "controls/valuespinedit.h"
#include "dao/ovdaodatabase.h"
#include "filecopy/shellfileop.h"
#include "jobs/backupjob.h"
#include "jobs/catchup.h"
#include "jobs/compactjob.h"
#include "jobs/componenttools.h"
#include "jobs/daocompact.h"
#include "jobs/report.h"
#include "jobs/session.h"
#include "jobs/unattendedtools.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"
#include "runtime/errors.h"

#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <stdexcept>

namespace jobs = tarnwick::jobs;
using jobs::JobLine;
using jobs::TimedJob;

namespace {

QString timestampNow() {
    return tarnwick::FormatSettings::current().timestamp(tarnwick::TimeSource::current().now());
}

// Says a job stopped because the program is ending.
const char* const kEnding = "Tarnwick is ending";

// The unattended tools, one file at a time, so that a stop request takes effect between files.
class StoppableBackupTools : public jobs::BackupTools {
public:
    explicit StoppableBackupTools(const std::atomic<bool>& stop) : m_stop(stop) {}
    CopyResult copyFiles(const QStringList& files, const QString& folder) override {
        CopyResult all;
        for (const QString& file : files) {
            if (m_stop) break; // the files left have no copy: the run fails and says so
            const CopyResult one = m_tools.copyFiles({file}, folder);
            m_messages << m_tools.copyMessages();
            all.aborted = all.aborted || one.aborted;
            all.written << one.written;
            all.failures += one.failures;
            all.warnings << one.warnings;
        }
        return all;
    }
    QStringList zipFile(const QString& file, const QString& archive) override {
        if (m_stop) return {QString::fromLatin1(kEnding)};
        return m_tools.zipFile(file, archive);
    }
    // What the copy would have asked or shown, "path: message".
    QStringList messages() const { return m_messages; }

private:
    const std::atomic<bool>& m_stop;
    jobs::UnattendedBackupTools m_tools;
    QStringList m_messages;
};

// The engine, ending the run before the next database once a stop is asked for.
class StoppableEngine : public jobs::CompactEngine {
public:
    StoppableEngine(jobs::CompactEngine& engine, const std::atomic<bool>& stop)
        : m_engine(engine), m_stop(stop) {}
    void SetDatabase(const QString& path) override {
        if (m_stop) throw jobs::JobStopped(kEnding);
        m_engine.SetDatabase(path);
    }
    void SetExclusive(bool exclusive) override { m_engine.SetExclusive(exclusive); }
    void RepairDatabaseFile(const QString& path, const QString& password) override {
        m_engine.RepairDatabaseFile(path, password);
    }
    void CompactDatabaseFile(const QString& path, const QString& password) override {
        m_engine.CompactDatabaseFile(path, password);
    }
    void CompactDatabaseFileWithOptions(const QString& path, const QString& locale, bool encrypt,
                                        bool decrypt, int version,
                                        const QString& password) override {
        m_engine.CompactDatabaseFileWithOptions(path, locale, encrypt, decrypt, version, password);
    }

private:
    jobs::CompactEngine& m_engine;
    const std::atomic<bool>& m_stop;
};

QTime alarmOf(const TAlarmClock* clock) {
    return QTime(clock->AlarmHour(), clock->AlarmMinute(), clock->AlarmSecond());
}

QString catchUpReason(const QDateTime& missed) {
    return QStringLiteral("catch-up of the run missed at %1")
        .arg(tarnwick::FormatSettings::current().timestamp(missed));
}

} // namespace

WindowJobs::WindowJobs(const WindowJobControls& controls) : m_controls(controls) {}

WindowJobs::~WindowJobs() {
    stopWorker();
}

void WindowJobs::stopWorker() {
    m_stopJobs = true;
    if (m_worker) m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
}

void WindowJobs::setCompactEngine(std::unique_ptr<tarnwick::jobs::CompactEngine> engine) {
    if (m_compactRunning) return;
    m_compactEngine = std::move(engine);
}

bool WindowJobs::deferClose() {
    if (!running()) return false;
    m_closeWaiting = true;
    return true;
}

bool WindowJobs::deferShutdown() {
    if (!running()) return false;
    m_shutdownWaiting = true; // runs when the file job has ended
    return true;
}

void WindowJobs::stopAtSafePoint() {
    m_stopJobs = true;
    dropQueuedJobs(QString::fromLatin1(kEnding));
}

void WindowJobs::useEngineVersion(const QString& version) {
    if (m_compactRunning) {
        // The running compaction uses the database component: it changes once that ends.
        m_versionAfterCompact = version;
        return;
    }
    m_controls.database->SetVersion(version);
    m_controls.engineInfo->setText(m_controls.database->VersionInfo());
}

void WindowJobs::runWaiting() {
    if (running()) return;
    if (m_shutdownWaiting) {
        m_shutdownWaiting = false;
        QTimer::singleShot(0, this, [this] { emit shutdownDue(); });
    }
    if (m_closeWaiting) {
        m_closeWaiting = false;
        QTimer::singleShot(0, this, [this] { emit closeDue(); });
    }
}

TimedJob WindowJobs::timedJob(FileJob job) {
    return job == FileJob::Backup ? TimedJob::Backup : TimedJob::Compact;
}

void WindowJobs::addJobLine(FileJob job, const JobLine& line) {
    (job == FileJob::Backup ? m_controls.backupLog : m_controls.compactLog)->AddLine(line.text);
    jobs::logLine(line.text, line.failure);
}

std::shared_ptr<jobs::JobSession> WindowJobs::makeSession(FileJob job, bool byAlarm) {
    return std::make_shared<jobs::JobSession>(
        timedJob(job),
        byAlarm ? jobs::JobSession::Start::ByAlarm : jobs::JobSession::Start::ByPerson,
        [this, job](const JobLine& line) {
            (job == FileJob::Backup ? m_controls.backupLog : m_controls.compactLog)
                ->AddLine(line.text);
        });
}

void WindowJobs::requestJob(FileJob job, bool byAlarm, QString late) {
    const bool backup = job == FileJob::Backup;
    const bool same = backup ? m_backupRunning : m_compactRunning;
    const bool queued = std::any_of(m_queue.begin(), m_queue.end(),
                                    [job](const QueuedJob& q) { return q.job == job; });
    if (same || queued) {
        // Pressed again while it runs, or its alarm while a person's run of it goes on.
        if (byAlarm && same)
            addJobLine(
                job, jobs::notStartedLine(timedJob(job), QStringLiteral("it was already running")));
        return;
    }
    if (m_stopJobs || m_closeWaiting) {
        if (byAlarm)
            addJobLine(job, jobs::notStartedLine(timedJob(job), QString::fromLatin1(kEnding)));
        return;
    }
    if (running()) {
        if (late.isEmpty())
            late = m_backupRunning ? QStringLiteral("the backup was running")
                                   : QStringLiteral("the repair and compaction was running");
        m_queue.push_back({job, byAlarm, late});
        return;
    }
    if (backup)
        startBackup(byAlarm, late);
    else
        startCompact(byAlarm, late);
}

void WindowJobs::dropQueuedJobs(const QString& why) {
    while (!m_queue.empty()) {
        const QueuedJob q = m_queue.front();
        m_queue.pop_front();
        addJobLine(q.job, jobs::notStartedLine(timedJob(q.job), why));
    }
}

void WindowJobs::showRunning() {
    for (QWidget* button : {m_controls.backupNow, m_controls.compactNow})
        if (button) button->setEnabled(!running());
}

void WindowJobs::notStarted(FileJob job) {
    (job == FileJob::Backup ? m_backupRunning : m_compactRunning) = false;
    showRunning();
    emit finished();
}

void WindowJobs::endJob(FileJob job) {
    if (job == FileJob::Backup) {
        m_backupRunning = false;
    } else {
        m_compactRunning = false;
        if (!m_versionAfterCompact.isEmpty()) {
            m_controls.database->SetVersion(std::exchange(m_versionAfterCompact, QString()));
            m_controls.engineInfo->setText(m_controls.database->VersionInfo());
        }
    }
    if (m_stopJobs || m_closeWaiting) dropQueuedJobs(QStringLiteral("Tarnwick was closing"));
    // A queued job that cannot start lets the next one go.
    while (!running() && !m_queue.empty()) {
        const QueuedJob next = m_queue.front();
        m_queue.pop_front();
        requestJob(next.job, next.byAlarm, next.late);
    }
    showRunning();
    runWaiting();
    emit finished();
}

void WindowJobs::startWorker(std::function<void()> work) {
    // The last worker has handed back its results; it may still be ending.
    if (m_worker) m_worker->wait();
    delete m_worker;
    m_worker = QThread::create(std::move(work));
    m_worker->setObjectName(QStringLiteral("file job"));
    m_worker->start();
}

void WindowJobs::startBackup(bool byAlarm, const QString& late) {
    if (m_controls.backupFiles->FileName().isEmpty()) {
        if (byAlarm)
            addJobLine(
                FileJob::Backup,
                jobs::notStartedLine(TimedJob::Backup,
                                     QStringLiteral("there was no file selected to backup")));
        else
            tarnwick::PickerDialogs::Current().ShowError(
                m_controls.window,
                QStringLiteral("There was no file selected to backup!\r\n\r\nPlease choose a "
                               "\"*.mdb\" or \"*.accdb\" to backup"));
        notStarted(FileJob::Backup);
        return;
    }
    m_backupRunning = true;
    showRunning();
    std::shared_ptr<jobs::JobSession> session = makeSession(FileJob::Backup, byAlarm);
    if (!late.isEmpty()) session->startedLate(late);
    const bool held = session->hold();
    const bool free = held && session->takeFileLock();
    if (!held || (!free && !session->error().isEmpty())) {
        session->lockRefused();
        notStarted(FileJob::Backup);
        return;
    }
    if (byAlarm) recordLastRun(FileJob::Backup);
    if (!free) session->waitsForHolder();
    setStatus(m_controls.backupStatus, QStringLiteral("Data Backup Controls -Backing Up"),
              statusRunning);
    const jobs::BackupRequest request{
        m_controls.backupFiles->FileName(), m_controls.backupFiles->DialogFiles(),
        m_controls.backupFolder->text(), m_controls.zipBackups->isChecked(),
        std::max(0, m_controls.backupsKept->Value())};
    if (free && !byAlarm) {
        // A person is there to answer the copy and the archiver: their boxes run here.
        runBackupHere(std::move(session), request);
        return;
    }
    startWorker([this, session, request, byAlarm, free]() mutable {
        // The thread keeps this function: the job's locks must not live on in it.
        std::shared_ptr<jobs::JobSession> job = std::move(session);
        if (!free && !job->waitForOtherJobs({}, [this] { return m_stopJobs.load(); })) {
            const QString error = job->error();
            job->release();
            QMetaObject::invokeMethod(this, [this, job, error] {
                job->notStarted(m_stopJobs ? QString::fromLatin1(kEnding) : error);
                setStatus(m_controls.backupStatus, QStringLiteral("Data Backup Controls"),
                          statusIdle);
                endJob(FileJob::Backup);
            });
            return;
        }
        if (!byAlarm) {
            QMetaObject::invokeMethod(
                this, [this, job, request]() mutable { runBackupHere(std::move(job), request); });
            return;
        }
        jobs::BackupResult result;
        try {
            StoppableBackupTools tools(m_stopJobs);
            result = jobs::runBackup(request, tools);
            // Why each item was left out, for the system log.
            result.problems << tools.messages();
        } catch (...) {
            // Nothing may escape the thread: the tools themselves failed.
            result.outcome = jobs::BackupResult::Failed;
            result.problems << tarnwick::ExceptionMessage(std::current_exception());
            result.line = QStringLiteral("Backup Unsuccessful  ") + timestampNow();
        }
        job->release(); // the next job may start as soon as this one's results are shown
        QMetaObject::invokeMethod(this, [this, job, result, zip = request.zip] {
            showBackupResult(*job, result, zip, true);
            endJob(FileJob::Backup);
        });
    });
}

// A person's backup, with the window's copy and archiver and their boxes.
void WindowJobs::runBackupHere(std::shared_ptr<jobs::JobSession> session,
                               const jobs::BackupRequest& request) {
    m_controls.window->repaint();
    jobs::BackupResult result;
    {
        jobs::ComponentBackupTools tools(m_controls.fileCopier, m_controls.zipArchiver);
        result = jobs::runBackup(request, tools);
    }
    showBackupResult(*session, result, request.zip, false);
    session->release();
    endJob(FileJob::Backup);
}

void WindowJobs::showBackupResult(jobs::JobSession& session, const jobs::BackupResult& result,
                                  bool zip, bool byAlarm) {
    session.finish(result);
    if (session.outcome() == jobs::JobOutcome::Failed) {
        // No compaction follows a failed backup.
        m_controls.compactSwitch->setEnabled(false);
        setStatus(m_controls.backupStatus, QStringLiteral("Data Backup Controls -Deactived"),
                  statusFailed);
    } else if (m_controls.backupSwitch->StateOn()) {
        setStatus(m_controls.backupStatus, QStringLiteral("Data Backup Controls -Actived"),
                  statusArmed);
        if (zip && !byAlarm) UnloadZipLibrary(m_controls.zipArchiver);
    } else {
        setStatus(m_controls.backupStatus, QStringLiteral("Data Backup Controls"), statusIdle);
    }
}

void WindowJobs::startCompact(bool byAlarm, const QString& late) {
    if (m_controls.compactFiles->text().isEmpty() || m_controls.engineVersion->Text().isEmpty()) {
        if (byAlarm)
            addJobLine(FileJob::Compact,
                       jobs::notStartedLine(TimedJob::Compact,
                                            QStringLiteral("either a file or Jet Engine was not "
                                                           "selected")));
        else
            tarnwick::PickerDialogs::Current().ShowError(
                m_controls.window, QStringLiteral("Either a file or Jet Engine was not selected!"));
        notStarted(FileJob::Compact);
        return;
    }
    m_compactRunning = true;
    showRunning();
    std::shared_ptr<jobs::JobSession> session = makeSession(FileJob::Compact, byAlarm);
    if (!late.isEmpty()) session->startedLate(late);
    const bool held = session->hold();
    const bool free = held && session->takeFileLock();
    if (!held || (!free && !session->error().isEmpty())) {
        session->lockRefused();
        notStarted(FileJob::Compact);
        return;
    }
    if (byAlarm) recordLastRun(FileJob::Compact);
    if (!free) session->waitsForHolder();
    setStatus(m_controls.compactStatus, QStringLiteral("Data Repair/Compact Controls -Compacting"),
              statusRunning);
    if (m_controls.defragFirst->isChecked() && defragmentMemory) defragmentMemory();
    QStringList& files = m_controls.compactFiles->DialogFilesList();
    if (files.isEmpty()) files.append(m_controls.compactFiles->FileName());
    if (!m_compactEngine)
        m_compactEngine = std::make_unique<jobs::DaoCompactEngine>(*m_controls.database);
    const jobs::CompactRequest request{files, m_controls.engineVersion->Text()};
    // The worker alone uses the engine (and so the database component) until the job ends.
    jobs::CompactEngine* engine = m_compactEngine.get();
    startWorker([this, session, request, engine, free]() mutable {
        // The thread keeps this function: the job's locks must not live on in it.
        std::shared_ptr<jobs::JobSession> job = std::move(session);
        const auto post = [this](std::function<void()> f) {
            QMetaObject::invokeMethod(this, std::move(f));
        };
        jobs::CompactResult result;
        if (!free && !job->waitForOtherJobs({}, [this] { return m_stopJobs.load(); })) {
            (m_stopJobs ? result.stopped : result.broken) = true;
            result.problems << job->error();
            post([this, job, error = job->error()] {
                job->notStarted(m_stopJobs ? QString::fromLatin1(kEnding) : error);
            });
        } else {
            StoppableEngine stoppable(*engine, m_stopJobs);
            jobs::CompactCallbacks callbacks;
            callbacks.line = [post, job](const JobLine& line) {
                post([job, line] { job->say(line); });
            };
            callbacks.processing = [post, this](const QString& path) {
                post([this, path] {
                    m_controls.compactStatusBevel->hide();
                    m_controls.compactStatus->SetCaption(QStringLiteral("Data Repair/Compact ") +
                                                         path);
                });
            };
            try {
                result = jobs::runCompact(request, stoppable, callbacks);
            } catch (...) {
                result.broken = true;
                result.problems << tarnwick::ExceptionMessage(std::current_exception());
                const QString line =
                    QStringLiteral("Repair/Compact %1 was Unsuccessful  ").arg(request.version) +
                    timestampNow();
                post([job, line, reason = jobs::reasonLine(result.problems)] {
                    job->say({line, true});
                    job->say({reason, true});
                });
            }
        }
        job->release(); // the next job may start as soon as this one's results are shown
        post([this, job, result] {
            m_controls.compactStatusBevel->show();
            if (m_controls.compactSwitch->StateOn())
                setStatus(m_controls.compactStatus,
                          QStringLiteral("Data Repair/Compact Controls -Actived"), statusArmed);
            else
                setStatus(m_controls.compactStatus, QStringLiteral("Data Repair/Compact Controls"),
                          statusIdle);
            job->finish(result);
            endJob(FileJob::Compact);
        });
    });
}

void WindowJobs::alarmWentOff(FileJob job) {
    const bool backup = job == FileJob::Backup;
    TAlarmClock* clock = backup ? m_controls.backupClock : m_controls.compactClock;
    const QDateTime now = tarnwick::TimeSource::current().now();
    const QDateTime due = jobs::lastAlarm(alarmOf(clock), now);
    // The clock set back over the alarm, this window restarted since, or tarnwick-run ran the
    // job meanwhile: the alarm has its run.
    if (jobs::ranFor(due, jobs::lastRun(timedJob(job)), now)) return;
    QString late;
    if (clock->AlarmLate())
        late = (backup ? m_controls.catchUpBackups : m_controls.catchUpCompactions)->isChecked()
                   ? catchUpReason(due)
                   : QStringLiteral("the clock jumped past its time");
    requestJob(job, true, late);
}

void WindowJobs::catchUpMissedRuns() {
    const QDateTime now = tarnwick::TimeSource::current().now();
    for (const bool backup : {true, false}) {
        const FileJob job = backup ? FileJob::Backup : FileJob::Compact;
        TAlarmClock* clock = backup ? m_controls.backupClock : m_controls.compactClock;
        jobs::CatchUpState state;
        state.catchUp =
            (backup ? m_controls.catchUpBackups : m_controls.catchUpCompactions)->isChecked();
        state.switchOn = (backup ? m_controls.backupSwitch : m_controls.compactSwitch)->StateOn() &&
                         clock->AlarmEnabled();
        state.alarm = alarmOf(clock);
        state.lastRun = jobs::lastRun(timedJob(job));
        if (!jobs::whyNoCatchUp(timedJob(job), state, now).isEmpty()) continue;
        // The second one waits for the first in the queue, with its own reason.
        requestJob(job, true, catchUpReason(jobs::lastAlarm(state.alarm, now)));
    }
}

void WindowJobs::recordLastRun(FileJob job) {
    const QString why = jobs::saveLastRun(timedJob(job), tarnwick::TimeSource::current().now());
    if (!why.isEmpty())
        addJobLine(job, {jobs::warningLine(QStringLiteral("LastRun was not saved: ") + why), true});
}
