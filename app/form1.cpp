#include "app/form1.h"

#include "app/dblogin.h"
#include "app/statuslabel.h"
#include "app/windowplacement.h"
#include "archive/dialogs/archiverdialogs.h"
#include "archive/ziplibrary.h"
#include "controls/formreader.h"
#include "controls/pickerdialogs.h"
#include "controls/windowcontrols.h"
#include "dao/programdesign.h"
#include "daoengine/engine.h"
#include "jobs/backupjob.h"
#include "jobs/compactjob.h"
#include "jobs/componenttools.h"
#include "jobs/daocompact.h"
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
#include <QThread>
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

TForm1::TForm1(const QString& description, QWidget* parent) : TForm(parent) {
    RegisterComponentClasses();
    CreateFromDescription(description);
}

TForm1::~TForm1() {
    // No job may outlive the window or run while its settings are saved.
    m_stopJobs = true;
    if (m_worker) m_worker->wait();
    delete m_worker;
    DoDestroy();
}

template <typename T> void TForm1::bind(T*& field, const char* name) {
    field = Component<T>(QString::fromLatin1(name));
    if (!field) throw EReadError(std::string("The window has no ") + name);
}

#define BIND(name) bind(name, #name)

// The fields point at their components before any handler can run.
void TForm1::ComponentsCreated() {
    BIND(ValueSpinEdit1);
    BIND(ToggleSwitch1);
    BIND(ValueSpinEdit2);
    BIND(ToggleSwitch2);
    BIND(ValueSpinEdit3);
    BIND(ToggleSwitch3);
    BIND(Label4);
    BIND(Label7);
    BIND(Backup1);
    BIND(DirectoryEdit1);
    BIND(FilenameEdit1);
    BIND(CheckBox2);
    BIND(SpeedButton3);
    BIND(Label11);
    BIND(Bevel2);
    BIND(ComboBox1);
    BIND(Edit1);
    BIND(Label13);
    BIND(CheckBox1);
    BIND(SpeedButton4);
    BIND(CheckBox3);
    BIND(CheckBox4);
    BIND(ValueSpinEdit4);
    BIND(ComboBox2);
    BIND(RichEdit1);
    BIND(RichEdit2);
    BIND(BitBtn1);
    BIND(BitBtn2);
    BIND(cgMemory);
    BIND(cgProgress);
    BIND(Label1);
    BIND(Label2);
    BIND(SpeedButton5);
    BIND(SpeedButton1);
    BIND(SpeedButton2);
    BIND(FoldPanel1);
    BIND(FoldPanel2);
    BIND(FoldPanel3);
    BIND(FoldPanel4);
    BIND(Text1);
    BIND(LinkImage1);
    BIND(LinkImage2);
    BIND(LinkImage3);
    BIND(ZPHint1);
    BIND(MemDefrag1);
    BIND(SingleInstance1);
    BIND(NetConnectDlg1);
    BIND(NetDisConnectDlg1);
    BIND(PentiumMMX1);
    BIND(IniOut1);
    BIND(ShellFileOp1);
    BIND(ZipArchiver1);
    BIND(OvDaoDatabase1);
    BIND(AlarmClock1);
    BIND(AlarmClock2);
    BIND(AlarmClock3);
    // A file job whose time passed unseen (suspend, a clock step) runs late; the end of the
    // session does not come hours after its time.
    AlarmClock1->SetFiresLate(true);
    AlarmClock2->SetFiresLate(true);
    // The database component's design values, while it is still being read in.
    tarnwick::dao::SetProgramDesign(*OvDaoDatabase1, QStringLiteral("3.6"));
    // What the settings store keeps of the controls comes from the table of saved settings.
    IniOut1->SetItems(tarnwick::settings::windowItems());
    resolveDocumentLinks();
}

