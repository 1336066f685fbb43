// Session end against fakes on private buses that this test starts: a system bus with
// python3-dbusmock's logind template, and a session bus with a fake desktop session manager. The
// machine's own buses are never used.

#include "app/mainwindow.h"
#include "platform/sessionend.h"
#include "platform/timesource.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

using namespace tarnwick;

namespace {

const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kMock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kPython = QStringLiteral("/usr/bin/python3");

// A child that dies with the test, even if the test crashes.
std::unique_ptr<QProcess> startChild(const QString& program, const QStringList& args) {
    auto p = std::make_unique<QProcess>();
    p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(program, args);
    return p;
}

void stopChild(std::unique_ptr<QProcess>& p) {
    if (!p) return;
    if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
    }
    p.reset();
}

struct Call {
    QString path;
    QString text; // "Method(arg, ...)"
};

QString argText(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QString:
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    default:
        return v.toString();
    }
}

} // namespace

class TestSessionEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void eachKindSendsExactlyItsCall_data();
    void eachKindSendsExactlyItsCall();
    // The same, carried out by the window's shutdown job when its clock reaches the time.
    void windowShutdownJobAtItsAlarm_data() { eachKindSendsExactlyItsCall_data(); }
    void windowShutdownJobAtItsAlarm();
    void busesAllowedInTests_data();
    void busesAllowedInTests();
    void refusedWithoutPrivateBus();
    void inhibitorHoldsAndReleasesTheLock();

private:
    void checkCalls(bool viaWindow);
    bool startBus(const QString& socket, std::unique_ptr<QProcess>& proc, QString* address);
    bool waitForName(QDBusConnection& c, const QString& name, bool present);
    QDBusMessage mockCall(QDBusConnection& c, const QString& service, const QString& path,
                          const QString& method, const QVariantList& args);
    QList<Call> calls(QDBusConnection& c, const QString& service, const QStringList& paths);
    bool startDesktop(const QString& which);
    void stopDesktop();

    QTemporaryDir m_tmp{QDir::tempPath() + QStringLiteral("/tarnwick-session-XXXXXX")};
    std::unique_ptr<QProcess> m_systemBus, m_sessionBus, m_logind, m_desktop;
    QString m_systemAddress, m_sessionAddress;
    QString m_desktopService, m_desktopPath;
    std::optional<QDBusConnection> m_system, m_session;
};

bool TestSessionEnd::startBus(const QString& socket, std::unique_ptr<QProcess>& proc,
                              QString* address) {
    proc = startChild(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1"),
                       QStringLiteral("--address=unix:path=") + socket});
    if (!proc->waitForStarted(10000)) return false;
    QDeadlineTimer deadline(10000);
    while (!proc->canReadLine() && !deadline.hasExpired())
        proc->waitForReadyRead(100);
    *address = QString::fromUtf8(proc->readLine()).trimmed();
    return address->startsWith(QLatin1String("unix:path="));
}

bool TestSessionEnd::waitForName(QDBusConnection& c, const QString& name, bool present) {
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (c.interface()->isServiceRegistered(name).value() == present) return true;
        QThread::msleep(50);
    }
    return false;
}

QDBusMessage TestSessionEnd::mockCall(QDBusConnection& c, const QString& service,
                                      const QString& path, const QString& method,
                                      const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, kMock, method);
    m.setArguments(args);
    return c.call(m, QDBus::Block, 10000);
}

QList<Call> TestSessionEnd::calls(QDBusConnection& c, const QString& service,
                                  const QStringList& paths) {
    QList<Call> out;
    for (const QString& path : paths) {
        const QDBusMessage reply = mockCall(c, service, path, QStringLiteral("GetCalls"), {});
        if (reply.type() != QDBusMessage::ReplyMessage) {
            out.append({path, QStringLiteral("GetCalls failed: ") + reply.errorMessage()});
            continue;
        }
        const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            quint64 time = 0;
            QString method;
            QStringList args;
            arg.beginStructure();
            arg >> time >> method;
            arg.beginArray();
            while (!arg.atEnd()) {
                QDBusVariant v;
                arg >> v;
                args << argText(v.variant());
            }
            arg.endArray();
            arg.endStructure();
            out.append({path, method + QLatin1Char('(') + args.join(QLatin1String(", ")) +
                                  QLatin1Char(')')});
        }
        arg.endArray();
        mockCall(c, service, path, QStringLiteral("ClearCalls"), {});
    }
    return out;
}

