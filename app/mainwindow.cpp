#include "app/mainwindow.h"

#include "app/dblogin.h"
#include "app/statuslabel.h"
#include "app/windowplacement.h"
#include "archive/dialogs/archiverdialogs.h"
#include "controls/formreader.h"
#include "controls/pickerdialogs.h"
#include "controls/windowcontrols.h"
#include "dao/programdesign.h"
#include "daoengine/engine.h"
#include "jobs/compactjob.h"
#include "jobs/report.h"
#include "platform/formatsettings.h"
#include "platform/sessionend.h"
#include "platform/timesource.h"
#include "platform/widgets/qtshellcopyui.h"
#include "runtime/errors.h"
#include "settings/keys.h"

#include <QCloseEvent>
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <algorithm>

#include <mutex>

// The description is a resource of this static library; the linker keeps it only when asked.
static void initResources() {
    Q_INIT_RESOURCE(app);
}

void RegisterComponentClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        initResources();
        RegisterStandardControls();
        RegisterSettingsComponents();
        TClassRegistry::Register<TAlarmClock>();
        RegisterPickerControls();
        RegisterSpinAndSwitchControls();
        RegisterShellFileOp();
        TZipArchiver::Register();
        // The copy and the archiver show their windows only in the window's process.
        InstallZipArchiverDialogs();
        tarnwick::installQtShellCopyUi();
        tarnwick::daoengine::RegisterEngineClasses();
        TClassRegistry::Register<TOvDaoDatabase>();
        InstallDbLoginDialog();
        RegisterWindowControls();
        RegisterMemDefrag();
        RegisterSingleInstance();
        RegisterNetDialogs();
        RegisterCpuProbe();
    });
}

MainWindow::MainWindow(const QString& description, QWidget* parent) : TForm(parent) {
    RegisterComponentClasses();
    CreateFromDescription(description);
}

MainWindow::~MainWindow() {
    // No job may outlive the window or run while its settings are saved.
    if (m_jobs) m_jobs->stopWorker();
    DoDestroy();
}

template <typename T> void MainWindow::bind(T*& field, const char* name) {
    field = Component<T>(QString::fromLatin1(name));
    if (!field) throw EReadError(std::string("The window has no ") + name);
}

// The fields point at their components before any handler can run.
void MainWindow::ComponentsCreated() {
    bind(backupTime, "ValueSpinEdit1");
    bind(backupSwitch, "ToggleSwitch1");
    bind(compactTime, "ValueSpinEdit2");
    bind(compactSwitch, "ToggleSwitch2");
    bind(shutdownTime, "ValueSpinEdit3");
    bind(shutdownSwitch, "ToggleSwitch3");
    bind(backupStatus, "Label4");
    bind(backupFilesCaption, "Label7");
    bind(backupFiles, "Backup1");
    bind(backupFolder, "DirectoryEdit1");
    bind(compactFiles, "FilenameEdit1");
    bind(zipBackups, "CheckBox2");
    bind(backupNow, "SpeedButton3");
    bind(compactStatus, "Label11");
    bind(compactStatusBevel, "Bevel2");
    bind(engineVersion, "ComboBox1");
    bind(engineInfo, "Edit1");
    bind(compactFilesCaption, "Label13");
    bind(defragFirst, "CheckBox1");
    bind(compactNow, "SpeedButton4");
    bind(catchUpBackups, "CheckBox3");
    bind(catchUpCompactions, "CheckBox4");
    bind(backupsKept, "ValueSpinEdit4");
    bind(shutdownAction, "ComboBox2");
    bind(backupLog, "RichEdit1");
    bind(compactLog, "RichEdit2");
    bind(clearCompactLog, "BitBtn1");
    bind(clearBackupLog, "BitBtn2");
    bind(memoryGauge, "cgMemory");
    bind(defragProgress, "cgProgress");
    bind(memoryFigures, "Label1");
    bind(defragState, "Label2");
    bind(defragNow, "SpeedButton5");
    bind(netConnect, "SpeedButton1");
    bind(netDisconnect, "SpeedButton2");
    bind(logsPanel, "FoldPanel1");
    bind(networksPanel, "FoldPanel2");
    bind(aboutPanel, "FoldPanel3");
    bind(memoryPanel, "FoldPanel4");
    bind(aboutText, "Text1");
    bind(readmeLink, "LinkImage1");
    bind(bannerLink, "LinkImage2");
    bind(architectureLink, "LinkImage3");
    bind(hintWindow, "ZPHint1");
    bind(memDefrag, "MemDefrag1");
    bind(singleInstance, "SingleInstance1");
    bind(netConnectDialog, "NetConnectDlg1");
    bind(netDisconnectDialog, "NetDisConnectDlg1");
    bind(processor, "PentiumMMX1");
    bind(settingsStore, "IniOut1");
    bind(fileCopier, "ShellFileOp1");
    bind(zipArchiver, "ZipArchiver1");
    bind(database, "OvDaoDatabase1");
    bind(compactClock, "AlarmClock1");
    bind(backupClock, "AlarmClock2");
    bind(shutdownClock, "AlarmClock3");
    // A file job whose time passed unseen (suspend, a clock step) runs late; the end of the
    // session does not come hours after its time.
    compactClock->SetFiresLate(true);
    backupClock->SetFiresLate(true);
    // The database component's design values, while it is still being read in.
    tarnwick::dao::SetProgramDesign(*database, QStringLiteral("3.6"));
    // What the settings store keeps of the controls comes from the table of saved settings.
    settingsStore->SetItems(tarnwick::settings::windowItems());
    resolveDocumentLinks();
    makeJobs();
}