// The pictures link to the project's own documents, named relative to the source tree.
void TForm1::resolveDocumentLinks() {
#ifdef TARNWICK_DOC_DIR
    const QDir docs(QStringLiteral(TARNWICK_DOC_DIR));
    for (TLinkImage* link : {LinkImage1, LinkImage2, LinkImage3}) {
        if (link->LinkType() != TLinkImage::ltfile || QDir::isAbsolutePath(link->HyperLink()))
            continue;
        const QFileInfo doc(docs.filePath(link->HyperLink()));
        if (doc.isFile()) link->SetHyperLink(doc.absoluteFilePath());
    }
#endif
}

void TForm1::FormCreate(QObject*) {
    const QSize design = size();
    // The controls sit where the design put them: a smaller client area would cut off the fold
    // panels' tabs along the foot, whatever size was saved or the frame takes.
    setMinimumSize(design);
    IniOut1->LoadProperties();
    ZPHint1->SetActive(true);
    for (TFoldPanel* panel : {FoldPanel1, FoldPanel2, FoldPanel3, FoldPanel4})
        panel->SetFoldStatus(TFoldPanel::fsCollapsed);
    // The restored engine version is not applied here: the component keeps its design version.
    Edit1->setText(OvDaoDatabase1->VersionInfo());
    cgMemory->SetMax(MemDefrag1->TotalMemory());
    KeepOnScreen(design);
    // Once the window runs, as its restored switches have armed the clocks. A second copy only
    // brings the first forward and ends.
    const TPreviousInstance* previous = TPreviousInstance::Instance();
    if (!previous || !previous->Exists()) QTimer::singleShot(0, this, &TForm1::CatchUpMissedRuns);
}