void TestSessionEnd::initTestCase() {
    if (!QFile::exists(kPython) ||
        QProcess::execute(kPython, {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0)
        QSKIP("python3-dbusmock is not installed");
    QVERIFY(m_tmp.isValid());
    qputenv("TARNWICK_TEST", "1");

    QVERIFY(startBus(m_tmp.filePath(QStringLiteral("system_bus")), m_systemBus, &m_systemAddress));
    QVERIFY(
        startBus(m_tmp.filePath(QStringLiteral("session_bus")), m_sessionBus, &m_sessionAddress));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemAddress.toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_sessionAddress.toUtf8());

    m_system = QDBusConnection::connectToBus(m_systemAddress, QStringLiteral("test-system"));
    m_session = QDBusConnection::connectToBus(m_sessionAddress, QStringLiteral("test-session"));
    QVERIFY(m_system->isConnected() && m_session->isConnected());

    m_logind = startChild(kPython, {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                    QStringLiteral("--system"), QStringLiteral("--template"),
                                    QStringLiteral("logind")});
    QVERIFY(m_logind->waitForStarted(10000));
    QVERIFY2(waitForName(*m_system, kLogin1, true), "the fake logind did not appear");

    const QString main = QStringLiteral("/org/freedesktop/login1");
    // The template lacks Halt; the session "auto" stands for the caller's own session.
    QCOMPARE(mockCall(*m_system, kLogin1, main, QStringLiteral("AddMethod"),
                      {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Halt"),
                       QStringLiteral("b"), QString(), QString()})
                 .type(),
             QDBusMessage::ReplyMessage);
    QCOMPARE(mockCall(*m_system, kLogin1, main, QStringLiteral("AddSession"),
                      {QStringLiteral("auto"), QStringLiteral("seat0"),
                       QVariant::fromValue(quint32(::getuid())), QStringLiteral("tester"), true})
                 .type(),
             QDBusMessage::ReplyMessage);
}

void TestSessionEnd::cleanupTestCase() {
    stopDesktop();
    if (m_system) QDBusConnection::disconnectFromBus(QStringLiteral("test-system"));
    if (m_session) QDBusConnection::disconnectFromBus(QStringLiteral("test-session"));
    m_system.reset();
    m_session.reset();
    stopChild(m_logind);
    stopChild(m_systemBus);
    stopChild(m_sessionBus);
}

void TestSessionEnd::init() {
    if (m_systemAddress.isEmpty()) return;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemAddress.toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_sessionAddress.toUtf8());
    qunsetenv("XDG_SESSION_ID");
}

bool TestSessionEnd::startDesktop(const QString& which) {
    QString interface, method, signature;
    if (which == QLatin1String("gnome")) {
        m_desktopService = interface = QStringLiteral("org.gnome.SessionManager");
        m_desktopPath = QStringLiteral("/org/gnome/SessionManager");
        method = QStringLiteral("Logout");
        signature = QStringLiteral("u");
    } else if (which == QLatin1String("kde")) {
        m_desktopService = interface = QStringLiteral("org.kde.Shutdown");
        m_desktopPath = QStringLiteral("/Shutdown");
        method = QStringLiteral("logout");
    } else {
        m_desktopService = QStringLiteral("org.xfce.SessionManager");
        interface = QStringLiteral("org.xfce.Session.Manager");
        m_desktopPath = QStringLiteral("/org/xfce/SessionManager");
        method = QStringLiteral("Logout");
        signature = QStringLiteral("bb");
    }
    m_desktop = startChild(kPython, {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                     m_desktopService, m_desktopPath, interface});
    if (!m_desktop->waitForStarted(10000) || !waitForName(*m_session, m_desktopService, true))
        return false;
    return mockCall(*m_session, m_desktopService, m_desktopPath, QStringLiteral("AddMethod"),
                    {QString(), method, signature, QString(), QString()})
               .type() == QDBusMessage::ReplyMessage;
}

void TestSessionEnd::stopDesktop() {
    if (!m_desktop) return;
    stopChild(m_desktop);
    waitForName(*m_session, m_desktopService, false);
    m_desktopService.clear();
}

