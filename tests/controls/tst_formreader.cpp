#include "controls/form.h"
#include "controls/formreader.h"
#include "controls/stdctrls.h"

#include <QTemporaryDir>
#include <QTest>

using namespace FormDescription;

namespace {

// A component that records what it saw while loading.
class TProbe : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Number READ Number WRITE SetNumber)
    Q_PROPERTY(double Ratio READ Ratio WRITE SetRatio)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QColor Tint READ Tint WRITE SetTint)
    Q_PROPERTY(QObject* Buddy READ Buddy WRITE SetBuddy)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    using TComponent::TComponent;
    int Number() const { return m_number; }
    void SetNumber(int n) {
        m_number = n;
        log << QStringLiteral("Number loading=%1").arg(IsLoading());
    }
    double Ratio() const { return m_ratio; }
    void SetRatio(double r) { m_ratio = r; }
    QString Text() const { return m_text; }
    void SetText(const QString& t) { m_text = t; }
    QColor Tint() const { return m_tint; }
    void SetTint(const QColor& c) { m_tint = c; }
    QObject* Buddy() const { return m_buddy; }
    void SetBuddy(QObject* b) { m_buddy = b; }
    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& e) { m_onChange = e; }

    QStringList log;
    static inline QStringList loadedOrder;

protected:
    void Loaded() override {
        loadedOrder << objectName();
        // The step after loading sees its handler already in place.
        m_onChange(this);
    }

private:
    int m_number = 0;
    double m_ratio = 0;
    QString m_text;
    QColor m_tint;
    QObject* m_buddy = nullptr;
    TNotifyEvent m_onChange;
};

class TTestForm : public TForm {
    Q_OBJECT
public:
    QStringList calls;
public slots:
    void ProbeChange(QObject* Sender) { calls << Sender->objectName(); }
};

} // namespace

class TestFormReader : public QObject {
    Q_OBJECT

    void load(TTestForm& form, const QString& text) {
        QTemporaryDir dir;
        const QString path = dir.filePath("form.dfm");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        f.close();
        form.CreateFromDescription(path);
    }

private slots:
    void initTestCase() {
        RegisterStandardControls();
        TClassRegistry::Register<TProbe>();
    }

    void init() { TProbe::loadedOrder.clear(); }

    void stringsNumbersSetsAndLists() {
        const auto root = Parse(QStringLiteral("object Form1: TTestForm\n"
                                               "  Caption = 'It''s'#13#10'two' +\n"
                                               "    ' lines'\n"
                                               "  Left = -12\n"
                                               "  Ratio = 0.875\n"
                                               "  Tint = $00FF0080\n"
                                               "  BorderIcons = [biSystemMenu, biMinimize]\n"
                                               "  Items.Strings = (\n"
                                               "    'a'\n"
                                               "    'b c')\n"
                                               "  // a comment\n"
                                               "  object Child: TProbe\n"
                                               "  end\n"
                                               "end\n"));
        QCOMPARE(root->name, QByteArray("Form1"));
        QCOMPARE(root->className, QByteArray("TTestForm"));
        QCOMPARE(root->properties.size(), 6);
        QCOMPARE(root->properties[0].value.value.toString(), QStringLiteral("It's\r\ntwo lines"));
        QCOMPARE(root->properties[1].value.value.toLongLong(), -12);
        QCOMPARE(root->properties[2].value.kind, Value::Float);
        QCOMPARE(root->properties[3].value.value.toLongLong(), 0xFF0080);
        QCOMPARE(root->properties[4].value.value.toStringList(),
                 (QStringList{"biSystemMenu", "biMinimize"}));
        QCOMPARE(root->properties[5].name, QByteArray("Items.Strings"));
        QCOMPARE(root->properties[5].value.value.toStringList(), (QStringList{"a", "b c"}));
        QCOMPARE(root->children.size(), size_t(1));
        QCOMPARE(root->children[0]->line, 12);
    }