// A hand-edited or foreign settings file, or a screen that is gone, must not leave the
// window where nobody can see it, or so large that it costs gigabytes to draw.
void TForm1::KeepOnScreen(const QSize& design) {
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

void TForm1::FormDestroy(QObject*) {
    IniOut1->SaveProperties();
}

void TForm1::BitBtn1Click(QObject*) {
    RichEdit2->Clear();
}

void TForm1::BitBtn2Click(QObject*) {
    RichEdit1->Clear();
}

void TForm1::FoldPanel1BeforeExpand(QObject*) {
    FoldPanel1->raise();
}

void TForm1::FoldPanel1BeforeCollaps(QObject*) {
    FoldPanel1->lower();
}

void TForm1::FoldPanel2BeforeExpand(QObject*) {
    FoldPanel2->raise();
}

void TForm1::FoldPanel2BeforeCollaps(QObject*) {
    FoldPanel2->lower();
}

void TForm1::FoldPanel3BeforeExpand(QObject*) {
    FoldPanel3->raise();
}

void TForm1::FoldPanel3BeforeCollaps(QObject*) {
    FoldPanel3->lower();
}

void TForm1::FoldPanel4BeforeCollaps(QObject*) {
    FoldPanel4->lower();
}

// The picker raises its after-dialog event before it shows the chosen name, so the text it is
// about to show is the name handed over, not the text of the edit (empty at the first pick).
static QString textAfterDialog(const TFileDirEdit* edit, const QString* name, const bool* action) {
    return name && action && *action ? *name : edit->text();
}

void TForm1::Backup1AfterDialog(QObject*, QString* Name, bool* Action) {
    const qsizetype n = Backup1->DialogFiles().size();
    if (!textAfterDialog(Backup1, Name, Action).isEmpty() && n >= 2)
        Label7->SetCaption(QStringLiteral("%1 Files to Backup-Last file shown").arg(n));
    else
        Label7->SetCaption(QStringLiteral("File to Backup"));
}

void TForm1::FilenameEdit1AfterDialog(QObject*, QString* Name, bool* Action) {
    const qsizetype n = FilenameEdit1->DialogFiles().size();
    if (!textAfterDialog(FilenameEdit1, Name, Action).isEmpty() && n >= 2)
        Label13->SetCaption(QStringLiteral("%1 Files to Repair/Compact-Last file shown").arg(n));
    else
        Label13->SetCaption(QStringLiteral("File To Repair/Compact"));
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
std::optional<double> TForm1::TimeShown(TValueSpinEdit* edit, TToggleSwitch* sw) {
    if (const auto time = TValueSpinEdit::TextToTime(edit->text())) return time;
    sw->SetStateOn(false);
    QMessageBox::critical(this, QCoreApplication::applicationName(),
                          QStringLiteral("\"%1\" is not a time of day!\n\n"
                                         "Please type a time such as 14:30")
                              .arg(edit->text()));
    return std::nullopt;
}

void TForm1::ToggleSwitch1On(QObject*) {
    if (const auto time = TimeShown(ValueSpinEdit1, ToggleSwitch1))
        armFileJob(AlarmClock2, *time, Label4);
}

void TForm1::ToggleSwitch1Off(QObject*) {
    disarmFileJob(AlarmClock2, Label4, QStringLiteral("Data Backup Controls"));
}

void TForm1::ValueSpinEdit1Change(QObject*) {
    switchOff(ToggleSwitch1, AlarmClock2);
}

void TForm1::Backup1Change(QObject*) {
    switchOff(ToggleSwitch1, AlarmClock2);
}

void TForm1::ToggleSwitch2On(QObject*) {
    if (const auto time = TimeShown(ValueSpinEdit2, ToggleSwitch2))
        armFileJob(AlarmClock1, *time, Label11);
}

void TForm1::ToggleSwitch2Off(QObject*) {
    disarmFileJob(AlarmClock1, Label11, QStringLiteral("Data Repair/Compact Controls"));
}

void TForm1::ValueSpinEdit2Change(QObject*) {
    switchOff(ToggleSwitch2, AlarmClock1);
}

void TForm1::FilenameEdit1Change(QObject*) {
    switchOff(ToggleSwitch2, AlarmClock1);
}

void TForm1::ComboBox1Change(QObject*) {
    ToggleSwitch2->SetStateOn(false);
    const QString version = ComboBox1->Text();
    if (version == QLatin1String("3.5") || version == QLatin1String("3.6")) {
        if (m_compactRunning) {
            // The running compaction uses the database component: it changes once that ends.
            m_versionAfterCompact = version;
            return;
        }
        OvDaoDatabase1->SetVersion(version);
        Edit1->setText(OvDaoDatabase1->VersionInfo());
    }
}

void TForm1::ToggleSwitch3On(QObject*) {
    const auto time = TimeShown(ValueSpinEdit3, ToggleSwitch3);
    if (!time) return;
    AlarmClock3->SetAlarmEnabled(true);
    AlarmClock3->SetAlarmFromTime(*time);
}

void TForm1::ToggleSwitch3Off(QObject*) {
    AlarmClock3->SetAlarmEnabled(false);
}

void TForm1::ValueSpinEdit3Change(QObject*) {
    switchOff(ToggleSwitch3, AlarmClock3);
}

void TForm1::ComboBox2Change(QObject*) {
    switchOff(ToggleSwitch3, AlarmClock3);
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

void TForm1::AlarmClock3Alarm(QObject*) {
    if (FileJobRunning()) {
        m_shutdownWaiting = true; // runs when the file job has ended
        return;
    }
    using tarnwick::SessionEndKind;
    const SessionEndKind kind = tarnwick::sessionEndKindForText(ComboBox2->Text());
    if (kind == SessionEndKind::ProgramOnly)
        close(); // the window closes as the user would close it, so the settings are saved
    else if (kind != SessionEndKind::None && !tarnwick::SessionEnd::current().request(kind)) {
        QString why = tarnwick::SessionEnd::current().lastError();
        if (why.isEmpty()) why = QStringLiteral("the system refused it");
        const QString line =
            QStringLiteral("Auto Shut Down \"%1\" failed: %2  ").arg(ComboBox2->Text(), why) +
            tarnwick::FormatSettings::current().timestamp(tarnwick::TimeSource::current().now());
        tarnwick::jobs::logLine(line, true);
        showWithoutWaiting(this, line);
    }
}