void TestSessionEnd::eachKindSendsExactlyItsCall_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sessionId"); // XDG_SESSION_ID
    QTest::addColumn<QString>("desktop");   // fake session manager on the session bus
    QTest::addColumn<QString>("path");      // where the call must arrive
    QTest::addColumn<QString>("call");      // "" for no call at all

    const QString main = QStringLiteral("/org/freedesktop/login1");
    const QString self = QStringLiteral("/org/freedesktop/login1/session/auto");
    QTest::newRow("Shutdown") << "Shutdown"
                              << ""
                              << "" << main << "Halt(false)";
    QTest::newRow("Poweroff") << "Poweroff"
                              << ""
                              << "" << main << "PowerOff(false)";
    QTest::newRow("Reboot") << "Reboot"
                            << ""
                            << "" << main << "Reboot(false)";
    QTest::newRow("Force, session known") << "Force"
                                          << "c7"
                                          << "gnome" << main << "TerminateSession(\"c7\")";
    QTest::newRow("Force, own session") << "Force"
                                        << ""
                                        << "" << self << "Terminate()";
    QTest::newRow("Logoff, GNOME") << "Logoff"
                                   << "c7"
                                   << "gnome"
                                   << "/org/gnome/SessionManager"
                                   << "Logout(1)";
    QTest::newRow("Logoff, KDE") << "Logoff"
                                 << ""
                                 << "kde"
                                 << "/Shutdown"
                                 << "logout()";
    QTest::newRow("Logoff, Xfce") << "Logoff"
                                  << ""
                                  << "xfce"
                                  << "/org/xfce/SessionManager"
                                  << "Logout(false, true)";
    QTest::newRow("Logoff, no desktop") << "Logoff"
                                        << "c7"
                                        << "" << main << "TerminateSession(\"c7\")";
    QTest::newRow("Logoff, no session bus") << "Logoff"
                                            << ""
                                            << "disabled" << self << "Terminate()";
    QTest::newRow("Program Only") << "Program Only"
                                  << "c7"
                                  << "gnome"
                                  << ""
                                  << "";
    QTest::newRow("lower case") << "shutdown"
                                << ""
                                << ""
                                << ""
                                << "";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << ""
                           << "";
}

void TestSessionEnd::eachKindSendsExactlyItsCall() {
    checkCalls(false);
}

void TestSessionEnd::windowShutdownJobAtItsAlarm() {
    checkCalls(true);
}

