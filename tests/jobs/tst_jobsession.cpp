// A running file job holds logind's delay inhibitor and releases it after; a failed run's
// notification reaches the desktop's notification service, and nothing happens without one.
// python3-dbusmock plays logind and the notification daemon on private buses.
#include "jobs/runningjob.h"
#include "platform/notifier.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

#include "tests/common/privatehome.h"

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

// A child process that is ended with the test.
struct Child {
    std::unique_ptr<QProcess> p;
    ~Child() {
        if (p && p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(10000)) {
                p->kill();
                p->waitForFinished(10000);
            }
        }
    }
};

bool startBus(const QString& socket, Child& bus, QString* address) {
    bus.p = std::make_unique<QProcess>();
    bus.p->start("dbus-daemon",
                 {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + socket});
    if (!bus.p->waitForStarted(10000)) return false;
    QDeadlineTimer deadline(15000);
    while (!bus.p->canReadLine() && !deadline.hasExpired())
        bus.p->waitForReadyRead(100);
    *address = QString::fromUtf8(bus.p->readLine()).trimmed();
    return address->startsWith("unix:path=");
}

bool waitForName(QDBusConnection& c, const QString& name) {
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (c.interface()->isServiceRegistered(name).value()) return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

class TestJobSession : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    Child systemBus, sessionBus, logind, notifications;
    QString systemAddress, sessionAddress;

    // Delay inhibitors Tarnwick holds, as logind lists them.
    int inhibitors() {
        int n = -1;
        {
            QDBusConnection c = QDBusConnection::connectToBus(systemAddress, "probe");
            const QDBusMessage reply = c.call(
                QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                               "org.freedesktop.login1.Manager", "ListInhibitors"));
            if (reply.type() == QDBusMessage::ReplyMessage) {
                const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
                n = 0;
                arg.beginArray();
                while (!arg.atEnd()) {
                    QString what, who, why, mode;
                    quint32 uid = 0, pid = 0;
                    arg.beginStructure();
                    arg >> what >> who >> why >> mode >> uid >> pid;
                    arg.endStructure();
                    if (who == "Tarnwick" && mode == "delay") ++n;
                }
                arg.endArray();
            }
        }
        QDBusConnection::disconnectFromBus("probe");
        return n;
    }

    // Summaries of the notifications the fake daemon was sent.
    QStringList notified(QDBusConnection& session) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.DBus.Mock", "GetMethodCalls");
        get.setArguments({QStringLiteral("Notify")});
        const QDBusMessage reply = session.call(get);
        QStringList summaries;
        if (reply.type() != QDBusMessage::ReplyMessage) return {"GetMethodCalls failed"};
        const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            quint64 time = 0;
            QVariantList args;
            arg.beginStructure();
            arg >> time;
            arg.beginArray();
            while (!arg.atEnd()) {
                QDBusVariant v;
                arg >> v;
                args << v.variant();
            }
            arg.endArray();
            arg.endStructure();
            if (args.size() > 3) summaries << args[3].toString();
        }
        arg.endArray();
        return summaries;
    }

private slots:
    void initTestCase() {
        usePrivateHome();
        if (!QFile::exists(kPython) || QProcess::execute(kPython, {"-c", "import dbusmock"}) != 0)
            QSKIP("python3-dbusmock is not installed");
        QVERIFY(tmp.isValid());
        qputenv("TARNWICK_TEST", "1");
        QVERIFY(startBus(tmp.filePath("system"), systemBus, &systemAddress));
        QVERIFY(startBus(tmp.filePath("session"), sessionBus, &sessionAddress));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemAddress.toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", sessionAddress.toUtf8());
        logind.p = std::make_unique<QProcess>();
        logind.p->start(kPython, {"-m", "dbusmock", "--system", "--template", "logind"});
        QDBusConnection system = QDBusConnection::connectToBus(systemAddress, "test-system");
        QVERIFY2(waitForName(system, "org.freedesktop.login1"), "no fake logind");
    }
    void cleanupTestCase() {
        QDBusConnection::disconnectFromBus("test-system");
        QDBusConnection::disconnectFromBus("test-session");
    }

    void inhibitorHeldWhileTheJobRuns() {
        QCOMPARE(inhibitors(), 0);
        {
            tarnwick::jobs::RunningJob job("compact", "Compacting databases");
            QVERIFY(job.started());
            QVERIFY(job.inhibiting());
            QCOMPARE(inhibitors(), 1);
        }
        QTRY_COMPARE(inhibitors(), 0);
    }

    void notificationOnlyWhenAServiceIsThere() {
        QVERIFY(!tarnwick::Notifier::current().notify("Tarnwick backup failed", "nobody listens"));
        notifications.p = std::make_unique<QProcess>();
        notifications.p->start(kPython, {"-m", "dbusmock", "--template", "notification_daemon"});
        QDBusConnection session = QDBusConnection::connectToBus(sessionAddress, "test-session");
        QVERIFY(waitForName(session, "org.freedesktop.Notifications"));
        QVERIFY(tarnwick::Notifier::current().notify("Tarnwick backup failed",
                                                     "/data/Sales.mdb: the file is missing"));
        QCOMPARE(notified(session), QStringList{"Tarnwick backup failed"});
    }
};

QTEST_GUILESS_MAIN(TestJobSession)
#include "tst_jobsession.moc"
