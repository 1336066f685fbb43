#include "app/form1.h"

#include "controls/formreader.h"

// The description is a resource of this static library; the linker keeps it only when asked.
static void initResources() {
    Q_INIT_RESOURCE(app);
}

void RegisterComponentClasses() {
    initResources();
    RegisterStandardControls();
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
}

void TForm1::FormDestroy(QObject*) {}

void TForm1::BitBtn1Click(QObject*) {
    RichEdit2->Clear();
}

void TForm1::BitBtn2Click(QObject*) {
    RichEdit1->Clear();
}