void TestSessionEnd::checkCalls(bool viaWindow) {
    QFETCH(QString, text);
    QFETCH(QString, sessionId);
    QFETCH(QString, desktop);
    QFETCH(QString, path);
    QFETCH(QString, call);

    if (!sessionId.isEmpty()) qputenv("XDG_SESSION_ID", sessionId.toUtf8());
    if (desktop == QLatin1String("disabled"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    else if (!desktop.isEmpty())
        QVERIFY(startDesktop(desktop));
    auto cleanup = qScopeGuard([this] { stopDesktop(); });

    const QStringList logindPaths{QStringLiteral("/org/freedesktop/login1"),
                                  QStringLiteral("/org/freedesktop/login1/session/auto")};
    calls(*m_system, kLogin1, logindPaths); // start from a clean log

    // "Program Only" is the window's to carry out; the service refuses it like an unknown text.
    const SessionEndKind kind = sessionEndKindForText(text);
    QCOMPARE(kind == SessionEndKind::ProgramOnly, text == QLatin1String("Program Only"));
    if (viaWindow) {
        QApplication::setQuitOnLastWindowClosed(false);
        ManualTimeSource clock(QDateTime(QDate(2026, 12, 4), QTime(17, 59, 58)));
        TimeSource::install(&clock);
        auto restore = qScopeGuard([] { TimeSource::install(nullptr); });
        MainWindow form;
        form.show();
        form.shutdownAction->SetText(text);
        form.shutdownTime->SetTimeValue(0.75);
        form.shutdownSwitch->SetStateOn(true);
        form.shutdownClock->TimerTick(form.shutdownClock);
        QVERIFY(form.isVisible());
        clock.set(QTime(18, 0, 0));
        form.shutdownClock->TimerTick(form.shutdownClock);
        QCOMPARE(form.isVisible(), text != QLatin1String("Program Only"));
    } else {
        LogindSessionEnd service;
        const bool sent = service.request(kind);
        QCOMPARE(sent, !call.isEmpty());
        if (!sent) QVERIFY(!service.lastError().isEmpty());
    }

    QList<Call> got = calls(*m_system, kLogin1, logindPaths);
    if (!m_desktopService.isEmpty()) got += calls(*m_session, m_desktopService, {m_desktopPath});
    QStringList seen;
    for (const Call& c : got)
        seen << c.path + QLatin1Char(' ') + c.text;
    const QStringList expected =
        call.isEmpty() ? QStringList() : QStringList{path + QLatin1Char(' ') + call};
    QCOMPARE(seen, expected);
}

void TestSessionEnd::busesAllowedInTests_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("allowed");

    const QString socket = m_tmp.filePath(QStringLiteral("system_bus"));
    QTest::newRow("private bus") << m_systemAddress << true;
    QTest::newRow("private, escaped")
        << QStringLiteral("unix:path=") +
               QString::fromUtf8(QFile::encodeName(socket).toPercentEncoding())
        << true;
    QTest::newRow("disabled") << "disabled:" << false;
    QTest::newRow("default bus") << "" << false;
    QTest::newRow("machine bus") << "unix:path=/run/dbus/system_bus_socket" << false;
    QTest::newRow("machine bus, old path") << "unix:path=/var/run/dbus/system_bus_socket" << false;
    QTest::newRow("private, then machine")
        << m_systemAddress + QStringLiteral(";unix:path=/run/dbus/system_bus_socket") << false;
    QTest::newRow("abstract") << "unix:abstract=/tmp/dbus-test" << false;
    QTest::newRow("tmpdir") << "unix:tmpdir=/tmp" << false;
    QTest::newRow("tcp") << "tcp:host=127.0.0.1,port=1" << false;
    QTest::newRow("relative") << "unix:path=system_bus" << false;
    QTest::newRow("plain file") << QStringLiteral("unix:path=") +
                                       m_tmp.filePath(QStringLiteral("plain"))
                                << false;
    QTest::newRow("link to machine bus")
        << QStringLiteral("unix:path=") + m_tmp.filePath(QStringLiteral("link")) << false;
}

void TestSessionEnd::busesAllowedInTests() {
    QFETCH(QString, address);
    QFETCH(bool, allowed);
    QFile plain(m_tmp.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QFile::link(QStringLiteral("/run/dbus/system_bus_socket"),
                m_tmp.filePath(QStringLiteral("link")));
    QVERIFY(runningUnderTest());
    QString why;
    QCOMPARE(sessionBusAllowed(address, &why), allowed);
    QCOMPARE(why.isEmpty(), allowed);
}

void TestSessionEnd::refusedWithoutPrivateBus() {
    calls(*m_system, kLogin1, {QStringLiteral("/org/freedesktop/login1")});
    for (const char* address : {"disabled:", "unix:abstract=/tmp/tarnwick-no-such-bus"}) {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        LogindSessionEnd service;
        QVERIFY(!service.request(SessionEndKind::PowerOff));
        QVERIFY(service.lastError().contains(QLatin1String("refused")) ||
                service.lastError().contains(QLatin1String("disabled")));
        QVERIFY(service.lastCall().isEmpty()); // refused before anything was sent
        ShutdownInhibitor lock(QStringLiteral("Backing up"));
        QVERIFY(!lock.isHeld());
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemAddress.toUtf8());
    QVERIFY(calls(*m_system, kLogin1, {QStringLiteral("/org/freedesktop/login1")}).isEmpty());

    // With every test marker gone the guard stands aside (nothing is sent here).
    const QByteArray source = qgetenv("TARNWICK_SOURCE_DIR"), data = qgetenv("TARNWICK_TESTDATA");
    qunsetenv("TARNWICK_TEST");
    qunsetenv("TARNWICK_SOURCE_DIR");
    qunsetenv("TARNWICK_TESTDATA");
    const bool outside = !runningUnderTest() && sessionBusAllowed(QString());
    qputenv("TARNWICK_TEST", "1");
    if (!source.isNull()) qputenv("TARNWICK_SOURCE_DIR", source);
    if (!data.isNull()) qputenv("TARNWICK_TESTDATA", data);
    QVERIFY(outside);
    QVERIFY(runningUnderTest());
}

void TestSessionEnd::inhibitorHoldsAndReleasesTheLock() {
    auto inhibitors = [this] {
        QDBusMessage m = QDBusMessage::createMethodCall(
            kLogin1, QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors"));
        const QDBusMessage reply = m_system->call(m, QDBus::Block, 10000);
        QStringList out;
        const QDBusArgument arg = reply.arguments().value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString what, who, why, mode;
            quint32 uid = 0, pid = 0;
            arg.beginStructure();
            arg >> what >> who >> why >> mode >> uid >> pid;
            arg.endStructure();
            out << QStringList{what, who, why, mode}.join(QLatin1Char('/'));
        }
        arg.endArray();
        return out;
    };
    QCOMPARE(inhibitors(), QStringList());
    {
        ShutdownInhibitor lock(QStringLiteral("Compacting databases"));
        QVERIFY2(lock.isHeld(), qPrintable(lock.error()));
        QCOMPARE(inhibitors(),
                 QStringList{QStringLiteral("shutdown:sleep/Tarnwick/Compacting databases/delay")});
    }
    // The fake drops the lock when it sees the descriptor closed.
    QTRY_COMPARE_WITH_TIMEOUT(inhibitors(), QStringList(), 5000);

    ShutdownInhibitor lock(QStringLiteral("Backing up"));
    QVERIFY(lock.isHeld());
    lock.release();
    QVERIFY(!lock.isHeld());
    QTRY_COMPARE_WITH_TIMEOUT(inhibitors(), QStringList(), 5000);
}

QTEST_MAIN(TestSessionEnd)
#include "tst_sessionend.moc"