    void malformedTextNamesTheLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("unterminated string") << "object F: T\n  A = 'abc\nend\n"
                                             << "line 2";
        QTest::newRow("missing end") << "object F: T\n  A = 1\n"
                                     << "'end' is missing";
        QTest::newRow("bad number") << "object F: T\n\n  A = 12x\nend\n"
                                    << "line 3";
        QTest::newRow("bad set") << "object F: T\n  A = [a b]\nend\n"
                                 << "line 2";
        QTest::newRow("trailing text") << "object F: T\nend\nend\n"
                                       << "after the last";
    }
    void malformedTextNamesTheLine() {
        QFETCH(QString, text);
        QFETCH(QString, message);
        try {
            Parse(text);
            QFAIL("no error");
        } catch (const EReadError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(message), e.what());
        }
    }

    void componentsAreBuiltInOrderAndLoadedAfterward() {
        TTestForm form;
        load(form, QStringLiteral("object Form1: TTestForm\n"
                                  "  object P1: TProbe\n"
                                  "    Number = 7\n"
                                  "    Text = 'x'\n"
                                  "    Tint = clYellow\n"
                                  "    OnChange = ProbeChange\n"
                                  "  end\n"
                                  "  object Box: TPanel\n"
                                  "    object L: TLabel\n"
                                  "      Caption = 'Hello'\n"
                                  "      Font.Style = [fsBold]\n"
                                  "      Font.Height = -13\n"
                                  "      Font.Color = clRed\n"
                                  "    end\n"
                                  "  end\n"
                                  "  object P2: TProbe\n"
                                  "    Buddy = P1\n"
                                  "    Ratio = 2\n"
                                  "    OnChange = ProbeChange\n"
                                  "  end\n"
                                  "end\n"));
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        auto* p1 = form.Component<TProbe>("p1");
        auto* p2 = form.Component<TProbe>("P2");
        QVERIFY(p1 && p2);
        QCOMPARE(p1->log, QStringList{"Number loading=1"});
        QCOMPARE(p1->Tint(), QColor(Qt::yellow));
        QCOMPARE(p2->Buddy(), p1);
        QCOMPARE(p2->Ratio(), 2.0);
        QCOMPARE(TProbe::loadedOrder, (QStringList{"P1", "P2"}));
        QCOMPARE(form.calls, (QStringList{"P1", "P2"}));
        QVERIFY(!p1->IsLoading());

        auto* label = form.Component<TLabel>("L");
        QVERIFY(label);
        QCOMPARE(label->parentWidget(), form.FindComponent("Box"));
        QVERIFY(label->font().bold());
        QCOMPARE(label->font().pixelSize(), 13);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::red));
        // Auto-size follows the font, so bold text is not cut.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance("Hello"));
        QCOMPARE(form.Components().size(), 4);
    }

    void unknownNamesAreErrors_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("class") << "object X: TNoSuchClass\nend\n"
                               << "unknown class TNoSuchClass";
        QTest::newRow("property") << "object X: TProbe\n  Colour = 1\nend\n"
                                  << "has no property Colour";
        QTest::newRow("handler") << "object X: TProbe\n  OnChange = Nope\nend\n"
                                 << "no handler Nope";
        QTest::newRow("enum") << "object X: TComboBox\n  Style = csNope\nend\n"
                              << "cannot take csNope";
        QTest::newRow("type") << "object X: TProbe\n  Number = 'seven'\nend\n"
                              << "cannot take seven";
        QTest::newRow("reference") << "object X: TProbe\n  Buddy = Nobody\nend\n"
                                   << "cannot take Nobody";
    }
    void unknownNamesAreErrors() {
        QFETCH(QString, body);
        QFETCH(QString, message);
        TTestForm form;
        try {
            load(form, "object Form1: TTestForm\n" + body + "end\n");
            QFAIL("no error");
        } catch (const EReadError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(message), e.what());
            QVERIFY2(QString::fromUtf8(e.what()).contains("line "), e.what());
        }
    }

    void emptySetClearsAllMembers() {
        TTestForm form;
        load(form, "object Form1: TTestForm\n  BorderIcons = []\nend\n");
        QCOMPARE(int(form.BorderIcons()), 0);
    }

    void descriptionOfAnotherWindowIsRefused() {
        TTestForm form;
        QVERIFY_THROWS_EXCEPTION(EReadError, load(form, "object Form1: TOtherForm\nend\n"));
    }

    void comboBoxReportsUserChangesOnly() {
        TComboBox box;
        TTestForm form;
        box.setObjectName("Box");
        box.SetOnChange(TNotifyEvent(&form, "ProbeChange"));
        box.SetItems({"b", "a"});
        box.SetSorted(true);
        QCOMPARE(box.Items(), (QStringList{"a", "b"}));
        box.SetText("b");
        QCOMPARE(box.Text(), QStringLiteral("b"));
        QVERIFY(form.calls.isEmpty());
        box.show();
        QTest::keyClicks(box.lineEdit(), "x");
        QCOMPARE(form.calls, QStringList{"Box"});
        QCOMPARE(box.Text(), QStringLiteral("bx"));
    }

    void progressBarKeepsRangesBeyond32Bits() {
        TProgressBar bar;
        bar.SetMax(qint64(16) << 30);
        bar.SetPosition(qint64(8) << 30);
        QCOMPARE(bar.value(), bar.maximum() / 2);
        bar.SetPosition(-5);
        QCOMPARE(bar.Position(), 0);
    }

    void richEditLines() {
        TRichEdit log;
        QCOMPARE(log.LineCount(), 0);
        QCOMPARE(log.Lines(), QStringList{});
        log.AddLine("one");
        log.AddLine("");
        log.AddLine("three");
        QCOMPARE(log.Lines(), (QStringList{"one", "", "three"}));
        log.SetLines({});
        QCOMPARE(log.LineCount(), 0);
    }
};

QTEST_MAIN(TestFormReader)
#include "tst_formreader.moc"
