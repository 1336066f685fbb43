#pragma once

#include "app/windowjobs.h"
#include "archive/ziparchiver.h"
#include "controls/alarmclock.h"
#include "controls/foldpanel.h"
#include "controls/form.h"
#include "controls/linkimage.h"
#include "controls/pickers.h"
#include "controls/stdctrls.h"
#include "controls/toggleswitch.h"
#include "controls/valuespinedit.h"
#include "controls/zphint.h"
#include "dao/ovdaodatabase.h"
#include "filecopy/shellfileop.h"
#include "settings/iniout.h"
#include "sysutil/cpuprobe.h"
#include "sysutil/memdefrag.h"
#include "sysutil/widgets/netdialogs.h"
#include "sysutil/widgets/singleinstance.h"

#include <memory>
#include <optional>

// The program's one window. Its layout, design values and event wiring are read from the
// window description form1.dfm, which knows it as TForm1 and its components by their published
// names; the fields below are bound to them by those names. The handlers are what it names.
class MainWindow : public TForm {
    Q_OBJECT
    Q_CLASSINFO("DescribedAs", "TForm1")
public:
    // Reads the description from path (the built-in one by default).
    explicit MainWindow(const QString& description = QStringLiteral(":/app/form1.dfm"),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Clocks
    TAlarmClock* compactClock = nullptr;
    TAlarmClock* backupClock = nullptr;
    TAlarmClock* shutdownClock = nullptr;
    // Backup area
    TLabel* backupStatus = nullptr;
    TLabel* backupFilesCaption = nullptr;
    TValueSpinEdit* backupTime = nullptr;
    TToggleSwitch* backupSwitch = nullptr;
    TFilenameEdit* backupFiles = nullptr;
    TDirectoryEdit* backupFolder = nullptr;
    TCheckBox* zipBackups = nullptr;
    TSpeedButton* backupNow = nullptr;
    TCheckBox* catchUpBackups = nullptr;   // catch up missed backups
    TValueSpinEdit* backupsKept = nullptr; // backups kept per database
    // Repair and compact area
    TLabel* compactStatus = nullptr;
    TBevel* compactStatusBevel = nullptr;
    TValueSpinEdit* compactTime = nullptr;
    TToggleSwitch* compactSwitch = nullptr;
    TComboBox* engineVersion = nullptr;
    TEdit* engineInfo = nullptr;
    TLabel* compactFilesCaption = nullptr;
    TFilenameEdit* compactFiles = nullptr;
    TCheckBox* defragFirst = nullptr;
    TSpeedButton* compactNow = nullptr;
    TCheckBox* catchUpCompactions = nullptr; // catch up missed repairs and compactions
    // Shutdown area
    TValueSpinEdit* shutdownTime = nullptr;
    TToggleSwitch* shutdownSwitch = nullptr;
    TComboBox* shutdownAction = nullptr;
    // Logs
    TRichEdit* backupLog = nullptr;
    TRichEdit* compactLog = nullptr;
    TBitBtn* clearCompactLog = nullptr;
    TBitBtn* clearBackupLog = nullptr;
    // Settings
    TIniOut* settingsStore = nullptr;
    // Copies for the backup job
    TShellFileOp* fileCopier = nullptr;
    // Zip archives for the backup job
    TZipArchiver* zipArchiver = nullptr;
    // Repair and compaction through the DAO engine
    TOvDaoDatabase* database = nullptr;
    // Memory figures
    TLabel* memoryFigures = nullptr;
    TLabel* defragState = nullptr;
    TProgressBar* memoryGauge = nullptr;
    TProgressBar* defragProgress = nullptr;
    TSpeedButton* defragNow = nullptr;
    // Network drives
    TSpeedButton* netConnect = nullptr;
    TSpeedButton* netDisconnect = nullptr;
    // Fold panels: logs, networks, about, memory
    TFoldPanel* logsPanel = nullptr;
    TFoldPanel* networksPanel = nullptr;
    TFoldPanel* aboutPanel = nullptr;
    TFoldPanel* memoryPanel = nullptr;
    // About panel and banner
    TRichEdit* aboutText = nullptr;
    TLinkImage* readmeLink = nullptr;
    TLinkImage* bannerLink = nullptr;
    TLinkImage* architectureLink = nullptr;
    // The window's hint window
    TZPHint* hintWindow = nullptr;
    // System utilities
    TMemDefrag* memDefrag = nullptr;
    TSingleInstance* singleInstance = nullptr;
    TNetConnectDlg* netConnectDialog = nullptr;
    TNetDisConnectDlg* netDisconnectDialog = nullptr;
    TPentiumMMX* processor = nullptr;

    void ComponentsCreated() override;

    // The engine the repair-and-compact job runs (tests put a fake one in); not while it runs.
    void SetCompactEngine(std::unique_ptr<tarnwick::jobs::CompactEngine> engine);
    // True while the backup or the repair-and-compact job runs (or waits for another one).
    bool FileJobRunning() const { return m_jobs && m_jobs->running(); }
    // How a termination signal ends the program: a running file job stops at its next file,
    // queued ones are dropped, and the window closes as the user would close it.
    void EndAtSafePoint();
    // Runs, once and at once, each job with "Catch up missed runs" whose switch is on and whose
    // alarm went off since its last run (the start does this).
    void CatchUpMissedRuns();

signals:
    // A file job has ended and its lines are shown.
    void fileJobFinished();

public slots:
    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    // The repair and compact log is on the right, the backup log on the left.
    void BitBtn1Click(QObject* Sender);
    void BitBtn2Click(QObject* Sender);
    // Arming and disarming: a switch arms its clock at the time shown; any edit of a job's
    // time, files, folder, engine or kind turns its switch off again.
    void ToggleSwitch1On(QObject* Sender);
    void ToggleSwitch1Off(QObject* Sender);
    void ValueSpinEdit1Change(QObject* Sender);
    void Backup1Change(QObject* Sender);
    void ToggleSwitch2On(QObject* Sender);
    void ToggleSwitch2Off(QObject* Sender);
    void ValueSpinEdit2Change(QObject* Sender);
    void FilenameEdit1Change(QObject* Sender);
    void ComboBox1Change(QObject* Sender);
    void ToggleSwitch3On(QObject* Sender);
    void ToggleSwitch3Off(QObject* Sender);
    void ValueSpinEdit3Change(QObject* Sender);
    void ComboBox2Change(QObject* Sender);
    // An unfolding panel comes to the front over the job areas; a folding one goes behind them.
    void FoldPanel1BeforeExpand(QObject* Sender);
    void FoldPanel1BeforeCollaps(QObject* Sender);
    void FoldPanel2BeforeExpand(QObject* Sender);
    void FoldPanel2BeforeCollaps(QObject* Sender);
    void FoldPanel3BeforeExpand(QObject* Sender);
    void FoldPanel3BeforeCollaps(QObject* Sender);
    void FoldPanel4BeforeExpand(QObject* Sender);
    void FoldPanel4BeforeCollaps(QObject* Sender);
    // The file jobs, at their alarms and from "Backup Now" / "Compact Now".
    void AlarmClock2Alarm(QObject* Sender);
    void AlarmClock1Alarm(QObject* Sender);
    // The shutdown job.
    void AlarmClock3Alarm(QObject* Sender);
    // File-count captions after the pickers' dialogs.
    void Backup1AfterDialog(QObject* Sender, QString* Name, bool* Action);
    void FilenameEdit1AfterDialog(QObject* Sender, QString* Name, bool* Action);
    // Memory and network panels (FoldPanel4BeforeExpand also refreshes the figures).
    void SpeedButton5Click(QObject* Sender);
    void MemDefrag1BeforeDefrag(QObject* Sender);
    void MemDefrag1Progress(QObject* Sender, int Progress);
    void MemDefrag1AfterDefrag(QObject* Sender);
    void SpeedButton1Click(QObject* Sender);
    void SpeedButton2Click(QObject* Sender);

protected:
    // A close while a file job runs waits until the job has ended.
    void closeEvent(QCloseEvent* event) override;

private:
    void resolveDocumentLinks();
    void makeJobs();
    template <typename T> void bind(T*& field, const char* name);
    void refreshMemoryFigures();
    void defragmentMemoryFirst();
    void KeepOnScreen(const QSize& design);
    std::optional<double> TimeShown(TValueSpinEdit* edit, TToggleSwitch* sw);

    // The backup and the repair-and-compact job, made once the fields are bound.
    std::unique_ptr<WindowJobs> m_jobs;
};

// Makes every class that the window description names known to the reader.
void RegisterComponentClasses();
