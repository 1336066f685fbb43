#include "controls/form.h"
#include "controls/formreader.h"
#include "controls/stdctrls.h"
#include "platform/filename.h"
#include "platform/formatsettings.h"
#include "platform/inidocument.h"
#include "settings/iniout.h"
#include "settings/keys.h"

#include <QFile>
#include <QTest>

#include "tests/common/privatehome.h"

namespace {

// A component with a property of every kind the store handles.
class TKinds : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Number READ Number WRITE SetNumber)
    Q_PROPERTY(double Time READ Time WRITE SetTime)
    Q_PROPERTY(bool Flag READ Flag WRITE SetFlag)
    Q_PROPERTY(QChar Letter READ Letter WRITE SetLetter)
    Q_PROPERTY(QColor Tint READ Tint WRITE SetTint)
    Q_PROPERTY(TShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(TStyles Styles READ Styles WRITE SetStyles)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
    Q_PROPERTY(QObject* Buddy READ Buddy WRITE SetBuddy)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    enum TShape : int { shCircle = 0, shSquare = 1, shTriangle = 2 };
    Q_ENUM(TShape)
    // "fsBold" lies inside "fsBoldItalic": restoring the longer name takes both.
    enum TStyle { fsBold = 1, fsItalic = 2, fsBoldItalic = 4 };
    Q_DECLARE_FLAGS(TStyles, TStyle)
    Q_FLAG(TStyles)

    using TComponent::TComponent;
    int Number() const { return m_number; }
    void SetNumber(int v) { m_number = v; }
    double Time() const { return m_time; }
    void SetTime(double v) { m_time = v; }
    bool Flag() const { return m_flag; }
    void SetFlag(bool v) { m_flag = v; }
    QChar Letter() const { return m_letter; }
    void SetLetter(QChar v) { m_letter = v; }
    QColor Tint() const { return m_tint; }
    void SetTint(const QColor& v) { m_tint = v; }
    TShape Shape() const { return m_shape; }
    void SetShape(TShape v) { m_shape = v; }
    TStyles Styles() const { return m_styles; }
    void SetStyles(TStyles v) { m_styles = v; }
    QString Text() const { return m_text; }
    void SetText(const QString& v) { m_text = v; }
    QStringList Lines() const { return m_lines; }
    void SetLines(const QStringList& v) { m_lines = v; }
    QObject* Buddy() const { return m_buddy; }
    void SetBuddy(QObject* v) { m_buddy = v; }
    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& v) { m_onChange = v; }

private:
    int m_number = 0;
    double m_time = 0;
    bool m_flag = false;
    QChar m_letter = 'a';
    QColor m_tint = Qt::black;
    TShape m_shape = shCircle;
    TStyles m_styles;
    QString m_text;
    QStringList m_lines;
    QObject* m_buddy = nullptr;
    TNotifyEvent m_onChange;
};

class TStoreForm : public TForm {
    Q_OBJECT
public slots:
    void KindsChange(QObject*) {}
};

const char* description = R"(object Form1: TStoreForm
  object K: TKinds
  end
  object Other: TKinds
  end
  object Store: TIniOut
    FileName = '.INI'
  end
end
)";

} // namespace

class TestIniOut : public QObject {
    Q_OBJECT

    std::unique_ptr<TStoreForm> form;
    TKinds* k = nullptr;
    TIniOut* store = nullptr;

    static QString storePath() {
        return tarnwick::IniKeyStore::storePath(tarnwick::reg::CURRENT_USER);
    }

    void setItems(const QStringList& items) { store->SetItems(items); }

    static std::optional<QString> stored(const QString& section, const QString& key) {
        QFile f(storePath());
        if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
        return tarnwick::IniDocument::parse(f.readAll()).value(section, key);
    }

    static void storeValue(const QString& section, const QString& key, const QString& value) {
        tarnwick::IniKeyStore reg;
        QVERIFY(reg.openKey(section, true));
        QVERIFY(reg.writeString(key, value));
        QVERIFY(reg.flush());
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        RegisterStandardControls();
        RegisterSettingsComponents();
        TClassRegistry::Register<TKinds>();
    }

