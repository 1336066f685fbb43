// Late-bound calls by name, the class registry and the per-thread initialisation count.
#include "automation/classregistry.h"
#include "automation/dispatch.h"
#include "automation/threaduse.h"

#include <QTest>

#include <thread>

using namespace tarnwick::automation;

class Sample : public AutomationObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(int Count READ Count)
public:
    QString Name() const { return m_name; }
    void SetName(const QString& n) {
        if (n == QLatin1String("bad")) throw EAutomationError(QStringLiteral("no bad names"));
        m_name = n;
    }
    int Count() const { return 3; }
    // Reports which arguments arrived and which were missing.
    Q_INVOKABLE QVariant Describe(QVariant a, QVariant b, QVariant c) {
        QStringList parts;
        for (const QVariant& v : {a, b, c})
            parts << (IsMissing(v) ? QStringLiteral("-") : ArgText(v));
        return parts.join(QLatin1Char(','));
    }
    Q_INVOKABLE void Fail() { throw std::runtime_error("engine text"); }
    Q_INVOKABLE QVariant Self() { return ToVariant(shared_from_this()); }

private:
    QString m_name;
};

class TestAutomation : public QObject {
    Q_OBJECT
    static QString errorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const EAutomationError& e) {
            return e.Message();
        }
        return {};
    }

private slots:
    void callsByName() {
        const Dispatch s = std::make_shared<Sample>();
        QCOMPARE(Call(s, "describe", {1, "x"}).toString(), QStringLiteral("1,x,-"));
        QCOMPARE(Call(s, "Describe", {Missing(), 2}).toString(), QStringLiteral("-,2,-"));
        Put(s, "NAME", "abc");
        QCOMPARE(Get(s, "name").toString(), QStringLiteral("abc"));
        QCOMPARE(Get(s, "Count").toInt(), 3);
        QCOMPARE(ToDispatch(Get(s, "Self")), s); // a method reached as a property
        QCOMPARE(AutomationBool(true).toInt(), -1);
        QVERIFY(ToBool(QVariant(-1)) && !ToBool(QVariant(0)) && !ToBool(Missing()));
    }

    void failuresRaiseTheObjectsText() {
        const Dispatch s = std::make_shared<Sample>();
        QCOMPARE(errorOf([&] { Call(s, "Fail"); }), QStringLiteral("engine text"));
        QCOMPARE(errorOf([&] { Put(s, "Name", "bad"); }), QStringLiteral("no bad names"));
        QCOMPARE(Get(s, "Name").toString(), QString());
        QVERIFY(errorOf([&] { Call(s, "Nothing"); }).contains("Nothing"));
        QVERIFY(!errorOf([&] { Put(s, "Count", 4); }).isEmpty());
        QVERIFY(!errorOf([&] { Call(s, "Describe", {1, 2, 3, 4}); }).isEmpty());
        QVERIFY(!errorOf([&] { Call(Dispatch(), "Describe"); }).isEmpty());
    }

    void classesByProgId() {
        RegisterClass("Test.Sample.1", [] { return std::make_shared<Sample>(); });
        // Not initialised on this thread yet.
        QVERIFY(
            errorOf([] { CreateAutomationObject("Test.Sample.1"); }).contains("not initialised"));
        QVERIFY(EnterAutomation());
        QVERIFY(!EnterAutomation());
        QVERIFY(CreateAutomationObject("test.sample.1"));
        UnregisterClass("Test.Sample.1");
        QVERIFY(
            errorOf([] { CreateAutomationObject("Test.Sample.1"); }).contains("not registered"));
        // Another thread has its own count.
        int other = -1;
        std::thread([&] { other = AutomationUseCount(); }).join();
        QCOMPARE(other, 0);
        LeaveAutomation();
        LeaveAutomation();
        QCOMPARE(AutomationUseCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAutomation)
#include "tst_automation.moc"