// The file jobs get the controls they read and show in; what else they need of the window
// comes back through their signals and callback.
void MainWindow::makeJobs() {
    WindowJobControls controls;
    controls.window = this;
    controls.backupClock = backupClock;
    controls.backupSwitch = backupSwitch;
    controls.backupStatus = backupStatus;
    controls.backupFiles = backupFiles;
    controls.backupFolder = backupFolder;
    controls.zipBackups = zipBackups;
    controls.catchUpBackups = catchUpBackups;
    controls.backupsKept = backupsKept;
    controls.backupLog = backupLog;
    controls.backupNow = backupNow;
    controls.compactClock = compactClock;
    controls.compactSwitch = compactSwitch;
    controls.compactStatus = compactStatus;
    controls.compactStatusBevel = compactStatusBevel;
    controls.compactFiles = compactFiles;
    controls.engineVersion = engineVersion;
    controls.engineInfo = engineInfo;
    controls.defragFirst = defragFirst;
    controls.catchUpCompactions = catchUpCompactions;
    controls.compactLog = compactLog;
    controls.compactNow = compactNow;
    controls.fileCopier = fileCopier;
    controls.zipArchiver = zipArchiver;
    controls.database = database;
    m_jobs = std::make_unique<WindowJobs>(controls);
    m_jobs->defragmentMemory = [this] { defragmentMemoryFirst(); };
    connect(m_jobs.get(), &WindowJobs::finished, this, &MainWindow::fileJobFinished);
    connect(m_jobs.get(), &WindowJobs::closeDue, this, &QWidget::close);
    connect(m_jobs.get(), &WindowJobs::shutdownDue, this,
            [this] { AlarmClock3Alarm(shutdownClock); });
}

void MainWindow::SetCompactEngine(std::unique_ptr<tarnwick::jobs::CompactEngine> engine) {
    m_jobs->setCompactEngine(std::move(engine));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_jobs && m_jobs->deferClose()) {
        event->ignore();
        return;
    }
    TForm::closeEvent(event);
}

void MainWindow::EndAtSafePoint() {
    m_jobs->stopAtSafePoint();
    close();
}

void MainWindow::CatchUpMissedRuns() {
    m_jobs->catchUpMissedRuns();
}

void MainWindow::AlarmClock2Alarm(QObject* Sender) {
    if (Sender == backupClock)
        m_jobs->alarmWentOff(WindowJobs::FileJob::Backup);
    else
        m_jobs->runNow(WindowJobs::FileJob::Backup);
}

void MainWindow::AlarmClock1Alarm(QObject* Sender) {
    if (Sender == compactClock)
        m_jobs->alarmWentOff(WindowJobs::FileJob::Compact);
    else
        m_jobs->runNow(WindowJobs::FileJob::Compact);
}

// The pictures link to the project's own documents, named relative to the source tree.
void MainWindow::resolveDocumentLinks() {
#ifdef TARNWICK_DOC_DIR
    const QDir docs(QStringLiteral(TARNWICK_DOC_DIR));
    for (TLinkImage* link : {readmeLink, bannerLink, architectureLink}) {
        if (link->LinkType() != TLinkImage::ltfile || QDir::isAbsolutePath(link->HyperLink()))
            continue;
        const QFileInfo doc(docs.filePath(link->HyperLink()));
        if (doc.isFile()) link->SetHyperLink(doc.absoluteFilePath());
    }
#endif
}