    void init() {
        QFile::remove(storePath());
        makeForm();
    }

    void cleanup() {
        form.reset();
        tarnwick::FormatSettings::install(nullptr);
    }

private:
    void makeForm() {
        form = std::make_unique<TStoreForm>();
        const auto root = FormDescription::Parse(QString::fromLatin1(description));
        FormDescription::Apply(*root, form.get());
        k = form->Component<TKinds>("K");
        store = form->Component<TIniOut>("Store");
        QVERIFY(k && store);
    }

private slots:
    void everyKindRoundTrips() {
        setItems({"K;Number;;S;Number;1;0", "K;Time;;S;Time;1;0", "K;Flag;;S;Flag;1;0",
                  "K;Letter;;S;Letter;1;0", "K;Tint;;S;Tint;1;0", "K;Shape;;S;Shape;1;0",
                  "K;Styles;;S;Styles;1;0", "K;Text;;S;Text;1;0", "K;Lines;;S;Lines;1;0",
                  "K;Buddy;;S;Buddy;1;0", "K;OnChange;;S;OnChange;1;0",
                  "Form1;Caption;;F;Caption;1;0"});
        k->SetNumber(-42);
        k->SetTime(0.875);
        k->SetFlag(true);
        k->SetLetter('z');
        k->SetTint(QColor(0xC0, 0xC0, 0xC0));
        k->SetShape(TKinds::shTriangle);
        k->SetStyles(TKinds::TStyles(TKinds::fsBold) | TKinds::fsBoldItalic);
        k->SetText(QStringLiteral("  C:\\Data\\a;b=c|d  "));
        k->SetLines({"one", tarnwick::fileNameFromBytes("/d/b\xff.mdb")});
        k->SetBuddy(form->FindComponent("Other"));
        k->SetOnChange(TNotifyEvent(form.get(), "KindsChange"));
        form->SetCaption("Window");
        store->SaveProperties();

        QCOMPARE(stored("S", "Number"), QStringLiteral("-42"));
        QCOMPARE(stored("S", "Time"), QStringLiteral("0.875"));
        QCOMPARE(stored("S", "Flag"), QStringLiteral("1"));
        QCOMPARE(stored("S", "Tint"), QStringLiteral("clSilver"));
        QCOMPARE(stored("S", "Shape"), QStringLiteral("shTriangle"));
        QCOMPARE(stored("S", "Styles"), QStringLiteral("[fsBold,fsBoldItalic]"));
        QCOMPARE(stored("S", "Lines"), "one|" + tarnwick::fileNameFromBytes("/d/b\xff.mdb"));
        QCOMPARE(stored("S", "Buddy"), QStringLiteral("Other"));
        QCOMPARE(stored("S", "OnChange"), QStringLiteral("KindsChange"));
        QCOMPARE(stored("F", "Caption"), QStringLiteral("Window"));

        const QStringList items = store->Items();
        makeForm();
        setItems(items);
        store->LoadProperties();
        QCOMPARE(k->Number(), -42);
        QCOMPARE(k->Time(), 0.875);
        QCOMPARE(k->Flag(), true);
        QCOMPARE(k->Letter(), QChar('z'));
        QCOMPARE(k->Tint(), QColor(0xC0, 0xC0, 0xC0));
        QCOMPARE(k->Shape(), TKinds::shTriangle);
        QCOMPARE(int(k->Styles()), int(TKinds::fsBold | TKinds::fsBoldItalic));
        QCOMPARE(k->Text(), QStringLiteral("  C:\\Data\\a;b=c|d  "));
        QCOMPARE(k->Lines(), (QStringList{"one", tarnwick::fileNameFromBytes("/d/b\xff.mdb")}));
        QCOMPARE(k->Buddy(), form->FindComponent("Other"));
        QCOMPARE(k->OnChange().Name(), QByteArray("KindsChange"));
        QCOMPARE(form->Caption(), QStringLiteral("Window"));
    }

