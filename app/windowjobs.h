#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class QThread;
class QWidget;
class TAlarmClock;
class TBevel;
class TCheckBox;
class TComboBox;
class TDirectoryEdit;
class TEdit;
class TFilenameEdit;
class TLabel;
class TOvDaoDatabase;
class TRichEdit;
class TShellFileOp;
class TToggleSwitch;
class TValueSpinEdit;
class TZipArchiver;

namespace tarnwick::jobs {
class CompactEngine;
class JobSession;
struct BackupRequest;
struct BackupResult;
struct JobLine;
enum class TimedJob;
} // namespace tarnwick::jobs

// What the file jobs read from the window and show in it.
struct WindowJobControls {
    QWidget* window = nullptr; // owns the error boxes of a person's run
    // Backup area
    TAlarmClock* backupClock = nullptr;
    TToggleSwitch* backupSwitch = nullptr;
    TLabel* backupStatus = nullptr;
    TFilenameEdit* backupFiles = nullptr;
    TDirectoryEdit* backupFolder = nullptr;
    TCheckBox* zipBackups = nullptr;
    TCheckBox* catchUpBackups = nullptr;
    TValueSpinEdit* backupsKept = nullptr;
    TRichEdit* backupLog = nullptr;
    QWidget* backupNow = nullptr;
    // Repair and compact area
    TAlarmClock* compactClock = nullptr;
    TToggleSwitch* compactSwitch = nullptr;
    TLabel* compactStatus = nullptr;
    TBevel* compactStatusBevel = nullptr;
    TFilenameEdit* compactFiles = nullptr;
    TComboBox* engineVersion = nullptr;
    TEdit* engineInfo = nullptr;
    TCheckBox* defragFirst = nullptr;
    TCheckBox* catchUpCompactions = nullptr;
    TRichEdit* compactLog = nullptr;
    QWidget* compactNow = nullptr;
    // The components the jobs work through
    TShellFileOp* fileCopier = nullptr;
    TZipArchiver* zipArchiver = nullptr;
    TOvDaoDatabase* database = nullptr;
};

// The window's file jobs: the backup and the repair-and-compact job, at their alarms, from
// "Backup Now" / "Compact Now" and caught up at the start. They run one at a time, off the
// window's thread except for a person's backup, whose copy and archiver may ask; an alarm that
// falls while another job runs waits in the queue.
class WindowJobs : public QObject {
    Q_OBJECT
public:
    enum class FileJob { Backup, Compact };

    explicit WindowJobs(const WindowJobControls& controls);
    ~WindowJobs() override;

    // Frees memory before a compaction when "Defrag Memory" is set.
    std::function<void()> defragmentMemory;

    // The engine the repair-and-compact job runs; not while it runs.
    void setCompactEngine(std::unique_ptr<tarnwick::jobs::CompactEngine> engine);
    // True while a job runs (or waits for another one).
    bool running() const { return m_backupRunning || m_compactRunning; }
    // A job's alarm went off: runs it unless it ran for this alarm already.
    void alarmWentOff(FileJob job);
    // A person asked for the job.
    void runNow(FileJob job) { requestJob(job, false, {}); }
    // Runs, once and at once, each job with "Catch up missed runs" whose switch is on and whose
    // alarm went off since its last run.
    void catchUpMissedRuns();
    // The running job stops at its next file and the queued ones are dropped, each with a line.
    void stopAtSafePoint();
    // A close (or the shutdown job) asked for while a job runs waits until the jobs have
    // ended; true when it has to wait.
    bool deferClose();
    bool deferShutdown();
    // A picked engine version; while a compaction uses the database it applies after that.
    void useEngineVersion(const QString& version);
    // Waits for the worker to end after asking it to stop.
    void stopWorker();

signals:
    // A job has ended, or did not start, and its lines are shown.
    void finished();
    // The jobs have ended: a close or the shutdown job that waited runs now.
    void closeDue();
    void shutdownDue();

private:
    struct QueuedJob {
        FileJob job;
        bool byAlarm;
        QString late; // why it starts late, for its log line
    };
    void requestJob(FileJob job, bool byAlarm, QString late);
    void recordLastRun(FileJob job);
    void startBackup(bool byAlarm, const QString& late);
    void startCompact(bool byAlarm, const QString& late);
    static tarnwick::jobs::TimedJob timedJob(FileJob job);
    // The session of one run: its lines go to the job's log.
    std::shared_ptr<tarnwick::jobs::JobSession> makeSession(FileJob job, bool byAlarm);
    void runBackupHere(std::shared_ptr<tarnwick::jobs::JobSession> session,
                       const tarnwick::jobs::BackupRequest& request);
    void showBackupResult(tarnwick::jobs::JobSession& session,
                          const tarnwick::jobs::BackupResult& result, bool zip, bool byAlarm);
    void endJob(FileJob job);
    void notStarted(FileJob job);
    void dropQueuedJobs(const QString& why);
    // Runs what waited for the jobs: a close or the shutdown job.
    void runWaiting();
    void startWorker(std::function<void()> work);
    void addJobLine(FileJob job, const tarnwick::jobs::JobLine& line);
    // "Backup Now" and "Compact Now" are offered only while no file job runs.
    void showRunning();

    WindowJobControls m_controls;
    std::unique_ptr<tarnwick::jobs::CompactEngine> m_compactEngine;
    bool m_backupRunning = false;
    bool m_compactRunning = false;
    std::deque<QueuedJob> m_queue;
    std::atomic<bool> m_stopJobs{false};
    QThread* m_worker = nullptr;
    QString m_versionAfterCompact; // an engine version picked while a compaction ran
    bool m_closeWaiting = false;
    bool m_shutdownWaiting = false;
};