void MainWindow::FormCreate(QObject*) {
    const QSize design = size();
    // The controls sit where the design put them: a smaller client area would cut off the fold
    // panels' tabs along the foot, whatever size was saved or the frame takes.
    setMinimumSize(design);
    settingsStore->LoadProperties();
    hintWindow->SetActive(true);
    for (TFoldPanel* panel : {logsPanel, networksPanel, aboutPanel, memoryPanel})
        panel->SetFoldStatus(TFoldPanel::fsCollapsed);
    // A restored 3.5 or 3.6 is not applied here: the component keeps its design version (3.6),
    // which opens what either opens. A restored 12.0 is, or its .accdb files would be refused.
    if (engineVersion->Text() == QLatin1String("12.0"))
        m_jobs->useEngineVersion(engineVersion->Text());
    engineInfo->setText(database->VersionInfo());
    memoryGauge->SetMax(memDefrag->TotalMemory());
    KeepOnScreen(design);
    // Once the window runs, as its restored switches have armed the clocks. A second copy only
    // brings the first forward and ends.
    const TPreviousInstance* previous = TPreviousInstance::Instance();
    if (!previous || !previous->Exists())
        QTimer::singleShot(0, this, &MainWindow::CatchUpMissedRuns);
}

// A hand-edited or foreign settings file, or a screen that is gone, must not leave the
// window where nobody can see it, or so large that it costs gigabytes to draw.
void MainWindow::KeepOnScreen(const QSize& design) {
    QList<QRect> screens;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        screens.append(primary->availableGeometry());
    for (QScreen* s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen()) screens.append(s->availableGeometry());
    static constexpr int far = 1 << 20; // beyond every screen, far from overflowing a QRect
    const auto bounded = [](int v) { return std::clamp(v, -far, far); };
    const QRect placed =
        PlaceOnScreens(QRect(bounded(Left()), bounded(Top()), bounded(Width()), bounded(Height())),
                       design, screens);
    SetWidth(placed.width());
    SetHeight(placed.height());
    SetLeft(placed.x());
    SetTop(placed.y());
}

void MainWindow::FormDestroy(QObject*) {
    settingsStore->SaveProperties();
}

void MainWindow::BitBtn1Click(QObject*) {
    compactLog->Clear();
}

void MainWindow::BitBtn2Click(QObject*) {
    backupLog->Clear();
}

void MainWindow::FoldPanel1BeforeExpand(QObject*) {
    logsPanel->raise();
}

void MainWindow::FoldPanel1BeforeCollaps(QObject*) {
    logsPanel->lower();
}

void MainWindow::FoldPanel2BeforeExpand(QObject*) {
    networksPanel->raise();
}

void MainWindow::FoldPanel2BeforeCollaps(QObject*) {
    networksPanel->lower();
}

void MainWindow::FoldPanel3BeforeExpand(QObject*) {
    aboutPanel->raise();
}

void MainWindow::FoldPanel3BeforeCollaps(QObject*) {
    aboutPanel->lower();
}

void MainWindow::FoldPanel4BeforeCollaps(QObject*) {
    memoryPanel->lower();
}

// The picker raises its after-dialog event before it shows the chosen name, so the text it is
// about to show is the name handed over, not the text of the edit (empty at the first pick).
static QString textAfterDialog(const TFileDirEdit* edit, const QString* name, const bool* action) {
    return name && action && *action ? *name : edit->text();
}

void MainWindow::Backup1AfterDialog(QObject*, QString* Name, bool* Action) {
    const qsizetype n = backupFiles->DialogFiles().size();
    if (!textAfterDialog(backupFiles, Name, Action).isEmpty() && n >= 2)
        backupFilesCaption->SetCaption(QStringLiteral("%1 Files to Backup-Last file shown").arg(n));
    else
        backupFilesCaption->SetCaption(QStringLiteral("File to Backup"));
}

void MainWindow::FilenameEdit1AfterDialog(QObject*, QString* Name, bool* Action) {
    const qsizetype n = compactFiles->DialogFiles().size();
    if (!textAfterDialog(compactFiles, Name, Action).isEmpty() && n >= 2)
        compactFilesCaption->SetCaption(
            QStringLiteral("%1 Files to Repair/Compact-Last file shown").arg(n));
    else
        compactFilesCaption->SetCaption(QStringLiteral("File To Repair/Compact"));
}

namespace {

// Arms a file job's clock at the time shown and marks its status label.
void armFileJob(TAlarmClock* clock, double time, TLabel* status) {
    clock->SetAlarmFromTime(0.0);
    clock->SetAlarmEnabled(true);
    clock->SetAlarmFromTime(time);
    setStatus(status, status->Caption() + QStringLiteral(" -Actived"), statusArmed);
}

void disarmFileJob(TAlarmClock* clock, TLabel* status, const QString& base) {
    try {
        clock->SetAlarmEnabled(false);
        clock->SetAlarmFromTime(0.0);
        setStatus(status, base, statusIdle);
    } catch (...) {
        // Turning a job off must never fail the switch.
    }
}

void switchOff(TToggleSwitch* sw, TAlarmClock* clock) {
    sw->SetStateOn(false);
    clock->SetAlarmEnabled(false);
}

} // namespace

