// The window's file jobs: the backup and the repair-and-compact job, at their alarms and from
// "Backup Now" / "Compact Now", one at a time and off the window's thread.
#include "app/mainwindow.h"

#include "app/statuslabel.h"
#include "archive/ziplibrary.h"
#include "controls/pickerdialogs.h"
#include "jobs/backupjob.h"
#include "jobs/compactjob.h"
#include "jobs/componenttools.h"
#include "jobs/daocompact.h"
#include "jobs/session.h"
#include "jobs/unattendedtools.h"
#include "platform/formatsettings.h"
#include "platform/timesource.h"
#include "runtime/errors.h"

#include <QCloseEvent>
#include <QThread>
#include <QTimer>

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
        if (m_stop) throw std::runtime_error(kEnding);
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

} // namespace

void MainWindow::SetCompactEngine(std::unique_ptr<tarnwick::jobs::CompactEngine> engine) {
    if (m_compactRunning) return;
    m_compactEngine = std::move(engine);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (FileJobRunning()) {
        m_closeWaiting = true;
        event->ignore();
        return;
    }
    TForm::closeEvent(event);
}

void MainWindow::EndAtSafePoint() {
    m_stopJobs = true;
    dropQueuedJobs(QString::fromLatin1(kEnding));
    close();
}

void MainWindow::fileJobEnded() {
    if (FileJobRunning()) return;
    if (m_shutdownWaiting) {
        m_shutdownWaiting = false;
        QTimer::singleShot(0, this, [this] { AlarmClock3Alarm(shutdownClock); });
    }
    if (m_closeWaiting) {
        m_closeWaiting = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

TimedJob MainWindow::timedJob(FileJob job) {
    return job == FileJob::Backup ? TimedJob::Backup : TimedJob::Compact;
}

void MainWindow::addJobLine(FileJob job, const JobLine& line) {
    (job == FileJob::Backup ? backupLog : compactLog)->AddLine(line.text);
    jobs::logLine(line.text, line.failure);
}

std::shared_ptr<jobs::JobSession> MainWindow::makeSession(FileJob job, bool byAlarm) {
    return std::make_shared<jobs::JobSession>(
        timedJob(job),
        byAlarm ? jobs::JobSession::Start::ByAlarm : jobs::JobSession::Start::ByPerson,
        [this, job](const JobLine& line) {
            (job == FileJob::Backup ? backupLog : compactLog)->AddLine(line.text);
        });
}

void MainWindow::AlarmClock2Alarm(QObject* Sender) {
    if (Sender == backupClock)
        timedRun(FileJob::Backup);
    else
        requestFileJob(FileJob::Backup, false, {});
}

void MainWindow::AlarmClock1Alarm(QObject* Sender) {
    if (Sender == compactClock)
        timedRun(FileJob::Compact);
    else
        requestFileJob(FileJob::Compact, false, {});
}

void MainWindow::requestFileJob(FileJob job, bool byAlarm, QString late) {
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
    if (FileJobRunning()) {
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

void MainWindow::dropQueuedJobs(const QString& why) {
    while (!m_queue.empty()) {
        const QueuedJob q = m_queue.front();
        m_queue.pop_front();
        addJobLine(q.job, jobs::notStartedLine(timedJob(q.job), why));
    }
}

void MainWindow::notStarted(FileJob job) {
    (job == FileJob::Backup ? m_backupRunning : m_compactRunning) = false;
    emit fileJobFinished();
}

void MainWindow::endFileJob(FileJob job) {
    if (job == FileJob::Backup) {
        m_backupRunning = false;
    } else {
        m_compactRunning = false;
        if (!m_versionAfterCompact.isEmpty()) {
            database->SetVersion(std::exchange(m_versionAfterCompact, QString()));
            engineInfo->setText(database->VersionInfo());
        }
    }
    if (m_stopJobs || m_closeWaiting) dropQueuedJobs(QStringLiteral("Tarnwick was closing"));
    // A queued job that cannot start lets the next one go.
    while (!FileJobRunning() && !m_queue.empty()) {
        const QueuedJob next = m_queue.front();
        m_queue.pop_front();
        requestFileJob(next.job, next.byAlarm, next.late);
    }
    fileJobEnded();
    emit fileJobFinished();
}

void MainWindow::startWorker(std::function<void()> work) {
    // The last worker has handed back its results; it may still be ending.
    if (m_worker) m_worker->wait();
    delete m_worker;
    m_worker = QThread::create(std::move(work));
    m_worker->setObjectName(QStringLiteral("file job"));
    m_worker->start();
}

void MainWindow::startBackup(bool byAlarm, const QString& late) {
    if (backupFiles->FileName().isEmpty()) {
        if (byAlarm)
            addJobLine(
                FileJob::Backup,
                jobs::notStartedLine(TimedJob::Backup,
                                     QStringLiteral("there was no file selected to backup")));
        else
            tarnwick::PickerDialogs::Current().ShowError(
                this, QStringLiteral("There was no file selected to backup!\r\n\r\nPlease choose a "
                                     "\"*.mdb\" to backup"));
        notStarted(FileJob::Backup);
        return;
    }
    m_backupRunning = true;
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
    setStatus(backupStatus, QStringLiteral("Data Backup Controls -Backing Up"), statusRunning);
    const jobs::BackupRequest request{backupFiles->FileName(), backupFiles->DialogFiles(),
                                      backupFolder->text(), zipBackups->isChecked(),
                                      std::max(0, backupsKept->Value())};
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
                setStatus(backupStatus, QStringLiteral("Data Backup Controls"), statusIdle);
                endFileJob(FileJob::Backup);
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
            endFileJob(FileJob::Backup);
        });
    });
}