    // A number is held to its range; what is no number, or nothing, reads as its default.
    void keyTableHoldsNumbersToTheirRange_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("memory");
        QTest::addColumn<int>("keep");
        QTest::newRow("missing") << QString() << 256 << 0;
        QTest::newRow("in range") << " 512 " << 512 << 512;
        QTest::newRow("low") << "-3" << 16 << 0;
        QTest::newRow("high") << "99999" << 4096 << 99999;
        QTest::newRow("no number") << "lots" << 256 << 0;
    }
    void keyTableHoldsNumbersToTheirRange() {
        QFETCH(QString, text);
        QFETCH(int, memory);
        QFETCH(int, keep);
        namespace key = tarnwick::settings::key;
        if (!text.isNull()) {
            storeValue("Compact", "MemoryMiB", text);
            storeValue("Backup", "Keep", text);
        }
        tarnwick::IniKeyStore reg;
        QCOMPARE(tarnwick::settings::readNumber(reg, key::CompactMemoryMiB), memory);
        QCOMPARE(tarnwick::settings::readNumber(reg, key::BackupKeep), keep);
    }

    // The window's items come from the table: one per key a control keeps, in its form.
    void keyTableGivesTheWindowItsItems() {
        const QStringList items = tarnwick::settings::windowItems();
        QCOMPARE(items.size(), 27);
        QCOMPARE(items.first(), QStringLiteral("FilenameEdit1;Text;;Compact;Hx1;1;0"));
        QVERIFY(items.contains("CheckBox1;State;cbUnchecked;Compact;Defrag;1;0"));
        QVERIFY(items.contains("ValueSpinEdit4;Value;0;Backup;Keep;1;0"));
        QCOMPARE(items.filter(";LastRun;").size(), 0);
    }

    void booleansByFirstCharacter_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        for (const char* t : {"1", "T", "True", "Y", "t", "yes"})
            QTest::newRow(t) << t << true;
        for (const char* t : {"0", "N", "F", "false", "x", " 1"})
            QTest::newRow(t) << t << false;
    }
    void booleansByFirstCharacter() {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        k->SetFlag(!expected);
        storeValue("S", "Flag", text);
        setItems({"K;Flag;;S;Flag;1;0"});
        store->LoadProperties();
        QCOMPARE(k->Flag(), expected);
    }

    void setMembersAreFoundInsideTheText() {
        setItems({"K;Styles;;S;Styles;1;0"});
        storeValue("S", "Styles", "[fsBoldItalic]");
        store->LoadProperties();
        // fsBold occurs inside fsBoldItalic, so it is taken too.
        QCOMPARE(int(k->Styles()), int(TKinds::fsBold | TKinds::fsBoldItalic));
        storeValue("S", "Styles", "[fsitalic]");
        store->LoadProperties();
        QCOMPARE(int(k->Styles()), 0); // letter case counts
    }

    void listsSplitAtEveryBarAndLoseOneTrailingEmptyLine() {
        setItems({"K;Lines;;S;Lines;1;0"});
        k->SetLines({"a|b", "c", "", ""});
        store->SaveProperties();
        QCOMPARE(stored("S", "Lines"), QStringLiteral("a|b|c||"));
        k->SetLines({});
        store->LoadProperties();
        QCOMPARE(k->Lines(), (QStringList{"a", "b", "c", ""}));

        k->SetLines({""});
        store->SaveProperties();
        store->LoadProperties();
        QCOMPARE(k->Lines(), QStringList{});
    }

    void decimalSeparatorMismatchLeavesTheTime() {
        setItems({"K;Time;;S;Time;1;0"});
        k->SetTime(0.875);
        store->SaveProperties();
        QCOMPARE(stored("S", "Time"), QStringLiteral("0.875"));

        tarnwick::FormatSettings comma = tarnwick::FormatSettings::current();
        comma.decimalSeparator = QStringLiteral(",");
        tarnwick::FormatSettings::install(&comma);
        k->SetTime(0.25);
        store->LoadProperties();
        QCOMPARE(k->Time(), 0.25);

        store->SaveProperties();
        QCOMPARE(stored("S", "Time"), QStringLiteral("0,25"));
        k->SetTime(0);
        store->LoadProperties();
        QCOMPARE(k->Time(), 0.25);
    }

    void defaultsApplyWhenNothingIsStored() {
        setItems({"K;Text;;S;Text;1;0", "K;Number;;S;Number;1;0", "K;Flag;;S;Flag;1;0",
                  "K;Shape;shSquare;S;Shape;1;0", "K;Lines;;S;Lines;1;0", "K;Time;;S;Time;1;0"});
        k->SetText("design");
        k->SetNumber(7);
        k->SetFlag(true);
        k->SetLines({"x"});
        k->SetTime(0.5);
        store->LoadProperties();
        // An empty default empties texts and lists and leaves everything else.
        QCOMPARE(k->Text(), QString());
        QCOMPARE(k->Lines(), QStringList{});
        QCOMPARE(k->Number(), 7);
        QCOMPARE(k->Flag(), true);
        QCOMPARE(k->Time(), 0.5);
        QCOMPARE(k->Shape(), TKinds::shSquare);
    }

    void restoreOnlyItemsAreNeverWritten() {
        storeValue("S", "Text", "kept");
        setItems({"K;Text;;S;Text;1;1"});
        store->LoadProperties();
        QCOMPARE(k->Text(), QStringLiteral("kept"));
        k->SetText("changed");
        store->SaveProperties();
        QCOMPARE(stored("S", "Text"), QStringLiteral("kept"));
    }

    void badItemsAreSkippedOneByOne() {
        storeValue("S", "Number", "12");
        storeValue("S", "Bad", "twelve");
        setItems({"Nobody;Text;;S;Text;1;0", "K;NoSuchProperty;;S;X;1;0", ";;;;;;",
                  "K;Number;;S;Bad;1;0", "K ; number ; ; S ; Number ; 1 ; 0",
                  "k;Shape;;S;Shape;1;0"});
        k->SetNumber(3);
        store->LoadProperties();
        QCOMPARE(k->Number(), 12); // the bad text left it, the next item set it
        store->SaveProperties();
        QVERIFY(!stored("S", "X"));
        QCOMPARE(stored("S", "Shape"), QStringLiteral("shCircle"));
    }

    void unknownTextsLeaveTheProperty() {
        setItems({"K;Shape;;S;Shape;1;0", "K;Tint;;S;Tint;1;0", "K;OnChange;;S;OnChange;1;0"});
        k->SetShape(TKinds::shSquare);
        k->SetTint(Qt::red);
        k->SetOnChange(TNotifyEvent(form.get(), "KindsChange"));
        storeValue("S", "Shape", "shHexagon");
        storeValue("S", "Tint", "clNoColour");
        storeValue("S", "OnChange", "NoSuchHandler");
        store->LoadProperties();
        QCOMPARE(k->Shape(), TKinds::shSquare);
        QCOMPARE(k->Tint(), QColor(Qt::red));
        QCOMPARE(k->OnChange().Name(), QByteArray("KindsChange"));
    }

    void enumerationOutOfRangeSavesTheLowestName() {
        setItems({"K;Shape;;S;Shape;1;0"});
        k->SetShape(TKinds::TShape(9));
        store->SaveProperties();
        QCOMPARE(stored("S", "Shape"), QStringLiteral("shCircle"));
    }

    void wholeObjectAsText() {
        k->SetNumber(5);
        k->SetText("t");
        const QString text = TIniOut::PropertyToText(k, {}, form.get());
        // Sorted by name: Buddy, Flag, Letter, Lines, Number, OnChange, Shape, Styles, Text, Time,
        // Tint.
        QCOMPARE(text, QStringLiteral("|0|a||5||shCircle|[]|t|0|clBlack"));
    }

    void fileNameTakesTheIniExtension() {
        store->SetFileName("settings.cfg");
        QCOMPARE(store->FileName(), QStringLiteral("SETTINGS.INI"));
        store->SetFileName(".INI");
        QCOMPARE(store->FileName(), QStringLiteral(".INI"));
        store->SetFileName("dir.v2/name");
        QCOMPARE(store->FileName(), QStringLiteral("DIR.V2/NAME.INI"));
    }
};

QTEST_MAIN(TestIniOut)
#include "tst_iniout.moc"
