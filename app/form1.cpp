#include "app/form1.h"

#include "controls/formreader.h"

// The description is a resource of this static library; the linker keeps it only when asked.
static void initResources() {
    Q_INIT_RESOURCE(app);
}

void RegisterComponentClasses() {
    initResources();
    RegisterStandardControls();
    RegisterSettingsComponents();
    TClassRegistry::Register<TAlarmClock>();
    RegisterPickerControls();
}

TForm1::TForm1(const QString& description, QWidget* parent) : TForm(parent) {
    RegisterComponentClasses();
    CreateFromDescription(description);
}

TForm1::~TForm1() {
    DoDestroy();
}

template <typename T> void TForm1::bind(T*& field, const char* name) {
    field = Component<T>(QString::fromLatin1(name));
    if (!field) throw EReadError(std::string("The window has no ") + name);
}

#define BIND(name) bind(name, #name)

void TForm1::FormCreate(QObject*) {
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
    BIND(ComboBox2);
    BIND(RichEdit1);
    BIND(RichEdit2);
    BIND(BitBtn1);
    BIND(BitBtn2);
    BIND(cgMemory);
    BIND(cgProgress);
    BIND(IniOut1);
    BIND(AlarmClock1);
    BIND(AlarmClock2);
    BIND(AlarmClock3);

    IniOut1->LoadProperties();
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