// A person's backup, with the window's copy and archiver and their boxes.
void MainWindow::runBackupHere(std::shared_ptr<jobs::JobSession> session,
                               const jobs::BackupRequest& request) {
    repaint();
    jobs::BackupResult result;
    {
        jobs::ComponentBackupTools tools(fileCopier, zipArchiver);
        result = jobs::runBackup(request, tools);
    }
    showBackupResult(*session, result, request.zip, false);
    session->release();
    endFileJob(FileJob::Backup);
}

void MainWindow::showBackupResult(jobs::JobSession& session, const jobs::BackupResult& result,
                                  bool zip, bool byAlarm) {
    session.finish(result);
    if (session.outcome() == jobs::JobOutcome::Failed) {
        // No compaction follows a failed backup.
        compactSwitch->setEnabled(false);
        setStatus(backupStatus, QStringLiteral("Data Backup Controls -Deactived"), statusFailed);
    } else if (backupSwitch->StateOn()) {
        setStatus(backupStatus, QStringLiteral("Data Backup Controls -Actived"), statusArmed);
        if (zip && !byAlarm) UnloadZipLibrary(zipArchiver);
    } else {
        setStatus(backupStatus, QStringLiteral("Data Backup Controls"), statusIdle);
    }
}

void MainWindow::startCompact(bool byAlarm, const QString& late) {
    if (compactFiles->text().isEmpty() || engineVersion->Text().isEmpty()) {
        if (byAlarm)
            addJobLine(FileJob::Compact,
                       jobs::notStartedLine(TimedJob::Compact,
                                            QStringLiteral("either a file or Jet Engine was not "
                                                           "selected")));
        else
            tarnwick::PickerDialogs::Current().ShowError(
                this, QStringLiteral("Either a file or Jet Engine was not selected!"));
        notStarted(FileJob::Compact);
        return;
    }
    m_compactRunning = true;
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
    setStatus(compactStatus, QStringLiteral("Data Repair/Compact Controls -Compacting"),
              statusRunning);
    if (defragFirst->isChecked()) defragmentMemoryFirst();
    QStringList& files = compactFiles->DialogFilesList();
    if (files.isEmpty()) files.append(compactFiles->FileName());
    if (!m_compactEngine) m_compactEngine = std::make_unique<jobs::DaoCompactEngine>(*database);
    const jobs::CompactRequest request{files, engineVersion->Text()};
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
            result.broken = true;
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
                    compactStatusBevel->hide();
                    compactStatus->SetCaption(QStringLiteral("Data Repair/Compact ") + path);
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
            compactStatusBevel->show();
            if (compactSwitch->StateOn())
                setStatus(compactStatus, QStringLiteral("Data Repair/Compact Controls -Actived"),
                          statusArmed);
            else
                setStatus(compactStatus, QStringLiteral("Data Repair/Compact Controls"),
                          statusIdle);
            job->finish(result);
            endFileJob(FileJob::Compact);
        });
    });
}