// A switch arms its job only at a time that the edit shows; text that does not read as a time
// (the edit lets one separator be typed, so "23:45:10" can become "23:4510") turns the switch
// off again and says what to type.
std::optional<double> MainWindow::TimeShown(TValueSpinEdit* edit, TToggleSwitch* sw) {
    if (const auto time = TValueSpinEdit::TextToTime(edit->text())) return time;
    sw->SetStateOn(false);
    QMessageBox::critical(this, QCoreApplication::applicationName(),
                          QStringLiteral("\"%1\" is not a time of day!\n\n"
                                         "Please type a time such as 14:30")
                              .arg(edit->text()));
    return std::nullopt;
}

void MainWindow::ToggleSwitch1On(QObject*) {
    if (const auto time = TimeShown(backupTime, backupSwitch))
        armFileJob(backupClock, *time, backupStatus);
}

void MainWindow::ToggleSwitch1Off(QObject*) {
    disarmFileJob(backupClock, backupStatus, QStringLiteral("Data Backup Controls"));
}

void MainWindow::ValueSpinEdit1Change(QObject*) {
    switchOff(backupSwitch, backupClock);
}

void MainWindow::Backup1Change(QObject*) {
    switchOff(backupSwitch, backupClock);
}

void MainWindow::ToggleSwitch2On(QObject*) {
    if (const auto time = TimeShown(compactTime, compactSwitch))
        armFileJob(compactClock, *time, compactStatus);
}

void MainWindow::ToggleSwitch2Off(QObject*) {
    disarmFileJob(compactClock, compactStatus, QStringLiteral("Data Repair/Compact Controls"));
}

void MainWindow::ValueSpinEdit2Change(QObject*) {
    switchOff(compactSwitch, compactClock);
}

void MainWindow::FilenameEdit1Change(QObject*) {
    switchOff(compactSwitch, compactClock);
}

void MainWindow::ComboBox1Change(QObject*) {
    compactSwitch->SetStateOn(false);
    const QString version = engineVersion->Text();
    if (version == QLatin1String("3.5") || version == QLatin1String("3.6") ||
        version == QLatin1String("12.0"))
        m_jobs->useEngineVersion(version);
}

void MainWindow::ToggleSwitch3On(QObject*) {
    const auto time = TimeShown(shutdownTime, shutdownSwitch);
    if (!time) return;
    shutdownClock->SetAlarmEnabled(true);
    shutdownClock->SetAlarmFromTime(*time);
}

void MainWindow::ToggleSwitch3Off(QObject*) {
    shutdownClock->SetAlarmEnabled(false);
}

void MainWindow::ValueSpinEdit3Change(QObject*) {
    switchOff(shutdownSwitch, shutdownClock);
}

void MainWindow::ComboBox2Change(QObject*) {
    switchOff(shutdownSwitch, shutdownClock);
}

namespace {

// Nobody may be at the machine to answer: the message is shown without waiting for a click, in
// one window that a later refusal updates.
void showWithoutWaiting(QWidget* window, const QString& text) {
    const QString name = QStringLiteral("SessionEndRefused");
    auto* box = window->findChild<QMessageBox*>(name);
    if (!box) {
        box = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                              QMessageBox::Ok, window);
        box->setObjectName(name);
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
    }
    box->setText(text);
    box->show();
}

} // namespace

void MainWindow::AlarmClock3Alarm(QObject*) {
    if (m_jobs->deferShutdown()) return; // runs when the file job has ended
    using tarnwick::SessionEndKind;
    const SessionEndKind kind = tarnwick::sessionEndKindForText(shutdownAction->Text());
    if (kind == SessionEndKind::ProgramOnly)
        close(); // the window closes as the user would close it, so the settings are saved
    else if (kind != SessionEndKind::None && !tarnwick::SessionEnd::current().request(kind)) {
        QString why = tarnwick::SessionEnd::current().lastError();
        if (why.isEmpty()) why = QStringLiteral("the system refused it");
        const QString line =
            QStringLiteral("Auto Shut Down \"%1\" failed: %2  ").arg(shutdownAction->Text(), why) +
            tarnwick::FormatSettings::current().timestamp(tarnwick::TimeSource::current().now());
        tarnwick::jobs::logLine(line, true);
        showWithoutWaiting(this, line);
    }
}
