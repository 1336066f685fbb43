#include "runtime/component.h"

#include <QTest>

namespace {

T_DECLARE_EVENT(TCountEvent, QObject*, int*)

class TSample : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Count READ Count WRITE SetCount)
    Q_PROPERTY(TShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(TStyles Style READ Style WRITE SetStyle)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
    Q_PROPERTY(TCountEvent OnCount READ OnCount WRITE SetOnCount)
public:
    enum TShape { shCircle, shSquare };
    Q_ENUM(TShape)
    enum TStyle { fsBold = 1, fsItalic = 2, fsBoldItalic = 4 };
    Q_DECLARE_FLAGS(TStyles, TStyle)
    Q_FLAG(TStyles)

    using TComponent::TComponent;
    int Count() const { return m_count; }
    void SetCount(int c) { m_count = c; }
    TShape Shape() const { return m_shape; }
    void SetShape(TShape s) { m_shape = s; }
    TStyles Style() const { return m_style; }
    void SetStyle(TStyles s) { m_style = s; }
    TNotifyEvent OnChange() const { return m_onChange; }
    void SetOnChange(const TNotifyEvent& e) { m_onChange = e; }
    TCountEvent OnCount() const { return m_onCount; }
    void SetOnCount(const TCountEvent& e) { m_onCount = e; }

    QList<bool> loadingSeenInLoaded;

protected:
    void Loaded() override { loadingSeenInLoaded.append(IsLoading()); }

private:
    int m_count = 0;
    TShape m_shape = shCircle;
    TStyles m_style;
    TNotifyEvent m_onChange;
    TCountEvent m_onCount;
};

class TWindow : public QObject {
    Q_OBJECT
public:
    QList<QObject*> senders;
public slots:
    void SampleChange(QObject* Sender) { senders.append(Sender); }
    void SampleCount(QObject* Sender, int* Count) {
        senders.append(Sender);
        *Count += 1;
    }
    void NotAHandler(int) {}
};

} // namespace

class TestComponent : public QObject {
    Q_OBJECT
private slots:
    void publishedPropertiesAreTheDeclaredOnes() {
        TSample s;
        QStringList names;
        for (const QMetaProperty& p : ComponentModel::PublishedProperties(&s))
            names << p.name();
        QCOMPARE(names, (QStringList{"Count", "Shape", "Style", "OnChange", "OnCount"}));
        QVERIFY(!ComponentModel::FindProperty(&s, "objectName"));
        QCOMPARE(ComponentModel::FindProperty(&s, "onchange")->name(), "OnChange");
    }

    void enumsAndSetsWriteByName() {
        TSample s;
        auto shape = *ComponentModel::FindProperty(&s, "Shape");
        QVERIFY(shape.write(&s, QStringLiteral("shSquare")));
        QCOMPARE(s.Shape(), TSample::shSquare);
        auto style = *ComponentModel::FindProperty(&s, "Style");
        QVERIFY(style.write(&s, QStringLiteral("fsBold|fsBoldItalic")));
        QCOMPARE(int(s.Style()), 5);
        QCOMPARE(style.enumerator().valueToKeys(int(s.Style())), "fsBold|fsBoldItalic");
    }

    void eventsAreWiredByHandlerName() {
        TSample s;
        TWindow w;
        auto onChange = *ComponentModel::FindProperty(&s, "OnChange");
        QVERIFY(ComponentModel::IsEvent(onChange));
        QVERIFY(!ComponentModel::IsEvent(*ComponentModel::FindProperty(&s, "Count")));
        QVERIFY(!s.OnChange());

        QVERIFY(ComponentModel::WriteEvent(&s, onChange, &w, "SampleChange"));
        QVERIFY(s.OnChange().Assigned());
        QCOMPARE(ComponentModel::ReadEvent(&s, onChange).Name(), QByteArray("SampleChange"));
        QVERIFY(s.OnChange()(&s));
        QCOMPARE(w.senders, QList<QObject*>{&s});

        // Unknown names and wrong signatures leave the handler as it was.
        QVERIFY(!ComponentModel::WriteEvent(&s, onChange, &w, "NoSuchMethod"));
        QVERIFY(!ComponentModel::WriteEvent(&s, onChange, &w, "NotAHandler"));
        QCOMPARE(s.OnChange().Name(), QByteArray("SampleChange"));

        // An empty name unassigns.
        QVERIFY(ComponentModel::WriteEvent(&s, onChange, &w, ""));
        QVERIFY(!s.OnChange());
        QVERIFY(!s.OnChange()(&s));
    }

    void eventsWithVarParameters() {
        TSample s;
        TWindow w;
        s.SetOnCount(TCountEvent(&w, "SampleCount"));
        int n = 41;
        QVERIFY(s.OnCount()(&s, &n));
        QCOMPARE(n, 42);
        // A handler of another signature is not taken.
        QVERIFY(!TCountEvent(&w, "SampleChange").Assigned());
    }

    void handlerOfDestroyedReceiverIsUnassigned() {
        TSample s;
        auto* w = new TWindow;
        s.SetOnChange(TNotifyEvent(w, "SampleChange"));
        delete w;
        QVERIFY(!s.OnChange());
        QVERIFY(!s.OnChange()(&s));
    }

    void loadedRunsAfterLoading() {
        TSample s;
        QVERIFY(!s.IsLoading());
        s.BeginLoading();
        QVERIFY(s.IsLoading());
        s.EndLoading();
        QCOMPARE(s.loadingSeenInLoaded, QList<bool>{false});
    }
};

QTEST_GUILESS_MAIN(TestComponent)
#include "tst_component.moc"
